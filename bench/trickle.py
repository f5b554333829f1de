#!/usr/bin/env python3
"""Request heads that trickle in: CONNECTIONS connections each send a 16 KB request head in
4-byte pieces, spread over 9 s (inside the service's 10 s deadline for a head), for SECONDS in all,
starting again as each head is answered. Prints the service's CPU time over the run (from
/proc/PID/stat) and its share of one core.

usage: trickle.py PID PORT [SECONDS] [CONNECTIONS]"""
import os
import selectors
import socket
import sys
import time

pid, port = int(sys.argv[1]), int(sys.argv[2])
seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 10.0
connections = int(sys.argv[4]) if len(sys.argv) > 4 else 8
piece = 4
spread = 9.0

start_line = b"GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\n"
pad = 16 * 1024 - 64 - len(start_line)
head = start_line + b"X-Padding: " + b"a" * pad + b"\r\n\r\n"
pieces = (len(head) + piece - 1) // piece
interval = spread / pieces


def cpu_seconds():
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class Client:
    def __init__(self):
        self.sock = socket.create_connection(("127.0.0.1", port))
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.sock.setblocking(False)
        self.sent = 0
        self.reply = b""


sel = selectors.DefaultSelector()
clients = []
for _ in range(connections):
    c = Client()
    sel.register(c.sock, selectors.EVENT_READ, c)
    clients.append(c)

answered = 0
statuses = {}
before = cpu_seconds()
t0 = time.monotonic()
tick = 0
while True:
    now = time.monotonic()
    if now - t0 >= seconds:
        break
    for i, c in enumerate(clients):
        if c.sent < len(head):
            try:
                c.sent += c.sock.send(head[c.sent:c.sent + piece])
            except BlockingIOError:
                pass
    tick += 1
    deadline = t0 + tick * interval
    for key, _ in sel.select(max(0.0, deadline - time.monotonic())):
        c = key.data
        data = c.sock.recv(65536)
        c.reply += data
        if not data or b"\r\n\r\n" in c.reply:
            status = c.reply[9:12].decode(errors="replace") or "closed"
            statuses[status] = statuses.get(status, 0) + 1
            answered += 1
            sel.unregister(c.sock)
            c.sock.close()
            n = Client()
            sel.register(n.sock, selectors.EVENT_READ, n)
            clients[clients.index(c)] = n
used = cpu_seconds() - before
elapsed = time.monotonic() - t0
for c in clients:
    c.sock.close()
print(f"trickled heads: {connections} connections x {len(head)} bytes in {piece}-byte pieces, "
      f"{elapsed:.1f} s: service CPU {used:.2f} s ({100 * used / elapsed:.1f}% of a core), "
      f"{answered} heads answered {statuses}")
