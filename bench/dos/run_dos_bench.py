#!/usr/bin/env python3
"""Runs qvdosbench beside its peers in the same run: open(f, 'rb').read() of a cached
256 MiB file, writing it back, `for line in f` over a 100 MB text of about 2*10^6 lines,
10^6 f.write(s + "\\n"), `cp --reflink=never` of a 1 GiB file (beside CopyFile without and
with a status callback), memmove and memset of 256 MiB through ctypes (the C library's),
pickle.dumps and loads of a dict of 10^6 numbers, and an XOR of 16 MiB (ApplyPatch runs the
input pump per byte, as designed: its figure is reported). Prints ours, the peer and the ratio peer/ours per row
and appends the rows to the TSV that scripts/bench_report.py started. A checksum mismatch
writes FAIL as the ratio.

Usage: run_dos_bench.py BUILD_DIR TSV"""
import ctypes
import os
import pickle
import random
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from bench_rows import median_time, report, rows_beside  # noqa: E402

BIG = 256 << 20
GIANT = 1 << 30
PATCH = 16 << 20
TABLE = 1000000
TEXT = 100 * 1000 * 1000
LINES = 1000000
LINE = "a line of text of moderate length"


def make_files(directory):
    big = os.path.join(directory, "big.bin")
    with open(big, "wb") as f:
        block = random.Random(1).randbytes(1 << 20)
        for _ in range(BIG >> 20):
            f.write(block)
    text = os.path.join(directory, "text.txt")
    rng = random.Random(2)
    with open(text, "w") as f:
        written = 0
        while written < TEXT:
            line = "x" * rng.randint(0, 96) + "\n"
            f.write(line)
            written += len(line)
    giant = os.path.join(directory, "giant.bin")
    with open(big, "rb") as f:
        data = f.read()
    with open(giant, "wb") as f:
        for _ in range(GIANT // BIG):
            f.write(data)
    for name, seed in (("patch-source.bin", 3), ("patch.bin", 4)):
        with open(os.path.join(directory, name), "wb") as f:
            f.write(random.Random(seed).randbytes(PATCH))
    return big, text, giant


def engine_peers(giant, directory):
    rows = {}
    copy = os.path.join(directory, "peer-copies", "giant.bin")
    os.makedirs(os.path.dirname(copy), exist_ok=True)

    def cp():
        if os.path.exists(copy):
            os.unlink(copy)
        subprocess.run(["cp", "--reflink=never", giant, copy], check=True)
        return str(os.path.getsize(copy))
    t, r = median_time(cp)
    rows["copyfile"] = ("CopyFile 1 GiB / cp --reflink=never", t, r)
    rows["copyfilecb"] = ("CopyFile 1 GiB, status callback / cp", t, r)

    a = bytearray(b"\x07" * BIG)
    b = bytearray(BIG)

    def memmove():
        ctypes.memmove(ctypes.addressof((ctypes.c_char * BIG).from_buffer(b)),
                       ctypes.addressof((ctypes.c_char * BIG).from_buffer(a)), BIG)
        return str(int.from_bytes(b[-4:], "big"))
    t, r = median_time(memmove)
    rows["copymem"] = ("CopyMem 256 MiB / memmove", t, r)

    def memset():
        ctypes.memset(ctypes.addressof((ctypes.c_char * BIG).from_buffer(a)), 171, BIG)
        return str(int.from_bytes(a[:4], "big"))
    t, r = median_time(memset)
    rows["fillmem"] = ("FillMem 256 MiB / memset", t, r)

    table = {i: i * 0.5 for i in range(TABLE)}
    t, r = median_time(lambda: pickle.loads(pickle.dumps(table)))
    rows["serialize"] = ("WriteTable+ReadTable 10^6 / pickle", t, str(int(r[TABLE - 1] * 2)))

    with open(os.path.join(directory, "patch-source.bin"), "rb") as f:
        source = f.read()
    with open(os.path.join(directory, "patch.bin"), "rb") as f:
        patch = f.read()

    def xor():
        out = (int.from_bytes(source, "big") ^ int.from_bytes(patch, "big")).to_bytes(PATCH, "big")
        return str(len(out))
    t, r = median_time(xor)
    rows["applypatch"] = ("ApplyPatch 16 MiB (pump per byte) / XOR", t, r)
    return rows


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
        big, text, giant = make_files(directory)
        ours = subprocess.run([qvdosbench, big, text, giant, directory], capture_output=True,
                              text=True, check=True).stdout
        theirs = peers(big, text, directory)
        theirs.update(engine_peers(giant, directory))
    report(rows_beside(ours, theirs), tsv_path)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
