#!/usr/bin/env python3
"""Installs the package as a user would, in a scratch folder, then captures against velsim.

  --guide GUIDE   runs the install commands of the guide's Python section verbatim, in a
                  scratch folder where ./python is this package, then the example
  --wheel         builds a wheel carrying LIBRARY (python -m build), installs it into a
                  fresh virtual environment and captures from outside the source tree,
                  with IMGENGINE_LIBRARY unset: the wheel's own library must be found

Whatever python3 comes first on PATH is left there, as a user would have it.
"""
import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
PACKAGE = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(PACKAGE, "..", "tests", "transport"))
import velsim_process  # noqa: E402
SCENE = os.path.join(PACKAGE, "..", "sim", "scenes", "shelf.scene")
SYSTEM_PYTHON = "/usr/bin/python3"


def guide_install_commands(guide):
    """The first code block after the Python section's "### Installing" heading."""
    text = open(guide, encoding="utf-8").read()
    section = text[text.index("\n## Python\n"):]
    section = section[section.index("\n### Installing\n"):]
    block = re.search(r"\n```\n(.*?)\n```\n", section, re.S)
    if not block:
        raise SystemExit("no install commands in the guide's Python section")
    return [line for line in block.group(1).splitlines() if line.strip()]


def run(command, cwd, env, shell=False):
    print("$ " + (command if shell else " ".join(command)), flush=True)
    done = subprocess.run(command, cwd=cwd, env=env, shell=shell, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True, timeout=600)
    print(done.stdout, end="")
    if done.returncode != 0:
        raise SystemExit("failed with exit code %d: %s" % (done.returncode, command))
    return done.stdout


def capture(python, cwd, env, velsim):
    """The package's example against velsim; its barcodes must be the scene's."""
    sim = velsim_process.Velsim(velsim, "--scene", SCENE)
    try:
        out = run([python, os.path.join(PACKAGE, "examples", "capture.py"), "--url", sim.url,
                   "--out", "shelf.bmp"], cwd, env)
    finally:
        sim.stop()
    if "saved shelf.bmp" not in out or not os.path.getsize(os.path.join(cwd, "shelf.bmp")):
        raise SystemExit("the example saved no image")
    if not re.search(r"'[^']+' at \(\(", out):
        raise SystemExit("the example printed no barcode")


def check_guide(args, scratch, env):
    os.symlink(PACKAGE, os.path.join(scratch, "python"))
    for line in guide_install_commands(args.guide):
        run(line, scratch, env, shell=True)
    env = dict(env, IMGENGINE_LIBRARY=args.library)
    capture(os.path.join(scratch, ".venv", "bin", "python"), scratch, env, args.velsim)


def check_wheel(args, scratch, env):
    dist = os.path.join(scratch, "dist")
    # A copy of the package: the build leaves nothing in the source tree.
    source = os.path.join(scratch, "source")
    shutil.copytree(PACKAGE, source, ignore=shutil.ignore_patterns("__pycache__", "tests", ".venv"))
    run([SYSTEM_PYTHON, "-m", "build", "--no-isolation", "--wheel", "--outdir", dist,
         "-C", "library=" + args.library, source], scratch, env)
    wheels = glob.glob(os.path.join(dist, "*.whl"))
    if len(wheels) != 1 or "none-any" in wheels[0]:
        raise SystemExit("expected one platform wheel, found %s" % wheels)
    run([SYSTEM_PYTHON, "-m", "venv", "--system-site-packages", "venv"], scratch, env)
    python = os.path.join(scratch, "venv", "bin", "python")
    run([python, "-m", "pip", "install", "--no-index", wheels[0]], scratch, env)
    shutil.rmtree(source)
    where = run([python, "-c", "import importlib; print(importlib.import_module('imgengine.library').load()[1])"], scratch, env).strip()
    if not where.startswith(os.path.join(scratch, "venv")):
        raise SystemExit("the installed package loaded %s, not the wheel's library" % where)
    capture(python, scratch, env, args.velsim)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--guide")
    parser.add_argument("--wheel", action="store_true")
    parser.add_argument("--library", required=True)
    parser.add_argument("--velsim", required=True)
    args = parser.parse_args()
    env = {k: v for k, v in os.environ.items() if k not in ("IMGENGINE_LIBRARY", "PYTHONPATH")}
    scratch = tempfile.mkdtemp(prefix="imgengine-install-")
    # The library's host settings of this run only.
    env["VEL_HOST_SETTINGS"] = os.path.join(scratch, "host-settings")
    open(env["VEL_HOST_SETTINGS"], "w").close()
    try:
        if args.wheel:
            check_wheel(args, scratch, env)
        else:
            check_guide(args, scratch, env)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print("ok")


if __name__ == "__main__":
    main()
