#!/usr/bin/python3
"""Latency from a trigger pull to the decode's MQTT message at a subscriber.

velsim serves the simulated imager as a network serial port; velcli watch --mqtt reads
it through the port map and publishes to a mosquitto broker on a loopback port; a
paho-mqtt subscriber timestamps each decode. Each pull (a line on velsim's input) waits
for its message before the next. Prints the median and 99th percentile of the whole
path, and of its last leg (velcli's capture time stamp, taken when it read the results,
to the arrival), in milliseconds.

  bench/mqtt_latency.py [--build build/native-release] [--pulls 200] [--scene FILE]
"""
import argparse
import json
import os
import queue
import re
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

import paho.mqtt.client as mqtt

here = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
parser = argparse.ArgumentParser()
parser.add_argument("--build", default=os.path.join(here, "build", "native-release"))
parser.add_argument("--pulls", type=int, default=200)
parser.add_argument("--scene", default=os.path.join(here, "sim", "scenes", "shelf.scene"))
parser.add_argument("--mosquitto", default="/usr/sbin/mosquitto")
args = parser.parse_args()
velcli, velsim = (os.path.join(args.build, "bin", p) for p in ("velcli", "velsim"))


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, max(0, round(p / 100 * len(ordered) + 0.5) - 1))]


def wait_for(condition, seconds, what):
    until = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > until:
            sys.exit("mqtt_latency: %s did not happen within %d s" % (what, seconds))
        time.sleep(0.01)


with socket.socket() as s:
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
work = tempfile.mkdtemp()
config = os.path.join(work, "mosquitto.conf")
with open(config, "w") as f:
    f.write("listener %d 127.0.0.1\nallow_anonymous true\npersistence false\n" % port)
processes = []
try:
    broker = subprocess.Popen([args.mosquitto, "-c", config], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    processes.append(broker)

    def listening():
        with socket.socket() as c:
            return c.connect_ex(("127.0.0.1", port)) == 0
    wait_for(listening, 10, "the broker's start")

    arrivals = queue.Queue()  # (monotonic, wall clock, topic, payload)
    client = mqtt.Client()
    client.on_connect = lambda c, u, f, rc: c.subscribe("bench/#", qos=1)
    client.on_message = lambda c, u, m: arrivals.put((time.monotonic(), time.time(), m.topic, json.loads(m.payload)))
    client.connect("127.0.0.1", port)
    client.loop_start()

    sim = subprocess.Popen([velsim, "--tcp-port", "0", "--scene", args.scene], stdin=subprocess.PIPE,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    processes.append(sim)
    url = re.search(r"rfc2217://\S+", sim.stdout.readline()).group(0)
    # velsim writes a line per pull: read away so that its output never blocks it.
    drain = subprocess.Popen(["cat"], stdin=sim.stdout, stdout=subprocess.DEVNULL)
    processes.append(drain)
    env = dict(os.environ, VEL_SERIAL_PORT_7=url, VEL_HOST_SETTINGS=os.path.join(work, "host-settings"))
    watch = subprocess.Popen([velcli, "--port", "7", "--timeout", "30000", "watch", "--mqtt", "mqtt://127.0.0.1:%d" % port,
                              "--topic", "bench"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    processes.append(watch)
    first = arrivals.get(timeout=30)
    if first[2] != "bench/state" or first[3].get("state") != "online":
        sys.exit("mqtt_latency: expected the online state first, got %s" % (first,))

    total, leg = [], []
    for n in range(args.pulls):
        pulled = time.monotonic()
        sim.stdin.write("\n")
        sim.stdin.flush()
        while True:
            arrived, wall, topic, payload = arrivals.get(timeout=30)
            if topic == "bench/decode":
                break
        total.append((arrived - pulled) * 1000)
        leg.append(wall * 1000 - payload["captureTimeMs"])
        # Any further decode of the same capture (more than one barcode) is not a pull's.
        time.sleep(0.05)
        while not arrivals.empty():
            arrivals.get()

    watch.send_signal(signal.SIGINT)
    watch.wait(timeout=30)
    with open("/proc/loadavg") as f:
        load = " ".join(f.read().split()[:3])
    print("pulls %d, load average %s" % (len(total), load))
    print("pull -> MQTT message at the subscriber: median %.1f ms, p99 %.1f ms, min %.1f, max %.1f" %
          (statistics.median(total), percentile(total, 99), min(total), max(total)))
    print("results read by velcli -> message:      median %.1f ms, p99 %.1f ms" %
          (statistics.median(leg), percentile(leg, 99)))
finally:
    for p in reversed(processes):
        if p.poll() is None:
            p.terminate()
            try:
                p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                p.kill()
