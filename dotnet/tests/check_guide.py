#!/usr/bin/env python3
"""The guide's first .NET program, as written: its C# block compiled and run with the
guide's own mcs and mono command lines (build/native standing for this build's tree)
against velsim on a free port, in a scratch folder. It must print the imager's kind,
the shelf scene's barcodes and the image's size, and save images that zbarimg reads.

usage: check_guide.py --guide guide.md --build DIR --velsim VELSIM --scenes DIR
"""
import argparse
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "transport"))
from velsim_process import Velsim  # noqa: E402

SHELF = ("VEL-0042-CODE128", "4006381333931", "Data Matrix: lot 7731", "https://example.invalid/qr")


def section(guide):
    with open(guide, encoding="utf-8") as f:
        text = f.read()
    m = re.search(r"^## \.NET\n(.*?)^## ", text, re.S | re.M)
    if not m:
        sys.exit("check_guide: the guide has no .NET section")
    first = re.search(r"^### A first capture against velsim\n(.*?)^### ", m.group(1), re.S | re.M)
    if not first:
        sys.exit("check_guide: the .NET section has no first capture")
    blocks = re.findall(r"^```(\w*)\n(.*?)^```$", first.group(1), re.S | re.M)
    code = [b for kind, b in blocks if kind == "csharp"]
    shell = [b for kind, b in blocks if kind == ""]
    if len(code) != 1 or len(shell) != 1:
        sys.exit("check_guide: expected one C# block and one block of commands")
    return code[0], shell[0].splitlines()


def command(lines, program, build):
    """The guide's command line that runs program, with build/native made this build."""
    for line in lines:
        words = shlex.split(line.split("#")[0])
        env = {}
        while words and re.match(r"^[A-Z_]+=", words[0]):
            name, value = words.pop(0).split("=", 1)
            env[name] = value.replace("build/native", build)
        if words and words[0] == program:
            return env, [w.replace("build/native", build) for w in words]
    sys.exit("check_guide: the guide runs no %s" % program)


def main():
    parser = argparse.ArgumentParser()
    for option in ("--guide", "--build", "--velsim", "--scenes"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    code, lines = section(args.guide)
    build = os.path.abspath(args.build)
    failures = []
    with tempfile.TemporaryDirectory() as work:
        with open(os.path.join(work, "first.cs"), "w") as f:
            f.write(code)
        settings = os.path.join(work, "host-settings")
        open(settings, "w").close()
        sim = Velsim(args.velsim, "--scene", os.path.join(args.scenes, "shelf.scene"))
        try:
            base = dict(os.environ, VEL_SERIAL_PORT_7=sim.url, VEL_HOST_SETTINGS=settings)
            for program in ("mcs", "mono"):
                env, words = command(lines, program, build)
                done = subprocess.run(words, cwd=work, env=dict(base, **env), stdout=subprocess.PIPE,
                                      stderr=subprocess.STDOUT, text=True, timeout=180)
                if done.returncode != 0:
                    sys.exit("check_guide: %s failed (%d):\n%s" % (" ".join(words), done.returncode, done.stdout))
            output = done.stdout
        finally:
            sim.stop()
        print(output)
        for expected in ("Standard Sa1110", "1280 x 1024") + SHELF:
            if expected not in output:
                failures.append("the program did not print %r" % expected)
        for name in ("grey.bmp", "grey.jpg"):
            path = os.path.join(work, name)
            if not os.path.exists(path):
                failures.append("%s was not saved" % name)
            elif shutil.which("zbarimg"):
                read = subprocess.run(["zbarimg", "-q", "--raw", path], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                      text=True, timeout=60)
                if "VEL-0042-CODE128" not in read.stdout.split("\n"):
                    failures.append("zbarimg does not read the Code 128 in %s" % name)
    for failure in failures:
        print("FAIL " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
