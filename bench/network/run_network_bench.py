#!/usr/bin/env python3
"""Runs qvnetbench beside its peers in the same run: against one loopback socat echo, a
CPython client with 256 MiB in 64 KiB pieces (sendall, then recv_into until the piece is
back) and one-byte round trips; DownloadFile of 256 MiB from nginx into a file and into
memory beside curl -s -o, and of 64 MiB from pyftpdlib beside curl ftp://. Prints ours, the
peer and the ratio peer/ours per row and appends the rows to the TSV that
scripts/bench_report.py started. A byte-count mismatch writes FAIL as the ratio.

Usage: run_network_bench.py BUILD_DIR TSV"""
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from bench_rows import median_time, report  # noqa: E402

TOTAL = 256 << 20
PIECE = 64 << 10
ROUNDS = 20000
HTTP_SIZE = 256 << 20
FTP_SIZE = 64 << 20


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start(argv, port):
    """Starts a server and waits until its port accepts."""
    server = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(500):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return server
        except OSError:
            time.sleep(0.01)
    server.kill()
    sys.exit("run_network_bench: %s did not start" % argv[0])


def stop(server):
    server.terminate()
    server.wait(timeout=10)


def nginx_config(directory, root, port):
    path = os.path.join(directory, "nginx.conf")
    with open(path, "w") as f:
        f.write(("%spid %s/nginx.pid;\nerror_log %s/error.log;\nevents {}\n"
                 "http { access_log off; client_body_temp_path %s; proxy_temp_path %s;\n"
                 "  server { listen 127.0.0.1:%d; root %s; } }\n")
                % ("user root;\n" if os.geteuid() == 0 else "", directory, directory,
                   directory, directory, port, root))
    return path


def downloads(qvnetbench, directory):
    """The download rows: (id, name, ours, peer, bytes agree)."""
    root = os.path.join(directory, "root")
    os.makedirs(root)
    with open(os.path.join(root, "big"), "wb") as f:
        f.write(os.urandom(HTTP_SIZE))
    with open(os.path.join(root, "ftp"), "wb") as f:
        f.write(os.urandom(FTP_SIZE))
    saved = os.path.join(directory, "saved")
    rows = []
    http_port = free_port()
    nginx = start(["nginx", "-p", directory, "-c", nginx_config(directory, root, http_port),
                   "-g", "daemon off;"], http_port)
    low = free_port()
    ftp_port = free_port()
    ftpd = start(["/usr/bin/python3", "-m", "pyftpdlib", "-i", "127.0.0.1", "-p", str(ftp_port),
                  "-d", root, "-r", "%d-%d" % (low, low + 1)], ftp_port)
    try:
        http = "http://127.0.0.1:%d/big" % http_port
        ftp = "ftp://127.0.0.1:%d/ftp" % ftp_port
        cases = [("download.file", "256 MiB HTTP into a file / curl -s -o", http, [saved],
                  HTTP_SIZE),
                 ("download.memory", "256 MiB HTTP into memory / curl -s -o", http, [],
                  HTTP_SIZE),
                 ("download.ftp", "64 MiB FTP into a file / curl ftp://", ftp, [saved],
                  FTP_SIZE)]
        for row_id, name, url, extra, size in cases:
            out = subprocess.run([qvnetbench, "download", row_id, url] + extra,
                                 capture_output=True, text=True, check=True).stdout
            _, seconds, count = out.split()
            peer, _ = median_time(lambda: subprocess.run(["curl", "-s", "-o", saved, url],
                                                         check=True), runs=3)
            rows.append(("network." + row_id, name, float(seconds), peer,
                         int(count) == size == os.path.getsize(saved)))
    finally:
        stop(nginx)
        stop(ftpd)
    return rows


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
    port = free_port()
    # An in-process pipe without Nagle: with EXEC:cat and delayed acknowledgements every
    # piece would wait for the peer's timers, for us and CPython alike.
    echo = start(["socat", "TCP4-LISTEN:%d,bind=127.0.0.1,reuseaddr,fork,nodelay" % port,
                  "PIPE"], port)
    try:
        ours = subprocess.run([qvnetbench, "echo", str(port), str(TOTAL), str(PIECE),
                               str(ROUNDS)], capture_output=True, text=True, check=True).stdout
        theirs = peers(port)
    finally:
        stop(echo)
    rows = []
    for line in ours.strip().splitlines():
        row_id, seconds, count = line.split(" ", 2)
        name, peer_time, peer_count = theirs[row_id]
        rows.append(("network." + row_id, name, float(seconds), peer_time,
                     int(count) == peer_count))
    directory = tempfile.mkdtemp(prefix="qvnetbench-")
    try:
        rows += downloads(qvnetbench, directory)
    finally:
        shutil.rmtree(directory, ignore_errors=True)
    report(rows, tsv_path)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
