#!/usr/bin/env python3
"""The imager console against hostile and broken clients (velcli serve --simulate):

- trickling heads from 200 connections, a head of 10,000 lines and a 50 MB chunked
  body, while a well-behaved client's requests are answered; the trickling
  connections closed by the server after the head deadline; the per-address limit;
- 70 event streams of which 10 never read: the readers keep receiving, the 6 beyond
  the limit are told to come back later, the stalled ones are closed.

  console_hostile_test.py [--wine WINE_RUN] VELCLI

The clients connect from several loopback addresses (127.0.0.2 ...), as the clients of
a line would from their own machines: one address may hold 64 connections.
"""
import os
import socket
import statistics
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from console_server import Console  # noqa: E402

arguments = sys.argv[1:]
launcher = []
if arguments[0] == "--wine":
    launcher, arguments = [arguments[1]], arguments[2:]
velcli = arguments[0]
failures = []
PER_ADDRESS = 64
HEAD_DEADLINE = 10
STALLED_STREAM = 30


T0 = time.monotonic()


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what + "  [%.0f s]" % (time.monotonic() - T0), flush=True)
    if not condition:
        failures.append(what)
    return condition


def connect(port, source="127.0.0.1", receive_buffer=None):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    if receive_buffer:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
    s.bind((source, 0))
    s.settimeout(10)
    s.connect(("127.0.0.1", port))
    return s


def closed_by_server(s, seconds):
    """True when the server ends the connection within seconds (what it sent first is
    read and dropped)."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        s.settimeout(max(0.05, deadline - time.monotonic()))
        try:
            if not s.recv(65536):
                return True
        except socket.timeout:
            return False
        except OSError:
            return True
    return False


def closed_now(s):
    """True when the server has already ended the connection (without waiting)."""
    s.settimeout(0)
    try:
        return s.recv(65536) == b""
    except BlockingIOError:
        return False
    except OSError:
        return True


def status_of(s, seconds=10):
    """The status code of the answer on s, or None."""
    s.settimeout(seconds)
    data = b""
    try:
        while b"\r\n" not in data:
            chunk = s.recv(4096)
            if not chunk:
                break
            data += chunk
    except OSError:
        pass
    parts = data.split(b" ", 2)
    return int(parts[1]) if len(parts) > 1 and parts[1].isdigit() else None


class WellBehaved(threading.Thread):
    """GET /api/state on fresh connections, one after the other, timing each answer."""

    def __init__(self, console):
        super().__init__(daemon=True)
        self.console, self.times, self.failed, self.stop = console, [], [], threading.Event()

    def run(self):
        while not self.stop.is_set():
            started = time.monotonic()
            try:
                status, body = self.console.get("/api/state", timeout=10)
                ok = status == 200 and isinstance(body, dict) and "connected" in body
            except Exception as e:  # noqa: BLE001 - every failure counts
                ok, status = False, repr(e)
            elapsed = time.monotonic() - started
            self.times.append(elapsed)
            if not ok:
                self.failed.append(status)
            time.sleep(0.1)


def slow_clients(console, port):
    good = WellBehaved(console)
    good.start()
    # 200 connections that send a request line and then one header byte a second.
    trickling = []
    for i in range(200):
        s = connect(port, "127.0.0.%d" % (2 + i // 50))
        s.sendall(b"GET /api/state HTTP/1.1\r\n")
        trickling.append(s)
    started = time.monotonic()

    def trickle():
        while time.monotonic() - started < HEAD_DEADLINE + 6:
            for s in trickling:
                try:
                    s.send(b"X")
                except OSError:
                    pass
            time.sleep(1)

    threading.Thread(target=trickle, daemon=True).start()

    # A head of 10,000 lines, sent as fast as the server takes it.
    big_head = connect(port, "127.0.0.6")
    try:
        big_head.sendall(b"GET /api/state HTTP/1.1\r\nHost: 127.0.0.1\r\n" + b"X-Line: 1\r\n" * 10000 + b"\r\n")
    except OSError:
        pass
    check(status_of(big_head) == 431, "a head of 10,000 lines is answered 431")
    # Few lines, but more than a hundred of them.
    many = connect(port, "127.0.0.6")
    many.sendall(b"GET /api/state HTTP/1.1\r\nHost: 127.0.0.1\r\n" + b"A: 1\r\n" * 101 + b"\r\n")
    check(status_of(many) == 431, "a head of 101 header lines is answered 431")

    # A chunked body of 50 MB: refused as soon as it passes the limit, not read whole.
    chunked = connect(port, "127.0.0.6")
    chunked.sendall(b"POST /api/config/file HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n\r\n")
    chunk = b"%x\r\n" % 65536 + b"[" * 65536 + b"\r\n"
    sent = 0
    try:
        while sent < 50 * 1024 * 1024:
            chunked.sendall(chunk)
            sent += 65536
    except OSError:
        pass
    check(sent < 50 * 1024 * 1024, "a 50 MB chunked body is cut off before its end (%d bytes taken)" % sent)
    compressed = connect(port, "127.0.0.6")
    compressed.sendall(b"POST /api/capture HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Encoding: gzip\r\n"
                       b"Content-Length: 4\r\n\r\nabcd")
    check(status_of(compressed) == 415, "a compressed request body is refused 415")

    # The per-address limit: the trickling addresses hold 50 each; 20 more from one of
    # them go beyond 64 and are closed at once, while the address's first ones stay.
    extra = [connect(port, "127.0.0.2") for _ in range(20)]
    time.sleep(1)
    refused = sum(closed_now(s) for s in extra)
    check(refused == 50 + 20 - PER_ADDRESS, "beyond 64 connections from one address new ones are closed at once "
          "(%d of 20 closed)" % refused)

    still = sum(not closed_now(s) for s in trickling)
    check(still == len(trickling), "before the deadline the trickling connections are kept (%d of %d)"
          % (still, len(trickling)))

    # Past the head deadline every trickling connection has been closed by the server.
    time.sleep(max(0, started + HEAD_DEADLINE - time.monotonic()))
    left = list(trickling)
    while left and time.monotonic() < started + HEAD_DEADLINE + 15:
        left = [s for s in left if not closed_now(s)]
        time.sleep(0.2)
    open_left = len(left)
    check(open_left == 0, "the server closes trickling connections after the head deadline (%d left open)"
          % open_left)
    good.stop.set()
    good.join(15)
    times = good.times
    check(len(times) > 20 and not good.failed and max(times) < 2.0,
          "a well-behaved client is answered meanwhile: %d requests, %d failed, median %.1f ms, max %.1f ms"
          % (len(times), len(good.failed), 1000 * statistics.median(times or [0]), 1000 * max(times or [0])))
    for s in trickling + extra + [big_head, many, chunked, compressed]:
        s.close()


def stream(port, source, receive_buffer=None):
    s = connect(port, source, receive_buffer)
    s.sendall(b"GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: text/event-stream\r\n\r\n")
    return s


class Reader(threading.Thread):
    def __init__(self, s):
        super().__init__(daemon=True)
        self.s, self.data, self.ended = s, bytearray(), False

    def run(self):
        self.s.settimeout(120)
        try:
            while True:
                chunk = self.s.recv(65536)
                if not chunk:
                    break
                self.data += chunk
        except OSError:
            pass
        self.ended = True

    def captures(self):
        return self.data.count(b"event: capture")


def event_streams(console, port):
    stalled = [stream(port, "127.0.0.7", receive_buffer=4096) for _ in range(10)]
    readers = [Reader(stream(port, "127.0.0.%d" % (8 + i // 30))) for i in range(54)]
    for r in readers:
        r.start()
    # The 64 streams are open once each has its first frame (the state).
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline and not all(b"event: state" in r.data for r in readers):
        time.sleep(0.1)
    beyond = [Reader(stream(port, "127.0.0.10")) for _ in range(6)]
    for r in beyond:
        r.start()
        r.join(10)
    check(all(r.ended and b"retry: " in r.data and b" 200 " in r.data[:16] for r in beyond),
          "the 6 streams beyond 64 are told to retry and end")

    status, _ = console.post("/api/live", {"on": True, "grey": True, "decode": True})
    check(status == 200, "live mode starts")
    # The stalled streams' buffers fill, and after the stall limit the server closes
    # them: a probe stream is told to retry until a slot is free.
    started = time.monotonic()
    counts_before = [r.captures() for r in readers]
    freed = None
    while time.monotonic() - started < STALLED_STREAM + 90 and freed is None:
        probe = Reader(stream(port, "127.0.0.10"))
        probe.start()
        probe.join(5)
        if b"event: state" in probe.data:
            freed = time.monotonic() - started
        probe.s.close()
        if freed is None:
            time.sleep(2)
    # The stalled ones went within moments of each other; reading them now finds their end.
    time.sleep(5)
    console.post("/api/live", {"on": False})
    closed = sum(closed_by_server(s, 10) for s in stalled)
    check(freed is not None and closed == len(stalled),
          "the server closes the %d streams that stopped reading (%d closed; the first slot free after %s s)"
          % (len(stalled), closed, "%.0f" % freed if freed is not None else "never"))
    gained = [r.captures() - before for r, before in zip(readers, counts_before)]
    check(min(gained) > 0 and not any(r.ended for r in readers),
          "the 54 reading streams keep receiving (captures each: min %d, max %d)" % (min(gained), max(gained)))
    # Slots are free again: a new stream is served.
    late = Reader(stream(port, "127.0.0.10"))
    late.start()
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline and b"event: state" not in late.data:
        time.sleep(0.1)
    check(b"event: state" in late.data, "a new stream is served once the stalled ones are gone")
    for r in readers + [late]:
        r.s.close()
    for s in stalled:
        s.close()


with Console(velcli, "--simulate", launcher=launcher) as console:
    port = int(console.base.rsplit(":", 1)[1])
    slow_clients(console, port)
    event_streams(console, port)
    status, body = console.get("/api/state")
    check(status == 200 and console.process.poll() is None, "velcli serve still answers at the end")
    code = console.stop()
    check(code == 0, "velcli serve ends cleanly on Ctrl+C (exit %s)" % code)

if failures:
    print("%d check(s) failed" % len(failures))
    sys.exit(1)
print("all checks passed")
