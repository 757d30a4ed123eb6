#!/usr/bin/env python3
"""Static check of the Windows binaries of one build, read from the files without
running them, so that it also holds on a machine that cannot run them:

  - ImgEngine.dll: the machine type; its export directory is the checked-in export
    list exactly (names at their ordinals, no ordinal without code); it imports
    system DLLs only; its version resource names the project version as file and
    product version (fixed and text forms alike).
  - KeyCaster.exe: imports ImgEngine.dll ordinals 2, 226 and 240 and ssiDLL.dll
    ordinals only; otherwise system DLLs; carries its dialogs, icon and strings, and
    a version resource with the project version as product version.
  - velcli.exe and velsim.exe: the machine type; they import system DLLs only (the
    library and the simulated imager are linked in).
  - the stand-ins: ssiDLL.dll exports the ordinals KeyCaster binds,
    VelmoraPnpLibrary.dll its entry by name.

usage: check_windows_binaries.py BIN_DIR EXPORT_LIST MACHINE(i386|amd64) VERSION(major.minor.patch)
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pe_image import PeImage, RT_DIALOG, RT_GROUP_ICON, RT_STRING  # noqa: E402

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "msvcrt.dll", "shell32.dll",
               "ole32.dll", "oleaut32.dll", "ws2_32.dll", "mswsock.dll", "comctl32.dll", "comdlg32.dll", "setupapi.dll",
               "hid.dll", "version.dll"}
SSI_ORDINALS = {2, 3, 7, 9, 15, 21, 27}

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def read_export_list(path):
    table = {}
    with open(path) as f:
        for line in f:
            line = line.strip()
            if line and not line.startswith("#"):
                ordinal, name = line.split()
                table[int(ordinal)] = name
    return table


def system_only(image, file, allowed_extra=()):
    for dll in image.imports():
        check(dll.lower() in SYSTEM_DLLS or dll in allowed_extra, f"{file} imports {dll}")


def check_version(image, file, file_version, product_version):
    """The image's version resource: the fixed and the text product version are
    product_version, and so are the file versions when file_version is given; the text
    names the file."""
    info = image.version_info()
    if not check(info is not None, f"{file} has no version resource"):
        return
    strings = info["strings"]
    check(strings.get("OriginalFilename") == file, f"{file}: version resource names {strings.get('OriginalFilename')!r}")
    expected = {"product": product_version, "file": file_version}
    for kind, text_key in (("product", "ProductVersion"), ("file", "FileVersion")):
        wanted = expected[kind]
        if wanted is None:
            continue
        words = tuple(int(part) for part in wanted.split(".")) + (0,)
        check(info[kind] == words, f"{file}: fixed {kind} version {info[kind]}, expected {words}")
        check(strings.get(text_key) == wanted, f"{file}: {text_key} {strings.get(text_key)!r}, expected {wanted!r}")


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    bin_dir, list_path, machine, version = sys.argv[1:]
    expected = read_export_list(list_path)
    check(sorted(expected) == list(range(1, 360)), f"{list_path}: ordinals are not 1..359")

    images = {}
    for file in ("ImgEngine.dll", "KeyCaster.exe", "velcli.exe", "velsim.exe", "ssiDLL.dll", "VelmoraPnpLibrary.dll"):
        path = os.path.join(bin_dir, file)
        if check(os.path.isfile(path), f"{file} is missing"):
            images[file] = PeImage(path)
            check(images[file].machine == machine, f"{file} is built for {images[file].machine}, not {machine}")

    if "ImgEngine.dll" in images:
        dll = images["ImgEngine.dll"]
        exports, addresses = dll.exports()
        empty = [o for o, a in addresses.items() if a == 0]
        for ordinal in sorted(set(expected) | set(exports)):
            check(exports.get(ordinal) == expected.get(ordinal),
                  f"ImgEngine.dll ordinal {ordinal}: exported {exports.get(ordinal)!r}, expected {expected.get(ordinal)!r}")
        check(not empty, f"ImgEngine.dll ordinals without code: {empty}")
        system_only(dll, "ImgEngine.dll")
        check_version(dll, "ImgEngine.dll", version, version)

    if "KeyCaster.exe" in images:
        exe = images["KeyCaster.exe"]
        imports = exe.imports()
        check(imports.get("ImgEngine.dll") is not None and sorted(imports["ImgEngine.dll"]) == [2, 226, 240],
              f"KeyCaster.exe binds ImgEngine.dll as {imports.get('ImgEngine.dll')}, expected ordinals 2, 226, 240")
        ssi = imports.get("ssiDLL.dll", [])
        check(ssi and all(isinstance(o, int) for o in ssi) and set(ssi) <= SSI_ORDINALS,
              f"KeyCaster.exe binds ssiDLL.dll as {ssi}, expected ordinals of {sorted(SSI_ORDINALS)}")
        system_only(exe, "KeyCaster.exe", ("ImgEngine.dll", "ssiDLL.dll"))
        resources = exe.resources()
        check({100, 102} <= set(resources.get(RT_DIALOG, [])), f"KeyCaster.exe dialogs: {resources.get(RT_DIALOG)}")
        check(128 in resources.get(RT_GROUP_ICON, []), f"KeyCaster.exe icon groups: {resources.get(RT_GROUP_ICON)}")
        # String 101 lives in string block 101 / 16 + 1.
        check(101 // 16 + 1 in resources.get(RT_STRING, []), f"KeyCaster.exe string blocks: {resources.get(RT_STRING)}")
        check_version(exe, "KeyCaster.exe", None, version)

    for tool in ("velcli.exe", "velsim.exe"):
        if tool in images:
            system_only(images[tool], tool)

    if "ssiDLL.dll" in images:
        _, addresses = images["ssiDLL.dll"].exports()
        ordinals = {o for o, a in addresses.items() if a}
        check(SSI_ORDINALS <= ordinals, f"ssiDLL.dll lacks ordinals {sorted(SSI_ORDINALS - ordinals)}")
    if "VelmoraPnpLibrary.dll" in images:
        exports, _ = images["VelmoraPnpLibrary.dll"].exports()
        check("RescanPnpDevices" in exports.values(), f"VelmoraPnpLibrary.dll exports {sorted(exports.values())}")

    for f in failures:
        print("FAIL:", f)
    print(f"{machine} Windows binaries in {bin_dir}: {'FAILED' if failures else 'all checks passed'}")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
