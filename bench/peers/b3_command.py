import math

from runner import run


def calls():
    f = math.copysign
    n = 0
    for i in range(10000000):
        f(i, 2.0)
        n += 1
    return n


run(calls)
