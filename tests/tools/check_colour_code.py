#!/usr/bin/env python3
"""Static check of the colour rows' machine code in one build, read from the
compiled object with objdump: the build's flags reach it.

  - the HSV adjustment goes four pixels at a time in SSE2 (packed integer to
    float conversion in xmm registers, in HsvRows::adjust or the function it calls);
  - the eight-at-a-time adjustment and the 32-pixel interpolation, chosen at run
    time, are there in AVX2 (ymm registers);
  - adjustPixel computes in SSE2 double precision (divsd), not on the x87.

usage: check_colour_code.py OBJDUMP OBJECT   (OBJECT: ColourRows.cpp's object file)
"""
import re
import subprocess
import sys

HEADER = re.compile(r"^[0-9a-f]+ <(.*)>:$")
INSTRUCTION = re.compile(r"^\s+[0-9a-f]+:\s+([a-z][a-z0-9.]*)\s*(.*)$")  # without raw bytes


def functions(objdump, path):
    """Function name -> [(mnemonic, operands)] from the disassembly."""
    out = subprocess.run([objdump, "-d", "-C", "--no-show-raw-insn", path], check=True, capture_output=True,
                         text=True).stdout
    table, current = {}, None
    for line in out.splitlines():
        m = HEADER.match(line)
        if m:
            current = table.setdefault(m.group(1), [])
            continue
        m = INSTRUCTION.match(line)
        if m and current is not None:
            current.append((m.group(1), m.group(2)))
    return table


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    objdump, path = sys.argv[1], sys.argv[2]
    if not re.search(r"ColourRows\.cpp\.o(bj)?$", path):
        sys.exit(f"check_colour_code: {path!r} is not ColourRows.cpp's object")
    table = functions(objdump, path)

    def named(*parts):
        return [ins for name, body in table.items() if any(part in name for part in parts) for ins in body]

    failures = []
    four = named("HsvRows::adjust(", "adjustWordsBy4(")
    if not any(op == "cvtdq2ps" and "%xmm" in args for op, args in four):
        failures.append("HsvRows::adjust: no four-wide SSE2 conversion (cvtdq2ps on xmm)")
    for part in ("adjustWordsBy8(", "interpolateRowBy32("):
        body = named(part)
        if not body:
            failures.append(f"{part[:-1]}: missing")
        elif not any("%ymm" in args for _, args in body):
            failures.append(f"{part[:-1]}: no ymm register")
    pixel = named("vel::adjustPixel(")
    if not pixel:
        failures.append("adjustPixel: missing")
    elif not any(op == "divsd" for op, _ in pixel):
        failures.append("adjustPixel: no SSE2 double division (divsd): x87 arithmetic?")
    for f in failures:
        print("check_colour_code:", f)
    if failures:
        sys.exit(1)
    print(f"check_colour_code: {path}: SSE2 and AVX2 paths present")


if __name__ == "__main__":
    main()
