#!/usr/bin/env python3
"""COM ports 1 to 99 open under Windows (Wine), 10 and above included: each port is
mapped to a pseudo-terminal on which nothing answers, so connect answers 0 (the port
opened, no imager) where the port exists and -2 where it does not.

  com_ports_test.py --bin BUILD/bin --build BUILD
"""
import argparse
import os
import pty
import subprocess
import sys

WINE_RUN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "wine-run")


def connect(args, port):
    env = dict(os.environ, VEL_BUILD_DIR=args.build)
    r = subprocess.run([WINE_RUN, os.path.join(args.bin, "com_port_connect.exe"), str(port)], env=env,
                       stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    return r.stdout.decode("latin-1").strip()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--build", required=True)
    args = parser.parse_args()
    devices = os.path.join(args.build, "wineprefix", "dosdevices")
    failures = []
    masters = []
    mapped = (3, 12, 99)
    try:
        for port in mapped:
            master, slave = pty.openpty()
            masters.append((master, slave))
            link = os.path.join(devices, "com%d" % port)
            if os.path.lexists(link):
                os.remove(link)
            os.symlink(os.ttyname(slave), link)
        for port, expected in [(3, "0"), (12, "0"), (99, "0"), (13, "-2")]:
            got = connect(args, port)
            print("COM%d: connect answered %s (expected %s)" % (port, got, expected), flush=True)
            if got != expected:
                failures.append(port)
    finally:
        for port in mapped:
            link = os.path.join(devices, "com%d" % port)
            if os.path.lexists(link):
                os.remove(link)
        for master, slave in masters:
            os.close(master)
            os.close(slave)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
