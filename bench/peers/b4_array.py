from runner import run


def array():
    d = {}
    for i in range(1000000):
        d[i] = i
    s = 0
    for i in range(1000000):
        s += d[i]
    return s


run(array)
