"""Misbehaving and slow peers for the network tests, each bound to 127.0.0.1.

Usage: peer.py MODE PORT [ARGS...]
  random PORT SIZE DIGESTFILE  accept one client, send SIZE random bytes, write their MD5
                               into DIGESTFILE, close
  slowlines PORT LINES WIDTH   accept one client, send LINES lines of WIDTH characters one
                               byte per send, with TCP_NODELAY, then wait for the close
  halfclose PORT TEXT          accept one client, send TEXT, shut down the sending side and
                               read until the client closes
  reset PORT AFTER             accept one client, read AFTER bytes, then reset the connection
  datagrams PORT TARGET        send an empty datagram, then b"after", to TARGET from PORT
Every mode stops by itself within its time-out.
"""

import hashlib
import os
import socket
import struct
import sys

TIMEOUT = 30


def accept_one(port):
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", port))
    server.listen(1)
    server.settimeout(TIMEOUT)
    client, _ = server.accept()
    server.close()
    client.settimeout(TIMEOUT)
    return client


def drain(client):
    try:
        while client.recv(65536):
            pass
    except OSError:
        pass


def random_bytes(port, size, digest_file):
    client = accept_one(port)
    data = os.urandom(size)
    with open(digest_file + ".tmp", "w") as out:
        out.write(hashlib.md5(data).hexdigest())
    os.rename(digest_file + ".tmp", digest_file)
    client.sendall(data)
    client.close()


def slow_lines(port, lines, width):
    client = accept_one(port)
    client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    for i in range(lines):
        line = ("%06d" % i + chr(ord("a") + i % 26) * (width - 6)).encode() + b"\n"
        for byte in range(len(line)):
            client.send(line[byte:byte + 1])
    drain(client)


def half_close(port, text):
    client = accept_one(port)
    client.sendall(text.encode())
    client.shutdown(socket.SHUT_WR)
    drain(client)


def reset(port, after):
    client = accept_one(port)
    got = 0
    while got < after:
        data = client.recv(min(65536, after - got))
        if not data:
            return
        got += len(data)
    client.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    client.close()


def datagrams(port, target):
    sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sender.bind(("127.0.0.1", port))
    sender.sendto(b"", ("127.0.0.1", target))
    sender.sendto(b"after", ("127.0.0.1", target))


def main():
    mode, port = sys.argv[1], int(sys.argv[2])
    args = sys.argv[3:]
    if mode == "random":
        random_bytes(port, int(args[0]), args[1])
    elif mode == "slowlines":
        slow_lines(port, int(args[0]), int(args[1]))
    elif mode == "halfclose":
        half_close(port, args[0])
    elif mode == "reset":
        reset(port, int(args[0]))
    elif mode == "datagrams":
        datagrams(port, int(args[0]))
    else:
        sys.exit("unknown mode " + mode)


if __name__ == "__main__":
    main()
