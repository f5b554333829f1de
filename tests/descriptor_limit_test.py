#!/usr/bin/python3
"""zimble-scored at its descriptor limit: started under prlimit with a soft limit below the hard
one, it raises the soft limit, keeps its connection cap below it and says so; with far more
connections than that it stays idle (CPU time read from /proc), refuses the surplus with 503,
and serves new connections once others close. Usage: descriptor_limit_test.py BUILD_DIR."""

import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

SOFT, HARD = 100, 160
RESERVED = 64  # descriptors the service keeps for itself


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main():
    if not shutil.which("prlimit"):
        print("prlimit not found; skipped")
        return 77
    work = tempfile.mkdtemp()
    proc = subprocess.Popen(["prlimit", "--nofile=%d:%d" % (SOFT, HARD), "--",
                             os.path.join(sys.argv[1], "server", "zimble-scored"), "--listen", "127.0.0.1:0",
                             "--db", os.path.join(work, "d.sqlite"), "--quiet"], stderr=subprocess.PIPE)
    failures = []
    sockets = []
    try:
        for _ in range(20):  # the start-up line, after whatever is logged before it
            line = proc.stderr.readline().decode()
            if "serving on" in line or not line:
                break
        m = re.search(r"serving on 127\.0\.0\.1:(\d+).*at most (\d+) connections \((\d+) descriptors\)", line)
        if not m:
            print("FAIL start-up line: " + line)
            return 1
        port, cap, descriptors = int(m.group(1)), int(m.group(2)), int(m.group(3))
        if descriptors != HARD or cap != HARD - RESERVED:
            failures.append("start-up line says %d connections, %d descriptors" % (cap, descriptors))

        # Three times the cap, from four addresses (one address may hold 64), a few at a time so
        # that the listening socket's backlog does not overflow.
        for i in range(3 * cap):
            if i % 16 == 15:
                time.sleep(0.05)
            s = socket.socket()
            s.bind(("127.0.0.%d" % (2 + i % 4), 0))
            s.setblocking(False)
            s.connect_ex(("127.0.0.1", port))
            sockets.append(s)
        time.sleep(1)
        before = cpu_seconds(proc.pid)
        time.sleep(2)
        used = cpu_seconds(proc.pid) - before
        if used > 0.4:
            failures.append("%.2f s of CPU in 2 s with %d connections waiting" % (used, len(sockets)))

        refused = held = 0
        for s in sockets:
            try:
                data = s.recv(4096)
                refused += data.startswith(b"HTTP/1.1 503")
            except BlockingIOError:
                held += 1
            except OSError:
                pass
        if held > cap or refused < len(sockets) - cap:
            failures.append("%d held, %d refused with 503 of %d (cap %d)" % (held, refused, len(sockets), cap))

        for s in sockets:
            s.close()
        sockets = []
        # New connections are served once the others have gone.
        deadline = time.time() + 5
        served = False
        while time.time() < deadline and not served:
            try:
                c = socket.create_connection(("127.0.0.1", port), timeout=2)
                c.sendall(b"GET /health HTTP/1.1\r\nHost: x\r\n\r\n")
                served = c.recv(4096).startswith(b"HTTP/1.1 200")
                c.close()
            except OSError:
                time.sleep(0.1)
        if not served:
            failures.append("no new connection served after the others closed")
        print("cap %d of %d descriptors; %d connections: %d held, %d refused; %.2f s CPU in 2 s"
              % (cap, descriptors, 3 * cap, held, refused, used))
    finally:
        for s in sockets:
            s.close()
        proc.terminate()
        proc.wait(10)
        shutil.rmtree(work, ignore_errors=True)
    for f in failures:
        print("FAIL", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
