#!/usr/bin/env python3
"""Runs qvsysbench beside its CPython peers in the same run: list.sort(), sorted() with
functools.cmp_to_key of a < b, and a loop of Python functions doing what BitXor, Rol and Shl
do. Prints ours, the peer and the ratio peer/ours per row and appends the rows to the TSV
that scripts/bench_report.py started. A checksum mismatch writes FAIL as the ratio.

Usage: run_system_bench.py BUILD_DIR TSV"""
import functools
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from bench_rows import median_time, report, rows_beside  # noqa: E402

ITEMS = 1000000
M = 0xFFFFFFFF


def number(x):
    return "%.14g" % x


def numbers():
    return [(2654435761 * i % 2**32) / 4294967296 for i in range(ITEMS)]


def sorted_checksum(items):
    return ",".join(number(items[i]) for i in (0, ITEMS // 2, ITEMS - 1))


def peers():
    rows = {}
    data = numbers()

    def plain():
        items = list(data)
        items.sort()
        return items
    t, r = median_time(plain)
    rows["sort"] = ("Sort 10^6 numbers / list.sort()", t, sorted_checksum(r))

    def compare(a, b):
        return -1 if a < b else 1 if b < a else 0
    t, r = median_time(lambda: sorted(data, key=functools.cmp_to_key(compare)))
    rows["sortcompare"] = ("Sort with a < b / sorted(cmp_to_key)", t, sorted_checksum(r))

    def shl(x, n):
        return (x << n) & M

    def rol(x, n):
        return ((x << n) | (x >> (32 - n))) & M

    def bitxor(a, b):
        return (a ^ b) & M

    def loop():
        x = 12345
        for i in range(ITEMS):
            x = bitxor(rol(shl(x, 1), 3), i)
        return x
    t, r = median_time(loop)
    rows["bitloop"] = ("10^6 BitXor(Rol(Shl())) / CPython loop", t, number(r))
    return rows


def main(build_dir, tsv_path):
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    qvsysbench = os.path.join(build_dir, "bin", "qvsysbench")
    ours = subprocess.run([qvsysbench, os.path.join(root, "bench", "system")],
                          capture_output=True, text=True, check=True).stdout
    theirs = peers()
    report(rows_beside(ours, theirs), tsv_path)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
