#!/usr/bin/env python3
"""The user guide stays true to the public header:

  - every C fragment of the guide (a ```c block; ```c linux and ```c windows blocks only on
    that platform) compiles as a translation unit of its own after the header, with this
    build's C compiler, -std=c99 -pedantic and warnings as errors;
  - every library name the guide mentions (Vel..., VEL_..., WM_... and
    SetCommunicationError) is declared or defined by the header.

usage: guide_fragments.py --guide FILE --header FILE --compiler CC --platform linux|windows
           [--include DIR ...]
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

# What the fragments take for granted: the C library, the header, and on Linux the
# thread id call. pause_10_ms stands for the platform's sleep, which the guide names.
PRELUDE = {
    "linux": "#define _GNU_SOURCE\n#include <sys/syscall.h>\n#include <unistd.h>\n",
    "windows": "",
}
COMMON_PRELUDE = ("#include <stdio.h>\n#include <stdlib.h>\n#include <string.h>\n"
                  "#include \"ImgEngine.h\"\nvoid pause_10_ms(void);\n")


def fragments(guide, platform):
    """(line number, code) of each C block of the guide meant for this platform."""
    found = []
    block, start = None, 0
    with open(guide) as f:
        for number, line in enumerate(f, 1):
            fence = re.match(r"^```(.*)$", line.rstrip("\n"))
            if fence and block is None:
                words = fence.group(1).split()
                wanted = words[:1] == ["c"] and (len(words) == 1 or words[1] == platform)
                block, start = ([] if wanted else False), number  # False: skipped
            elif fence:
                if block is not False:
                    found.append((start, "".join(block)))
                block = None
            elif isinstance(block, list):
                block.append(line)
    return found


def compile_fragment(args, start, code):
    with tempfile.NamedTemporaryFile("w", suffix=".c", delete=False) as f:
        f.write(PRELUDE[args.platform] + COMMON_PRELUDE + f'#line 1 "guide.md fragment at line {start}"\n' + code)
        path = f.name
    try:
        command = [args.compiler, "-std=c99", "-pedantic", "-Wall", "-Wextra", "-Werror", "-fsyntax-only",
                   *[f"-I{d}" for d in args.include], path]
        result = subprocess.run(command, capture_output=True, text=True)
        return result.returncode == 0, result.stdout + result.stderr
    finally:
        os.unlink(path)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--guide", required=True)
    parser.add_argument("--header", required=True)
    parser.add_argument("--compiler", required=True)
    parser.add_argument("--platform", choices=("linux", "windows"), required=True)
    parser.add_argument("--include", action="append", default=[])
    args = parser.parse_args()

    failures = 0
    found = fragments(args.guide, args.platform)
    for start, code in found:
        ok, output = compile_fragment(args, start, code)
        print(("ok   " if ok else "FAIL ") + f"the fragment at line {start} compiles" + ("" if ok else "\n" + output))
        failures += not ok
    if not found:
        print("FAIL the guide holds no C fragment")
        failures += 1

    with open(args.header) as f:
        header = f.read()
    declared = set(re.findall(r"\b(Vel\w+|SetCommunicationError)\s*\(", header))
    declared |= set(re.findall(r"#define\s+((?:VEL|WM)_\w+)", header))
    with open(args.guide) as f:
        mentioned = set(re.findall(r"\b(Vel[A-Z]\w*|VEL_[A-Z_]+|WM_[A-Z_]+|SetCommunicationError)\b", f.read()))
    # Types of the header and names the guide uses for things other than functions.
    unknown = sorted(n for n in mentioned - declared if n not in ("VelWindow", "VelDC", "VelBitmap", "VEL_API",
                                                                  "VEL_SERIAL_PORT_", "VEL_HOST_SETTINGS", "VEL_MQTT_PASSWORD",
                                                                  "VEL_TRACE", "VEL_TRACE_MAX_MB"))
    print(("ok   " if not unknown else "FAIL ") + f"{len(mentioned)} names of the guide are the header's"
          + (": not in the header: " + ", ".join(unknown) if unknown else ""))
    failures += bool(unknown)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
