from runner import run


class Adds:
    def __add__(self, other):
        return 3


def add():
    t = Adds()
    s = 0
    for _ in range(1000000):
        s += t + 1
    return s


run(add)
