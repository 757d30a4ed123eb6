#!/usr/bin/env python3
"""The example programs of examples/ built against an installed library and run against
velsim processes through the port map (COM7 -> VEL_SERIAL_PORT_7), as an application
developer would use them; the Windows programs run under Wine and reach the native velsim.

  - capture_print, built with find_package(ImgEngine) (and on Linux also with the flags of
    pkg-config), prints every barcode of the shelf scene: symbology, text, and corners
    around the place where the scene put the barcode (its QR code only because the program
    switches QR Code on); an unreachable port map entry makes it fail with connect -2;
  - trigger_watch sees COUNT trigger captures of velsim --pull-every, each with the
    barcodes of its scene, and without pulls gives up after its SECONDS with exit status 3.

usage: examples_test.py --build DIR --work DIR --examples DIR --velsim VELSIM --scenes DIR
           --platform linux|windows --libdir D [--cmake CMAKE] [--generator G] [--c-compiler CC]
           [--c-flags F] [--link-flags F] [--toolchain FILE] [--emulator WINE_RUN]
"""
import argparse
import os
import re
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "install"), os.path.join(HERE, "..", "transport")]
from install_and_consume import add_consumer_options, build_cmake_project, pkg_config_flags, run  # noqa: E402
from velsim_process import Velsim  # noqa: E402

# The library's names of the scene files' symbologies (EAN-13 and UPC-A are both "UPC").
LIBRARY_NAMES = {"aztec": "Aztec Code", "code128": "Code 128", "code39": "Code 39", "datamatrix": "Data Matrix",
                 "itf": "Interleaved 2-of-5", "pdf417": "PDF417", "qr": "QR Code", "ean13": "UPC", "upca": "UPC"}
# A scene for the trigger captures: symbologies that the factory defaults decode (the
# simulated imager's reader finds a Data Matrix symbol near the middle of the picture).
TRIGGER_SCENE = """# Two labels on a small sensor picture.
size 640 480
background 160 165 150 texture 20 noise 4 seed 11
barcode code128 at 320 70 module 2 height 70 text TRIGGER-128
barcode datamatrix at 320 260 module 8 text trigger dm 42
"""
# Linear codes are reported along their scan line, anywhere within their height.
CENTRE_TOLERANCE = 12

failures = []


def check(condition, message):
    print(("ok   " if condition else "FAIL ") + message, flush=True)
    if not condition:
        failures.append(message)


def scene_barcodes(path):
    """The barcodes a scene file places: dicts of symbology, text, centre and height of linear codes."""
    barcodes = []
    with open(path) as f:
        for line in f:
            match = re.match(r"barcode (\w+) at (\d+) (\d+)(.*?) text (.*)$", line.rstrip("\n"))
            if match:
                height = re.search(r"\bheight (\d+)", match.group(4))
                barcodes.append({"name": LIBRARY_NAMES[match.group(1)], "text": match.group(5),
                                 "x": int(match.group(2)), "y": int(match.group(3)),
                                 "half_height": int(height.group(1)) // 2 if height else 0})
    return barcodes


def printed_barcodes(lines):
    """The barcodes of one "barcodes: N" block: (count announced, [(name, text, centre x, centre y)])."""
    count = int(lines[0].split(":")[1])
    barcodes = []
    for head, corners in zip(lines[1::2], lines[2::2]):
        match = re.match(r'barcode \d+: (.+?) "(.*)"$', head)
        points = [(int(x), int(y)) for x, y in re.findall(r"\((-?\d+),(-?\d+)\)", corners)]
        if not match or len(points) != 4 or "corners:" not in corners:
            return count, None
        barcodes.append((match.group(1), match.group(2), sum(p[0] for p in points) / 4, sum(p[1] for p in points) / 4))
    return count, barcodes


def barcodes_match(what, lines, expected):
    """Checks one block of printed barcodes against the scene's: names, texts and where they lie."""
    count, barcodes = printed_barcodes(lines)
    check(barcodes is not None and count == len(barcodes) == len(expected),
          f"{what}: {count} barcodes printed in full, the scene holds {len(expected)}")
    if not barcodes:
        return
    for e in expected:
        found = [b for b in barcodes if b[0] == e["name"] and b[1] == e["text"]]
        check(len(found) == 1, f"{what}: {e['name']} \"{e['text']}\" printed once")
        if found:
            _, _, x, y = found[0]
            check(abs(x - e["x"]) <= CENTRE_TOLERANCE and abs(y - e["y"]) <= e["half_height"] + CENTRE_TOLERANCE,
                  f"{what}: corners of \"{e['text']}\" around ({x:.0f},{y:.0f}), placed at ({e['x']},{e['y']})")


def blocks(lines, start):
    """The lines of each "barcodes: N" block that follows a line starting with start."""
    found = []
    for i, line in enumerate(lines):
        if line.startswith(start) and i + 1 < len(lines) and lines[i + 1].startswith("barcodes:"):
            n = int(lines[i + 1].split(":")[1])
            found.append(lines[i + 1:i + 2 + 2 * n])
    return found


def run_example(args, program, arguments, url):
    """Runs an example with COM7 mapped to url; answers its exit status and output lines."""
    command = ([args.emulator] if args.emulator else []) + [program, *map(str, arguments)]
    env = {k: v for k, v in os.environ.items() if not k.startswith("VEL_SERIAL_PORT_")}
    env.update(VEL_SERIAL_PORT_7=url, VEL_BUILD_DIR=args.build)
    if args.platform == "linux":
        env["LD_LIBRARY_PATH"] = os.path.join(args.work, "prefix", args.libdir)
    try:
        result = subprocess.run(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True, timeout=240, cwd=os.path.dirname(program))
        code, out, err = result.returncode, result.stdout, result.stderr
    except subprocess.TimeoutExpired as timeout:
        code, out, err = "none: killed after 240 s", timeout.stdout or "", timeout.stderr or ""
        out, err = [t.decode(errors="replace") if isinstance(t, bytes) else t for t in (out, err)]
    print(f"---- {os.path.basename(program)} {' '.join(map(str, arguments))}: exit {code}\n{out}{err}", end="",
          flush=True)
    return code, out.replace("\r", "").splitlines(), err.replace("\r", "")


def build_examples(args, prefix):
    """The examples built with CMake, and on Linux capture_print also with pkg-config's flags:
    a dict of program name to path."""
    build = os.path.join(args.work, "examples")
    build_cmake_project(args, args.examples, build, prefix)
    suffix = ".exe" if args.platform == "windows" else ""
    programs = {name: os.path.join(build, name + suffix) for name in ("capture_print", "trigger_watch")}
    if args.platform == "linux":
        programs["capture_print (pkg-config)"] = os.path.join(args.work, "capture_print")
        run([args.c_compiler, *args.c_flags.split(), "-std=c99", os.path.join(args.examples, "capture_print.c"),
             os.path.join(args.examples, "common.c"), *pkg_config_flags(args, prefix), *args.link_flags.split(),
             "-o", programs["capture_print (pkg-config)"]])
    return programs


def test_capture(args, programs, timeout_ms):
    shelf = os.path.join(args.scenes, "shelf.scene")
    sim = Velsim(args.velsim, "--scene", shelf)
    try:
        for name in [n for n in programs if n.startswith("capture_print")]:
            code, lines, _ = run_example(args, programs[name], [7, timeout_ms], sim.url)
            check(code == 0 and any(l.startswith("connected to port 7: firmware \"SIM 1.00\"") for l in lines),
                  f"{name} connected through the port map and ended with 0 (exit {code})")
            found = blocks(lines, "connected to port 7")
            check(len(found) == 1, f"{name} printed one block of barcodes")
            if found:
                barcodes_match(name, found[0], scene_barcodes(shelf))
    finally:
        sim.stop()
    code, lines, errors = run_example(args, programs["capture_print"], [7, 3000], "rfc2217://127.0.0.1:1")
    check(code == 1 and "connect to port 7: -2" in errors and not lines,
          f"capture_print without an imager behind the port: exit {code}, {errors.strip()!r}")


def test_trigger(args, programs, timeout_ms):
    scene = os.path.join(args.work, "trigger.scene")
    with open(scene, "w") as f:
        f.write(TRIGGER_SCENE)
    sim = Velsim(args.velsim, "--scene", scene, "--pull-every", "1000")
    try:
        code, lines, _ = run_example(args, programs["trigger_watch"], [7, 2, 180, timeout_ms], sim.url)
    finally:
        log = sim.stop()
    check(code == 0 and "trigger captures seen: 2" in lines, f"trigger_watch saw 2 trigger captures (exit {code})")
    captures = blocks(lines, "trigger capture ")
    check([l for l in lines if re.match(r"trigger capture \d+:$", l)] == ["trigger capture 1:", "trigger capture 2:"]
          and len(captures) == 2, "trigger_watch printed captures 1 and 2, each with its barcodes")
    for number, block in enumerate(captures, 1):
        barcodes_match(f"trigger capture {number}", block, scene_barcodes(scene))
    pulls = log.count("trigger pulled")
    check(pulls >= 2, f"velsim pulled the trigger {pulls} times")

    sim = Velsim(args.velsim, "--scene", scene)
    try:
        code, lines, _ = run_example(args, programs["trigger_watch"], [7, 1, 2, timeout_ms], sim.url)
    finally:
        log = sim.stop()
    if code != 3:
        print("velsim said:\n" + log)
    check(code == 3 and "trigger captures seen: 0" in lines and not blocks(lines, "trigger capture "),
          f"trigger_watch without trigger pulls gives up after its time with exit 3 (exit {code})")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    for option in ("--build", "--work", "--examples", "--velsim", "--scenes", "--libdir"):
        parser.add_argument(option, required=True)
    add_consumer_options(parser)
    args = parser.parse_args()
    # The examples compile without a warning.
    args.c_flags = f"{args.c_flags} -Wall -Wextra -pedantic -Werror"
    if not os.access(args.velsim, os.X_OK):
        print(f"the native velsim is not built ({args.velsim}): build the native preset first")
        return 1

    shutil.rmtree(args.work, ignore_errors=True)
    prefix = os.path.join(args.work, "prefix")
    run([args.cmake, "--install", args.build, "--prefix", prefix])
    programs = build_examples(args, prefix)
    # The simulated imager photographs and decodes its scene on this machine's CPU, slowly
    # under a sanitizer: a long channel timeout.
    timeout_ms = 30000
    test_capture(args, programs, timeout_ms)
    test_trigger(args, programs, timeout_ms)
    print(f"{len(failures)} checks failed" if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
