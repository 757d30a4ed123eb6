#!/usr/bin/env python3
"""velcli's configuration files and service commands against its simulated imager:
the saved file read by configparser, a load stored in the imager, service commands
with their answers and refusals."""
import configparser
import os
import subprocess
import sys
import tempfile


def velcli(binary, *args):
    run = subprocess.run([binary, "--simulate", *args], capture_output=True, text=True, timeout=60)
    return run.returncode, run.stdout + run.stderr


def main():
    binary = sys.argv[1]
    failures = []

    def expect(condition, what):
        if not condition:
            failures.append(what)

    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "imager.ini")
        code, out = velcli(binary, "config", "save", path)
        expect(code == 0 and "0 (written)" in out, f"config save: {code} {out}")
        parser = configparser.RawConfigParser()
        parser.optionxform = str
        parser.read(path)
        expect(parser.sections() == ["ConfigDescriptor", "CorvidConfig", "HostConfig"], f"sections {parser.sections()}")
        device = parser["CorvidConfig"] if parser.has_section("CorvidConfig") else {}
        expect(len(device) == 109, f"{len(device)} device keys")
        expect(device.get("IntergationTime") == "26169", "IntergationTime as read from the imager at connect")
        expect(device.get("WindowWidth") == "1280", "WindowWidth")

        code, out = velcli(binary, "config", "load", path)
        expect(code == 0 and "1 (read), imager stored it" in out, f"config load: {code} {out}")
        code, out = velcli(binary, "config", "load", os.path.join(folder, "missing.ini"))
        expect(code == 6 and "0 (not read)" in out, f"config load of a missing file: {code} {out}")

    cases = [
        (["service", "pin-set", "24", "0x1AB"], 0, "pin-set:  done (1)"),
        (["service", "pin-get", "16"], 0, "pin-get:  0"),
        (["service", "pin-get", "20"], 1, "pin-get:  failed (-1)"),
        (["service", "calibration-status"], 0, "calibration-status:  0"),
        (["service", "register-set", "5", "7"], 0, "register-set:  done (1)"),
        (["service", "leds", "1"], 0, "leds:  done (1)"),
        (["service", "quit-terminal", "8", "9600"], 1, "quit-terminal:  failed (-1)"),
        (["service", "pin-set", "24"], 2, "service pin-set PIN VALUE"),
        (["service", "nonsense"], 2, "service sleep"),
    ]
    for args, want_code, want_text in cases:
        code, out = velcli(binary, *args)
        expect(code == want_code and want_text in out, f"{' '.join(args)}: {code} {out}")

    for failure in failures:
        print("FAILED:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
