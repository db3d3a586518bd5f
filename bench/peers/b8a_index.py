from runner import run


class Missing:
    def __getattr__(self, name):
        return 2


def index():
    t = Missing()
    s = 0
    for _ in range(1000000):
        s += t.missing
    return s


run(index)
