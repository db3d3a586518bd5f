#!/usr/bin/env python3
"""Runs qvstrbench beside its peers in the same run: Python's hashlib, zlib, bytes and re,
the CPython loop of "%d:%s" formatting, and coreutils md5sum for whole files. Prints ours,
the peer and the ratio peer/ours per row and appends the rows to the TSV that
scripts/bench_report.py started. A checksum mismatch writes FAIL as the ratio.

Usage: run_string_bench.py BUILD_DIR TSV"""
import hashlib
import os
import random
import re
import subprocess
import sys
import tempfile
import zlib

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from bench_rows import median_time, report, rows_beside  # noqa: E402

MIB = 1024 * 1024
NEEDLES = [b" ", b"th", b"the", b"data"]
ABSENT = [b"~", b"~~", b"~~~", b"~~~~"]


def text_checksum(data):
    return "%d:%d" % (len(data), zlib.crc32(data))


def make_inputs(directory):
    rng = random.Random(1)
    random64 = rng.randbytes(64 * MIB)
    words = [b"the", b"quick", b"data", b"abc", b"theory", b"path", b"x", b"bench", b"string"]
    text = b" ".join(rng.choice(words) for _ in range(16 * MIB // 5))[: 16 * MIB - 4] + b"~~~~"
    pieces = [rng.choice(words) if rng.random() < 0.7 else str(rng.randrange(10**6)).encode()
              for _ in range(16 * MIB // 5)]
    digits = b" ".join(pieces)[: 16 * MIB]
    with open(os.path.join(directory, "random64.bin"), "wb") as f:
        f.write(random64)
    with open(os.path.join(directory, "text16.txt"), "wb") as f:
        f.write(text)
    with open(os.path.join(directory, "digits16.txt"), "wb") as f:
        f.write(digits)
    big = os.path.join(directory, "big256.bin")
    with open(big, "wb") as f:
        for _ in range(4):
            f.write(rng.randbytes(64 * MIB))
    return random64, text, digits, big


def md5sum_time(path):
    def run():
        return subprocess.run(["md5sum", path], capture_output=True, check=True).stdout[:32]
    return median_time(run)


def peers(random64, text, digits, big):
    """Row id -> (description, seconds, checksum)."""
    rows = {}
    t, r = median_time(lambda: hashlib.md5(random64).hexdigest())
    rows["md5str"] = ("MD5Str 64 MiB / hashlib.md5", t, text_checksum(r.encode()))
    t, r = median_time(lambda: zlib.crc32(random64))
    rows["crc32str"] = ("CRC32Str 64 MiB / zlib.crc32", t, "%d" % r)
    t, r = md5sum_time(big)
    rows["md5file"] = ("MD5 of a cached 256 MiB file / md5sum", t, text_checksum(r))
    with open(big, "rb") as f:
        file_crc = "%d" % zlib.crc32(f.read())
    rows["crc32file"] = ("CRC32 of a cached 256 MiB file / md5sum", t, file_crc)
    for n in range(4):
        needle, absent = NEEDLES[n], ABSENT[n]
        t, r = median_time(lambda: text.replace(needle, b"X"))
        rows["replace%d" % (n + 1)] = ("ReplaceStr 16 MiB, %d-byte needle / bytes.replace" % (n + 1),
                                       t, text_checksum(r))
        t, r = median_time(lambda: text.count(needle))
        rows["count%d" % (n + 1)] = ("CountStr 16 MiB, %d-byte needle / bytes.count" % (n + 1), t,
                                     "%d" % r)
        t, r = median_time(lambda: text.find(absent))
        rows["find%d" % (n + 1)] = ("FindStr 16 MiB, %d-byte needle / bytes.find" % (n + 1), t,
                                    "%d" % r)
    pattern = re.compile(rb"[0-9]+")
    t, r = median_time(lambda: pattern.sub(b"#", digits))
    rows["patternreplace"] = ('PatternReplaceStr("%d+") 16 MiB / re.sub', t, text_checksum(r))

    def format_loop():
        s = "item"
        r = None
        for i in range(1000000):
            r = "%d:%s" % (i, s)
        return r
    t, r = median_time(format_loop)
    rows["formatloop"] = ('10^6 FormatStr("%d:%s") / CPython loop', t, text_checksum(r.encode()))
    return rows


def main(build_dir, tsv_path):
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    qvstrbench = os.path.join(build_dir, "bin", "qvstrbench")
    listing = os.path.join(root, "bench", "string", "format_loop.qvs")
    with tempfile.TemporaryDirectory() as directory:
        inputs = make_inputs(directory)
        subprocess.run(["cat", inputs[3]], stdout=subprocess.DEVNULL, check=True)  # cache it
        ours = subprocess.run([qvstrbench, directory, listing], capture_output=True, text=True,
                              check=True).stdout
        theirs = peers(*inputs)
    report(rows_beside(ours, theirs), tsv_path)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
