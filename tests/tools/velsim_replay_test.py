#!/usr/bin/env python3
"""velsim --replay: sessions recorded by velcli --trace (against velsim over a network
serial port, and against velcli's own simulated serial line and USB device) played back
to the same velcli commands: the same barcodes and byte-identical images; a command the
recording does not have ends the replay with a message naming both. A session with
injected faults: its trace counts what velsim did, and it replays like a clean one.

  velsim_replay_test.py VELCLI VELSIM
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

velcli, velsim = sys.argv[1:3]
scene = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "sim", "scenes", "shelf.scene")
failures = []
DONE = "every recorded command answered and every trigger transfer sent"


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)


class Velsim:
    """velsim on a free port; its output is collected in a file and read by polling."""

    def __init__(self, work, name, *options):
        self.log = os.path.join(work, name + ".log")
        self.out = open(self.log, "w")
        self.process = subprocess.Popen([velsim, "--tcp-port", "0", *options], stdin=subprocess.PIPE,
                                        stdout=self.out, stderr=subprocess.STDOUT, text=True)
        match = self.wait_for(lambda text: re.search(r"rfc2217://\S+", text), 30)
        self.url = match.group(0) if match else "rfc2217://127.0.0.1:1"

    def text(self):
        with open(self.log) as f:
            return f.read()

    def wait_for(self, found, seconds):
        deadline = time.monotonic() + seconds
        while True:
            result = found(self.text())
            if result or time.monotonic() > deadline:
                return result
            time.sleep(0.05)

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait(timeout=30)
        self.out.close()


def run(env, port, *args):
    r = subprocess.run([velcli, "--port", str(port), "--json", *args], capture_output=True, text=True,
                       timeout=180, env=env)
    try:
        return r.returncode, json.loads(r.stdout)
    except ValueError:
        return r.returncode, {"stdout": r.stdout[-300:], "stderr": r.stderr[-300:]}


def barcodes(document):
    return [[(b["type"], b["text"], b["corners"]) for b in c.get("barcodes", [])]
            for c in document.get("captures", document.get("triggerCaptures", []))]


def same_files(a, b):
    names = sorted(os.listdir(a)) if os.path.isdir(a) else []
    return bool(names) and names == sorted(os.listdir(b)) and all(
        open(os.path.join(a, n), "rb").read() == open(os.path.join(b, n), "rb").read() for n in names)


def replay(work, env, name, trace, port_args):
    """Replays trace to velcli: (velcli's exit code and document, velsim's log, velsim's exit code)."""
    sim = Velsim(work, name, "--replay", trace)
    try:
        code, document = run(dict(env, VEL_SERIAL_PORT_7=sim.url), 7, *port_args)
        sim.wait_for(lambda text: DONE in text or "mismatch" in text, 20)
        ended = sim.process.wait(timeout=30) if "mismatch" in sim.text() else None
        return code, document, sim.text(), ended
    finally:
        sim.close()


with tempfile.TemporaryDirectory() as work:
    env = dict(os.environ, VEL_HOST_SETTINGS=os.path.join(work, "host-settings"))
    for name in ("VEL_TRACE", "VEL_TRACE_MAX_MB"):
        env.pop(name, None)
    capture = ["capture", "--grey", "--decode"]
    traces = {}

    # Recordings: over velsim's network serial port (a configuration sent, a capture with the
    # grey image and results, trigger captures), and over velcli's own simulated serial line and USB.
    sim = Velsim(work, "recorded", "--scene", scene, "--pull-every", "600")
    try:
        live = dict(env, VEL_SERIAL_PORT_7=sim.url)
        for key, args in (("config", ["config", "set", "AutoExposureEnabled", "0"]),
                          ("capture", capture + ["--out", os.path.join(work, "capture-recorded")]),
                          ("watch", ["watch", "--count", "2"])):
            traces[key] = os.path.join(work, key + ".pcapng")
            code, document = run(live, 7, "--trace", traces[key], *args)
            traces[key + "-document"] = document
            check(code == 0 and os.path.exists(traces[key]), "recorded %s over rfc2217: %d" % (key, code))
    finally:
        sim.close()
    for key, port in (("serial", 3), ("usb", 0)):
        traces[key] = os.path.join(work, key + ".pcapng")
        code, document = run(env, port, "--simulate", "--scene", scene, "--trace", traces[key], *capture,
                             "--out", os.path.join(work, key + "-recorded"))
        traces[key + "-document"] = document
        check(code == 0 and os.path.exists(traces[key]), "recorded a capture over simulated %s: %d" % (key, code))

    # tshark (an independent reader) reads every record of each recording, and with our
    # dissector names the commands.
    tshark = shutil.which("tshark")
    lua = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "wireshark", "imgengine.lua")
    for key in ("capture", "serial", "usb") if tshark else ():
        stats = subprocess.run([velcli, "--json", "trace", "stats", traces[key]], capture_output=True, text=True,
                               timeout=120)
        records = json.loads(stats.stdout).get("records") if stats.returncode == 0 else None
        frames = subprocess.run([tshark, "-r", traces[key], "-T", "fields", "-e", "frame.number"],
                                capture_output=True, text=True, timeout=120)
        decoded = subprocess.run([tshark, "-X", "lua_script:" + lua, "-r", traces[key], "-V"], capture_output=True,
                                 text=True, timeout=120)
        check(frames.returncode == 0 and records and len(frames.stdout.split()) == records and
              "Command: Capture" in decoded.stdout,
              "%s: tshark reads %d frames of %s records and names the capture" %
              (key, len(frames.stdout.split()), records))

    # Replays: the same commands get the same answers.
    for key in ("capture", "serial", "usb"):
        code, document, log, _ = replay(work, env, "replay-" + key, traces[key],
                                        capture + ["--out", os.path.join(work, key + "-replayed")])
        recorded = barcodes(traces[key + "-document"])
        check(code == 0 and DONE in log and recorded and recorded[0] and barcodes(document) == recorded,
              "%s replayed: the same barcodes %s" % (key, barcodes(document)))
        source = "capture-recorded" if key == "capture" else key + "-recorded"
        check(same_files(os.path.join(work, source), os.path.join(work, key + "-replayed")),
              "%s replayed: byte-identical images" % key)
    code, document, log, _ = replay(work, env, "replay-config", traces["config"],
                                    ["config", "set", "AutoExposureEnabled", "0"])
    check(code == 0 and DONE in log, "the configuration sent replayed: %d" % code)
    code, document, log, _ = replay(work, env, "replay-watch", traces["watch"], ["watch", "--count", "2"])
    recorded = barcodes(traces["watch-document"])
    check(code == 0 and DONE in log and len(recorded) == 2 and barcodes(document) == recorded,
          "trigger captures replayed at their offsets: %s" % barcodes(document))

    # Mismatches end the replay (status 3) naming the host's command, the recording's and what came before.
    code, document, log, ended = replay(work, env, "mismatch-flags", traces["capture"], ["capture", "--binary"])
    check(code != 0 and ended == 3 and "the host sent Capture (4) flags 0x02, the recording has Capture (4) "
          "flags 0x05" in log and "before it: GetBlockSize (26), CheckLink (13)" in log,
          "other capture flags: %s" % log[log.find("mismatch"):][:300])
    code, document, log, ended = replay(work, env, "mismatch-command", traces["capture"],
                                        ["config", "set", "AutoExposureEnabled", "0"])
    # The configuration goes without an answer: velcli may end content before velsim stops.
    check(ended == 3 and "the host sent SetTemporaryConfiguration (2), but the recording has no "
          "SetTemporaryConfiguration command; its command 5 is Capture (4) flags 0x05" in log,
          "a command the recording lacks: %s" % log[log.find("mismatch"):][:300])

    # Faults: velsim corrupts and loses packets to the host. The library's trace shows them,
    # trace stats counts the CRC errors and resynchronisations velsim counted, and the
    # faulted session replays like a clean one.
    faulted = os.path.join(work, "faulted.pcapng")
    sim = Velsim(work, "faulted", "--scene", scene, "--corrupt-every", "450", "--lose-every", "800")
    try:
        code, document = run(dict(env, VEL_SERIAL_PORT_7=sim.url), 7, "--trace", faulted, *capture, "--count", "3",
                             "--out", os.path.join(work, "faulted-recorded"))
        sim.process.terminate()
        counted = sim.wait_for(lambda text: re.search(r"faults: (\d+) packet\(s\) corrupted, (\d+) lost, (\d+) "
                                                      r"resynchronisation\(s\) answered", text), 30)
    finally:
        sim.close()
    stats = subprocess.run([velcli, "--json", "trace", "stats", faulted], capture_output=True, text=True, timeout=120)
    try:
        stats = json.loads(stats.stdout)["stats"]
    except (ValueError, KeyError):
        stats = {}
    corrupted, lost, resyncs = (int(g) for g in counted.groups()) if counted else (-1, -1, -1)
    # Each of the three captures ran: none took the previous one's end for its own.
    runs = [c.get("microseconds", 0) for c in document.get("captures", [])]
    commands = {c["name"]: c["count"] for c in stats.get("commands", [])}
    check(len(runs) == 3 and min(runs) > 1000 and commands.get("Capture") == 3,
          "three captures, each its own run: %s us, %s recorded" % (runs, commands.get("Capture")))
    check(code == 0 and corrupted > 0 and stats.get("crcErrors") == corrupted and
          stats.get("resynchronisations") == resyncs and resyncs > 1,
          "faults: velsim corrupted %d, lost %d, answered %d resynchronisations; the trace counts %s CRC errors, "
          "%s resynchronisations" % (corrupted, lost, resyncs, stats.get("crcErrors"), stats.get("resynchronisations")))
    code, document, log, _ = replay(work, env, "replay-faulted", faulted,
                                    capture + ["--count", "3", "--out", os.path.join(work, "faulted-replayed")])
    check(code == 0 and DONE in log and len(barcodes(document)) == 3 and barcodes(document) ==
          barcodes(traces.get("capture-document", {})) * 3 and
          same_files(os.path.join(work, "faulted-recorded"), os.path.join(work, "faulted-replayed")),
          "the faulted session replays: the same barcodes and images")

    # Interrupted on a line that hardly moves: velcli cancels and ends at once, where it used
    # to wait for the whole transfer.
    sim = Velsim(work, "stalled", "--scene", scene, "--corrupt-every", "100", "--lose-every", "450")
    try:
        process = subprocess.Popen([velcli, "--port", "7", *capture], stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, text=True, env=dict(env, VEL_SERIAL_PORT_7=sim.url))
        connected = sim.wait_for(lambda text: "client connected" in text, 30)
        time.sleep(3)  # well into the capture
        process.terminate()
        try:
            output, _ = process.communicate(timeout=30)
        except subprocess.TimeoutExpired:
            process.kill()
            output, _ = process.communicate()
        check(connected and process.returncode == 5 and "capture:               interrupted" in output and
              "disconnected" in output, "interrupted mid-capture: ends (%d) %r" % (process.returncode, output[-160:]))
    finally:
        sim.close()

    changed = subprocess.run([velsim, "--replay", os.path.join(work, "missing.pcapng")], capture_output=True,
                             text=True, timeout=30)
    check(changed.returncode == 2 and "cannot open" in changed.stderr, "a missing trace: %r" % changed.stderr)

print("%d failure(s)" % len(failures))
sys.exit(1 if failures else 0)
