#!/usr/bin/env python3
"""The dynamic symbols that libImgEngine.so defines must be exactly the C names of the
checked-in export list: the exported name without a leading underscore and "@bytes"
suffix ("_VelIsColorSensor@0" -> "VelIsColorSensor"). Read with nm, not with our code.

usage: check_so_exports.py LIBRARY EXPORT_LIST
"""
import re
import subprocess
import sys


def c_name(exported):
    m = re.fullmatch(r"_(\w+)@\d+", exported)
    return m.group(1) if m else exported


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    library, list_path = sys.argv[1:]
    expected = set()
    with open(list_path) as f:
        for line in f:
            if line.strip() and not line.startswith("#"):
                expected.add(c_name(line.split()[1]))
    out = subprocess.run(["nm", "-D", "--defined-only", library], capture_output=True, text=True, check=True).stdout
    # Code symbols only: the C library's version nodes and the like are not exports of ours.
    defined = {parts[2] for parts in (line.split() for line in out.splitlines())
               if len(parts) == 3 and parts[1] in "TtWiu"}
    missing, extra = sorted(expected - defined), sorted(defined - expected)
    for name in missing:
        print("missing:", name)
    for name in extra:
        print("exported but not in the list:", name)
    print(f"{library}: {len(expected)} names expected, {len(defined)} code symbols exported")
    sys.exit(1 if missing or extra or len(expected) != 359 else 0)


if __name__ == "__main__":
    main()
