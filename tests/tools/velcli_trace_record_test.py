#!/usr/bin/env python3
"""Field traces as velcli records them against velsim over a network serial port:
the file's blocks (read by tshark and by the parser below), the API events, the
bytes of the capture, the session read back by velcli trace show, CTS and DSR
changes with their levels, a process killed mid-capture, the size limit's
rotation and a file that already exists.

  velcli_trace_record_test.py [--wine WINE_RUN --reader NATIVE_VELCLI] VELCLI VELSIM TSHARK

With --wine, VELCLI is velcli.exe run through WINE_RUN (the session alone), and
its trace is read by the native velcli.
"""
import json
import os
import re
import signal
import stat
import struct
import subprocess
import sys
import tempfile
import time

arguments = sys.argv[1:]
launcher, reader = [], None
if arguments[0] == "--wine":
    launcher, reader, arguments = [arguments[1]], arguments[3], arguments[4:]
velcli, velsim, tshark = arguments
reader = reader or velcli
source = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
scenes = os.path.join(source, "sim", "scenes")
dissector = os.path.join(source, "tools", "wireshark", "imgengine.lua")
failures = []
GREY_BYTES = 1280 * 1024


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)


def blocks(path):
    """The pcapng file as (interfaces, records): interfaces a list of option dicts,
    records (interface, flags, kind, detail, payload). Raises ValueError on a malformed file."""
    data = open(path, "rb").read()
    interfaces, records, at = [], [], 0
    while at < len(data):
        if len(data) - at < 12:
            raise ValueError("a cut block at %d" % at)
        kind, length = struct.unpack_from("<II", data, at)
        if length < 12 or length % 4 or at + length > len(data):
            raise ValueError("block length %d at %d" % (length, at))
        if struct.unpack_from("<I", data, at + length - 4)[0] != length:
            raise ValueError("trailing length at %d" % at)
        body = data[at + 8:at + length - 4]
        if kind == 0x0A0D0D0A:
            if struct.unpack_from("<I", body)[0] != 0x1A2B3C4D:
                raise ValueError("byte-order magic")
        elif kind == 1:
            link, _, snaplen = struct.unpack_from("<HHI", body)
            options, o = {"linktype": link, "snaplen": snaplen}, 8
            while o + 4 <= len(body):
                code, size = struct.unpack_from("<HH", body, o)
                if code == 0:
                    break
                options[code] = body[o + 4:o + 4 + size]
                o += 4 + (size + 3) // 4 * 4
            interfaces.append(options)
        elif kind == 6:
            interface, _, _, captured, original = struct.unpack_from("<IIIII", body)
            payload = body[20:20 + captured]
            if captured != original or len(payload) != captured or captured < 8:
                raise ValueError("packet lengths at %d" % at)
            if payload[0] != 0x56 or payload[1] != 1 or payload[3] != 0 or interface >= len(interfaces):
                raise ValueError("record header at %d" % at)
            o, flags = 20 + (captured + 3) // 4 * 4, None
            while o + 4 <= len(body):
                code, size = struct.unpack_from("<HH", body, o)
                if code == 0:
                    break
                if code == 2 and size == 4:
                    flags = struct.unpack_from("<I", body, o + 4)[0]
                o += 4 + (size + 3) // 4 * 4
            records.append((interface, flags, payload[2], struct.unpack_from("<I", payload, 4)[0], payload[8:]))
        at += length
    return interfaces, records


def tshark_frames(path):
    r = subprocess.run([tshark, "-r", path, "-T", "fields", "-e", "frame.number", "-e", "frame.interface_id",
                        "-e", "frame.len"], capture_output=True, text=True, timeout=120)
    rows = [line.split("\t") for line in r.stdout.splitlines() if line.strip()]
    # tshark's warning about running as root is no complaint about the file.
    err = "\n".join(l for l in r.stderr.splitlines() if l.strip() and not l.startswith("Running as user"))
    return r.returncode, rows, err


def wait_for(condition, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    return condition()


class Velsim:
    def __init__(self, *options):
        self.process = subprocess.Popen([velsim, "--tcp-port", "0", "--scene", os.path.join(scenes, "shelf.scene"),
                                         *options], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True)
        line = self.process.stdout.readline()
        match = re.search(r"rfc2217://\S+", line)
        self.url = match.group(0) if match else "rfc2217://127.0.0.1:1"

    def close(self):
        self.process.kill()
        self.process.wait(timeout=30)


def velcli_run(env, *args, timeout=180):
    return subprocess.run([*launcher, velcli, "--port", "7", *args], capture_output=True, text=True,
                          timeout=timeout, env=env)


def text_of(records, kind):
    return [r[4].decode("utf-8", "replace") for r in records if r[2] == kind]


def shown(path):
    """velcli trace show --json (the native reader): its exit code and items."""
    r = subprocess.run([reader, "trace", "show", path, "--json"], capture_output=True, text=True, timeout=120)
    items = []
    for line in r.stdout.splitlines():
        try:
            item = json.loads(line)
        except ValueError:
            return -1, []
        if "type" in item:
            items.append(item)
    return r.returncode, items


# The dissector's names of the kinds and line event bits are those of ImgEngineTrace.h, in its order.
header = open(os.path.join(source, "imgengine", "include", "ImgEngineTrace.h")).read()
lua = open(dissector).read()
kinds = {int(v): n for n, v in re.findall(r"VEL_TRACE_(\w+) = (\d+),?\s*/\*", header)}
lua_kinds = {int(v): n for v, n in re.findall(r'\[(\d+)\] = "([^"]+)"', lua.split("local commands")[0])}
bits = [int(v, 16) for v in re.findall(r"#define VEL_TRACE_LINE_\w+ 0x([0-9A-Fa-f]+)", header)]
lua_bits = re.search(r"local lineBits = \{([^}]*)\}", lua)
check(sorted(kinds) == sorted(lua_kinds) == list(range(1, 9)) and
      all(lua_kinds[k].replace(" ", "_").upper() == kinds[k] for k in kinds) and
      bits == [1 << i for i in range(len(bits))] and lua_bits and lua_bits.group(1).count('"') == 2 * len(bits),
      "the dissector's kinds %s and %d line bits are the header's %s, %s" %
      (lua_kinds, lua_bits.group(1).count('"') // 2 if lua_bits else 0, kinds, bits))

with tempfile.TemporaryDirectory() as work:
    sim = Velsim()
    env = dict(os.environ, VEL_HOST_SETTINGS=os.path.join(work, "host-settings"), VEL_SERIAL_PORT_7=sim.url,
               WINEDEBUG="-all")
    env.pop("VEL_TRACE", None)
    env.pop("VEL_TRACE_MAX_MB", None)
    try:
        # A session: connect, a host capture with the grey image and results, disconnect.
        path = os.path.join(work, "session.pcapng")
        out = os.path.join(work, "out")
        r = velcli_run(env, "--json", "--trace", path, "capture", "--grey", "--decode", "--out", out)
        check(r.returncode == 0, "velcli --trace capture: %d %s" % (r.returncode, r.stderr[-300:]))
        try:
            reported = [b.get("text") for b in json.loads(r.stdout)["captures"][0]["barcodes"]]
        except (ValueError, KeyError, IndexError):
            reported = []
        code, rows, err = tshark_frames(path) if os.path.exists(path) else (-1, [], "no file")
        try:
            interfaces, records = blocks(path)
        except (OSError, ValueError) as e:
            interfaces, records = [], []
            check(False, "the session's file parses: %s" % e)
        check(code == 0 and not err and len(rows) == len(records) > 0 and
              [int(row[0]) for row in rows] == list(range(1, len(rows) + 1)),
              "tshark reads every block: %d frames, %d records, %r" % (len(rows), len(records), err[:200]))
        check(all(int(row[2]) == len(records[i][4]) + 8 for i, row in enumerate(rows)) if len(rows) == len(records)
              else False, "tshark's frame lengths are the records'")
        if not launcher:
            check(stat.S_IMODE(os.stat(path).st_mode) == 0o600, "the file is the owner's alone (0600)")
        names = [i.get(2, b"").decode() for i in interfaces]
        check(len(interfaces) == 2 and names[0].startswith("rfc2217 127.0.0.1:") and names[1] == "api" and
              interfaces[1].get(3) == b"ImgEngine API events" and
              all(i["linktype"] == 147 and i["snaplen"] == 0 and i.get(9) == b"\x06" for i in interfaces),
              "one interface for the connection, one for the API: %s" % names)
        line = [r for r in records if r[0] == 0]
        api = [r for r in records if r[0] == 1]
        check(bool(line) and line[0][2] == 4 and line[-1][2] == 5, "the connection's records open and close it")
        check(any(r[2] == 3 and r[3] == 115200 and r[4].startswith(b"baud=115200") for r in line),
              "the line settings as a settings record with the baud rate")
        check(any(r[2] == 2 and r[3] & 1 for r in line), "velsim's answering break as a line event")
        inbound = b"".join(r[4] for r in line if r[2] == 1 and r[1] == 1)
        outbound = sum(len(r[4]) for r in line if r[2] == 1 and r[1] == 2)
        # The grey image crossed the line once, in the link's framing: its bytes, and little more.
        check(GREY_BYTES <= len(inbound) <= GREY_BYTES * 1.15 + 65536 and 0 < outbound < 65536,
              "bytes in %d (grey image %d), out %d" % (len(inbound), GREY_BYTES, outbound))
        grey = os.path.join(out, "grey.bmp")
        pixels = open(grey, "rb").read()[-GREY_BYTES:] if os.path.exists(grey) else b""
        # Rows of the received image appear in the recorded bytes (BMP rows run bottom-up).
        probes = [pixels[at:at + 40] for at in range(4096, len(pixels) - 40, len(pixels) // 25)] if pixels else []
        found = sum(1 for p in probes if p in inbound)
        check(len(probes) >= 20 and found >= len(probes) * 0.7, "image rows in the inbound data: %d of %d" %
              (found, len(probes)))
        calls = text_of(api, 6)
        check(any(re.fullmatch(r"VelDeviceConnect(Ex)?\(7, \d+(, 115200)?\) -> 1", c) for c in calls) and
              "VelCaptureImage(1, 0, 1, 0)" in calls and calls[-1] == "VelDeviceDisconnect()" and
              all(r[1] == 2 for r in api if r[2] == 6), "the API calls, outbound: %s" % calls)
        notes = text_of(api, 7)
        check("WM_OPERATION_PROGRESS 100,8" in notes and all(r[1] == 1 for r in api if r[2] == 7),
              "the grey image's notification, inbound (%d notifications)" % len(notes))
        # The native reader names the session's commands in order, and the barcodes velcli reported.
        code, items = shown(path)
        commands = [i.get("name") for i in items if i["type"] == "command"]
        check(code == 0 and commands == ["GetBlockSize", "CheckLink", "GetVersions", "GetConfiguration", "Capture",
                                         "Close"], "trace show names the session's commands in order: %s" % commands)
        traced = [i.get("data") for i in items if i["type"] == "barcode"]
        check(reported and traced == reported, "trace show's barcodes %s are velcli's %s" % (traced, reported))
        print("session trace: %d bytes, %d blocks" % (os.path.getsize(path), len(records)))
        if not launcher:  # under Wine: the session alone

            # An existing file is kept: the next free PATH.N (from 2) is written.
            with open(path, "rb") as f:
                before = f.read()
            r = velcli_run(env, "--trace", path, "status")
            check(open(path, "rb").read() == before and os.path.exists(path + ".2") and tshark_frames(path + ".2")[0] == 0
                  and not os.path.exists(path + ".1"), "an existing trace is not overwritten: PATH.2 written")

            # The size limit: at 1 MB the file becomes PATH.1 (an older one replaced) and a new one starts.
            limited = os.path.join(work, "limited.pcapng")
            with open(limited + ".1", "w") as f:
                f.write("an older generation")
            r = velcli_run(dict(env, VEL_TRACE=limited, VEL_TRACE_MAX_MB="1"), "capture", "--grey")
            sizes = [os.path.getsize(p) for p in (limited, limited + ".1") if os.path.exists(p)]
            check(r.returncode == 0 and len(sizes) == 2 and all(s <= 1 << 20 for s in sizes) and
                  not os.path.exists(limited + ".2") and not os.path.exists(limited + ".1.1"),
                  "VEL_TRACE_MAX_MB=1 rotates once, one generation kept: %s" % sizes)
            try:
                older, newer = blocks(limited + ".1"), blocks(limited)
                check(tshark_frames(limited)[0] == 0 and tshark_frames(limited + ".1")[0] == 0 and
                      newer[0] and newer[0][0].get(2, b"").startswith(b"rfc2217") and newer[1][-1][2] == 5 and
                      older[1][0][2] == 4, "both generations read; the new one names the open connection")
            except (OSError, ValueError) as e:
                check(False, "both generations parse: %s" % e)
            r = velcli_run(dict(env, VEL_TRACE=os.path.join(work, "bad-limit.pcapng"), VEL_TRACE_MAX_MB="0x10"), "status")
            try:
                notes = text_of(blocks(os.path.join(work, "bad-limit.pcapng"))[1], 8)
            except (OSError, ValueError):
                notes = []
            check(any("VEL_TRACE_MAX_MB=0x10 ignored" in n for n in notes), "a malformed limit is noted: %s" % notes)
    finally:
        sim.close()

    if not launcher:
        # CTS and DSR turned over every 300 ms: each change is a line event with the levels after it.
        sim = Velsim("--modem-event-every", "300")
        try:
            modem = os.path.join(work, "modem.pcapng")
            velcli_run(dict(env, VEL_SERIAL_PORT_7=sim.url), "--trace", modem, "watch", "--count", "1", "--seconds", "2")
            code, items = shown(modem)
            changes = [i["bits"] for i in items if i["type"] == "line" and i.get("bits", 0) & 12 == 12]
            check(code == 0 and any(b & 96 == 96 for b in changes) and any(b & 96 == 0 for b in changes),
                  "CTS and DSR changes with their levels, on and off: %s" % changes)
            r = subprocess.run([tshark, "-X", "lua_script:" + dissector, "-r", modem], capture_output=True, text=True,
                               timeout=120)
            check(re.search(r"line: CTS changed, DSR changed, CTS on, DSR on$", r.stdout, re.M) and
                  re.search(r"line: CTS changed, DSR changed$", r.stdout, re.M),
                  "the dissector names the changes and the levels")
        finally:
            sim.close()

        # Killed mid-capture (velsim paced at 115,200 baud): the file reads to its last complete block.
        sim = Velsim("--paced")
        try:
            killed = os.path.join(work, "killed.pcapng")
            process = subprocess.Popen([velcli, "--port", "7", "--trace", killed, "capture", "--grey"],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                       env=dict(env, VEL_SERIAL_PORT_7=sim.url))
            grew = wait_for(lambda: os.path.exists(killed) and os.path.getsize(killed) > 60000, 60)
            process.send_signal(signal.SIGKILL)
            process.wait(timeout=30)
            code, rows, err = tshark_frames(killed)
            check(grew and code == 0 and not err and len(rows) > 50,
                  "killed mid-capture: tshark reads %d frames, %r" % (len(rows), err[:200]))
        finally:
            sim.close()

print("%d failure(s)" % len(failures))
sys.exit(1 if failures else 0)
