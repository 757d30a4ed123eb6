"""velcli's image commands against a simulated imager: capture --save writes the
images through the library's saves (zbarimg reads the barcodes back, the auto-save
named by the settings store carries the capture date for exiftool), and convert
runs the library's conversions (identify reads the results)."""
import os
import subprocess
import sys
import tempfile

velcli = sys.argv[1]
failures = []


def run(*args, env=None):
    return subprocess.run(args, capture_output=True, env=env, timeout=120)


def check(condition, what):
    if not condition:
        failures.append(what)


with tempfile.TemporaryDirectory() as work:
    store = os.path.join(work, "store")
    with open(store, "w") as f:
        f.write(f"AutoSaved=D:1\nAutoSaveFolder=S:{work}/auto/\n")
    env = dict(os.environ, VEL_HOST_SETTINGS=store)
    out = os.path.join(work, "out")
    r = run(velcli, "--simulate", "capture", "--grey", "--compressed", "--save", out, env=env)
    check(r.returncode == 0, f"capture --save failed: {r.stdout.decode()} {r.stderr.decode()}")
    for name in ("grey.bmp", "grey.jpg"):
        decoded = run("zbarimg", "--quiet", "--raw", os.path.join(out, name)).stdout.decode()
        check("VEL-0042-CODE128" in decoded, f"{name}: zbarimg read {decoded!r}")
    saved = sorted(os.listdir(os.path.join(work, "auto"))) if os.path.isdir(os.path.join(work, "auto")) else []
    check(len(saved) == 1 and saved[0].endswith(".jpg"), f"auto-saved files: {saved}")
    if saved:
        stamp = saved[0][:-4]  # "YYYY-MM-DD HH-MM-SS"
        date = run("exiftool", "-s3", "-DateTimeOriginal", os.path.join(work, "auto", saved[0])).stdout.decode().strip()
        check(date == stamp.replace("-", ":"), f"DateTimeOriginal {date!r} for {stamp!r}")

    jpg = os.path.join(work, "converted.jpg")
    r = run(velcli, "convert", os.path.join(out, "grey.bmp"), jpg)
    check(r.returncode == 0, f"convert to JPEG: {r.stdout.decode()}")
    identified = run("identify", "-format", "%m %w %h", jpg).stdout.decode()
    check(identified == "JPEG 1280 1024", f"identify the JPEG: {identified!r}")
    r = run(velcli, "convert", jpg, "-")
    identified = subprocess.run(["identify", "-format", "%m %w %h %z", "-"], input=r.stdout, capture_output=True).stdout
    check(r.returncode == 0 and identified.decode() == "BMP3 1280 1024 8", f"decompress to stdout: {identified!r}")
    r = run(velcli, "convert", os.path.join(work, "missing.jpg"), os.path.join(work, "x.bmp"))
    check(r.returncode == 6 and not os.path.exists(os.path.join(work, "x.bmp")), "a missing input fails as a file error")

for failure in failures:
    print("FAIL:", failure)
sys.exit(1 if failures else 0)
