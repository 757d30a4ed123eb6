#!/usr/bin/env python3
"""The .NET package's native declarations against the built native libraries, read from
the files without running them:

  - every declaration of the library's P/Invoke methods in the built ImgEngine.Net.dll,
    read by reflection under Mono (DeclaredImports.cs), belongs to the Windows or the
    Linux class;
  - the Windows class: 359 declarations, one per export; each entry point is a name in
    the export directory of the 32-bit and of the 64-bit ImgEngine.dll (objdump -p) with
    the same decoration, and the two directories name exactly these 359; the calling
    convention is the standard Windows one; the bytes its arguments take on the 32-bit
    stack are the "@N" of a decorated name, or else the "@N" of the 32-bit import
    library's symbol for it (nm);
  - the Linux class: each entry point is a function of libImgEngine.so (objdump -T), 359
    of them, the same C name as its Windows twin (the decoration dropped) with the same
    parameter types.

usage: check_declarations.py --assembly ImgEngine.Net.dll --x86 DLL --x64 DLL --import-lib-x86 LIB
           --linux-so SO --mono MONO --mcs MCS --objdump OBJDUMP --nm NM --work DIR
           [--windows-class T] [--linux-class T] [--library NAME]
"""
import argparse
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
EXPORTS = 359
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL " + what, flush=True)
    return condition


def run(command, **kwargs):
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=120, **kwargs)
    if done.returncode != 0:
        sys.exit("%s failed (%d): %s" % (" ".join(command), done.returncode, done.stderr[-2000:]))
    return done.stdout


def pe_export_names(objdump, dll):
    """The names of a PE image's export directory: the lines of objdump -p's
    "[Ordinal/Name Pointer] Table" up to the blank line that ends it."""
    lines = run([objdump, "-p", dll]).splitlines()
    try:
        start = lines.index("[Ordinal/Name Pointer] Table") + 1
    except ValueError:
        sys.exit("%s: objdump -p shows no export name table" % dll)
    names = []
    for line in lines[start:]:
        match = re.fullmatch(r"\s*\[\s*\d+\]\s+(\S+)", line)
        if not match:
            break
        names.append(match.group(1))
    return names


def import_lib_bytes(nm, lib):
    """C name -> argument bytes, from the 32-bit import library's stdcall code symbols
    (_Name@N)."""
    table = {}
    for line in run([nm, lib]).splitlines():
        match = re.fullmatch(r"[0-9a-f]+ T _([A-Za-z_][A-Za-z0-9_]*)@(\d+)", line.strip())
        if match:
            table[match.group(1)] = int(match.group(2))
    return table


def elf_functions(objdump, so):
    """The defined functions of a shared library's dynamic symbol table."""
    names = set()
    for line in run([objdump, "-T", so]).splitlines():
        fields = line.split()
        if len(fields) >= 7 and fields[2] == "DF" and fields[3] != "*UND*":
            names.add(fields[-1])
    return names


def read_declarations(args):
    """Each P/Invoke declaration of the assembly: (type, method, entry, convention,
    library, bytes, parameter types)."""
    os.makedirs(args.work, exist_ok=True)
    reader = os.path.join(args.work, "DeclaredImports.exe")
    run([args.mcs, "-nologo", "-out:" + reader, os.path.join(HERE, "DeclaredImports.cs")])
    rows = []
    for line in run([args.mono, reader, args.assembly]).splitlines():
        fields = line.split("\t")
        if not check(len(fields) == 7 and fields[5].isdigit(), "DeclaredImports printed %r" % line):
            continue
        rows.append(dict(type=fields[0], method=fields[1], entry=fields[2], convention=fields[3],
                         library=fields[4], bytes=int(fields[5]), parameters=fields[6]))
    return rows


def c_name(entry):
    """The C name of an exported name: _Name@N -> Name."""
    match = re.fullmatch(r"_([A-Za-z_][A-Za-z0-9_]*)@(\d+)", entry)
    return match.group(1) if match else entry


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for option in ("assembly", "x86", "x64", "import-lib-x86", "linux-so", "mono", "mcs", "objdump", "nm", "work"):
        parser.add_argument("--" + option, required=True)
    parser.add_argument("--windows-class", default="ImgEngine.Native.WindowsExports")
    parser.add_argument("--linux-class", default="ImgEngine.Native.LinuxExports")
    parser.add_argument("--library", default="ImgEngine")
    args = parser.parse_args()
    for tool in ("mono", "mcs", "objdump", "nm"):
        path = getattr(args, tool)
        if not os.path.isfile(path):
            sys.exit("%s not found (%s): scripts/setup installs it" % (tool, path))
    for built in ("assembly", "x86", "x64", "import_lib_x86", "linux_so"):
        if not os.path.isfile(getattr(args, built)):
            sys.exit("%s is missing: build the native, win32 and win64 presets first" % getattr(args, built))

    rows = [r for r in read_declarations(args) if r["library"] == args.library]
    windows = [r for r in rows if r["type"] == args.windows_class]
    linux = [r for r in rows if r["type"] == args.linux_class]
    strays = [r["type"] + "." + r["method"] for r in rows if r not in windows and r not in linux]
    check(not strays, "declarations of %s outside the two classes: %s" % (args.library, strays[:10]))

    x86 = pe_export_names(args.objdump, args.x86)
    x64 = pe_export_names(args.objdump, args.x64)
    check(len(x86) == EXPORTS and len(set(x86)) == EXPORTS, "the 32-bit DLL exports %d names" % len(x86))
    check(sorted(x64) == sorted(x86), "the 64-bit DLL's export names differ from the 32-bit DLL's: %s"
          % sorted(set(x64) ^ set(x86))[:10])
    entries = [r["entry"] for r in windows]
    check(len(windows) == EXPORTS and len(set(entries)) == EXPORTS,
          "%s: %d declarations of %d entry points, %d exports" % (args.windows_class, len(windows), len(set(entries)),
                                                                  EXPORTS))
    for dll, names in (("32-bit", set(x86)), ("64-bit", set(x64))):
        missing = sorted(set(entries) - names)
        check(not missing, "entry points not in the %s DLL's export directory: %s" % (dll, missing[:10]))
        undeclared = sorted(names - set(entries))
        check(not undeclared, "exports of the %s DLL without a declaration: %s" % (dll, undeclared[:10]))

    stack = import_lib_bytes(args.nm, args.import_lib_x86)
    check(len(stack) == EXPORTS, "the 32-bit import library has %d stdcall symbols" % len(stack))
    for r in windows:
        where = "%s.%s (%s)" % (args.windows_class, r["method"], r["entry"])
        check(r["convention"] in ("StdCall", "Winapi"), "%s: calling convention %s" % (where, r["convention"]))
        decorated = re.fullmatch(r"_[A-Za-z_][A-Za-z0-9_]*@(\d+)", r["entry"])
        wanted = int(decorated.group(1)) if decorated else stack.get(r["entry"])
        check(r["bytes"] == wanted, "%s: its arguments take %d bytes on the 32-bit stack, the DLL's take %s"
              % (where, r["bytes"], wanted))

    functions = elf_functions(args.objdump, args.linux_so)
    linux_entries = {r["entry"] for r in linux}
    check(len(linux) == EXPORTS and len(linux_entries) == EXPORTS,
          "%s: %d declarations of %d entry points" % (args.linux_class, len(linux), len(linux_entries)))
    missing = sorted(linux_entries - functions)
    check(not missing, "entry points that libImgEngine.so does not define: %s" % missing[:10])
    check(len(functions) == EXPORTS, "libImgEngine.so defines %d functions" % len(functions))
    check(all(r["convention"] in ("Cdecl", "Winapi") for r in linux),
          "%s: calling conventions %s" % (args.linux_class, sorted({r["convention"] for r in linux})))
    twins = {r["method"]: r for r in linux}
    for r in windows:
        twin = twins.get(r["method"])
        if check(twin is not None, "%s has no Linux twin" % r["method"]):
            check(twin["entry"] == c_name(r["entry"]) and twin["parameters"] == r["parameters"],
                  "%s: Windows %s(%s), Linux %s(%s)" % (r["method"], r["entry"], r["parameters"], twin["entry"],
                                                        twin["parameters"]))

    print("%d Windows and %d Linux declarations checked against both DLLs' %d exports and libImgEngine.so"
          % (len(windows), len(linux), len(x86)))
    print("%d failure(s)" % len(failures))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
