from runner import run


def concat():
    s = None
    for i in range(100000):
        s = "k" + str(i)
    return s


run(concat)
