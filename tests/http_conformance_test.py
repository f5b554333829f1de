#!/usr/bin/python3
"""Every reply of zimble-scored read by a strict, independent HTTP/1.1 parser (h11), over a table
of valid and hostile requests: pipelining, HEAD, 304, HTTP/1.0, Connection: close, half-close,
Expect: 100-continue and the shapes of request smuggling, each sent whole and in small pieces.
Usage: http_conformance_test.py BUILD_DIR. Exits 77 (skipped) without python3-h11."""

import os
import re
import socket
import subprocess
import sys
import tempfile
import time

try:
    import h11
except ImportError:
    print("python3-h11 is not installed; skipped")
    sys.exit(77)

H = b"Host: x\r\n"
HEALTH = b"GET /health HTTP/1.1\r\n" + H + b"\r\n"
AFTER = b"GET /zm2.asp?1&0&0&0&Smuggled&2 HTTP/1.1\r\n" + H + b"\r\n"


def refused(status):
    return [("GET", status)]


# name, bytes sent, the replies expected as (method the reply answers, status), whether the
# service closes after them, whether the client half-closes after sending.
CASES = [
    ("one GET", HEALTH, [("GET", 200)], False, False),
    ("pipelined GET, HEAD, GET",
     HEALTH + b"HEAD /zimble1.asp HTTP/1.1\r\n" + H + b"\r\n" + b"GET /zimble1.asp HTTP/1.1\r\n" + H + b"\r\n",
     [("GET", 200), ("HEAD", 200), ("GET", 200)], False, False),
    ("HEAD of a submission", b"HEAD /zm2.asp?1&0&0&0&Head&2 HTTP/1.1\r\n" + H + b"\r\n", [("HEAD", 200)], False, False),
    ("not found", b"GET /nothing HTTP/1.1\r\n" + H + b"\r\n", [("GET", 404)], False, False),
    ("the replay page's script and pictures, pipelined",
     b"GET /replay.js HTTP/1.1\r\n" + H + b"\r\nHEAD /pictures/tessa1.jpg HTTP/1.1\r\n" + H + b"\r\n"
     + b"GET /pictures/tessa3.jpg HTTP/1.1\r\n" + H + b"\r\nGET /pictures/tessa4.jpg HTTP/1.1\r\n" + H + b"\r\n"
     + b"GET /replay?id=1 HTTP/1.1\r\n" + H + b"\r\n",
     [("GET", 200), ("HEAD", 200), ("GET", 200), ("GET", 404), ("GET", 404)], False, False),
    ("metrics from loopback", b"GET /metrics HTTP/1.1\r\n" + H + b"\r\n", [("GET", 200)], False, False),
    ("HTTP/1.0", b"GET /health HTTP/1.0\r\n\r\n" + HEALTH, [("GET", 200)], True, False),
    ("Connection: close", b"GET /health HTTP/1.1\r\n" + H + b"Connection: close\r\n\r\n" + HEALTH,
     [("GET", 200)], True, False),
    ("Connection: keep-alive, Close", b"GET /health HTTP/1.1\r\n" + H + b"Connection: keep-alive, Close\r\n\r\n" + HEALTH,
     [("GET", 200)], True, False),
    ("half-close after three", HEALTH * 3, [("GET", 200)] * 3, True, True),
    ("half-close after 1,500 pages", (b"GET /zimble1.asp HTTP/1.1\r\n" + H + b"\r\n") * 1500, [("GET", 200)] * 1500, True, True),
    ("half-close mid-request", HEALTH + b"GET /health HT", [("GET", 200)], True, True),
    ("body read, then the next", b"GET /health HTTP/1.1\r\n" + H + b"Content-Length: 5\r\n\r\nhello" + HEALTH,
     [("GET", 200), ("GET", 200)], False, False),
    ("POST refused, connection kept", b"POST /zm2.asp HTTP/1.1\r\n" + H + b"Content-Length: 3\r\n\r\nabc" + HEALTH,
     [("GET", 405), ("GET", 200)], False, False),
    ("TE and CL", b"POST / HTTP/1.1\r\n" + H + b"Content-Length: 4\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n" + AFTER,
     refused(400), True, False),
    ("TE alone", b"GET / HTTP/1.1\r\n" + H + b"Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n" + AFTER, refused(501), True, False),
    ("two different lengths", b"GET / HTTP/1.1\r\n" + H + b"Content-Length: 0\r\nContent-Length: 48\r\n\r\n" + AFTER,
     refused(400), True, False),
    ("TE with a space before the colon", b"GET / HTTP/1.1\r\n" + H + b"Transfer-Encoding : chunked\r\n\r\n" + AFTER,
     refused(400), True, False),
    ("folded TE", b"GET / HTTP/1.1\r\n" + H + b"X: y\r\n Transfer-Encoding: chunked\r\n\r\n" + AFTER, refused(400), True, False),
    ("bare CR", b"GET / HTTP/1.1\r\n" + H + b"X: y\rZ: w\r\n\r\n" + AFTER, refused(400), True, False),
    ("NUL in a value", b"GET / HTTP/1.1\r\n" + H + b"X: a\x00b\r\n\r\n" + AFTER, refused(400), True, False),
    ("empty header name", b"GET / HTTP/1.1\r\n" + H + b": x\r\n\r\n" + AFTER, refused(400), True, False),
    ("no Host", b"GET / HTTP/1.1\r\n\r\n" + AFTER, refused(400), True, False),
    ("target too long", b"GET /" + b"x" * 9000 + b" HTTP/1.1\r\n" + H + b"\r\n", refused(414), True, False),
    ("head too large", b"GET / HTTP/1.1\r\n" + H + b"X-Pad: " + b"p" * 20000 + b"\r\n\r\n", refused(431), True, False),
    ("101 fields", b"GET / HTTP/1.1\r\n" + H + b"".join(b"X-%d: v\r\n" % i for i in range(100)) + b"\r\n",
     refused(431), True, False),
    ("100 fields", b"GET /health HTTP/1.1\r\n" + H + b"".join(b"X-%d: v\r\n" % i for i in range(99)) + b"\r\n",
     [("GET", 200)], False, False),
    ("unknown method", b"BREW / HTTP/1.1\r\n" + H + b"\r\n", refused(501), True, False),
    ("HTTP/2.0", b"GET / HTTP/2.0\r\n" + H + b"\r\n", refused(505), True, False),
    ("body too large", b"GET / HTTP/1.1\r\n" + H + b"Content-Length: 16385\r\n\r\n", refused(413), True, False),
    ("unknown expectation", b"GET / HTTP/1.1\r\n" + H + b"Expect: x\r\n\r\n", refused(417), True, False),
    ("unknown expectation before 100-continue",
     b"GET / HTTP/1.1\r\n" + H + b"Expect: x\r\nExpect: 100-continue\r\n\r\n" + AFTER, refused(417), True, False),
    ("HTTP/1.2", b"GET / HTTP/1.2\r\n" + H + b"\r\n", refused(505), True, False),
    ("Content-Length past 2^63", b"GET / HTTP/1.1\r\n" + H + b"Content-Length: 9223372036854775808\r\n\r\n" + AFTER,
     refused(400), True, False),
    ("target too long, line never finished", b"GET /" + b"x" * 9000, refused(414), True, False),
    ("empty lines before and between requests", b"\r\n\n" + HEALTH + b"\r\n" + HEALTH,
     [("GET", 200), ("GET", 200)], False, False),
]


def interim_replies(port):
    """The 100 Continue of one request sent without its body: the statuses that came in the first
    0.3 s, and then after the body, as a list of lists."""

    def run(head):
        s = socket.create_connection(("127.0.0.1", port))
        try:
            s.sendall(head)
            seen = []
            for data in (b"", b"hello"):
                s.sendall(data)
                s.settimeout(0.3)
                got = b""
                try:
                    while True:
                        chunk = s.recv(65536)
                        if not chunk:
                            break
                        got += chunk
                except socket.timeout:
                    pass
                seen.append([int(m) for m in re.findall(rb"HTTP/1\.1 (\d{3}) ", got)])
            return seen
        finally:
            s.close()

    expect = H + b"Expect: 100-continue\r\nContent-Length: 5\r\n\r\n"
    failures = []
    # An HTTP/1.0 client does not know the interim reply.
    got = run(b"GET /health HTTP/1.0\r\n" + expect)
    if got != [[], [200]]:
        failures.append("Expect from an HTTP/1.0 client: %s, expected [[], [200]]" % got)
    # Behind a reply still owed, the word comes after it.
    got = run(b"GET /zm2.asp?1&0&0&0&Owed&2 HTTP/1.1\r\n" + H + b"\r\nGET /health HTTP/1.1\r\n" + expect)
    if got != [[200, 100], [200]]:
        failures.append("Expect behind a reply owed: %s, expected [[200, 100], [200]]" % got)
    return failures


def start_service(build):
    work = tempfile.mkdtemp()
    proc = subprocess.Popen([os.path.join(build, "server", "zimble-scored"), "--listen", "127.0.0.1:0",
                             "--db", os.path.join(work, "c.sqlite"), "--rate-limit", "0", "--quiet"],
                            stderr=subprocess.PIPE)
    line = ""
    for _ in range(20):  # the start-up line, after whatever is logged before it
        line = proc.stderr.readline().decode()
        m = re.search(r"serving on 127\.0\.0\.1:(\d+)", line)
        if m or not line:
            break
    if not m:
        raise SystemExit("zimble-scored did not start: " + line)
    return proc, int(m.group(1))


def exchange(port, data, half_close, piece, replies=None):
    """Sends `data` and reads until the service closes, or, once `replies` status lines have come,
    until it has said nothing more for a moment."""
    s = socket.create_connection(("127.0.0.1", port))
    try:
        step = piece or len(data)
        for i in range(0, len(data), step):
            try:
                s.sendall(data[i:i + step])
            except OSError:
                break  # closed after a refusal
            if piece:
                time.sleep(0.001)
        if half_close:
            s.shutdown(socket.SHUT_WR)
        s.settimeout(3)
        got, closed = b"", False
        while True:
            try:
                chunk = s.recv(65536)
            except socket.timeout:
                break
            except ConnectionResetError:
                closed = True
                break
            if not chunk:
                closed = True
                break
            got += chunk
            if replies is not None and got.count(b"HTTP/1.1 ") - got.count(b"HTTP/1.1 100 ") >= replies:
                s.settimeout(0.3)
        return got, closed
    finally:
        s.close()


def read_replies(got, closed, expected, request_headers=None):
    """Reads the replies with h11 as the client that sent `expected`; returns a list of problems."""
    conn = h11.Connection(h11.CLIENT)
    conn.receive_data(got)
    if closed:
        conn.receive_data(b"")
    statuses = []
    for i, (method, _) in enumerate(expected):
        if i:
            conn.start_next_cycle()
        conn.send(h11.Request(method=method, target="/", headers=request_headers or [("Host", "x")]))
        conn.send(h11.EndOfMessage())
        while True:
            event = conn.next_event()
            if event is h11.NEED_DATA:
                return statuses, ["reply %d incomplete" % (i + 1)]
            if isinstance(event, h11.Response):
                statuses.append(event.status_code)
            if isinstance(event, (h11.EndOfMessage, h11.ConnectionClosed)):
                break
    problems = []
    trailing, _ = conn.trailing_data
    if trailing:
        problems.append("%d bytes after the last expected reply" % len(trailing))
    return statuses, problems, conn


def main():
    build = sys.argv[1]
    proc, port = start_service(build)
    failures = []
    checked = 0
    try:
        for name, data, expected, close, half_close in CASES:
            for piece in (0, 7):
                if piece and len(data) > 40000:
                    continue
                label = "%s (%s)" % (name, "in 7-byte pieces" if piece else "whole")
                got, closed = exchange(port, data, half_close, piece, None if close else len(expected))
                try:
                    result = read_replies(got, closed, expected)
                except h11.RemoteProtocolError as e:
                    failures.append("%s: h11 rejects a reply: %s" % (label, e))
                    continue
                statuses, problems = result[0], result[1]
                checked += len(statuses)
                want = [status for _, status in expected]
                if statuses != want:
                    shown = statuses if len(statuses) < 10 else "%d replies" % len(statuses)
                    problems.append("statuses %s, expected %s" % (shown, want if len(want) < 10 else "%d" % len(want)))
                if close and not closed:
                    problems.append("the connection stayed open")
                if not close and closed:
                    problems.append("the connection was closed")
                if close and not half_close and len(result) > 2 and result[2].their_state not in (h11.MUST_CLOSE, h11.CLOSED):
                    problems.append("the last reply does not say Connection: close")
                failures += ["%s: %s" % (label, p) for p in problems]

        # 304: the page's ETag given back.
        got, _ = exchange(port, b"HEAD /zimble1.asp HTTP/1.1\r\n" + H + b"\r\n", False, 0, 1)
        tag = re.search(rb"\r\nETag: (\"[^\"]+\")", got).group(1)
        got, closed = exchange(port, b"GET /zimble1.asp HTTP/1.1\r\n" + H + b"If-None-Match: " + tag + b"\r\n\r\n" + HEALTH,
                               False, 0, 2)
        statuses, problems, _ = read_replies(got, closed, [("GET", 304), ("GET", 200)])
        checked += len(statuses)
        if statuses != [304, 200] or problems:
            failures.append("304 then 200: %s %s" % (statuses, problems))

        # Expect: 100-continue: the word to go on comes before the body is sent.
        conn = h11.Connection(h11.CLIENT)
        s = socket.create_connection(("127.0.0.1", port))
        s.settimeout(2)
        s.sendall(conn.send(h11.Request(method="GET", target="/health",
                                        headers=[("Host", "x"), ("Expect", "100-continue"), ("Content-Length", "5")])))
        conn.receive_data(s.recv(65536))
        event = conn.next_event()
        if not isinstance(event, h11.InformationalResponse) or event.status_code != 100:
            failures.append("Expect: 100-continue: first came %r" % (event,))
        else:
            s.sendall(conn.send(h11.Data(data=b"hello")) + conn.send(h11.EndOfMessage()))
            while True:
                event = conn.next_event()
                if event is h11.NEED_DATA:
                    conn.receive_data(s.recv(65536))
                    continue
                if isinstance(event, h11.Response):
                    checked += 1
                    if event.status_code != 200:
                        failures.append("Expect: 100-continue: then %d" % event.status_code)
                if isinstance(event, h11.EndOfMessage):
                    break
        s.close()
        failures += interim_replies(port)
    finally:
        proc.terminate()
        proc.wait(10)

    for f in failures:
        print("FAIL", f)
    print("%d cases, %d replies read by h11, %d failures" % (len(CASES) * 2 + 2, checked, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
