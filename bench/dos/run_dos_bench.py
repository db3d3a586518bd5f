#!/usr/bin/env python3
"""Runs qvdosbench beside its CPython peers in the same run: open(f, 'rb').read() of a
cached 256 MiB file, writing it back, `for line in f` over a 100 MB text of about 2*10^6
lines, and 10^6 f.write(s + "\\n"). Prints ours, the peer and the ratio peer/ours per row
and appends the rows to the TSV that scripts/bench_report.py started. A checksum mismatch
writes FAIL as the ratio.

Usage: run_dos_bench.py BUILD_DIR TSV"""
import os
import random
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from bench_rows import median_time, report  # noqa: E402

BIG = 256 << 20
TEXT = 100 * 1000 * 1000
LINES = 1000000
LINE = "a line of text of moderate length"


def make_files(directory):
    big = os.path.join(directory, "big.bin")
    with open(big, "wb") as f:
        f.write(random.Random(1).randbytes(BIG))
    text = os.path.join(directory, "text.txt")
    rng = random.Random(2)
    with open(text, "w") as f:
        written = 0
        while written < TEXT:
            line = "x" * rng.randint(0, 96) + "\n"
            f.write(line)
            written += len(line)
    return big, text


def peers(big, text, directory):
    rows = {}

    def read():
        with open(big, "rb") as f:
            return f.read()
    t, data = median_time(read)
    rows["filetostring"] = ("FileToString 256 MiB / read()", t, str(len(data)))

    def write():
        with open(os.path.join(directory, "peer-copy.bin"), "wb") as f:
            f.write(data)
        return len(data)
    t, r = median_time(write)
    rows["stringtofile"] = ("StringToFile 256 MiB / write()", t, str(r))

    def lines():
        count = total = 0
        with open(text, "rb") as f:
            for line in f:
                count += 1
                total += len(line) - (1 if line.endswith(b"\n") else 0)
        return "%d,%d" % (count, total)
    t, r = median_time(lines)
    rows["filelines"] = ("FileLines 100 MB / for line in f", t, r)

    def write_lines():
        with open(os.path.join(directory, "peer-lines.txt"), "w") as f:
            for _ in range(LINES):
                f.write(LINE + "\n")
            return str(f.tell())
    t, r = median_time(write_lines)
    rows["writeline"] = ("10^6 WriteLine / f.write(s + '\\n')", t, r)
    return rows


def main(build_dir, tsv_path):
    qvdosbench = os.path.join(build_dir, "bin", "qvdosbench")
    with tempfile.TemporaryDirectory() as directory:
        big, text = make_files(directory)
        ours = subprocess.run([qvdosbench, big, text, directory], capture_output=True,
                              text=True, check=True).stdout
        theirs = peers(big, text, directory)
    rows = []
    for line in ours.strip().splitlines():
        row_id, seconds, checksum = line.split(" ", 2)
        name, peer_time, peer_checksum = theirs[row_id]
        rows.append((row_id, name, float(seconds), peer_time, peer_checksum == checksum))
    report(rows, tsv_path)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
