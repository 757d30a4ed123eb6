#!/usr/bin/python3
"""The .NET package's costs under Mono against the library's own: a settings getter
through ImgEngine.Net (Imager.Settings, and the bare NativeMethods) against the same
getter called from C (the median over 1,000,000 calls, in batches of 1,000), and a host
capture (decode and grey image, velsim's shelf scene) through the package against
velcli's report of the same capture. Three runs of each, their medians.

  bench/dotnet_bench.py [--build DIR] [--captures N] [--json FILE]
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "transport"))
from velsim_process import Velsim  # noqa: E402

RUNS = 3
LIMIT_S = 300


def run_json(command, env):
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env, timeout=LIMIT_S)
    if done.returncode != 0:
        raise RuntimeError("%s failed (%d): %s" % (" ".join(command), done.returncode, done.stderr[-1000:]))
    return json.loads(done.stdout)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(HERE, "..", "build", "native-release"))
    parser.add_argument("--captures", type=int, default=10)
    parser.add_argument("--json")
    args = parser.parse_args()
    bin_dir = os.path.join(args.build, "bin")
    bench = os.path.join(args.build, "dotnet", "ImgEngine.Net.Bench.exe")
    for path in (bench, os.path.join(bin_dir, "getter_call_timing"), os.path.join(bin_dir, "velsim")):
        if not os.path.exists(path):
            sys.exit("dotnet_bench: %s is not built" % path)
    with tempfile.TemporaryDirectory() as work:
        settings = os.path.join(work, "host-settings")
        open(settings, "w").close()
        env = dict(os.environ, LD_LIBRARY_PATH=bin_dir, VEL_HOST_SETTINGS=settings)
        figures = {}
        figures["c_getter_ns"] = statistics.median(
            run_json([os.path.join(bin_dir, "getter_call_timing")], env)["median_ns"] for _ in range(RUNS))
        getters = [run_json(["mono", bench, "getter"], env) for _ in range(RUNS)]
        figures["package_getter_ns"] = statistics.median(g["package_ns"] for g in getters)
        figures["native_methods_getter_ns"] = statistics.median(g["native_methods_ns"] for g in getters)

        sim = Velsim(os.path.join(bin_dir, "velsim"), "--scene", os.path.join(HERE, "..", "sim", "scenes", "shelf.scene"))
        try:
            env["VEL_SERIAL_PORT_7"] = sim.url
            figures["package_capture_ms"] = statistics.median(
                run_json(["mono", bench, "capture", str(args.captures)], env)["capture_ms"] for _ in range(RUNS))
            velcli = []
            for _ in range(args.captures * RUNS):
                report = run_json([os.path.join(bin_dir, "velcli"), "--json", "--timeout", "30000", "--port", "7",
                                   "capture", "--decode", "--grey"], env)
                velcli.append(report["captures"][0]["microseconds"] / 1000.0)
            figures["velcli_capture_ms"] = statistics.median(velcli)
        finally:
            sim.stop()
    if args.json:
        with open(args.json, "w") as f:
            json.dump(figures, f, indent=1)
    rows = [
        ("getter through Imager.Settings, ns/call (Mono)", figures["package_getter_ns"], figures["c_getter_ns"]),
        ("getter through NativeMethods, ns/call (Mono)", figures["native_methods_getter_ns"], figures["c_getter_ns"]),
        ("capture decode + grey through the package, ms", figures["package_capture_ms"], figures["velcli_capture_ms"]),
    ]
    print("%-50s %10s %10s %8s" % ("figure", "package", "reference", "ratio"))
    for label, value, reference in rows:
        print("%-50s %10.2f %10.2f %7.2fx" % (label, value, reference, value / reference if reference else 0))
    print("references: the getter called from C through libImgEngine.so; velcli's report of the same capture")
    return 0


if __name__ == "__main__":
    sys.exit(main())
