#!/usr/bin/env python3
"""Runs bad_callers (built against the library under test; under Wine for the Windows
builds) against a velsim process that photographs a scene: COM7 is mapped to velsim, and the other port numbers
its hostile values reach (1, 22, 23) to a closed loopback port, so that no real serial
port of the machine is touched. Natively the host settings go to a file of its own.

  bad_callers_test.py --velsim VELSIM --client BAD_CALLERS [--wine WINE_RUN --build BUILD]
"""
import argparse
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "transport"))
from velsim_test import Velsim  # noqa: E402

CLOSED_PORT = "rfc2217://127.0.0.1:1"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--velsim", required=True)
    parser.add_argument("--client", required=True)
    parser.add_argument("--wine")
    parser.add_argument("--build")
    args = parser.parse_args()
    if not os.access(args.velsim, os.X_OK):
        print("the native velsim is not built (%s): build the native preset first" % args.velsim)
        return 1

    env = {k: v for k, v in os.environ.items() if not k.startswith("VEL_SERIAL_PORT_")}
    for port in (1, 22, 23):
        env["VEL_SERIAL_PORT_%d" % port] = CLOSED_PORT
    command = [args.client, "7"]
    if args.wine:
        command = [args.wine] + command
        env["VEL_BUILD_DIR"] = args.build
    scene = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "bad-callers.scene")
    sim = Velsim(args.velsim, "--scene", scene)
    try:
        with tempfile.TemporaryDirectory() as folder:
            env["VEL_SERIAL_PORT_7"] = sim.url
            if not args.wine:
                env["VEL_HOST_SETTINGS"] = os.path.join(folder, "host-settings")
            work = os.path.join(folder, "work")
            os.mkdir(work)
            try:
                r = subprocess.run(command, env=env, cwd=work, stdin=subprocess.DEVNULL, timeout=1500)
            except subprocess.TimeoutExpired:
                print("FAIL bad_callers did not end")
                return 1
    finally:
        sim.stop()
    print("bad_callers exit code %d" % r.returncode)
    return 0 if r.returncode == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
