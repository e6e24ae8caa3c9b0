#!/usr/bin/env python3
"""A listener that takes over a port, as a program of another account could after the helper
died, and counts every byte it receives.

    impostor_listener.py <port> <report file>

Writes "ready" to the report file once it listens; on SIGTERM it writes
"connections=N bytes=M" and exits.
"""
import signal
import socket
import sys
import time

port, report = int(sys.argv[1]), sys.argv[2]
listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
# The dead helper's socket is closed by wineserver once it notices the death: until then the
# port is still taken.
deadline = time.monotonic() + 10
while True:
    try:
        listener.bind(("127.0.0.1", port))
        break
    except OSError:
        if time.monotonic() > deadline:
            raise
        time.sleep(0.05)
listener.listen(16)
listener.settimeout(0.1)
connections, received, peers = 0, 0, []


def finish(*_):
    for peer in peers:
        try:
            peer.settimeout(0.2)
            while chunk := peer.recv(65536):
                received_bytes(len(chunk))
        except OSError:
            pass
    with open(report, "w") as out:
        out.write(f"connections={connections} bytes={received}\n")
    sys.exit(0)


def received_bytes(count):
    global received
    received += count


signal.signal(signal.SIGTERM, finish)
with open(report, "w") as out:
    out.write("ready\n")
while True:
    try:
        peer, _ = listener.accept()
        connections += 1
        peer.setblocking(False)
        peers.append(peer)
    except socket.timeout:
        pass
    for peer in peers:
        try:
            chunk = peer.recv(65536)
            if chunk:
                received_bytes(len(chunk))
        except (BlockingIOError, OSError):
            pass
