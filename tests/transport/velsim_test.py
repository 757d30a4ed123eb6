#!/usr/bin/env python3
"""Applications reach a velsim process through the port map: the test client
(built against the library under test, run under Wine for the Windows builds)
connects to COM7 mapped by VEL_SERIAL_PORT_7 to velsim on the loopback
interface, captures with decoding and then sees the trigger capture velsim sends
when told to; natively also with
the mapping in the host settings file, and velcli's recipe from the README. An
application that loads the library at run time and unloads it while connected gets
its unload back promptly, with the connection closed and the library gone.

  velsim_test.py --velsim VELSIM --client CLIENT [--unload-client CLIENT]
                 [--wine WINE_RUN --build BUILD] [--velcli VELCLI]
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

from velsim_process import Velsim

failures = []


def check(condition, message):
    print(("ok   " if condition else "FAIL ") + message, flush=True)
    if not condition:
        failures.append(message)


def run_client(args, env, sim=None):
    """Runs the client; once its host capture is over, Enter on velsim's input pulls the trigger."""
    command = [args.client, "7"]
    if args.wine:
        command = [args.wine] + command
        env = dict(env, VEL_BUILD_DIR=args.build)
    client = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True)
    values = {}
    for line in client.stdout:
        name, _, value = line.strip().partition(" ")
        values[name] = value
        if name == "capture_barcodes" and sim:
            sim.pull()
    return client.wait(timeout=180), values


def expect_session(args, env, sim, what):
    code, values = run_client(args, env, sim)
    check(code == 0 and values.get("connect") == "1", "%s: connect answered %s" % (what, values.get("connect")))
    check(values.get("firmware") == "SIM 1.00", "%s: firmware %r" % (what, values.get("firmware")))
    check(values.get("configured") == "1", "%s: the imager took the configuration" % what)
    check(values.get("capture_width") == "1280", "%s: the grey image of the scene, %s pixels wide" %
          (what, values.get("capture_width")))
    check(values.get("capture_event") == "1" and values.get("capture_barcodes") == "4",
          "%s: capture ended with %s and %s barcodes" % (what, values.get("capture_event"),
                                                          values.get("capture_barcodes")))
    check(values.get("trigger_event") in ("1", "9") and values.get("trigger_barcodes") == "4",
          "%s: trigger capture ended with %s and %s barcodes" % (what, values.get("trigger_event"),
                                                                  values.get("trigger_barcodes")))
    check(values.get("status") == "1", "%s: status %s" % (what, values.get("status")))
    print("     connect took %s ms" % values.get("connect_ms"), flush=True)


def expect_unload_while_connected(args, env, sim):
    command = [args.unload_client]
    if args.wine:
        command = [args.wine] + command
        env = dict(env, VEL_BUILD_DIR=args.build)
    try:
        r = subprocess.run(command, env=dict(env, VEL_SERIAL_PORT_7=sim.url), stdin=subprocess.DEVNULL,
                           capture_output=True, text=True, timeout=60)
    except subprocess.TimeoutExpired:
        check(False, "unloading the library while connected returns")
        return
    check(r.returncode == 0 and "connect 1" in r.stdout, "run-time loaded library connects: %r" % r.stdout)
    check(re.search(r"unloaded 1 in \d+ ms", r.stdout) is not None,
          "unloading while connected returns and the library is gone: %r" % r.stdout)
    check("reloaded status -4" in r.stdout and "connect again 1" in r.stdout,
          "the library loaded again is a new one, and the first connection has ended: %r" % r.stdout)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--velsim", required=True)
    parser.add_argument("--client", required=True)
    parser.add_argument("--unload-client")
    parser.add_argument("--wine")
    parser.add_argument("--build")
    parser.add_argument("--velcli")
    args = parser.parse_args()
    if not os.access(args.velsim, os.X_OK):
        print("the native velsim is not built (%s): build the native preset first" % args.velsim)
        return 1

    env = {k: v for k, v in os.environ.items() if not k.startswith("VEL_SERIAL_PORT_")}
    sim = Velsim(args.velsim)
    try:
        expect_session(args, dict(env, VEL_SERIAL_PORT_7=sim.url), sim, "environment mapping")
        if args.unload_client:
            expect_unload_while_connected(args, env, sim)
        if not args.wine:
            with tempfile.NamedTemporaryFile("w", suffix=".settings", delete=False) as f:
                f.write("SerialPort7=S:%s\n" % sim.url)
            try:
                expect_session(args, dict(env, VEL_HOST_SETTINGS=f.name), sim, "host settings mapping")
                wrong = dict(env, VEL_HOST_SETTINGS=f.name, VEL_SERIAL_PORT_7="rfc2217://127.0.0.1:1")
                code, values = run_client(args, wrong)
                check(values.get("connect") == "-2", "the environment goes before the host settings")
            finally:
                os.unlink(f.name)
        if args.velcli:
            # A long channel timeout: velsim decodes on this machine's CPU, slowly under a sanitizer.
            r = subprocess.run([args.velcli, "--port", "7", "--timeout", "30000", "capture", "--decode"],
                               env=dict(env, VEL_SERIAL_PORT_7=sim.url),
                               stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
            check(r.returncode == 0 and "barcodes decoded:      4" in r.stdout,
                  "velcli --port 7 capture --decode: %d %s %s" % (r.returncode, r.stdout[-300:], r.stderr[-300:]))
            scene_file = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "sim", "scenes",
                                      "shelf.scene")
            scene_sim = Velsim(args.velsim, "--scene", scene_file)
            try:
                # Photographing and decoding the scene is slow under the sanitizers: a long channel timeout.
                # Every barcode in view: the factory setting sends the first one read.
                velcli = [args.velcli, "--port", "7", "--timeout", "30000"]
                scene_env = dict(env, VEL_SERIAL_PORT_7=scene_sim.url)
                subprocess.run(velcli + ["config", "set", "MaximumNumberBarcodesToDecode", "20"], env=scene_env,
                               stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
                r = subprocess.run(velcli + ["capture", "--decode"], env=scene_env, stdin=subprocess.DEVNULL,
                                   capture_output=True, text=True, timeout=60)
            finally:
                scene_sim.stop()
            check(r.returncode == 0 and '"4006381333931"' in r.stdout,
                  "velsim --scene photographs a scene file: %s" % r.stdout[-400:])
    finally:
        log = sim.stop()
    check("break on" in log and "baud rate 115200" in log, "velsim saw the baud rate and the break handshake")
    if args.unload_client:
        check(log.count("client disconnected") >= 2, "velsim saw the unloaded library's connection close")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
