from runner import run


def tables():
    s = 0
    for _ in range(10000000):
        d = {"a": 1, "b": 2, "c": 3, "d": 4}
        s += d["a"]
    return s


run(tables)
