from runner import run


def concat():
    a, b = "abcde", "fghij"
    s = None
    for _ in range(1000000):
        s = a + b
    return s


run(concat)
