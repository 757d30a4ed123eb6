#!/usr/bin/env python3
"""velcli's MQTT publishing against a real broker (mosquitto on a free loopback port):
every decode of watch and serve arrives once on PREFIX/decode with the fields velcli
reported itself (text only when printable, the bytes always as base64), the retained
state goes online then offline at a clean end, and a killed velcli leaves its last will,
"offline". Outages: a broker away at the start (refusing, or accepting and never
answering), one that goes away mid-run, and a queue too small for an outage. TLS with a
CA made here, a user name and password, a wrong CA and a wrong password.

  console_mqtt_test.py [--wine WINE_RUN] VELCLI VELSIM MOSQUITTO

With --wine, VELCLI is velcli.exe run through WINE_RUN, against the native VELSIM.
"""
import base64
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

import paho.mqtt.client as mqtt

arguments = sys.argv[1:]
launcher = []
if arguments[0] == "--wine":
    launcher, arguments = [arguments[1]], arguments[2:]
velcli, velsim, mosquitto = arguments
failures = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)


def eventually(condition, seconds=20):
    """Polls condition until it holds or the deadline passes."""
    until = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > until:
            return False
        time.sleep(0.02)
    return True


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Subscriber:
    """Everything the broker sends on TOPIC/# as (topic, JSON payload, retained)."""

    def __init__(self, port, topic, tls=None):
        self.messages, self.lock, self.subscribed = [], threading.Lock(), threading.Event()
        self.client = mqtt.Client()
        if tls:  # (CA file, user, password)
            self.client.tls_set(ca_certs=tls[0])
            self.client.username_pw_set(tls[1], tls[2])
        self.client.on_connect = lambda c, u, f, rc: c.subscribe(topic + "/#", qos=1)
        self.client.on_subscribe = lambda c, u, mid, q: self.subscribed.set()
        self.client.on_message = self.received
        self.client.connect("127.0.0.1", port)
        self.client.loop_start()
        check(self.subscribed.wait(20), "subscribed to %s/#" % topic)

    def received(self, client, userdata, message):
        try:
            payload = json.loads(message.payload)
        except ValueError:
            payload = {"unreadable": message.payload.decode("latin-1")}
        with self.lock:
            self.messages.append((message.topic, payload, bool(message.retain), time.monotonic()))

    def on(self, topic):
        with self.lock:
            return [(payload, retained) for t, payload, retained, _ in self.messages if t == topic]

    def timed(self, topic):
        """(arrival time, payload) of each message on topic."""
        with self.lock:
            return [(at, payload) for t, payload, _, at in self.messages if t == topic]

    def close(self):
        self.client.loop_stop()
        self.client.disconnect()


class Forwarder:
    """A TCP forwarder in front of the broker, for outages that leave the broker and its
    subscribers as they are: "up" forwards, "down" closes every connection and listens
    no more (connections are refused), "silent" accepts connections and never answers."""

    def __init__(self, target):
        self.target, self.port, self.lock = target, free_port(), threading.Lock()
        self.mode, self.listener, self.sockets = "down", None, []

    def set(self, mode):
        with self.lock:
            self.mode = mode
            for s in self.sockets:
                try:
                    s.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
                s.close()
            self.sockets = []
            if mode == "down" and self.listener:
                self.listener[1].set()
                self.listener = None
            elif mode != "down" and not self.listener:
                server = socket.socket()
                server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
                server.bind(("127.0.0.1", self.port))
                server.listen(8)
                server.settimeout(0.05)
                self.listener = (server, threading.Event())
                threading.Thread(target=self.accept, args=self.listener, daemon=True).start()

    def accept(self, server, closed):
        while not closed.is_set():
            try:
                client, _ = server.accept()
            except socket.timeout:
                continue
            with self.lock:
                if closed.is_set():
                    client.close()
                    break
                self.sockets.append(client)
                if self.mode == "up":
                    broker_side = socket.create_connection(("127.0.0.1", self.target))
                    self.sockets.append(broker_side)
                    for a, b in ((client, broker_side), (broker_side, client)):
                        threading.Thread(target=self.pump, args=(a, b), daemon=True).start()
        server.close()

    @staticmethod
    def pump(source, sink):
        try:
            while True:
                data = source.recv(65536)
                if not data:
                    break
                sink.sendall(data)
        except OSError:
            pass
        try:
            sink.shutdown(socket.SHUT_WR)
        except OSError:
            pass


class Run:
    """velcli in text mode with its standard output and error read as they come."""

    def __init__(self, *args, env=None):
        self.process = subprocess.Popen([*launcher, velcli, *args], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, text=True, env=env)
        self.out, self.err = [], []
        self.readers = [threading.Thread(target=self.read, args=(stream, into), daemon=True)
                        for stream, into in ((self.process.stdout, self.out), (self.process.stderr, self.err))]
        for reader in self.readers:
            reader.start()

    @staticmethod
    def read(stream, into):
        for line in stream:
            into.append(line)

    def said(self, pattern, seconds=30, err=False):
        """Polls for a line matching pattern on the standard output (error)."""
        lines = self.err if err else self.out
        return eventually(lambda: any(re.search(pattern, l) for l in list(lines)), seconds)

    def finish(self, seconds=60):
        """The exit code and the report's counts ("MQTT delivered" -> "delivered")."""
        try:
            code = self.process.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            self.process.kill()
            code = self.process.wait()
        for reader in self.readers:
            reader.join(timeout=10)
        counts = {m.group(1): int(m.group(2)) for m in re.finditer(r"^MQTT (\w+):\s+(\d+)", "".join(self.out), re.M)}
        return code, counts, "".join(self.err)


def decode_keys(sub, prefix, what):
    """The (captureId, index) of the decodes in order of arrival, duplicates dropped by the
    guide's rule (station, runId, captureId, index); every one carries the station and
    the run's id."""
    seen, keys = set(), []
    messages = [m for m, _ in sub.on(prefix + "/decode")]
    for m in messages:
        key = (m.get("station"), m.get("runId"), m.get("captureId"), m.get("index"))
        if key not in seen:
            seen.add(key)
            keys.append(key[2:])
    runs = {m.get("runId") for m in messages}
    check(all(m.get("station") == prefix for m in messages) and len(runs) == 1
          and all(isinstance(r, str) and re.fullmatch(r"[0-9a-f]{8,}", r) for r in runs),
          "%s: every decode names the station and one run id: %s" % (what, runs))
    return keys


def velcli_json(*args, env=None):
    r = subprocess.run([*launcher, velcli, "--json", *args], capture_output=True, text=True, timeout=120, env=env)
    try:
        return r.returncode, json.loads(r.stdout)
    except ValueError:
        return r.returncode, {"unreadable": r.stdout[-300:] + r.stderr[-300:]}


def reported(captures):
    """The barcodes of watch's --json document, numbered as its captures."""
    return [{"captureId": n + 1, "index": i, "type": b["type"], "name": b["name"], "data": b["text"].encode("latin-1"),
             "corners": b["corners"], "decodeTime": b["decodeTime"], "source": "trigger"}
            for n, c in enumerate(captures) for i, b in enumerate(c.get("barcodes", []))]


def served(capture):
    """The barcodes of a capture object of the console's API."""
    return [{"captureId": capture["id"], "index": b["index"], "type": b["type"], "name": b["name"],
             "data": base64.b64decode(b["base64"]), "corners": b["corners"], "decodeTime": b["decodeTime"],
             "source": capture["source"]} for b in capture.get("barcodes", [])]


def check_decodes(sub, prefix, expected, what):
    """The decode messages are the barcodes velcli reported, each once, in order."""
    check(eventually(lambda: len(sub.on(prefix + "/decode")) >= len(expected)),
          "%s: %d decode messages arrive" % (what, len(expected)))
    got = [m for m, _ in sub.on(prefix + "/decode")]
    check(len(got) == len(expected) and len(expected) > 0,
          "%s: each decode once (%d messages, %d barcodes)" % (what, len(got), len(expected)))
    for message, barcode in zip(got, expected):
        data = base64.b64decode(message.get("base64", ""), validate=True)
        printable = all(32 <= c < 127 or c in (9, 10, 13) for c in data)
        check(message.get("captureId") == barcode["captureId"] and message.get("index") == barcode["index"]
              and message.get("type") == barcode["type"] and message.get("typeName") == barcode["name"]
              and data == barcode["data"] and message.get("text") == (data.decode() if printable else None)
              and message.get("corners") == barcode["corners"] and len(message["corners"]) == 8
              and message.get("processingTime") == barcode["decodeTime"]
              and message.get("source") == barcode["source"] and message.get("station") == prefix
              and re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z", message.get("captureTime", ""))
              and isinstance(message.get("captureTimeMs"), int),
              "%s: capture %d barcode %d: %s" % (what, barcode["captureId"], barcode["index"], message))


def check_clean_states(sub, prefix, what, online=True):
    """online (unless online is False: a station that ended before the broker came back
    sends only its latest state), then the clean offline (with its time), retained for
    later subscribers."""
    states = lambda: [m for m, _ in sub.on(prefix + "/state")]
    check(eventually(lambda: any(s.get("state") == "offline" for s in states())), "%s: the offline state arrives" % what)
    seen = [s.get("state") for s in states()]
    if online:
        check(len(seen) >= 2 and set(seen[:-1]) == {"online"} and seen[-1] == "offline"
              and states()[0].get("connected") is True and states()[-1].get("connected") is False
              and "time" in states()[-1], "%s: states %s" % (what, states()))
    else:
        check(seen == ["offline"] and states()[0].get("connected") is False, "%s: states %s" % (what, states()))
    late = Subscriber(port, prefix)
    check(eventually(lambda: late.on(prefix + "/state")), "%s: a later subscriber gets the state" % what)
    kept = late.on(prefix + "/state")
    check(len(kept) == 1 and kept[0][1] and kept[0][0].get("state") == "offline" and "time" in kept[0][0],
          "%s: the retained state is the clean offline: %s" % (what, kept))
    late.close()


def start_broker(work, name, config):
    """mosquitto with the configuration text, listening; (process, port, log path)."""
    port = free_port()
    path = os.path.join(work, name + ".conf")
    with open(path, "w") as f:
        f.write(config % {"port": port})
    log = os.path.join(work, name + ".log")
    with open(log, "w") as out:
        process = subprocess.Popen([mosquitto, "-v", "-c", path], stdout=out, stderr=subprocess.STDOUT)

    def listening():
        with socket.socket() as s:
            return s.connect_ex(("127.0.0.1", port)) == 0
    check(eventually(listening), "%s: mosquitto listens on 127.0.0.1:%d" % (name, port))
    return process, port, log


def tls_cases(work, env, scene):
    """mqtts:// against a broker whose certificate a CA made here signed, with a user name
    and password: delivered with the right CA and password (from a file, or from
    VEL_MQTT_PASSWORD); a wrong CA and a wrong password are errors at the start that name
    the broker and the reason."""
    tls = os.path.join(work, "tls")
    os.mkdir(tls)
    os.chmod(tls, 0o755)  # a broker started as root reads its files as the mosquitto user

    def openssl(*args):
        subprocess.run(["openssl", *args], cwd=tls, check=True, capture_output=True)
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    openssl("req", "-x509", *ec, "-keyout", "ca.key", "-out", "ca.pem", "-days", "2", "-subj", "/CN=velcli test CA")
    openssl("req", "-x509", *ec, "-keyout", "other.key", "-out", "other.pem", "-days", "2", "-subj", "/CN=another CA")
    openssl("req", *ec, "-keyout", "broker.key", "-out", "broker.csr", "-subj", "/CN=127.0.0.1")
    with open(os.path.join(tls, "san.ext"), "w") as f:
        f.write("subjectAltName=IP:127.0.0.1\n")
    openssl("x509", "-req", "-in", "broker.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
            "-out", "broker.pem", "-days", "2", "-extfile", "san.ext")
    for name in os.listdir(tls):
        os.chmod(os.path.join(tls, name), 0o644)
    users = os.path.join(tls, "users")
    if shutil.which("mosquitto_passwd"):
        subprocess.run(["mosquitto_passwd", "-c", "-b", users, "station", "s3cret pass"], check=True)
        os.chmod(users, 0o644)
        auth = "password_file %s\n" % users
    else:
        print("(no mosquitto_passwd: the broker takes no password, only refuses anonymous clients)")
        auth = ""
    broker, port, log = start_broker(tls, "tls", "per_listener_settings false\nallow_anonymous false\n%s"
                                     "persistence false\nlistener %%(port)d 127.0.0.1\ncafile %s\ncertfile %s\n"
                                     "keyfile %s\n" % (auth.replace("%", "%%"), os.path.join(tls, "ca.pem"),
                                                        os.path.join(tls, "broker.pem"),
                                                        os.path.join(tls, "broker.key")))
    try:
        url = "mqtts://127.0.0.1:%d" % port
        ca = os.path.join(tls, "ca.pem")
        password_file = os.path.join(work, "mqtt-password")
        with open(password_file, "w") as f:
            f.write("s3cret pass\r\n")
        sub = Subscriber(port, "tls", tls=(ca, "station", "s3cret pass"))
        code, doc = velcli_json("--simulate", "--scene", scene, "watch", "--pull", "1", "--mqtt", url, "--mqtt-ca", ca,
                                "--mqtt-user", "station", "--mqtt-password-file", password_file, "--topic", "tls",
                                env=env)
        check(code == 0 and doc.get("mqttDelivered") == 1 and doc.get("mqttUndelivered") == 0,
              "tls: delivered with the CA and the password file: %d %s" % (code, doc.get("error")))
        check(eventually(lambda: sub.on("tls/decode")) and decode_keys(sub, "tls", "tls") == [(1, 0)],
              "tls: the decode arrives: %s" % sub.on("tls/decode"))
        sub.close()
        with_password = dict(env, VEL_MQTT_PASSWORD="s3cret pass")
        code, doc = velcli_json("--simulate", "watch", "--pull", "1", "--mqtt", url, "--mqtt-ca", ca,
                                "--mqtt-user", "station", "--topic", "tls", env=with_password)
        check(code == 0 and doc.get("mqttDelivered") == 1,
              "tls: delivered with VEL_MQTT_PASSWORD: %d %s" % (code, doc.get("error")))

        def refused(what, args, reasons, environment):
            started = time.monotonic()
            code, doc = velcli_json("--simulate", "watch", "--pull", "1", "--mqtt", url, *args, env=environment)
            error = doc.get("error", "")
            check(code == 3 and url in error and any(r in error for r in reasons) and time.monotonic() - started < 20,
                  "tls: %s refused at the start: %d %s" % (what, code, error))
        refused("a wrong CA", ["--mqtt-ca", os.path.join(tls, "other.pem"), "--mqtt-user", "station"],
                ["certificate verify failed"], with_password)
        refused("no user name", ["--mqtt-ca", ca], ["not authori"], env)
        if auth:
            refused("a wrong password", ["--mqtt-ca", ca, "--mqtt-user", "station"], ["not authori", "bad user"],
                    dict(env, VEL_MQTT_PASSWORD="wrong"))
    finally:
        broker.terminate()
        broker.wait(timeout=10)
        if failures:
            with open(log, errors="replace") as f:
                print("the TLS broker's log:\n" + "".join(l for l in f if "PING" not in l), end="")


with tempfile.TemporaryDirectory() as work:
    os.chmod(work, 0o755)  # a broker started as root reads its files as the mosquitto user
    env = dict(os.environ, VEL_HOST_SETTINGS=os.path.join(work, "host-settings"))
    # A printable Code 39 and a Code 128 whose bytes include control characters.
    scene = os.path.join(work, "mqtt.scene")
    with open(scene, "wb") as f:
        f.write(b"size 640 480\nbackground 200 200 200 texture 10 noise 2 seed 5\n"
                b"barcode code39 at 320 120 module 2 height 80 text MQTT-01\n"
                b"barcode code128 at 320 330 module 2 height 80 text bin\x01\x1d!\n")

    port = free_port()
    config = os.path.join(work, "mosquitto.conf")
    with open(config, "w") as f:
        f.write("listener %d 127.0.0.1\nallow_anonymous true\npersistence false\n" % port)
    broker_log = open(os.path.join(work, "broker.log"), "w")
    broker = subprocess.Popen([mosquitto, "-v", "-c", config], stdout=broker_log, stderr=subprocess.STDOUT)
    sim = None
    try:
        def listening():
            with socket.socket() as s:
                return s.connect_ex(("127.0.0.1", port)) == 0
        check(eventually(listening), "mosquitto listens on 127.0.0.1:%d" % port)
        url = "mqtt://127.0.0.1:%d" % port

        # Usage errors: a URL that is not mqtt://HOST[:PORT], a wildcard topic, --topic alone.
        for args in (["watch", "--mqtt", "http://127.0.0.1:1883"], ["watch", "--mqtt", "mqtt://:1883"],
                     ["watch", "--mqtt", "mqtt://host:99999"], ["watch", "--mqtt", url, "--topic", "a/#"],
                     ["watch", "--topic", "a"]):
            code, doc = velcli_json("--simulate", *args, env=env)
            check(code == 2 and doc.get("error"), "usage error %s: %s" % (args, doc.get("error")))

        # Usage errors of the other MQTT options, and a password file that is not there.
        for args in (["watch", "--mqtt", url, "--mqtt-queue", "0"], ["watch", "--mqtt", url, "--mqtt-queue", "1000001"],
                     ["watch", "--mqtt", url, "--mqtt-ca", scene], ["watch", "--mqtt-user", "a"],
                     ["watch", "--mqtt", url, "--mqtt-password-file", scene], ["capture", "--mqtt-queue", "5"]):
            code, doc = velcli_json("--simulate", *args, env=env)
            check(code == 2 and doc.get("error"), "usage error %s: %s" % (args, doc.get("error")))
        code, doc = velcli_json("--simulate", "watch", "--mqtt", url, "--mqtt-user", "a", "--mqtt-password-file",
                                os.path.join(work, "none"), env=env)
        check(code == 6 and "none" in doc.get("error", ""), "no password file: exit 6: %s" % doc.get("error"))

        # No broker at the port and a queue of one: the oldest two of three decodes are
        # dropped, the third is not delivered, and velcli says both.
        code, doc = velcli_json("--simulate", "watch", "--pull", "3", "--mqtt-queue", "1",
                                "--mqtt", "mqtt://127.0.0.1:%d" % free_port(), env=env)
        check(code == 4 and doc.get("triggerCaptureCount") == 3 and doc.get("mqttUndelivered") == 1
              and doc.get("mqttDropped") == 2 and doc.get("mqttDelivered") == 0
              and "refused" in doc.get("error", ""),
              "no broker: exit 4, 2 dropped, 1 undelivered: %d %s" % (code, doc.get("error")))

        forwarder = Forwarder(port)
        relayed = "mqtt://127.0.0.1:%d" % forwarder.port

        # The broker away at the start (refused) and back once the three pulls were
        # captured: every decode arrives, in order, and velcli ends well.
        sub = Subscriber(port, "late")
        run = Run("--simulate", "--scene", scene, "watch", "--pull", "3", "--mqtt", relayed, "--topic", "late", env=env)
        check(run.said(r"connection refused; trying again", err=True), "late: the first attempt is refused")
        check(run.said(r"^trigger capture 3:"), "late: three captures while the broker is away")
        forwarder.set("up")
        back = time.monotonic()
        code, counts, err = run.finish()
        check(code == 0 and counts == {"delivered": 3, "undelivered": 0, "dropped": 0},
              "late: exit %d, %s %s" % (code, counts, err[-300:]))
        check(eventually(lambda: len(sub.on("late/decode")) >= 3) and decode_keys(sub, "late", "late") == [(1, 0), (2, 0), (3, 0)]
              and all(at >= back for at, _ in sub.timed("late/decode")),
              "late: the three decodes arrive after the broker is back, in order: %s" % sub.on("late/decode"))
        check_clean_states(sub, "late", "late", online=False)
        sub.close()

        # A queue of 2 and five pulls while the broker is away: the oldest three are
        # dropped and reported, the newest two delivered, and the exit says decodes were lost.
        forwarder.set("down")
        sub = Subscriber(port, "limited")
        run = Run("--simulate", "--scene", scene, "watch", "--pull", "5", "--mqtt-queue", "2", "--mqtt", relayed,
                  "--topic", "limited", env=env)
        check(run.said(r"^trigger capture 5:"), "limited: five captures while the broker is away")
        forwarder.set("up")
        code, counts, err = run.finish()
        check(code == 4 and counts == {"delivered": 2, "undelivered": 0, "dropped": 3}
              and "3 MQTT messages were dropped" in err, "limited: exit %d, %s %s" % (code, counts, err[-300:]))
        check(eventually(lambda: len(sub.on("limited/decode")) >= 2)
              and decode_keys(sub, "limited", "limited") == [(4, 0), (5, 0)],
              "limited: the newest two decodes arrive: %s" % sub.on("limited/decode"))
        sub.close()

        # A broker that takes the connection and never answers: the attempt times out,
        # and the next one, once the broker answers, connects (the state goes out).
        forwarder.set("silent")
        sub = Subscriber(port, "silent")
        run = Run("--simulate", "watch", "--seconds", "9", "--mqtt", relayed, "--topic", "silent", env=env)
        check(run.said(r"\(timed out\); trying again", seconds=15, err=True), "silent: the attempt times out")
        forwarder.set("up")
        check(eventually(lambda: [s.get("state") for s in [m for m, _ in sub.on("silent/state")]][:1] == ["online"]),
              "silent: online once the broker answers: %s" % sub.on("silent/state"))
        code, counts, err = run.finish()
        check(code == 0 and "connected" in err, "silent: exit %d, %s" % (code, err[-300:]))
        sub.close()

        # The simulated imager in velcli, pulled three times: one barcode per capture (the
        # imager's default).
        sub = Subscriber(port, "in-process")
        code, doc = velcli_json("--simulate", "--scene", scene, "watch", "--pull", "3", "--mqtt", url,
                                "--topic", "in-process", env=env)
        check(code == 0 and doc.get("triggerCaptureCount") == 3 and doc.get("mqttUndelivered") == 0,
              "watch --pull 3 --mqtt: exit %d, %s" % (code, {k: doc.get(k) for k in ("triggerCaptureCount", "error")}))
        check_decodes(sub, "in-process", reported(doc.get("triggerCaptures", [])), "in-process")
        check_clean_states(sub, "in-process", "in-process")
        sub.close()

        # velsim with two barcodes decoded per capture, pulled on its input once velcli is online.
        sim = subprocess.Popen([velsim, "--tcp-port", "0", "--scene", scene], stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, text=True)
        mapped = dict(env, VEL_SERIAL_PORT_7=re.search(r"rfc2217://\S+", sim.stdout.readline()).group(0))
        code, _ = velcli_json("--port", "7", "config", "set", "MaximumNumberBarcodesToDecode", "2", env=mapped)
        check(code == 0, "velsim decodes two barcodes per capture")
        sub = Subscriber(port, "velsim")
        watch = subprocess.Popen([*launcher, velcli, "--json", "--port", "7", "--timeout", "30000", "watch", "--count", "2",
                                  "--seconds", "120", "--mqtt", url, "--topic", "velsim"],
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, env=mapped)
        check(eventually(lambda: sub.on("velsim/state")), "velsim: online")
        for n in (1, 2):
            sim.stdin.write("\n")
            sim.stdin.flush()
            eventually(lambda: len(sub.on("velsim/decode")) >= 2 * n)
        out, _ = watch.communicate(timeout=120)
        doc = json.loads(out or "{}")
        check(watch.returncode == 0 and doc.get("triggerCaptureCount") == 2,
              "watch --count 2 against velsim: exit %d" % watch.returncode)
        check_decodes(sub, "velsim", reported(doc.get("triggerCaptures", [])), "velsim")
        check(sorted(m.get("text") is None for m, _ in sub.on("velsim/decode")) == [False, False, True, True],
              "velsim: text for the printable barcode, null for the other")
        check_clean_states(sub, "velsim", "velsim")
        sub.close()

        # The broker away mid-run: the decodes of the two captures of the outage arrive
        # after it, in order, between those before and after; the state is online again.
        forwarder.set("up")
        sub = Subscriber(port, "outage")
        run = Run("--port", "7", "--timeout", "30000", "watch", "--count", "4", "--seconds", "120", "--mqtt", relayed,
                  "--topic", "outage", env=mapped)
        check(eventually(lambda: sub.on("outage/state")), "outage: online")

        def pull(n):
            sim.stdin.write("\n")
            sim.stdin.flush()
            return run.said(r"^trigger capture %d:" % n)
        check(pull(1) and eventually(lambda: len(sub.on("outage/decode")) >= 2), "outage: the first capture's decodes")
        down = time.monotonic()  # before: the broker publishes the will while the forwarder closes
        forwarder.set("down")
        check(pull(2) and pull(3) and run.said(r"connection lost", err=True), "outage: two captures during the outage")
        forwarder.set("up")
        back = time.monotonic()
        check(eventually(lambda: any(at > back and m.get("state") == "online" for at, m in sub.timed("outage/state"))),
              "outage: online again after it")
        pull(4)
        code, counts, err = run.finish(120)
        check(code == 0 and counts == {"delivered": 8, "undelivered": 0, "dropped": 0},
              "outage: exit %d, %s %s" % (code, counts, err[-300:]))
        check(eventually(lambda: len(sub.on("outage/decode")) >= 8)
              and decode_keys(sub, "outage", "outage") == [(c, i) for c in (1, 2, 3, 4) for i in (0, 1)],
              "outage: every decode once, in order: %s" % [(m.get("captureId"), m.get("index"))
                                                            for m, _ in sub.on("outage/decode")])
        check(all(at > back for at, m in sub.timed("outage/decode") if m.get("captureId") in (2, 3)),
              "outage: the outage's decodes arrive after it")
        check(any(down < at < back and m == {"state": "offline"} for at, m in sub.timed("outage/state")),
              "outage: the broker published the will meanwhile: %s" % [(round(at - down, 2), m.get("state"))
                                                                       for at, m in sub.timed("outage/state")])
        check(eventually(lambda: sub.on("outage/state")[-1][0].get("state") == "offline")
              and sub.on("outage/state")[-1][0].get("connected") is False, "outage: the clean offline state last")
        sub.close()

        # serve: a host capture through the API and a pull of the simulated trigger.
        sub = Subscriber(port, "served")
        # Under Wine it ends when its time is up (no Ctrl+C for a program without a console).
        seconds = 25 if launcher else 120
        serve = subprocess.Popen([*launcher, velcli, "--simulate", "--scene", scene, "serve", "--listen", "127.0.0.1:0",
                                  "--seconds", str(seconds), "--mqtt", url, "--topic", "served"],
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, env=env)
        console = None
        for line in serve.stdout:
            found = re.search(r"http://127\.0\.0\.1:\d+/", line)
            if found:
                console = found.group(0)
                break
        check(console is not None, "serve listens: %s" % console)

        def post(path, body):
            request = urllib.request.Request(console + path, json.dumps(body).encode(),
                                             {"Content-Type": "application/json"})
            with urllib.request.urlopen(request, timeout=60) as answer:
                return json.loads(answer.read())
        check(eventually(lambda: sub.on("served/state")), "serve: online")
        host = post("api/capture", {"decode": True})
        check_decodes(sub, "served", served(host), "serve, host capture")
        post("api/sim/pull", {})
        check(eventually(lambda: len(sub.on("served/decode")) > len(host["barcodes"])), "serve: the trigger's decode")
        with urllib.request.urlopen(console + "api/triggers", timeout=60) as answer:
            triggers = json.loads(answer.read())["captures"]
        check(len(triggers) == 1 and triggers[0]["source"] == "trigger", "serve: one trigger capture")
        check_decodes(sub, "served", served(host) + served(triggers[0]), "serve, host and trigger capture")
        if not launcher:
            serve.send_signal(signal.SIGINT)
        serve.communicate(timeout=seconds + 60)
        check(serve.returncode == 0, "serve ends cleanly: exit %d" % serve.returncode)
        check_clean_states(sub, "served", "serve")
        sub.close()

        # Killed: the broker publishes the last will, retained.
        sub = Subscriber(port, "killed")
        watch = subprocess.Popen([*launcher, velcli, "--simulate", "watch", "--seconds", "60", "--mqtt", url, "--topic", "killed"],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
        states = lambda: [m for m, _ in sub.on("killed/state")]
        check(eventually(lambda: [s.get("state") for s in states()] == ["online"]), "killed: online first")
        watch.send_signal(signal.SIGKILL)
        watch.wait(timeout=20)
        check(eventually(lambda: len(states()) >= 2) and states()[1] == {"state": "offline"} and len(states()) == 2,
              "killed: the last will follows: %s" % states())
        late = Subscriber(port, "killed")
        check(eventually(lambda: late.on("killed/state"))
              and late.on("killed/state") == [({"state": "offline"}, True)],
              "killed: the will is the retained state: %s" % late.on("killed/state"))
        late.close()
        sub.close()
        if launcher:
            # scripts/setup cross-builds libmosquitto without TLS (no OpenSSL for mingw-w64):
            # velcli.exe refuses mqtts:// at the start, so the TLS cases below do not apply.
            code, doc = velcli_json("--simulate", "watch", "--mqtt", "mqtts://127.0.0.1:%d" % port, env=env)
            check(code == 2 and "mqtts:// needs TLS" in doc.get("error", ""),
                  "no TLS in this build: mqtts:// refused: %d %s" % (code, doc.get("error")))
        else:
            tls_cases(work, env, scene)
    finally:
        if sim:
            sim.stdin.close()
            sim.terminate()
            sim.wait(timeout=10)
        broker.terminate()
        broker.wait(timeout=10)
        broker_log.close()
        if failures:
            with open(os.path.join(work, "broker.log"), errors="replace") as f:
                print("the broker's log:\n" + "".join(l for l in f if "PING" not in l), end="")

for failure in failures:
    print("FAILED:", failure)
sys.exit(1 if failures else 0)
