from runner import run


def upvalue():
    n = 0

    def count():
        nonlocal n
        for _ in range(10000000):
            n = n + 1

    count()
    return n


run(upvalue)
