import gc

from runner import run


def build():
    return [[[]] for _ in range(1000000)]


def collect(live):
    gc.collect()
    return len(live)


run(collect, setup=build)
