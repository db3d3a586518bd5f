from runner import run


def loop():
    s = 0
    for i in range(100000000):
        s += i
    return s


run(loop)
