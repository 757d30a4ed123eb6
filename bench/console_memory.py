#!/usr/bin/python3
"""Resident memory of `velcli serve` over many colour captures against velsim (640x480
colour sensor, decode + colour image): the history keeps 50 captures, 8 with images,
so after the first few dozen captures the figure must stay flat.

  bench/console_memory.py [--build DIR] [--captures N]
"""
import argparse
import os
import re
import sys
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "tests", "tools"))
from console_server import Console, start_velsim  # noqa: E402

parser = argparse.ArgumentParser()
parser.add_argument("--build", default=os.path.join(here, "..", "build", "native-release"))
parser.add_argument("--captures", type=int, default=1000)
args = parser.parse_args()
velcli = os.path.join(args.build, "bin", "velcli")
velsim = os.path.join(args.build, "bin", "velsim")
scene = os.path.join(here, "..", "sim", "scenes", "colour-labels.scene")


def resident_mb(pid):
    with open("/proc/%d/status" % pid) as f:
        return int(re.search(r"VmRSS:\s+(\d+) kB", f.read()).group(1)) / 1024


sim, url = start_velsim(velsim, "--sensor", "7FA29650", "--scene", scene)
try:
    env = dict(os.environ, VEL_SERIAL_PORT_7=url)
    with Console(velcli, "--port", "7", "--timeout", "30000", env=env) as console:
        pid = console.process.pid
        print("start: %.1f MB" % resident_mb(pid), flush=True)
        started = time.monotonic()
        for n in range(1, args.captures + 1):
            status, capture = console.post("/api/capture", {"decode": True, "grey": True})
            if status != 200 or not capture["images"]:
                sys.exit("capture %d: %s %r" % (n, status, capture))
            if n % 100 == 0 or n in (10, 50):
                print("after %4d captures: %.1f MB resident (%.1f captures/s)"
                      % (n, resident_mb(pid), n / (time.monotonic() - started)), flush=True)
finally:
    sim.kill()
    sim.wait()
