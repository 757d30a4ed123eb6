#!/usr/bin/env python3
"""make package's SDK archive, built from the win32 and win64 trees by cpack and read
back: one top folder named by the version; the header, the guide, the examples and the
scenes once; below x86/ and x64/ the programs and the DLL of that machine type, the
import libraries, the module definition and the CMake package.

usage: check_sdk_archive.py CPACK_CONFIG VERSION WORK_DIR
"""
import fnmatch
import os
import subprocess
import sys
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from pe_image import PeImage  # noqa: E402

config, version, work = sys.argv[1:]
os.makedirs(work, exist_ok=True)
done = subprocess.run(["cpack", "--config", config, "-B", work], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                      text=True)
archive = os.path.join(work, "ImgEngine-%s-windows.zip" % version)
if done.returncode != 0 or not os.path.isfile(archive):
    sys.exit("FAIL: cpack did not write %s:\n%s" % (archive, done.stdout))

top = "ImgEngine-%s-windows/" % version
with zipfile.ZipFile(archive) as z:
    names = [n[len(top):] for n in z.namelist() if not n.endswith("/")]
    outside = [n for n in z.namelist() if not n.startswith(top)]
    expected = ["include/ImgEngine.h", "include/ImgEngineVersion.h", "docs/guide.html", "docs/images/*.png",
                "examples/CMakeLists.txt", "examples/capture_print.c", "scenes/shelf.scene"]
    machines = {"x86": "i386", "x64": "amd64"}
    for arch in machines:
        expected += ["%s/bin/%s" % (arch, f) for f in ("ImgEngine.dll", "velcli.exe", "velsim.exe", "KeyCaster.exe")]
        expected += ["%s/lib/%s" % (arch, f) for f in ("ImgEngine.dll.a", "ImgEngineByOrdinal.a", "ImgEngine.def",
                                                        "cmake/ImgEngine/ImgEngineConfig.cmake")]
    failures = ["not below %s: %s" % (top, n) for n in outside]
    failures += ["missing: " + p for p in expected if not fnmatch.filter(names, p)]
    for arch, machine in machines.items():
        for program in ("ImgEngine.dll", "velcli.exe", "velsim.exe", "KeyCaster.exe"):
            path = os.path.join(work, "%s-%s" % (arch, program))
            member = top + "%s/bin/%s" % (arch, program)
            if member in z.namelist():
                with open(path, "wb") as f:
                    f.write(z.read(member))
                if PeImage(path).machine != machine:
                    failures.append("%s/bin/%s is built for %s" % (arch, program, PeImage(path).machine))
for failure in failures:
    print("FAIL:", failure)
print("%s: %d files, %s" % (os.path.basename(archive), len(names), "FAILED" if failures else "as expected"))
sys.exit(1 if failures else 0)
