from runner import run


def closures():
    s = 0
    for _ in range(1000000):
        v = 1

        def get():
            return v

        s += get()
    return s


run(closures)
