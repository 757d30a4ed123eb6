#!/usr/bin/env python3
"""The Windows deliverables as users meet them (scripts/package --no-build of the win32
and win64 trees):

  - the SDK archive: one top folder named by the version; the header, the guide, the
    examples (the .NET ones too), the scenes, the .NET package (the one written beside
    the archive); below x86/ and x64/ the programs and the DLL of that machine type, the
    import libraries, the module definition and the CMake package;
  - the installers' tables (msiinfo): files, shortcut, icon, registry, upgrade codes;
  - under Wine in a fresh prefix of the tree's architecture (--arch): KeyCaster's package
    of that architecture installed, its shortcut and
    its entry in Add/Remove Programs, the installed KeyCaster.exe starting and showing its
    dialog (the end-to-end test's first start); the SDK installed, its variable and its
    CMake package registered, the installed velcli.exe capturing from the native velsim,
    a C program built with find_package against the registered package and run; then
    both removed: files, shortcut, entries, variable and registration gone, the user's
    own settings file left.

usage: windows_packages_test.py --build WIN_BUILD --arch x86|x64 --velsim NATIVE_VELSIM --toolchain FILE
           [--generator G]
"""
import argparse
import fnmatch
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run")
sys.path.insert(0, os.path.join(HERE, "..", "tools"))
sys.path.insert(0, os.path.join(HERE, "..", "transport"))
from pe_image import PeImage  # noqa: E402
import velsim_process  # noqa: E402

failures = []
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
ENVIRONMENT_KEY = r"HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
CMAKE_REGISTRY_KEY = r"HKCU\Software\Kitware\CMake\Packages\ImgEngine"


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)
    return condition


def run(command, env=None, cwd=None, timeout=600):
    done = subprocess.run(command, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True, errors="replace", timeout=timeout)
    return done.returncode, done.stdout.replace("\r", "")


def msi_table(msi, table):
    """The rows of one table of an installer, as dictionaries by column name."""
    # msiinfo writes a table's binary streams (the Icon table's icons) into a folder
    # named after it in the current one: a folder of its own, thrown away.
    with tempfile.TemporaryDirectory() as scratch:
        code, out = run(["msiinfo", "export", os.path.abspath(msi), table], cwd=scratch)
    lines = out.splitlines()
    if code != 0 or len(lines) < 3:
        return []
    columns = lines[0].split("\t")
    return [dict(zip(columns, line.split("\t"))) for line in lines[3:]]


def check_archive(archive, version):
    top = "ImgEngine-%s-windows/" % version
    with zipfile.ZipFile(archive) as z:
        members = z.namelist()
        names = [n[len(top):] for n in members if n.startswith(top) and not n.endswith("/")]
        check(all(n.startswith(top) for n in members), "every file of the archive is below %s" % top)
        expected = ["include/ImgEngine.h", "include/ImgEngineVersion.h", "include/ImgEngineTrace.h", "docs/guide.html",
                    "docs/images/*.png",
                    "examples/CMakeLists.txt", "examples/capture_print.c", "scenes/shelf.scene"]
        for arch, machine in (("x86", "i386"), ("x64", "amd64")):
            for program in ("ImgEngine.dll", "velcli.exe", "velsim.exe", "KeyCaster.exe"):
                member = top + "%s/bin/%s" % (arch, program)
                if check(member in members, "the archive holds %s/bin/%s" % (arch, program)):
                    path = os.path.join(os.path.dirname(archive), "%s-%s" % (arch, program))
                    with open(path, "wb") as f:
                        f.write(z.read(member))
                    check(PeImage(path).machine == machine, "%s/bin/%s is built for %s" % (arch, program, machine))
            expected += ["%s/lib/%s" % (arch, f) for f in ("ImgEngine.dll.a", "ImgEngineByOrdinal.a", "ImgEngine.def",
                                                            "cmake/ImgEngine/ImgEngineConfig.cmake")]
        nupkg = "dotnet/ImgEngine.Net.%s.nupkg" % version
        expected += [nupkg, "examples/dotnet/CaptureConsole/Program.cs", "examples/dotnet/TriggerForm/TriggerForm.cs"]
        missing = [p for p in expected if not fnmatch.filter(names, p)]
        check(not missing, "the archive's layout (missing: %s)" % missing)
        if top + nupkg in members:
            with open(os.path.join(os.path.dirname(archive), os.path.basename(nupkg)), "rb") as f:
                check(z.read(top + nupkg) == f.read(), "the archive's %s is the one make package wrote" % nupkg)
    return names


def check_tables(packages, version, archive_files):
    upgrade_codes = {}
    for name, msi in packages.items():
        properties = {r["Property"]: r["Value"] for r in msi_table(msi, "Property")}
        check(properties.get("ProductVersion") == version and properties.get("Manufacturer") == "Velmora",
              "%s: version %s" % (name, properties.get("ProductVersion")))
        upgrade_codes[name] = properties.get("UpgradeCode", "").upper()
        upgrades = msi_table(msi, "Upgrade")
        check(any(r["UpgradeCode"].upper() == upgrade_codes[name] and r["VersionMax"] == version for r in upgrades),
              "%s: an older version of the same upgrade code is replaced" % name)
        files = {r["FileName"].split("|")[-1] for r in msi_table(msi, "File")}
        if name.startswith("KeyCaster"):
            check(files == {"KeyCaster.exe", "ImgEngine.dll"}, "%s installs %s" % (name, sorted(files)))
            check(properties.get("ARPPRODUCTICON") == "KeyCaster.ico"
                  and [r["Name"] for r in msi_table(msi, "Icon")] == ["KeyCaster.ico"], "%s: the icon" % name)
            shortcuts = msi_table(msi, "Shortcut")
            check(len(shortcuts) == 1 and shortcuts[0]["Directory_"] == "ProgramMenuFolder"
                  and shortcuts[0]["Target"] == "[INSTALLDIR]KeyCaster.exe", "%s: the Start-menu shortcut" % name)
        else:
            check(len(msi_table(msi, "File")) == len(archive_files), "%s installs the archive's %d files"
                  % (name, len(archive_files)))
            registry = {(r["Key"], r["Name"]): r["Value"] for r in msi_table(msi, "Registry")}
            check(registry.get((ENVIRONMENT_KEY[5:], "IMGENGINE_SDK")) == "[INSTALLDIR]", "%s: IMGENGINE_SDK" % name)
            check(registry.get((CMAKE_REGISTRY_KEY[5:], "ImgEngineSdk-x64")) == r"[INSTALLDIR]x64\lib\cmake\ImgEngine",
                  "%s: the CMake package registered" % name)
    check(len(set(upgrade_codes.values())) == len(upgrade_codes), "each package its own upgrade code")


class FreshWine:
    """A Wine prefix of its own: scripts/wine-run finds it by the cache file it is given."""

    def __init__(self, folder, arch):
        self.folder = folder
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "CMakeCache.txt"), "w") as f:
            f.write("VEL_WINE_ARCH:INTERNAL=%s\n" % ("win64" if arch == "x64" else "win32"))
        self.env = dict(os.environ, VEL_BUILD_DIR=folder)
        self.drive_c = os.path.join(folder, "wineprefix", "drive_c")

    def run(self, *args, env=None, timeout=600):
        return run([WINE_RUN, *args], env=dict(self.env, **(env or {})), cwd=self.folder, timeout=timeout)

    def reg_query(self, key):
        code, out = self.run("reg", "query", key, "/s")
        return out if code == 0 else ""

    def unix(self, windows_path):
        if not windows_path.upper().startswith("C:\\"):
            return None
        return os.path.join(self.drive_c, *[p for p in windows_path[3:].split("\\") if p])


def installed_shortcuts(wine):
    return glob.glob(os.path.join(wine.drive_c, "**", "Start Menu", "**", "KeyCaster.lnk"), recursive=True)


def keycaster(wine, msi, args, version):
    code, out = wine.run("msiexec", "/i", msi, "/qn")
    folder = os.path.join(wine.drive_c, "Program Files", "KeyCaster")
    check(code == 0 and sorted(os.listdir(folder) if os.path.isdir(folder) else []) == ["ImgEngine.dll", "KeyCaster.exe"],
          "KeyCaster installed under Program Files: %s" % out[-300:])
    check(len(installed_shortcuts(wine)) == 1, "KeyCaster's Start-menu shortcut")
    entries = wine.reg_query(UNINSTALL_KEY)
    name = "KeyCaster (64-bit)" if args.arch == "x64" else "KeyCaster"
    check(re.search(r"DisplayName\s+REG_SZ\s+%s\s*$" % re.escape(name), entries, re.M)
          and re.search(r"DisplayVersion\s+REG_SZ\s+%s" % re.escape(version), entries),
          "KeyCaster's entry in Add/Remove Programs with its version")
    # The scanner's vendor library comes with the scanner's driver: the stand-in plays it.
    shutil.copy(os.path.join(args.build, "bin", "ssiDLL.dll"), os.path.join(wine.drive_c, "windows", "system32"))
    code, out = run([sys.executable, os.path.join(ROOT, "keycaster", "tests", "win32", "keycaster_e2e.py"),
                     "--bin", folder, "--tools", os.path.join(args.build, "bin"), "--build", wine.folder,
                     "--only", "first start"], timeout=400)
    check(code == 0, "the installed KeyCaster.exe starts and shows its dialog:\n" + out[-1500:])
    # What KeyCaster writes at run time beside itself stays the user's.
    with open(os.path.join(folder, "KeyCaster.ini"), "wb") as f:
        f.write(bytes(64))
    code, out = wine.run("msiexec", "/x", msi, "/qn")
    left = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
    check(code == 0 and left == ["KeyCaster.ini"], "KeyCaster uninstalled, the settings file left: %s" % left)
    check(not installed_shortcuts(wine), "the shortcut removed")
    check("KeyCaster" not in wine.reg_query(UNINSTALL_KEY), "the Add/Remove Programs entry removed")


def sdk(wine, msi, args):
    code, out = wine.run("msiexec", "/i", msi, "/qn")
    # An x86 package: below the 32-bit programs' folder of a 64-bit Windows.
    programs = "Program Files (x86)" if args.arch == "x64" else "Program Files"
    folder = os.path.join(wine.drive_c, programs, "ImgEngine SDK")
    check(code == 0 and os.path.isfile(os.path.join(folder, args.arch, "bin", "velcli.exe")),
          "the SDK installed under Program Files: %s" % out[-300:])
    code, out = wine.run("cmd", "/c", "echo", "%IMGENGINE_SDK%")
    sdk_folder = out.strip().splitlines()[-1] if out.strip() else ""
    check(wine.unix(sdk_folder) and os.path.samefile(wine.unix(sdk_folder), folder),
          "a new process sees IMGENGINE_SDK = %s" % sdk_folder)

    sim = velsim_process.Velsim(args.velsim, "--scene", os.path.join(ROOT, "sim", "scenes", "shelf.scene"))
    try:
        env = {"VEL_SERIAL_PORT_7": sim.url, "VEL_HOST_SETTINGS": os.path.join(wine.folder, "host-settings")}
        velcli = os.path.join(folder, args.arch, "bin", "velcli.exe")
        wine.run(velcli, "--port", "7", "config", "set", "MaximumNumberBarcodesToDecode", "20", env=env)
        code, out = wine.run(velcli, "--port", "7", "--timeout", "30000", "capture", "--decode", env=env)
    finally:
        sim.stop()
    check(code == 0 and all(t in out for t in ("VEL-0042-CODE128", "4006381333931", "Data Matrix: lot 7731")),
          "the installed velcli.exe captures the scene's barcodes from velsim:\n" + out[-600:])

    # A Linux-hosted CMake does not read the Windows registry: the consumer is built with
    # the folder that the registry names for its pointer size.
    registered = dict(re.findall(r"(ImgEngineSdk-x\d\d)\s+REG_SZ\s+(.+)", wine.reg_query(CMAKE_REGISTRY_KEY)))
    package = wine.unix(registered.get("ImgEngineSdk-" + args.arch, "").strip())
    if check(package and os.path.isfile(os.path.join(package, "ImgEngineConfig.cmake")) and len(registered) == 2,
             "both CMake packages registered: %s" % registered):
        build = os.path.join(wine.folder, "consumer")
        code, out = run(["cmake", "-S", os.path.join(HERE, "consumer"), "-B", build, "-G", args.generator,
                         "-DCMAKE_BUILD_TYPE=Release", "-DCMAKE_TOOLCHAIN_FILE=" + args.toolchain,
                         "-DImgEngine_DIR=" + package])
        if check(code == 0, "the consumer configures with find_package(ImgEngine):\n" + out[-800:]):
            code, out = run(["cmake", "--build", build])
            check(code == 0, "the consumer builds:\n" + out[-800:])
            code, out = wine.run(os.path.join(build, "consumer.exe"))
            check(code == 0 and out.splitlines()[-1:] == ["maximum integration time 65535"],
                  "the consumer runs against the installed DLL: %r" % out[-300:])

        # The SDK's examples, as installed (a folder with spaces and parentheses).
        code, out = run(["cmake", "-S", os.path.join(folder, "examples"), "-B", os.path.join(wine.folder, "examples"),
                         "-G", args.generator, "-DCMAKE_TOOLCHAIN_FILE=" + args.toolchain, "-DImgEngine_DIR=" + package])
        if code == 0:
            code, out = run(["cmake", "--build", os.path.join(wine.folder, "examples")])
        check(code == 0, "the installed examples build:\n" + out[-800:])

    code, out = wine.run("msiexec", "/x", msi, "/qn")
    check(code == 0 and not os.path.exists(folder), "the SDK uninstalled, its folder gone")
    check("IMGENGINE_SDK" not in wine.reg_query(ENVIRONMENT_KEY), "IMGENGINE_SDK removed")
    check("ImgEngineSdk" not in wine.reg_query(CMAKE_REGISTRY_KEY), "the CMake package registration removed")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--arch", choices=("x86", "x64"), required=True)
    parser.add_argument("--velsim", required=True)
    parser.add_argument("--toolchain", required=True)
    parser.add_argument("--generator", default="Ninja")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    work = os.path.join(args.build, "windows-packages")
    shutil.rmtree(work, ignore_errors=True)
    out = os.path.join(work, "package")
    code, listing = run([os.path.join(ROOT, "scripts", "package"), "--no-build", "--out", out])
    if not check(code == 0, "scripts/package:\n" + listing[-1500:]):
        sys.exit(1)
    version = re.search(r"ImgEngine-SDK-(\d+\.\d+\.\d+)\.msi", listing).group(1)
    archive_files = check_archive(os.path.join(out, "ImgEngine-%s-windows.zip" % version), version)
    packages = {"KeyCaster-x86": os.path.join(out, "KeyCaster-%s-x86.msi" % version),
                "KeyCaster-x64": os.path.join(out, "KeyCaster-%s-x64.msi" % version),
                "SDK": os.path.join(out, "ImgEngine-SDK-%s.msi" % version)}
    check_tables(packages, version, archive_files)

    wine = FreshWine(os.path.join(work, "wine"), args.arch)
    code, out = wine.run("--start", timeout=300)
    if check(code == 0, "a fresh Wine prefix starts: " + out[-300:]):
        try:
            keycaster(wine, packages["KeyCaster-" + args.arch], args, version)
            sdk(wine, packages["SDK"], args)
        finally:
            wine.run("--stop")
    print("Windows packages: %d failure(s)" % len(failures))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
