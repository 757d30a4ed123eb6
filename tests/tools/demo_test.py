#!/usr/bin/env python3
"""make demo's run against the built tree, into a scratch folder: what it prints and the
files it leaves, read by independent tools (djpeg, exiftool, zbarimg, identify,
configparser), and the configuration file loaded back by velcli. A second run with a
velcli that fails half-way must fail and still stop velsim.

  demo_test.py REPOSITORY BUILD_DIR
"""
import configparser
import os
import re
import subprocess
import sys
import tempfile

repo, build = sys.argv[1], sys.argv[2]
demo = os.path.join(repo, "scripts", "demo")
velcli = os.path.join(build, "bin", "velcli")
failures = []

# The type names the imager reports for the scene files' symbologies, and the ones
# zbar reads (it has no Data Matrix).
TYPE_NAMES = {"code128": "Code 128", "qr": "QR Code", "datamatrix": "Data Matrix", "ean13": "UPC", "code39": "Code 39"}
ZBAR_NAMES = {"code128": "CODE-128", "qr": "QR-Code", "ean13": "EAN-13", "code39": "CODE-39"}


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)


def scene_barcodes(name):
    """(symbology, text) of every barcode of a scene file."""
    found = []
    with open(os.path.join(repo, "sim", "scenes", name)) as f:
        for line in f:
            match = re.match(r"\s*barcode\s+(\w+)\s.*?\btext\s+(.*?)\s*$", line)
            if match:
                found.append((match.group(1), match.group(2)))
    return found


def run(*args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, timeout=120, **kwargs)


def zbar(path):
    return set(run("zbarimg", "--quiet", path).stdout.split("\n")) - {""}


def bmp_bits(path):
    with open(path, "rb") as f:
        header = f.read(30)
    return header[:2] == b"BM" and int.from_bytes(header[28:30], "little")


with tempfile.TemporaryDirectory() as work:
    out = os.path.join(work, "demo-output")
    os.makedirs(out)
    with open(os.path.join(out, "stale"), "w") as f:
        f.write("from an earlier run\n")
    r = run(demo, "--no-build", "--build", build, "--out", out)
    log = r.stdout
    check(r.returncode == 0, "the demo runs" if r.returncode == 0 else "the demo: %d %s" % (r.returncode, (log + r.stderr)[-3000:]))
    check(not os.path.exists(os.path.join(out, "stale")), "the output folder is emptied first")

    # The conversation, as printed.
    for text in ("connect port 7:        1 (connected)", "sensor:                standard (monochrome)",
                 "link level:", "set QRCodeEnabled: 1", "sent temporarily:      1 (the imager took it)",
                 "trigger captures seen: 2", "sensor:                OV9650 (colour)", "disconnected",
                 "velsim: trigger pulled"):
        check(text in log, "the demo prints %r" % text)
    check(re.search(r"QRCodeEnabled +1\n", log) is not None, "the changed setting reads back from the imager")
    check(re.search(r"console capture 1: [1-9]\d* barcodes, grey image 1280x1024", log) is not None and
          "open http://127.0.0.1:8080/" in log, "the console captures against velsim, and the demo says how to open it")
    for symbology, text in scene_barcodes("demo.scene"):
        shown = '%s (type ' % TYPE_NAMES[symbology]
        lines = [l for l in log.split("\n") if shown in l and l.endswith('"%s"' % text)]
        # The host capture and both trigger captures.
        check(len(lines) == 3, "%s %r decoded in all three monochrome captures: %d" % (symbology, text, len(lines)))
    check(re.search(r"corners \(\d+,\d+\) \(\d+,\d+\) \(\d+,\d+\) \(\d+,\d+\), decoded in \d+", log) is not None,
          "corners and decode times are printed")
    check(re.search(r"timings: +capture \d+, auto exposure \d+, processing \d+", log) is not None, "timings are printed")
    summary = re.search(r"barcodes decoded: (\d+) in (\d+) captures", log)
    check(summary is not None and summary.group(2) == "4", "the summary counts the captures: %s" % (summary and summary.group(0)))
    check(re.search(r"time taken: \d+\.\d s", log) is not None, "the summary gives the time taken")

    # The monochrome images: the compressed grey image saved with the imager's EXIF block.
    mono = os.path.join(out, "mono")
    grey_jpg = os.path.join(mono, "grey.jpg")
    r = subprocess.run(["djpeg", "-pnm", grey_jpg], capture_output=True, timeout=60)
    # P5 grey, or P6 when the timestamp was drawn in colour.
    check(r.returncode == 0 and re.match(rb"P[56]\n1280 1024\n255\n", r.stdout) is not None,
          "djpeg decodes grey.jpg as a 1280 x 1024 image")
    taken = run("exiftool", "-s3", "-DateTimeOriginal", grey_jpg).stdout.strip()
    check(re.fullmatch(r"\d{4}:\d\d:\d\d \d\d:\d\d:\d\d", taken) is not None, "exiftool reads the capture date: %r" % taken)
    autosaved = sorted(os.listdir(os.path.join(out, "auto"))) if os.path.isdir(os.path.join(out, "auto")) else []
    check(len(autosaved) == 2, "two auto-saved files (monochrome JPEG, colour BMP): %s" % autosaved)
    if autosaved:
        stamp = autosaved[0][:-4].replace("-", ":")
        check(autosaved[0].endswith(".jpg") and taken == stamp, "the auto-save is named by the capture date %r" % taken)
    wanted = {"%s:%s" % (ZBAR_NAMES[s], t) for s, t in scene_barcodes("demo.scene") if s in ZBAR_NAMES}
    for name in ("grey.bmp", "grey.jpg", "binary.bmp"):
        read = zbar(os.path.join(mono, name))
        check(wanted <= read, "zbarimg reads the scene's barcodes from mono/%s: %s" % (name, sorted(read)))
    check(bmp_bits(os.path.join(mono, "grey.bmp")) == 8 and bmp_bits(os.path.join(mono, "binary.bmp")) == 1,
          "grey.bmp has 8 bits per pixel, binary.bmp 1")

    # The colour run.
    colour = os.path.join(out, "colour", "colour.bmp")
    check(os.path.exists(colour) and bmp_bits(colour) == 24, "the colour image is a 24-bit BMP")
    identified = run("identify", "-format", "%m %w %h %[colorspace]", os.path.join(out, "colour", "colour.jpg")).stdout
    check(identified == "JPEG 640 480 sRGB", "identify reads the colour JPEG: %r" % identified)
    colour_read = zbar(colour) if os.path.exists(colour) else set()
    check("QR-Code:RED LABEL" in colour_read, "zbarimg reads the red QR code of the colour image: %s" % colour_read)

    # The configuration file: Python's reader, and velcli loading it into an imager.
    ini = os.path.join(out, "imager.ini")
    parser = configparser.RawConfigParser()
    parser.optionxform = str
    parser.read(ini)
    check(parser.sections() == ["ConfigDescriptor", "CorvidConfig", "HostConfig"], "INI sections %s" % parser.sections())
    device = parser["CorvidConfig"] if parser.has_section("CorvidConfig") else {}
    check(device.get("QrCodeEnabled") == "1" and device.get("MaxNumberOfBarcodes") == "8",
          "the INI holds the settings the demo changed")
    check(device.get("WindowWidth") == "1280", "and the window width set back")
    r = run(velcli, "--simulate", "--json", "config", "load", ini, env=dict(os.environ, VEL_HOST_SETTINGS=os.path.join(work, "none")))
    check(r.returncode == 0 and '"stored": true' in r.stdout, "velcli config load reads the demo's INI: %s" % r.stdout)

    for name in ("velsim-mono.log", "velsim-colour.log"):
        with open(os.path.join(out, name)) as f:
            text = f.read()
            stopped = "velsim: stopped" in text
            check(stopped, "%s: velsim was stopped" % name + ("" if stopped else ": " + text[-300:]))

    # A velcli that fails at the capture: the demo fails and velsim is stopped all the same.
    broken = os.path.join(work, "broken")
    os.makedirs(os.path.join(broken, "bin"))
    os.symlink(os.path.join(build, "bin", "velsim"), os.path.join(broken, "bin", "velsim"))
    with open(os.path.join(broken, "bin", "velcli"), "w") as f:
        f.write('#!/bin/sh\nfor a in "$@"; do [ "$a" = capture ] && exit 5; done\nexec "%s" "$@"\n' % velcli)
    os.chmod(os.path.join(broken, "bin", "velcli"), 0o755)
    failed_out = os.path.join(work, "failed")
    r = run(demo, "--no-build", "--build", broken, "--out", failed_out)
    check(r.returncode != 0, "a failing step fails the demo: %d" % r.returncode)
    with open(os.path.join(failed_out, "velsim-mono.log")) as f:
        text = f.read()
        stopped = "velsim: stopped" in text
        check(stopped, "velsim is stopped when the demo fails" + ("" if stopped else ": " + text[-300:]))
    check(not os.path.exists(os.path.join(failed_out, "velsim-colour.log")), "the demo ends at the failing step")

for failure in failures:
    print("FAILED:", failure)
sys.exit(1 if failures else 0)
