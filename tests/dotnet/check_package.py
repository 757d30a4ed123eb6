#!/usr/bin/env python3
"""The .NET package as scripts/pack-dotnet writes it from the built trees (into a folder
of the test's own), read back without running anything:

  - it opens as a zip (Python's zipfile) and every member's CRC holds;
  - its members are exactly the layout: lib/netstandard2.0/ImgEngine.Net.dll and .xml,
    runtimes/win-x86/native/ImgEngine.dll, runtimes/win-x64/native/ImgEngine.dll,
    runtimes/linux-x64/native/libImgEngine.so, the licence file, the manifest at the
    root and the package parts ([Content_Types].xml, _rels/.rels, one core-properties
    part);
  - the content types cover every part; the relationships point at the manifest and at
    the core properties;
  - the manifest: id ImgEngine.Net, the version of ImgEngineVersion.h (this tree's; the
    script reads the win64 tree's), authors, description, licence (its file in the
    package), a netstandard2.0 dependency group, no <files>;
  - every file inside is byte-identical to the built one; the DLLs are of the machine
    type of their folder, the .so an x86-64 ELF library;
  - nuget (Debian's) installs it from a folder feed, and installs these same files.

usage: check_package.py --version-header H --managed DIR --x86 DLL --x64 DLL --linux-so SO
           --work DIR [--nuget NUGET]
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import xml.etree.ElementTree as ET
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(HERE, "..", "tools"))
from pe_image import PeImage  # noqa: E402

NUSPEC = "{http://schemas.microsoft.com/packaging/2013/05/nuspec.xsd}"
RELS = "{http://schemas.openxmlformats.org/package/2006/relationships}"
TYPES = "{http://schemas.openxmlformats.org/package/2006/content-types}"
MANIFEST_REL = "http://schemas.microsoft.com/packaging/2010/07/manifest"
CORE_REL = "http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties"
failures = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)
    return condition


def header_version(path):
    with open(path) as f:
        text = f.read()
    parts = [re.search(r"^#define VEL_VERSION_%s (\d+)\s*$" % p, text, re.M) for p in ("MAJOR", "MINOR", "PATCH")]
    if not all(parts):
        sys.exit("%s names no version" % path)
    return ".".join(m.group(1) for m in parts)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def check_parts(z, names):
    types = ET.fromstring(z.read("[Content_Types].xml"))
    defaults = {d.get("Extension").lower() for d in types.findall(TYPES + "Default")}
    overrides = {o.get("PartName") for o in types.findall(TYPES + "Override")}
    untyped = [n for n in names if n != "[Content_Types].xml" and "/" + n not in overrides
               and n.rsplit(".", 1)[-1].lower() not in defaults]
    check(not untyped, "[Content_Types].xml gives every part a type (untyped: %s)" % untyped)
    rels = {r.get("Type"): r.get("Target") for r in ET.fromstring(z.read("_rels/.rels")).findall(RELS + "Relationship")}
    check(rels.get(MANIFEST_REL) == "/ImgEngine.Net.nuspec", "_rels/.rels: the manifest is %s" % rels.get(MANIFEST_REL))
    core = (rels.get(CORE_REL) or "").lstrip("/")
    check(core in names and core.startswith("package/services/metadata/core-properties/") and core.endswith(".psmdcp"),
          "_rels/.rels: the core properties are %s" % core)
    return core


def check_manifest(z, version):
    package = ET.fromstring(z.read("ImgEngine.Net.nuspec"))
    check(package.tag == NUSPEC + "package", "the manifest's root is %s" % package.tag)
    metadata = package.find(NUSPEC + "metadata")
    if not check(metadata is not None, "the manifest has <metadata>"):
        return None
    field = lambda tag: (metadata.findtext(NUSPEC + tag) or "").strip()  # noqa: E731
    check(field("id") == "ImgEngine.Net", "the manifest's id is %r" % field("id"))
    check(field("version") == version, "the manifest's version %r is ImgEngineVersion.h's %s" % (field("version"), version))
    check(field("authors") and field("description"), "the manifest names authors and a description")
    license = metadata.find(NUSPEC + "license")
    check(license is not None and license.get("type") in ("file", "expression") and (license.text or "").strip(),
          "the manifest names a licence")
    groups = metadata.findall(NUSPEC + "dependencies/" + NUSPEC + "group")
    check([g.get("targetFramework") for g in groups] == ["netstandard2.0"],
          "the dependency groups are %s" % [g.get("targetFramework") for g in groups])
    check(package.find(NUSPEC + "files") is None, "the manifest inside keeps no <files>")
    return license.text.strip() if license is not None and license.get("type") == "file" and license.text else None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for option in ("version-header", "managed", "x86", "x64", "linux-so", "work"):
        parser.add_argument("--" + option, required=True)
    parser.add_argument("--nuget")
    args = parser.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    version = header_version(args.version_header)

    done = subprocess.run([os.path.join(ROOT, "scripts", "pack-dotnet"), "--out", os.path.join(args.work, "feed"),
                           "--managed", args.managed, "--win-x86", args.x86, "--win-x64", args.x64,
                           "--linux-x64", args.linux_so],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=120)
    if not check(done.returncode == 0, "scripts/pack-dotnet: " + done.stdout.strip()[-1500:]):
        sys.exit(1)
    nupkg = done.stdout.strip().splitlines()[-1]
    check(os.path.basename(nupkg) == "ImgEngine.Net.%s.nupkg" % version, "the package is named %s" % nupkg)

    built = {"lib/netstandard2.0/ImgEngine.Net.dll": os.path.join(args.managed, "ImgEngine.Net.dll"),
             "lib/netstandard2.0/ImgEngine.Net.xml": os.path.join(args.managed, "ImgEngine.Net.xml"),
             "runtimes/win-x86/native/ImgEngine.dll": args.x86,
             "runtimes/win-x64/native/ImgEngine.dll": args.x64,
             "runtimes/linux-x64/native/libImgEngine.so": os.path.realpath(args.linux_so)}
    with zipfile.ZipFile(nupkg) as z:
        check(z.testzip() is None, "every member's CRC holds")
        names = z.namelist()
        check(len(names) == len(set(names)), "no member is named twice")
        core = check_parts(z, names)
        license_file = check_manifest(z, version)
        expected = set(built) | {"ImgEngine.Net.nuspec", "[Content_Types].xml", "_rels/.rels", core}
        if license_file:
            expected.add(license_file)
        check(set(names) == expected, "the members are the layout (extra: %s, missing: %s)"
              % (sorted(set(names) - expected), sorted(expected - set(names))))
        for member, path in built.items():
            if member in names:
                check(z.read(member) == read(path), "%s is %s byte for byte" % (member, path))
        for member, machine in (("runtimes/win-x86/native/ImgEngine.dll", "i386"),
                                ("runtimes/win-x64/native/ImgEngine.dll", "amd64")):
            if member in names:
                extracted = os.path.join(args.work, machine + ".dll")
                with open(extracted, "wb") as f:
                    f.write(z.read(member))
                check(PeImage(extracted).machine == machine, "%s is built for %s" % (member, machine))
        so_member = "runtimes/linux-x64/native/libImgEngine.so"
        so = z.read(so_member) if so_member in names else b""
        check(so[:4] == b"\x7fELF" and so[4] == 2 and so[16:18] == b"\x03\x00" and so[18:20] == b"\x3e\x00",
              "libImgEngine.so is an x86-64 ELF shared library")
    print("package: %s, %d bytes" % (nupkg, os.path.getsize(nupkg)))

    if check(args.nuget and os.path.isfile(args.nuget), "nuget is installed (scripts/setup installs it)"):
        out = os.path.join(args.work, "installed")
        done = subprocess.run([args.nuget, "install", "ImgEngine.Net", "-Version", version, "-Source",
                               os.path.dirname(nupkg), "-OutputDirectory", out, "-NonInteractive"],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=120,
                              env=dict(os.environ, HOME=args.work))
        folder = os.path.join(out, "ImgEngine.Net.%s" % version)
        check(done.returncode == 0 and os.path.isdir(folder), "nuget installs the package: " + done.stdout.strip()[-800:])
        for member, path in built.items():
            installed = os.path.join(folder, *member.split("/"))
            check(os.path.isfile(installed) and read(installed) == read(path), "nuget installed %s" % member)
    print("%d failure(s)" % len(failures))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
