#!/usr/bin/env python3
"""examples/dotnet/CaptureConsole as built, run under Mono against a velsim process through
the port map:

  - against the shelf scene it exits 0, prints every barcode of the scene (the texts of
    the scene file), and saves a 1280 x 1024 bitmap in which zbarimg finds barcodes, each
    of them printed by the example with the same symbology and text;
  - against a port where nothing listens it exits 1, names the connect result -2 and
    saves nothing.

usage: capture_console_test.py --mono MONO --example CaptureConsole.exe --assemblies DIR
           --library-dir DIR --velsim VELSIM --scene FILE --zbarimg ZBARIMG --work DIR
"""
import argparse
import os
import re
import select
import shutil
import socket
import subprocess
import sys
import time

failures = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)
    return condition


class Velsim:
    """velsim on a free loopback port; its first line says where it serves, read within a deadline."""

    def __init__(self, program, scene, deadline_s=30):
        self.process = subprocess.Popen([program, "--tcp-port", "0", "--scene", scene], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.url = None
        seen = b""
        deadline = time.monotonic() + deadline_s
        while self.url is None and time.monotonic() < deadline and self.process.poll() is None:
            ready, _, _ = select.select([self.process.stdout], [], [], 0.2)
            if ready:
                chunk = os.read(self.process.stdout.fileno(), 4096)
                seen += chunk
                match = re.search(rb"serving (rfc2217://127\.0\.0\.1:\d+)", seen)
                if match:
                    self.url = match.group(1).decode()
        if self.url is None:
            self.stop()
            sys.exit("velsim did not say where it serves within %d s: %r" % (deadline_s, seen[-500:]))

    def stop(self, deadline_s=30):
        if self.process.poll() is None:
            try:
                self.process.stdin.write(b"q\n")
                self.process.stdin.flush()
            except BrokenPipeError:
                pass
        deadline = time.monotonic() + deadline_s
        while self.process.poll() is None and time.monotonic() < deadline:
            time.sleep(0.1)
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(timeout=10)


def scene_texts(path):
    texts = []
    with open(path) as f:
        for line in f:
            match = re.match(r"\s*barcode\s+\S+\s.*?\stext\s(.*)$", line.rstrip("\n"))
            if match:
                texts.append(match.group(1))
    return texts


def symbology_key(name):
    """"QR Code", "QR-Code" -> "qrcode"; "Code 128", "CODE-128" -> "code128"."""
    return re.sub(r"[^a-z0-9]", "", name.lower())


def closed_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for option in ("mono", "example", "assemblies", "library-dir", "velsim", "scene", "zbarimg", "work"):
        parser.add_argument("--" + option, required=True)
    args = parser.parse_args()
    for option in ("example", "assemblies", "library_dir", "velsim", "scene", "work"):
        setattr(args, option, os.path.abspath(getattr(args, option)))
    for path in (args.mono, args.example, args.velsim, args.zbarimg):
        if not os.path.isfile(path):
            sys.exit("%s is missing" % path)
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    host_settings = os.path.join(args.work, "host-settings")
    open(host_settings, "w").close()
    env = dict(os.environ, VEL_HOST_SETTINGS=host_settings, MONO_PATH=args.assemblies,
               LD_LIBRARY_PATH=os.pathsep.join(p for p in (args.library_dir, os.environ.get("LD_LIBRARY_PATH")) if p))

    def example(*arguments):
        done = subprocess.run([args.mono, args.example, *arguments], env=env, cwd=args.work, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=180)
        return done.returncode, done.stdout, done.stderr

    image = os.path.join(args.work, "shelf.bmp")
    velsim = Velsim(args.velsim, args.scene)
    try:
        env["VEL_SERIAL_PORT_7"] = velsim.url
        code, out, err = example("7", "--out", image)
    finally:
        velsim.stop()
    print(out, err, sep="", end="")
    check(code == 0, "CaptureConsole exits 0 against velsim (%d)" % code)
    printed = re.findall(r'^  (\S.*?)\s+"(.*)" at \(', out, re.M)
    count = re.search(r"^(\d+) barcode\(s\)$", out, re.M)
    check(count is not None and int(count.group(1)) == len(printed),
          "it prints as many barcodes as it counts (%s, %d)" % (count and count.group(1), len(printed)))
    wanted = scene_texts(args.scene)
    check(wanted and sorted(t for _, t in printed) == sorted(wanted),
          "it prints the scene's barcodes %s (printed %s)" % (wanted, [t for _, t in printed]))
    check(re.search(r"^saved %s \(1280 x 1024\)$" % re.escape(image), out, re.M) is not None, "it names the saved image")
    header = b""
    if os.path.isfile(image):
        with open(image, "rb") as f:
            header = f.read(2)
    check(header == b"BM", "the saved image is a bitmap")

    zbar = subprocess.run([args.zbarimg, "-q", image], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                          timeout=120)
    read = [tuple(line.split(":", 1)) for line in zbar.stdout.splitlines() if ":" in line]
    check(zbar.returncode == 0 and read, "zbarimg finds barcodes in the saved image: %s" % read)
    ours = {(symbology_key(name), text) for name, text in printed}
    for name, text in read:
        check((symbology_key(name), text) in ours, "zbarimg's %s %r is printed by the example" % (name, text))

    env["VEL_SERIAL_PORT_7"] = "rfc2217://127.0.0.1:%d" % closed_port()
    refused = os.path.join(args.work, "refused.bmp")
    code, out, err = example("7", "--out", refused, "--timeout", "3")
    check(code == 1 and "result -2" in err and not os.path.exists(refused),
          "no imager: exit 1 naming result -2, no image (%d, %r)" % (code, err.strip()))
    print("%d failure(s)" % len(failures))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
