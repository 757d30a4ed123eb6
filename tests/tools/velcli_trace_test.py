#!/usr/bin/env python3
"""velcli trace and the Wireshark dissector, on traces of real velcli <-> velsim sessions.

Until the library writes its own recording, the trace is made here: a TCP relay between
velcli and velsim takes the RFC 2217 stream apart as the library's network line does
(IAC doubling removed, com port commands seen) and records what the transport's seam
sees: data bytes as read or written, break and line-state changes as line events, the
baud rate as settings, each connection's open and close. For the faulted session the
relay also damages imager-to-host data packets (velsim has no corruption option).

Usage: velcli_trace_test.py VELCLI VELSIM LUA_SCRIPT
"""
import json, os, queue, re, shutil, socket, struct, subprocess, sys, tempfile, threading, time

VELCLI, VELSIM, LUA = sys.argv[1:4]
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)


def wait_for(predicate, seconds, what):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        value = predicate()
        if value:
            return value
        time.sleep(0.05)
    raise RuntimeError("timed out waiting for " + what)


# ---- pcapng writer in the recording's format ----

def block(kind, body):
    body += b"\0" * (-len(body) % 4)
    return struct.pack("<II", kind, len(body) + 12) + body + struct.pack("<I", len(body) + 12)


def option(code, value):
    return struct.pack("<HH", code, len(value)) + value + b"\0" * (-len(value) % 4)


def write_pcapng(path, interfaces, records):
    out = block(0x0A0D0D0A, struct.pack("<IHHq", 0x1A2B3C4D, 1, 0, -1) + struct.pack("<HH", 0, 0))
    for name, description in interfaces:
        opts = option(2, name.encode()) + option(3, description.encode()) + option(9, b"\x06") + struct.pack("<HH", 0, 0)
        out += block(1, struct.pack("<HHI", 147, 0, 0) + opts)
    for iface, t, direction, kind, detail, payload in records:
        data = struct.pack("<BBBBI", 0x56, 1, kind, 0, detail) + payload
        flags = {"in": 1, "out": 2}.get(direction, 0)
        body = struct.pack("<IIIII", iface, t >> 32, t & 0xFFFFFFFF, len(data), len(data))
        body += data + b"\0" * (-len(data) % 4) + option(2, struct.pack("<I", flags)) + struct.pack("<HH", 0, 0)
        out += block(6, body)
    with open(path, "wb") as f:
        f.write(out)


# ---- the relay ----

IAC, SB, SE = 255, 250, 240
COM_PORT = 44


class Relay:
    """Passes RFC 2217 through and records the seam's view of it."""

    def __init__(self, target_port, corrupt=0):
        self.target_port = target_port
        self.corrupt_left = corrupt
        self.corrupted = 0
        self.records = []
        self.lock = threading.Lock()
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.stop = False
        self.last_corruption = 0.0
        threading.Thread(target=self.serve, daemon=True).start()

    def record(self, direction, kind, detail=0, payload=b""):
        with self.lock:
            self.records.append((0, int(time.time() * 1e6), direction, kind, detail, payload))

    def serve(self):
        self.listener.settimeout(0.2)
        while not self.stop:
            try:
                client, _ = self.listener.accept()
            except socket.timeout:
                continue
            try:
                server = socket.create_connection(("127.0.0.1", self.target_port))
            except OSError:
                client.close()
                continue
            self.record(None, 4, 0, b"rfc2217 127.0.0.1:%d" % self.target_port)
            done = threading.Event()
            a = threading.Thread(target=self.pump, args=(client, server, "out", done), daemon=True)
            b = threading.Thread(target=self.pump, args=(server, client, "in", done), daemon=True)
            a.start(); b.start()
            a.join(); b.join()
            self.record(None, 5)

    def pump(self, src, dst, direction, done):
        """Copies src to dst; the telnet layer is parsed to find the data and the commands."""
        state, sub = "data", bytearray()
        src.settimeout(0.2)
        while not done.is_set() and not self.stop:
            try:
                chunk = src.recv(65536)
            except socket.timeout:
                continue
            except OSError:
                chunk = b""
            if not chunk:
                break
            data = bytearray()
            positions = []  # where each data byte is in chunk
            for i, b in enumerate(chunk):
                if state == "data":
                    if b == IAC:
                        state = "iac"
                    else:
                        data.append(b); positions.append(i)
                elif state == "iac":
                    if b == IAC:
                        data.append(b); positions.append(i); state = "data"
                    elif b == SB:
                        state, sub = "sb", bytearray()
                    elif b in (251, 252, 253, 254):
                        state = "option"
                    else:
                        state = "data"
                elif state == "option":
                    state = "data"
                elif state == "sb":
                    if b == IAC:
                        state = "sbiac"
                    else:
                        sub.append(b)
                elif state == "sbiac":
                    if b == SE:
                        self.subnegotiation(bytes(sub), direction)
                        state = "data"
                    else:
                        sub.append(b); state = "sb"
            chunk = bytearray(chunk)
            # Damage one imager-to-host byte in the middle of a long run of data (a packet's
            # payload or CRC, with 1,020-byte packets), at most once a second.
            if (direction == "in" and self.corrupt_left > 0 and len(data) >= 1500
                    and time.monotonic() - self.last_corruption > 1.0):
                k = len(data) // 2
                if data[k] != 0xFF and data[k] ^ 0x5A != 0xFF:
                    data[k] ^= 0x5A
                    chunk[positions[k]] ^= 0x5A
                    self.corrupt_left -= 1
                    self.corrupted += 1
                    self.last_corruption = time.monotonic()
            if data:
                self.record(direction, 1, 0, bytes(data))
            try:
                dst.sendall(chunk)
            except OSError:
                break
        done.set()
        for s in (src, dst):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def subnegotiation(self, sub, direction):
        if len(sub) < 2 or sub[0] != COM_PORT:
            return
        command, value = sub[1], sub[2:]
        if direction == "out" and command == 1 and len(value) == 4:  # SET-BAUDRATE
            baud = struct.unpack(">I", value)[0]
            if baud:
                self.record(None, 3, baud, b"baud=%d data=8 parity=none stop=1" % baud)
        elif direction == "out" and command == 5 and value in (b"\x05", b"\x06"):  # SET-CONTROL break on/off
            self.record(None, 2, 1 if value == b"\x05" else 2)
        elif direction == "in" and command == 106 and value:  # NOTIFY-LINESTATE
            bits = (1 if value[0] & 0x10 else 0) | (16 if value[0] & 0x0E else 0)
            if bits:
                self.record(None, 2, bits)

    def save(self, path):
        self.stop = True
        with self.lock:
            records = sorted(self.records, key=lambda r: r[1])
        write_pcapng(path, [("rfc2217 127.0.0.1:%d" % self.target_port, "network serial port (RFC 2217)")], records)


# ---- sessions ----

class Velsim:
    def __init__(self, *options):
        self.proc = subprocess.Popen([VELSIM, "--tcp-port", "0"] + list(options), stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.lines = queue.Queue()
        self.log = []
        threading.Thread(target=self.read, daemon=True).start()
        url = wait_for(self.url, 20, "velsim's URL")
        self.port = int(url.rsplit(":", 1)[1])

    def read(self):
        for line in self.proc.stdout:
            self.log.append(line.rstrip())

    def url(self):
        for line in self.log:
            m = re.search(r"rfc2217://[\d.]+:\d+", line)
            if m:
                return m.group(0)
        return None

    def count(self, text):
        return sum(text in line for line in self.log)

    def close(self):
        try:
            self.proc.stdin.write("q\n"); self.proc.stdin.flush()
        except OSError:
            pass
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill(); self.proc.wait()


def velcli(relay, *args, timeout=120):
    env = dict(os.environ, VEL_SERIAL_PORT_7="rfc2217://127.0.0.1:%d" % relay.port)
    p = subprocess.run([VELCLI, "--port", "7", "--timeout", "30000"] + list(args), env=env,
                       capture_output=True, text=True, timeout=timeout)
    return p


def trace(*args):
    return subprocess.run([VELCLI, "trace"] + list(args), capture_output=True, text=True, timeout=120)


def shown(path):
    p = trace("show", path, "--json")
    lines = [json.loads(l) for l in p.stdout.splitlines() if l.strip()]
    return p.returncode, [l for l in lines if "type" in l]


def stats(path):
    p = trace("stats", path, "--json")
    return p.returncode, json.loads(p.stdout.splitlines()[-1]).get("stats", {})


work = tempfile.mkdtemp(prefix="velcli-trace-")
try:
    # ---- a clean session: connect, configuration read and sent, host capture, trigger ----
    sim = Velsim()
    relay = Relay(sim.port)
    p = velcli(relay, "config", "set", "MaximumNumberBarcodesToDecode", "20")
    check(p.returncode == 0, "velcli config set through the relay: %s" % p.stderr.strip()[-200:])
    p = velcli(relay, "--json", "capture", "--decode", "--grey")
    capture = json.loads(p.stdout) if p.returncode == 0 else {}
    reported = [b.get("text") for b in capture.get("captures", [{}])[0].get("barcodes", [])]
    check(p.returncode == 0 and reported, "velcli capture --decode --grey: barcodes %s" % reported)
    env = dict(os.environ, VEL_SERIAL_PORT_7="rfc2217://127.0.0.1:%d" % relay.port)
    watch = subprocess.Popen([VELCLI, "--port", "7", "--timeout", "30000", "watch", "--count", "1", "--seconds", "60"],
                             env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    connected_before = sim.count("client connected")
    wait_for(lambda: sim.count("client connected") > connected_before - 1 and relay.records, 30, "watch to connect")
    end = time.monotonic() + 60
    while watch.poll() is None and time.monotonic() < end:  # Enter pulls the trigger, until watch has its capture
        sim.proc.stdin.write("\n"); sim.proc.stdin.flush()
        time.sleep(0.5)
    check(watch.poll() == 0, "velcli watch got a trigger capture")
    if watch.poll() is None:
        watch.kill()
    watch.wait()
    clean = os.path.join(work, "clean.pcapng")
    relay.save(clean)
    sim.close()

    code, items = shown(clean)
    check(code == 0 and items, "trace show --json reads the trace")
    commands = [i["name"] for i in items if i["type"] == "command"]
    session = ["GetBlockSize", "CheckLink", "GetVersions", "GetConfiguration"]
    expected_order = [n for n in commands if n in ("SetTemporaryConfiguration", "Capture", "CaptureGrey")]
    check(commands[:4] == session and "Close" in commands and expected_order[:1] == ["SetTemporaryConfiguration"]
          and ("Capture" in expected_order),
          "commands in order: %s" % commands)
    check(commands.count("Close") == 3 and commands.count("GetBlockSize") == 3, "three connections, each closed")
    traced = [i["data"] for i in items if i["type"] == "barcode"]
    check(traced[:len(reported)] == reported, "barcode data in the trace %s equal velcli's %s" % (traced, reported))
    images = [i for i in items if i["type"] == "image"]
    check(any(i["kind"] == "grey" and i["bytes"] == i["width"] * i["height"] and i["acks"] == i["blocks"]
              for i in images), "the grey image section: size and an acknowledgement per block")
    check(any(i["type"] == "trigger" for i in items), "the trigger transfer on the event channel")
    check(not [i for i in items if i["type"] in ("crc-error", "cut", "lost", "framing-lost")],
          "a clean session has no CRC error, cut or lost exchange")
    code, st = stats(clean)
    names = {c["name"]: c for c in st.get("commands", [])}
    # One resynchronisation per connection; on a loaded host the imager may ask for more
    # (an acknowledgement later than its stall time), and only then is anything sent again.
    resyncs = st.get("resynchronisations", 0)
    check(code == 0 and names.get("GetBlockSize", {}).get("count") == 3 and st.get("crcErrors") == 0
          and resyncs >= 3 and (st.get("retransmissions") == 0 or resyncs > 3)
          and st.get("packetsIn", 0) > 0 and st.get("bytesIn", 0) > st.get("bytesOut", 0)
          and names.get("Capture", {}).get("medianUs", 0) > 0,
          "trace stats: %s" % {k: v for k, v in st.items() if k != "commands"})

    if shutil.which("tshark"):
        p = subprocess.run(["tshark", "-X", "lua_script:" + LUA, "-r", clean, "-V"], capture_output=True,
                           text=True, timeout=120)
        out = p.stdout
        # The dissector decodes the packets that lie whole in one record; the relay records
        # what each receive gave, so a slower host (a sanitizer build) splits some packets
        # and handshakes across records: most commands are named, the token not always.
        named = [n for n in ("GetBlockSize", "CheckLink", "Capture", "Close") if "Command: %s" % n in out]
        check(p.returncode == 0 and len(named) >= 2 and "CRC: good" in out,
              "tshark with the dissector names the commands (%s) and decodes packets (exit %d, CRC good %s, host token %s): %s"
              % (named, p.returncode, "CRC: good" in out, "Host token" in out, p.stderr.strip()[-300:]))
    else:
        check(False, "tshark is installed (scripts/setup)")

    # ---- the library's own recording (velcli --trace) of a capture against velsim ----
    sim = Velsim()
    relay = Relay(sim.port)
    recorded = os.path.join(work, "recorded.pcapng")
    p = velcli(relay, "--trace", recorded, "--json", "capture", "--decode", "--grey")
    sim.close()
    reported = [b.get("text") for b in (json.loads(p.stdout) if p.returncode == 0 else {}).get("captures", [{}])[0]
                .get("barcodes", [])]
    code, items = shown(recorded)
    commands = [i["name"] for i in items if i["type"] == "command"]
    check(code == 0 and commands == ["GetBlockSize", "CheckLink", "GetVersions", "GetConfiguration", "Capture", "Close"]
          and [i["data"] for i in items if i["type"] == "barcode"] == reported and reported
          and any(i["type"] == "api" for i in items),
          "the library's recording: commands %s, barcodes as velcli reported %s" % (commands, reported))

    # ---- faults: velsim drops the connection; the relay damages imager packets ----
    sim = Velsim("--drop-every", "2500")
    relay = Relay(sim.port, corrupt=3)
    end = time.monotonic() + 90
    runs = 0
    while (relay.corrupted < 3 or sim.count("dropping the connection") < 1) and time.monotonic() < end:
        velcli(relay, "--json", "capture", "--grey", "--decode")
        runs += 1
    faulted = os.path.join(work, "faulted.pcapng")
    relay.save(faulted)
    drops = sim.count("dropping the connection")
    breaks = sim.count("break on")
    sim.close()
    code, items = shown(faulted)
    code2, st = stats(faulted)
    crc_items = sum(i["type"] == "crc-error" for i in items)
    resync_items = sum(i["type"] == "handshake" for i in items)
    check(code == 0 and code2 == 0, "the faulted trace reads")
    check(relay.corrupted == 3 and st.get("crcErrors", 0) >= relay.corrupted and st["crcErrors"] == crc_items,
          "CRC errors: %s counted, %d shown, %d packets damaged" % (st.get("crcErrors"), crc_items, relay.corrupted))
    # A dropped connection can cut the handshake of a break that velsim already counted.
    check(st.get("resynchronisations") == resync_items and breaks - drops <= resync_items <= breaks,
          "resynchronisations: %s counted, %d shown, velsim saw %d breaks and dropped %d connections"
          % (st.get("resynchronisations"), resync_items, breaks, drops))
    check(drops >= 1 and st.get("retransmissions", 0) >= 1,
          "velsim dropped %d connections; %s retransmissions after same-imager resynchronisations"
          % (drops, st.get("retransmissions")))

    # ---- damage: a cut file is read up to the damage and reported ----
    data = open(clean, "rb").read()
    cut = os.path.join(work, "cut.pcapng")
    open(cut, "wb").write(data[:len(data) // 2 + 3])
    p = trace("show", cut)
    check(p.returncode == 6 and "CheckLink" in p.stdout and "truncated" in p.stderr + p.stdout,
          "a cut file: what came before is shown, the damage reported")
finally:
    shutil.rmtree(work, ignore_errors=True) if not os.environ.get("KEEP") else print(work)

print("%d failure(s)" % len(failures))
sys.exit(1 if failures else 0)
