from runner import run


def field():
    d = {"x": 0}
    for _ in range(10000000):
        d["x"] = d["x"] + 1
    return d["x"]


run(field)
