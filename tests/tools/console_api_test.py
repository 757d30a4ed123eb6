#!/usr/bin/env python3
"""The imager console's JSON API and event stream against velcli serve --simulate:
bad requests get a clear error and change nothing, concurrent captures get "busy"
rather than a mixed image, the token beyond loopback, the origin check, settings and
configuration files round trips (configparser, zbarimg as the independent readers);
against velsim, strings from the imager that are not UTF-8 (a Latin-1 firmware, a
barcode of every byte value) on every route and the event stream.

  console_api_test.py [--wine WINE_RUN] VELCLI

With --wine, VELCLI is velcli.exe run through WINE_RUN, against the native build's velsim
(build/native/bin/velsim).
"""
import base64
import configparser
import http.client
import json
import os
import queue
import re
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.error
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from console_server import Console  # noqa: E402

arguments = sys.argv[1:]
launcher = []
if arguments[0] == "--wine":
    launcher, arguments = [arguments[1]], arguments[2:]
velcli = arguments[0]
failures = []
SHELF = {"VEL-0042-CODE128", "https://example.invalid/qr"}


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)
    return condition


def zbar_texts(image_bytes, work, name):
    path = os.path.join(work, name)
    with open(path, "wb") as f:
        f.write(image_bytes)
    r = subprocess.run(["zbarimg", "-q", "--raw", path], capture_output=True, text=True, timeout=60)
    return set(line for line in r.stdout.splitlines() if line)


def strict_json(console, method, path, body=None):
    """(status, document) of an API request; the document None unless the answer is JSON
    in well-formed UTF-8; (None, None) when velcli no longer answers."""
    data = json.dumps(body).encode() if body is not None else None
    request = urllib.request.Request(console.base + path, data=data, method=method,
                                     headers={"Content-Type": "application/json"})
    try:
        with urllib.request.urlopen(request, timeout=150) as r:
            status, payload = r.status, r.read()
    except urllib.error.HTTPError as e:
        status, payload = e.code, e.read()
    except (OSError, http.client.HTTPException):
        return None, None
    try:
        return status, json.loads(payload.decode("utf-8"))
    except ValueError:
        return status, None


def first_line(process, pattern, seconds):
    """The first match of pattern in the lines process writes within seconds, or None."""
    lines = queue.Queue()
    threading.Thread(target=lambda: [lines.put(line) for line in process.stdout], daemon=True).start()
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            found = re.search(pattern, lines.get(timeout=max(0.01, deadline - time.monotonic())))
        except queue.Empty:
            return None
        if found:
            return found
    return None


class EventReader:
    """Reads /api/events on a thread; events() is what arrived so far."""

    def __init__(self, console, token=None):
        self.connection = http.client.HTTPConnection(console.host, timeout=60)
        path = "/api/events" + ("?token=" + token if token else "")
        self.list = []
        self.lock = threading.Lock()
        try:
            self.connection.request("GET", path)
            self.response = self.connection.getresponse()
            self.status = self.response.status
        except (OSError, http.client.HTTPException):
            self.status = None  # velcli went away
        if self.status == 200:
            threading.Thread(target=self.read, daemon=True).start()

    def read(self):
        event = {}
        try:
            for raw in self.response:
                line = raw.decode().rstrip("\n")
                if not line:
                    if "data" in event:
                        with self.lock:
                            self.list.append((event.get("event"), json.loads(event["data"])))
                    event = {}
                elif not line.startswith(":"):
                    key, _, value = line.partition(": ")
                    event[key] = value
        except Exception:
            pass

    def events(self, kind=None):
        with self.lock:
            return [data for name, data in self.list if kind is None or name == kind]

    def close(self):
        self.connection.close()


with tempfile.TemporaryDirectory() as work:
    env = dict(os.environ, VEL_HOST_SETTINGS=os.path.join(work, "host-settings"))

    with Console(velcli, "--simulate", env=env, launcher=launcher) as console:
        status, state = console.get("/api/state")
        check(status == 200 and state["connected"] and state["simulated"], "state: connected to the simulated imager")
        stream = EventReader(console)
        check(stream.status == 200, "the event stream opens")
        check(console.wait_for(lambda: stream.events("state"), 10) is not None, "the stream starts with the state")

        # Bad requests: each a clear error, nothing changed.
        status, before = console.get("/api/settings")
        values = {s["name"]: s for g in before["groups"] for s in g["settings"]}
        check({g["name"] for g in before["groups"]} >= {"Values", "Options", "Symbologies", "Image correction"},
              "settings come in the library's groups")
        check(values["ThresholdBias"]["min"] == -128 and values["Gain"]["max"] == 65535 and
              values["QRCodeEnabled"]["kind"] == "switch", "ranges follow the fields: %r" % values["ThresholdBias"])
        bad = [
            ("/api/capture", b"{not json", 400, "bad-json"),
            ("/api/capture", b"[1, 2]", 400, "bad-json"),
            ("/api/capture", b"{}", 400, "bad-request"),
            ("/api/capture", b'{"decode": "yes"}', 400, "bad-request"),
            ("/api/settings", b'{"values": {"NoSuchSetting": 1}}', 400, "unknown-setting"),
            ("/api/settings", b'{"values": {"Gain": 70000}}', 400, "out-of-range"),
            ("/api/settings", b'{"values": {"Gain": 10, "QRCodeEnabled": 2}}', 400, "out-of-range"),
            ("/api/settings", b'{"values": {"ThresholdBias": -129}}', 400, "out-of-range"),
            ("/api/settings", b'{"values": {"Gain": 10}, "store": "forever"}', 400, "bad-request"),
            ("/api/settings", b'{"values": {"Gain": 1.5}}', 400, "bad-request"),
            ("/api/settings", b"x" * (70 * 1024), 413, "too-large"),
            ("/api/capture", b"x" * (600 * 1024), 413, "too-large"),
            ("/api/config/file", b"[DeviceConfiguration]\n" + b"x" * (300 * 1024), 413, "too-large"),
            ("/api/sim/pull", b'{"flags": 0}', 400, "out-of-range"),
            ("/api/sim/pull", b'{"flags": "7"}', 400, "out-of-range"),
            ("/api/settings", b'{"values": {"Gain": 10}, "store": 1}', 400, "bad-request"),
            ("/api/settings", b'{"values": {"ThresholdBias": 18446744073709551615}}', 400, "out-of-range"),
            ("/api/capture", b'{"decode": 18446744073709551617}', 400, "bad-request"),
        ]
        for path, raw, want_status, want_error in bad:
            status, body, _ = console.request("POST", path, raw=raw, headers={"Content-Type": "application/json"})
            check(status == want_status and isinstance(body, dict) and body.get("error") == want_error,
                  "POST %s %r...: %d %s (%r)" % (path, raw[:30], want_status, want_error, (status, body)))
        status, after = console.get("/api/settings")
        check(after == before, "no bad request changed a setting (Gain kept at %d)" % values["Gain"]["value"])
        check(console.get("/api/captures/99999")[0] == 404 and console.get("/api/captures/1/grey")[0] == 404,
              "unknown captures are 404")

        # Settings: the stored value comes back, the stream tells the change.
        status, body = console.post("/api/settings", {"values": {"MaximumNumberBarcodesToDecode": 4, "Gain": 1234,
                                                                 "QRCodeEnabled": True}})
        stored = {c["name"]: c["stored"] for c in body.get("changed", [])}
        check(status == 200 and body["sent"] and stored == {"MaximumNumberBarcodesToDecode": 4, "Gain": 1234,
                                                            "QRCodeEnabled": 1}, "settings stored: %r" % body)
        status, body = console.post("/api/settings", {"values": {}, "store": "permanent"})
        check(status == 200 and body["sent"] and body["changed"] == [] and body["store"] == "permanent",
              "the record stored permanently with nothing changed: %r" % body)
        status, body = console.post("/api/settings", {"values": {"WindowWidth": 1000}})
        check(status == 200 and body["changed"][0]["stored"] == 992, "the library's adjustment is shown: %r" % body)
        console.post("/api/settings", {"values": {"WindowWidth": 1280}})
        check(console.wait_for(lambda: [e for e in stream.events("config") if e.get("changed")], 10) is not None,
              "a config event for the change")

        # Concurrent captures: one runs, the others are told "busy"; every image whole.
        answers = []
        barrier = threading.Barrier(4)

        def capture():
            barrier.wait()
            answers.append(console.post("/api/capture", {"decode": True, "grey": True}))

        threads = [threading.Thread(target=capture) for _ in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(180)
        codes = sorted(status for status, _ in answers)
        check(len(codes) == 4 and set(codes) <= {200, 409} and 200 in codes and 409 in codes,
              "concurrent captures: done or busy: %r" % codes)
        for status, body in answers:
            if status == 409:
                check(body.get("error") == "busy", "the busy answer says so: %r" % body)
                continue
            texts = {b["text"] for b in body["barcodes"]}
            check(texts >= SHELF, "a capture's barcodes: %r" % texts)
            status, image = console.get(body["images"][0]["url"])
            check(status == 200 and image[:2] == b"BM" and len(image) == 1078 + 1280 * 1024, "its image is whole")
            # The Windows build of the simulated imager draws stand-in patterns, no codes.
            if not launcher:
                check(zbar_texts(image, work, "grey-%d.bmp" % body["id"]) >= SHELF, "its image reads back with zbarimg")
            for b in body["barcodes"]:
                xs, ys = b["corners"][0::2], b["corners"][1::2]
                check(all(0 <= x < 1280 for x in xs) and all(0 <= y < 1024 for y in ys), "corners in the image")
        status, latest = console.get("/api/captures/latest")
        check(status == 200 and latest["source"] == "host", "the latest capture is kept")
        check(console.wait_for(lambda: [e for e in stream.events("capture") if e["id"] == latest["id"]], 10)
              is not None, "the stream carried the capture")
        progress = stream.events("progress")
        check(any(p["source"] == "host" and p["eventName"] == "grey image" for p in progress),
              "the stream carried the grey image's progress")

        # Live mode: captures run on, a capture asked meanwhile is busy.
        status, body = console.post("/api/live", {"on": True, "decode": True, "grey": True})
        check(status == 200 and body["on"], "live mode on")
        check(console.post("/api/capture", {"decode": True})[0] == 409, "a capture during live mode is busy")
        start = console.get("/api/state")[1]["captures"]
        check(console.wait_for(lambda: console.get("/api/state")[1]["captures"] >= start + 3, 90) is not None,
              "live mode keeps capturing")
        status, body = console.post("/api/live", {"on": False})
        check(status == 200 and not body["on"], "live mode off")
        check(console.wait_for(lambda: not console.get("/api/state")[1]["busy"], 60) is not None, "the desk is idle")

        # Trigger captures pulled in the simulated imager.
        status, _ = console.post("/api/sim/pull", {})
        check(status == 202, "trigger pulled")
        triggers = console.wait_for(lambda: console.get("/api/triggers")[1]["captures"], 60)
        check(triggers and triggers[0]["source"] == "trigger" and triggers[0]["barcodes"],
              "the trigger capture is listed with its results")
        if triggers:
            status, thumb = console.get(triggers[0]["thumbnail"])
            check(status == 200 and thumb[:2] == b"BM", "the trigger capture has a thumbnail")

        # The configuration file: configparser reads the download, the upload is loaded.
        status, ini, head = console.request("GET", "/api/config/file")
        parser = configparser.ConfigParser(strict=False, interpolation=None)
        try:
            parser.read_string(ini.decode("latin-1"))
        except configparser.Error as e:
            check(False, "configparser reads the file: %s" % e)
        check(status == 200 and "attachment" in head.get("Content-Disposition", "") and parser.sections(),
              "the configuration file downloads: %r" % parser.sections())
        status, body = console.post("/api/config/file", raw=ini)
        check(status == 200 and body.get("loaded") and body.get("stored"), "the file uploads back: %r" % body)
        # A file's host part (auto-save into a folder it names) is not applied: the capture
        # after it writes nothing there, and the answer lists what was ignored.
        target = os.path.join(work, "from-a-browser")
        os.mkdir(target)
        hostile = re.sub(rb"(?ms)^\[HostConfig\].*", b"", ini).rstrip() + (
            "\n[hostconfig]\nAutoSaveEnabled=1\nImageSourceFolder=%s\\\n" % target).encode()
        status, body = console.post("/api/config/file", raw=hostile)
        ignored = {i["name"]: i["value"] for i in body.get("ignored", [])}
        check(status == 200 and ignored.get("AutoSaveEnabled") == "1" and target in ignored.get("ImageSourceFolder", ""),
              "an uploaded file's host values are listed as ignored: %r" % body)
        status, _ = console.post("/api/capture", {"decode": True, "grey": True})
        status_ini, now_ini, _ = console.request("GET", "/api/config/file")
        check(status == 200 and not os.listdir(target) and b"AutoSaveEnabled=0" in now_ini.replace(b" ", b""),
              "no image is saved into the uploaded file's folder, auto-save stays off: %r" % os.listdir(target))
        status, body = console.post("/api/config/file", raw=b"not an ini file\x00\x01")
        check(status == 400 and body.get("error") == "bad-config", "a broken file is refused: %r" % body)

        # Changes from another site's page are refused; names other than loopback too.
        status, body, _ = console.request("POST", "/api/capture", body={"decode": True},
                                          headers={"Origin": "http://evil.example"})
        check(status == 403 and body["error"] == "forbidden", "a cross-origin change is refused")
        status, _, _ = console.request("POST", "/api/live", body={"on": False},
                                       headers={"Origin": "http://" + console.host})
        check(status == 200, "a change from the page itself is taken")
        status, body, _ = console.request("GET", "/api/state", headers={"Host": "attacker.example:80"})
        check(status == 403, "a foreign Host name is refused")

        status, body = console.post("/api/reconnect")
        check(status == 200 and body["connected"], "reconnect answers the state")
        stream.close()
        # Ctrl+C in the middle of live mode's captures still ends at once and cleanly.
        console.post("/api/live", {"on": True, "decode": True, "grey": True})
        check(console.stop() == 0, "serve ends with 0 on Ctrl+C, with live mode running")

    # A console started before its imager connects by itself once the imager is there.
    velsim = os.path.join(os.path.dirname(velcli), "velsim")
    if not launcher and os.path.exists(velsim):
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            sim_port = s.getsockname()[1]
        sim_env = dict(env, VEL_SERIAL_PORT_7="rfc2217://127.0.0.1:%d" % sim_port)
        with Console(velcli, "--port", "7", env=sim_env) as console:
            check(not console.get("/api/state")[1]["connected"], "no imager yet: not connected")
            sim = subprocess.Popen([velsim, "--tcp-port", str(sim_port)], stdin=subprocess.PIPE,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                check(console.wait_for(lambda: console.get("/api/state")[1]["connected"], 60) is not None,
                      "the console connects once velsim listens")
                status, body = console.post("/api/capture", {"decode": True})
                check(status == 200 and body["barcodes"], "and captures through it")
            finally:
                sim.kill()
                sim.wait()

    # Strings from the imager as they are sent, not UTF-8: a firmware version with a Latin-1
    # byte, and a QR Code whose data is every byte value. Every JSON route and the event
    # stream carry them as UTF-8 (the firmware Latin-1 mapped, the data exactly as base64),
    # and velcli lives on.
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
    velsim = os.path.join(root, "build", "native", "bin", "velsim") if launcher else velsim
    every_byte = bytes(range(256))
    scene = os.path.join(work, "every-byte.scene")
    with open(scene, "w") as f:
        f.write("size 1280 1024\nbackground 200 200 200 texture 10 noise 2 seed 3\n"
                "barcode qr at 640 512 module 6 data %s\n" % every_byte.hex())
    if check(os.path.exists(velsim), "velsim for the byte strings: %s" % velsim):
        sim = subprocess.Popen([velsim, "--tcp-port", "0", "--scene", scene, "--firmware", b"\xb5 1.0"],
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        try:
            served = first_line(sim, rb"rfc2217://\S+", 30)
            check(served is not None, "velsim serves the Latin-1 firmware")
            sim_env = dict(env, VEL_SERIAL_PORT_7=served.group(0).decode() if served else "")
            with Console(velcli, "--port", "7", "--timeout", "30000", env=sim_env, launcher=launcher) as console:
                stream = EventReader(console)
                check(stream.status == 200, "bytes: the event stream opens")
                status, state = strict_json(console, "GET", "/api/state")
                check(status == 200 and (state or {}).get("versions", {}).get("firmware") == "\u00b5 1.0",
                      "bytes: the state names the firmware \\xb5 as U+00B5: %r" % ((status, state),))
                check(console.wait_for(lambda: [s for s in stream.events("state")
                                                if s.get("versions", {}).get("firmware") == "\u00b5 1.0"], 10)
                      is not None, "bytes: the stream starts with that state")
                status, body = strict_json(console, "POST", "/api/settings", {"values": {"QRCodeEnabled": True}})
                check(status == 200 and body and body.get("sent"), "bytes: QR Code enabled: %r" % ((status, body),))

                def every_byte_barcode(capture):
                    found = [b for b in (capture or {}).get("barcodes", [])
                             if base64.b64decode(b.get("base64", ""), validate=True) == every_byte]
                    return found and found[0]

                status, host = strict_json(console, "POST", "/api/capture", {"decode": True})
                barcode = every_byte_barcode(host)
                check(status == 200 and barcode and barcode["length"] == 256 and barcode["text"] is None
                      and barcode["name"] == "QR Code", "bytes: the capture's base64 is the 256 bytes, no text: %r"
                      % ((status, barcode or host),))
                sim.stdin.write(b"\n")
                sim.stdin.flush()
                triggers = console.wait_for(lambda: (strict_json(console, "GET", "/api/triggers")[1] or {})
                                            .get("captures"), 60)
                check(triggers and every_byte_barcode(triggers[0]), "bytes: the trigger capture is listed with them")
                routes = [("GET", "/api/captures/latest"), ("GET", "/api/captures/%s" % (host or {}).get("id")),
                          ("GET", "/api/settings"), ("POST", "/api/live", {"on": False}), ("POST", "/api/reconnect")]
                for method, path, *body in routes:
                    status, document = strict_json(console, method, path, *body)
                    check(status == 200 and document is not None, "bytes: %s %s answers JSON: %r" %
                          (method, path, status))
                _, state = strict_json(console, "GET", "/api/state")
                check((state or {}).get("versions", {}).get("firmware") == "\u00b5 1.0",
                      "bytes: the firmware again after the reconnect")
                check(console.wait_for(lambda: sorted(c["source"] for c in stream.events("capture")
                                                      if every_byte_barcode(c)) == ["host", "trigger"], 30)
                      is not None, "bytes: the stream carried both captures with the 256 bytes")
                check(console.process.poll() is None, "bytes: velcli serve still runs")
                stream.close()
                check(console.stop() == 0, "bytes: serve ends with 0 on Ctrl+C: %s" % "".join(console.output)[-400:])
        finally:
            sim.kill()
            sim.wait()

    # Beyond loopback: only with a token, checked on every request and the stream.
    r = subprocess.run([*launcher, velcli, "serve", "--simulate", "--listen", "0.0.0.0:0"], capture_output=True, text=True,
                       timeout=60, env=env)
    check(r.returncode == 2 and "--token" in r.stderr, "listening beyond loopback needs a token: %r" % r.stderr)
    r = subprocess.run([*launcher, velcli, "serve", "--simulate", "--listen", "0.0.0.0:0", "--token", "short-token"],
                       capture_output=True, text=True, timeout=60, env=env)
    check(r.returncode == 2 and "16 characters" in r.stderr, "a token shorter than 16 characters is refused: %r"
          % r.stderr)
    token = "s3cret-token-of-the-line"
    with Console(velcli, "--simulate", listen="0.0.0.0:0", token=token, env=env, launcher=launcher) as console:
        console.base = console.base.replace("0.0.0.0", "127.0.0.1")
        console.host = console.host.replace("0.0.0.0", "127.0.0.1")
        check(console.get("/api/state", token=False)[0] == 401, "no token: 401")
        check(console.get("/", token=False)[0] == 401, "the page needs the token too")
        check(console.request("GET", "/api/state", headers={"Authorization": "Bearer wrong"})[0] == 401,
              "a wrong token: 401")
        check(console.get("/api/state?token=" + token, token=False)[0] == 200, "the token as a query parameter")
        check(console.get("/api/state")[0] == 200, "the token as a bearer header")
        check(EventReader(console).status == 401 and EventReader(console, token).status == 200,
              "the event stream checks the token")
        # The page opened with the token gets a session cookie for it; the cookie admits
        # images and the stream, a cookie of another run does not; every answer carries
        # the headers that keep the page unframed and the address out of referrers.
        status, page, head = console.request("GET", "/?token=" + token, token=False)
        cookie = head.get("Set-Cookie", "")
        check(status == 200 and "HttpOnly" in cookie and "SameSite=Strict" in cookie and token not in cookie,
              "the page sets an HttpOnly, SameSite=Strict session cookie: %r" % cookie)
        session = {"Cookie": cookie.split(";")[0]}
        check(console.request("GET", "/api/state", headers=session, token=False)[0] == 200 and
              console.request("GET", "/api/state", headers={"Cookie": "vel_session=0123"}, token=False)[0] == 401,
              "the session cookie admits, another does not")
        check(console.request("POST", "/api/live", body={"on": False}, token=False,
                              headers=dict(session, Origin="http://evil.example"))[0] == 403,
              "a change by cookie from another origin is refused")
        for path in ("/", "/api/state", "/api/nothing"):
            _, _, h = console.request("GET", path)
            check(h.get("Referrer-Policy") == "no-referrer" and h.get("X-Content-Type-Options") == "nosniff" and
                  "frame-ancestors 'none'" in (h.get("Content-Security-Policy") or ""),
                  "%s: no referrer, no sniffing, no framing" % path)

print("%d failures" % len(failures))
sys.exit(1 if failures else 0)
