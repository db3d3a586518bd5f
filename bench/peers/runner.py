"""Runs a peer workload five times in-process and prints its checksum (formatted as the
engine's "%.14g" numbers are) and the median time in seconds."""
import statistics
import sys
import time


def checksum_text(value):
    if isinstance(value, str):
        return value
    return "%.14g" % value


def run(workload, setup=None):
    times = []
    result = None
    for _ in range(5):
        state = setup() if setup else None
        start = time.perf_counter()
        result = workload(state) if setup else workload()
        times.append(time.perf_counter() - start)
    print("checksum", checksum_text(result))
    print("seconds", "%.9f" % statistics.median(times))
    sys.stdout.flush()
