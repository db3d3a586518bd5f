#!/usr/bin/env python3
"""Runs qvnetbench and a CPython client beside it against the same loopback socat echo peer
in the same run: 256 MiB in 64 KiB pieces (sendall, then recv_into until the piece is back),
and one-byte round trips. Prints ours, the peer and the ratio peer/ours per row and appends
the rows to the TSV that scripts/bench_report.py started. A byte-count mismatch writes FAIL
as the ratio.

Usage: run_network_bench.py BUILD_DIR TSV"""
import os
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from bench_rows import median_time, report  # noqa: E402

TOTAL = 256 << 20
PIECE = 64 << 10
ROUNDS = 20000


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_echo():
    port = free_port()
    echo = subprocess.Popen(["socat", "TCP4-LISTEN:%d,bind=127.0.0.1,reuseaddr,fork" % port,
                             "EXEC:cat"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(500):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return echo, port
        except OSError:
            time.sleep(0.01)
    echo.kill()
    sys.exit("run_network_bench: the socat echo did not start")


def receive_exactly(sock, view, count):
    got = 0
    while got < count:
        n = sock.recv_into(view[got:count])
        if n == 0:
            break
        got += n
    return got


def peers(port):
    sock = socket.create_connection(("127.0.0.1", port))
    piece = b"x" * PIECE
    buffer = bytearray(PIECE)
    view = memoryview(buffer)

    def transfer():
        back = 0
        for _ in range(TOTAL // PIECE):
            sock.sendall(piece)
            back += receive_exactly(sock, view, PIECE)
        return back

    def roundtrip():
        back = 0
        for _ in range(ROUNDS):
            sock.sendall(b"x")
            back += receive_exactly(sock, view, 1)
        return back

    rows = {}
    t, r = median_time(transfer, runs=3)
    rows["transfer"] = ("256 MiB echo, 64 KiB pieces / sendall+recv_into", t, r)
    t, r = median_time(roundtrip, runs=3)
    rows["roundtrip"] = ("%d 1-byte round trips / send+recv" % ROUNDS, t, r)
    sock.close()
    return rows


def main(build_dir, tsv_path):
    qvnetbench = os.path.join(build_dir, "bin", "qvnetbench")
    echo, port = start_echo()
    try:
        ours = subprocess.run([qvnetbench, str(port), str(TOTAL), str(PIECE), str(ROUNDS)],
                              capture_output=True, text=True, check=True).stdout
        theirs = peers(port)
    finally:
        echo.terminate()
        echo.wait(timeout=10)
    rows = []
    for line in ours.strip().splitlines():
        row_id, seconds, count = line.split(" ", 2)
        name, peer_time, peer_count = theirs[row_id]
        rows.append(("network." + row_id, name, float(seconds), peer_time,
                     int(count) == peer_count))
    report(rows, tsv_path)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
