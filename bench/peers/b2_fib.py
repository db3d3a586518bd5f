from runner import run


def fib(n):
    if n < 2:
        return n
    return fib(n - 1) + fib(n - 2)


run(lambda: fib(30))
