#!/usr/bin/env python3
"""velcli as a tool for scripts: --help of every command, the exit codes (against the
table of the README as well), --json documents read by Python's json, and the settings
of config show, get and set held to the configuration file that configparser reads.

  velcli_cli_test.py [--wine WINE_RUN] VELCLI VELSIM README

With --wine, VELCLI is velcli.exe run through WINE_RUN, against the native VELSIM.
"""
import configparser
import json
import os
import re
import subprocess
import sys
import tempfile

arguments = sys.argv[1:]
launcher = []
if arguments[0] == "--wine":
    launcher, arguments = [arguments[1]], arguments[2:]
velcli, velsim, readme = arguments
failures = []
COMMANDS = ["versions", "connect", "status", "capture", "watch", "config", "service", "serve", "convert", "trace"]


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)


def run(*args, env=None):
    r = subprocess.run([*launcher, velcli, *args], capture_output=True, text=True, timeout=120, env=env)
    return r.returncode, r.stdout, r.stderr


def document(*args, env=None):
    """velcli --json ARGS: the exit code and the one JSON document of its standard output."""
    code, out, err = run("--json", *args, env=env)
    try:
        return code, json.loads(out)
    except ValueError:
        check(False, "velcli --json %s writes one JSON document: %r %r" % (" ".join(args), out[-300:], err[-300:]))
        return code, {}


with tempfile.TemporaryDirectory() as work:
    env = dict(os.environ, VEL_HOST_SETTINGS=os.path.join(work, "host-settings"))

    # Help: the overview names every command and the exit codes; each command has its own.
    code, out, _ = run("--help")
    listed = re.findall(r"^  (\w+)", out.split("Options:")[0], re.M)
    check(code == 0 and listed == COMMANDS, "velcli --help lists the commands: %s" % listed)
    help_codes = dict(re.findall(r"^  (\d+)  (.+)$", out, re.M))
    with open(readme) as f:
        readme_codes = dict(re.findall(r"^\| (\d+) \| (.+?) \|$", f.read().split("### Exit codes")[-1], re.M))
    check(sorted(help_codes) == [str(n) for n in range(7)], "exit codes 0..6 in --help: %s" % sorted(help_codes))
    check(sorted(readme_codes) == sorted(help_codes), "the README's exit codes are --help's: %s" % sorted(readme_codes))
    for command in COMMANDS:
        code, out, err = run(command, "--help")
        check(code == 0 and out.startswith("usage: velcli") and (" %s" % command) in out.split("\n")[0]
              and "Exit codes:" in out, "velcli %s --help" % command)
    code, out, _ = run("capture", "--help")
    check(all(o in out for o in ("--decode", "--save DIR", "--count N")) and "--permanent" not in out,
          "capture --help lists its own options only")
    code, out, _ = run("service", "--help")
    check("pin-get PIN" in out and "erase-firmware" in out, "service --help lists the service commands")

    # Usage errors: exit 2 and, with --json, a document that says why.
    for args in (["frobnicate"], ["--frob", "connect"], ["connect", "--decode"], ["--port"], ["--port", "101", "connect"],
                 ["--port", "x", "connect"], ["capture", "--count", "0", "--decode"], ["--simulate", "capture"],
                 ["config"], ["config", "set", "WindowX"], ["config", "get", "NoSuchSetting"],
                 ["config", "set", "WindowX", "ten"], ["config", "set", "WindowX", "99999999999"],
                 ["convert", "only-one"], ["--scene", "x.scene", "connect"], ["service", "pin-get"]):
        code, doc = document(*args, env=env)
        check(code == 2 and doc.get("exitCode") == 2 and doc.get("ok") is False and doc.get("error"),
              "usage error %s: %d %s" % (args, code, doc.get("error")))

    # Connect failures: a port that does not open, a network port nobody serves.
    code, doc = document("--port", "9", "--timeout", "500", "status",
                         env=dict(env, VEL_SERIAL_PORT_9="rfc2217://127.0.0.1:1"))
    check(code == 3 and doc.get("connect", {}).get("result") == -2, "nobody at the port: exit 3, %s" % doc.get("connect"))
    code, doc = document("--port", "9", "connect", env=dict(env, VEL_SERIAL_PORT_9="rfc2217://bad url"))
    check(code == 3, "a malformed port map: exit 3")

    # File errors.
    code, doc = document("--simulate", "config", "load", os.path.join(work, "missing.ini"), env=env)
    check(code == 6 and doc.get("result") == 0, "config load of a missing file: exit 6")
    code, doc = document("--simulate", "config", "save", os.path.join(work, "no", "such", "folder", "a.ini"), env=env)
    check(code == 6 and doc.get("written") is False, "config save into a missing folder: exit 6")
    readonly = os.path.join(work, "readonly.ini")
    with open(readonly, "w") as f:
        f.write("kept\n")
    os.chmod(readonly, 0o444)
    if os.access(readonly, os.W_OK):  # root writes anyway: nothing to refuse
        print("skip config save over a read-only file (running as root)")
    else:
        code, doc = document("--simulate", "config", "save", readonly, env=env)
        check(code == 6 and doc.get("written") is False, "config save over a read-only file: exit 6")
    code, doc = document("convert", os.path.join(work, "missing.bmp"), os.path.join(work, "x.jpg"))
    check(code == 6 and not os.path.exists(os.path.join(work, "x.jpg")), "convert of a missing file: exit 6")
    blocked = os.path.join(work, "file-not-folder")
    open(blocked, "w").close()
    code, doc = document("--simulate", "capture", "--grey", "--save", os.path.join(blocked, "out"), env=env)
    check(code == 6 and "connect" not in doc, "capture --save under a file: exit 6 before connecting")

    # Refusals and trigger captures that do not come.
    code, doc = document("--simulate", "service", "pin-get", "20", env=env)
    check(code == 1 and doc.get("done") is False and doc.get("result") == -1, "a refused service command: exit 1")
    code, doc = document("--simulate", "watch", "--count", "1", "--seconds", "1", env=env)
    check(code == 5 and doc.get("triggerCaptureCount") == 0, "watch without a trigger pull: exit 5")
    code, doc = document("--port", "9", "watch", "--pull", "1", env=env)
    check(code == 2, "watch --pull needs --simulate")

    # Documents of the commands.
    code, doc = document("--simulate", "connect", env=env)
    check(code == 0 and doc.get("ok") is True and doc.get("exports") == 359 and doc.get("sensor") == "standard (monochrome)"
          and doc.get("imageSensor") == 0x7FA29660 and doc.get("firmware") == "SIM 1.00" and doc.get("disconnected") is True,
          "connect --json: %s" % {k: doc.get(k) for k in ("exports", "sensor", "imageSensor", "firmware")})
    code, doc = document("--simulate", "--scene", os.path.join(os.path.dirname(readme), "sim", "scenes", "single-qr.scene"),
                         "capture", "--decode", "--grey", "--count", "2", "--save", os.path.join(work, "two"), env=env)
    captures = doc.get("captures", [])
    check(code == 0 and len(captures) == 2 and all(c.get("end") == "done" for c in captures), "capture --count 2: two captures")
    saved = sorted(os.listdir(os.path.join(work, "two"))) if os.path.isdir(os.path.join(work, "two")) else []
    check(saved == ["grey-1.bmp", "grey-1.jpg", "grey-2.bmp", "grey-2.jpg"], "numbered files of two captures: %s" % saved)
    for c in captures:
        check(c.get("greyImage", {}).get("width") == 640 and c.get("greyImage", {}).get("height") == 480
              and all(f.get("written") for f in c.get("saved", [])), "a capture's image and files in the document")
    # The scene's QR code is off in the factory configuration: nothing decoded, and said so.
    check(all(c.get("barcodeCount") == 0 and c.get("barcodes") == [] for c in captures), "no barcode for a disabled QR code")
    # The factory configuration decodes one barcode of those in view.
    code, doc = document("--simulate", "capture", "--decode", env=env)
    barcodes = doc.get("captures", [{}])[0].get("barcodes", [])
    check(code == 0 and len(barcodes) == 1
          and {b.get("text") for b in barcodes} <= {"VEL-0042-CODE128", "Data Matrix: lot 7731", "4006381333931"}
          and all(len(b.get("corners", [])) == 8 and b.get("length") == len(b.get("text", "")) for b in barcodes),
          "capture --decode --json: barcodes with text and corners: %s" % [b.get("text") for b in barcodes])

    # Settings: show lists the library's settings, the same values the configuration file holds.
    code, doc = document("--simulate", "config", "show", env=env)
    shown = doc.get("settings", {})
    check(code == 0 and len(shown) > 100, "config show lists %d settings" % len(shown))
    ini = os.path.join(work, "imager.ini")
    run("--simulate", "config", "save", ini, env=env)
    parser = configparser.RawConfigParser()
    parser.optionxform = str
    parser.read(ini)
    device = parser["CorvidConfig"] if parser.has_section("CorvidConfig") else {}
    for setting, key in (("WindowWidth", "WindowWidth"), ("Gain", "Gain"), ("NoiseLevel", "NoiseLevel"),
                         ("QRCodeEnabled", "QrCodeEnabled"), ("Code128Enabled", "Code128Enabled"),
                         ("MaximumNumberBarcodesToDecode", "MaxNumberOfBarcodes"), ("IntegrationTime", "IntergationTime")):
        check(key in device and shown.get(setting) == int(device[key]),
              "config show %s = %s, the INI %s" % (setting, shown.get(setting), device.get(key)))
    code, doc = document("--simulate", "config", "get", "windowwidth", "QRCODEENABLED", env=env)
    check(code == 0 and doc.get("settings") == {"WindowWidth": 1280, "QRCodeEnabled": 0}, "config get ignores case: %s" % doc.get("settings"))
    code, doc = document("--simulate", "config", "set", "WindowWidth", "100", "QRCodeEnabled", "on", "ThresholdBias", "-5",
                         "ImageCorrectionGaussWidth", "0x20", "--permanent", env=env)
    changed = {c["name"]: (c["requested"], c["stored"]) for c in doc.get("changed", [])}
    check(code == 0 and doc.get("sent") == "permanent" and doc.get("sendResult") == 1, "config set --permanent sends the record")
    # The SA-1110 of the simulated imager raises a width to 128; the rest is stored as given.
    check(changed == {"WindowWidth": (100, 128), "QRCodeEnabled": (1, 1), "ThresholdBias": (-5, -5),
                      "ImageCorrectionGaussWidth": (32, 32)}, "config set stores and reports: %s" % changed)
    code, doc = document("--simulate", "config", "defaults", env=env)
    check(code == 0 and doc.get("sent") == "temporary" and doc.get("sendResult") == 1, "config defaults sends the record")

    # velsim: a setting sent temporarily is what the next connection reads.
    shelf = os.path.join(os.path.dirname(readme), "sim", "scenes", "shelf.scene")
    sim = subprocess.Popen([velsim, "--tcp-port", "0", "--scene", shelf], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                           text=True)
    try:
        url = re.search(r"rfc2217://\S+", sim.stdout.readline()).group(0)
        mapped = dict(env, VEL_SERIAL_PORT_7=url)
        document("--port", "7", "config", "set", "Gain", "777", env=mapped)
        code, doc = document("--port", "7", "config", "get", "Gain", env=mapped)
        check(code == 0 and doc.get("settings") == {"Gain": 777}, "a set reaches velsim's imager: %s" % doc.get("settings"))
        # velsim decodes what its camera sees of the scene: the barcodes come back through the port map.
        document("--port", "7", "config", "set", "MaximumNumberBarcodesToDecode", "20", env=mapped)
        code, doc = document("--port", "7", "--timeout", "30000", "capture", "--decode", env=mapped)
        texts = sorted(b.get("text") for b in doc.get("captures", [{}])[0].get("barcodes", []))
        check(code == 0 and texts == ["4006381333931", "Data Matrix: lot 7731", "VEL-0042-CODE128"],
              "a capture with decoding through the port map: %s" % texts)
    finally:
        sim.stdin.close()
        sim.terminate()
        sim.wait(timeout=10)

for failure in failures:
    print("FAILED:", failure)
sys.exit(1 if failures else 0)
