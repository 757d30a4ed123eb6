#!/usr/bin/env python3
"""velcli's MQTT publishing against a real broker (mosquitto on a free loopback port):
every decode of watch and serve arrives once on PREFIX/decode with the fields velcli
reported itself (text only when printable, the bytes always as base64), the retained
state goes online then offline at a clean end, and a killed velcli leaves its last will,
"offline".

  console_mqtt_test.py [--wine WINE_RUN] VELCLI VELSIM MOSQUITTO

With --wine, VELCLI is velcli.exe run through WINE_RUN, against the native VELSIM.
"""
import base64
import json
import os
import re
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

    def __init__(self, port, topic):
        self.messages, self.lock, self.subscribed = [], threading.Lock(), threading.Event()
        self.client = mqtt.Client()
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
            self.messages.append((message.topic, payload, bool(message.retain)))

    def on(self, topic):
        with self.lock:
            return [(payload, retained) for t, payload, retained in self.messages if t == topic]

    def close(self):
        self.client.loop_stop()
        self.client.disconnect()


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


def check_clean_states(sub, prefix, what):
    """online, then the clean offline (with its time), both retained for later subscribers."""
    states = lambda: [m for m, _ in sub.on(prefix + "/state")]
    check(eventually(lambda: any(s.get("state") == "offline" for s in states())), "%s: the offline state arrives" % what)
    seen = [s.get("state") for s in states()]
    check(len(seen) >= 2 and set(seen[:-1]) == {"online"} and seen[-1] == "offline"
          and states()[0].get("connected") is True and states()[-1].get("connected") is False
          and "time" in states()[-1], "%s: states %s" % (what, states()))
    late = Subscriber(port, prefix)
    check(eventually(lambda: late.on(prefix + "/state")), "%s: a later subscriber gets the state" % what)
    kept = late.on(prefix + "/state")
    check(len(kept) == 1 and kept[0][1] and kept[0][0].get("state") == "offline" and "time" in kept[0][0],
          "%s: the retained state is the clean offline: %s" % (what, kept))
    late.close()


with tempfile.TemporaryDirectory() as work:
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

        # No broker at the port: the messages are not delivered, and velcli says so.
        code, doc = velcli_json("--simulate", "watch", "--pull", "1", "--mqtt", "mqtt://127.0.0.1:%d" % free_port(),
                                env=env)
        check(code == 4 and doc.get("triggerCaptureCount") == 1 and doc.get("mqttUndelivered") == 3,
              "no broker: exit 4 with 3 messages undelivered: %d %s" % (code, doc.get("error")))

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
