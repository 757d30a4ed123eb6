#!/usr/bin/env python3
"""Installs one build of ImgEngine into a fresh prefix and uses it as another project
would:

  - the install tree holds exactly the library, its import libraries (Windows), the
    public header and the version header, the CMake package and imgengine.pc, and on
    Windows the SDK's programs (KeyCaster.exe, velcli.exe, velsim.exe), the module
    definition, the guide as HTML, the examples and the scenes: no test or stand-in;
  - the installed header declares exactly the functions of the checked-in export list;
  - unless --layout-only: a C program (consumer/) is built with find_package(ImgEngine)
    and with the flags of `pkg-config --cflags --libs imgengine`, run (Windows programs
    through the emulator), and must print the library's host version, the project
    version and the largest integration time of a standard sensor (65535: before any
    connection the sensor counts as standard).

usage: install_and_consume.py --build DIR --work DIR --export-list FILE --version X.Y.Z
           --host-version TEXT --platform linux|windows --bindir D --libdir D --includedir D
           [--layout-only] [--c-compiler CC] [--c-flags F] [--link-flags F]
           [--toolchain FILE] [--emulator PROG] [--generator G]
"""
import argparse
import fnmatch
import os
import re
import shlex
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def run(command, **kwargs):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kwargs)
    if result.returncode != 0:
        sys.exit(f"FAIL: {' '.join(map(str, command))} exited with {result.returncode}:\n{result.stdout}")
    return result.stdout


def expected_files(args):
    """Patterns of every file the install tree must hold, relative to the prefix."""
    package = f"{args.libdir}/cmake/ImgEngine"
    files = [f"{args.includedir}/ImgEngine.h", f"{args.includedir}/ImgEngineVersion.h",
             f"{args.includedir}/ImgEngineTrace.h",
             f"{package}/ImgEngineConfig.cmake", f"{package}/ImgEngineConfigVersion.cmake",
             f"{package}/ImgEngineTargets.cmake", f"{package}/ImgEngineTargets-*.cmake",
             f"{args.libdir}/pkgconfig/imgengine.pc"]
    if args.platform == "windows":
        files += [f"{args.bindir}/ImgEngine.dll", f"{args.bindir}/KeyCaster.exe", f"{args.bindir}/velcli.exe",
                  f"{args.bindir}/velsim.exe", f"{args.libdir}/ImgEngine.dll.a", f"{args.libdir}/ImgEngineByOrdinal.a",
                  f"{args.libdir}/ImgEngine.def", "docs/guide.html", "docs/*.png", "docs/images/*.png",
                  "examples/CMakeLists.txt", "examples/*.c", "examples/*.h", "examples/dotnet/nuget.config",
                  "examples/dotnet/*/*.cs", "examples/dotnet/*/*.csproj", "examples/dotnet/*/README.md",
                  "scenes/*.scene"]
    else:
        major = args.version.split(".")[0]
        files += [f"{args.libdir}/libImgEngine.so", f"{args.libdir}/libImgEngine.so.{major}",
                  f"{args.libdir}/libImgEngine.so.{args.version}"]
    return files


def check_layout(args, prefix):
    present = sorted(os.path.relpath(os.path.join(folder, name), prefix).replace(os.sep, "/")
                     for folder, _, names in os.walk(prefix) for name in names)
    patterns = expected_files(args)
    missing = [p for p in patterns if not fnmatch.filter(present, p)]
    extra = [f for f in present if not any(fnmatch.fnmatch(f, p) for p in patterns)]
    problems = [f"missing: {p}" for p in missing] + [f"not expected: {f}" for f in extra]
    return present, problems


def exported_c_names(export_list):
    """The C names of the checked-in export list ("_VelIsColorSensor@0" is VelIsColorSensor)."""
    names = set()
    with open(export_list) as f:
        for line in f:
            fields = line.split()
            if fields and not fields[0].startswith("#"):
                names.add(re.sub(r"^_(.*)@\d+$", r"\1", fields[1]))
    return names


def check_declarations(header, export_list):
    with open(header) as f:
        declared = re.findall(r"^VEL_PUBLIC [^;(]*\bVEL_API (\w+)\(", f.read(), re.MULTILINE)
    expected = exported_c_names(export_list)
    problems = [f"declared twice: {n}" for n in sorted({n for n in declared if declared.count(n) > 1})]
    problems += [f"not declared: {n}" for n in sorted(expected - set(declared))]
    problems += [f"declared but not exported: {n}" for n in sorted(set(declared) - expected)]
    return problems


def run_consumer(args, program, env=None):
    command = ([args.emulator] if args.emulator else []) + [program]
    # The emulator finds its settings from the library's build tree.
    env = dict(os.environ, **(env or {}), VEL_BUILD_DIR=args.build)
    lines = run(command, env=env, cwd=os.path.dirname(program)).replace("\r", "").splitlines()
    expected = [args.host_version, args.version, "maximum integration time 65535"]
    if lines != expected:
        sys.exit(f"FAIL: {os.path.basename(program)} printed {lines}, expected {expected}")


def build_cmake_project(args, source, build, prefix):
    """Configures and builds the CMake project in source against the library installed in prefix,
    with this build's compiler, flags and (for Windows) toolchain."""
    configure = [args.cmake, "-S", source, "-B", build, "-G", args.generator,
                 "-DCMAKE_BUILD_TYPE=Release", f"-DCMAKE_C_FLAGS={args.c_flags}",
                 f"-DCMAKE_EXE_LINKER_FLAGS={args.link_flags}"]
    if args.toolchain:
        # A cross toolchain looks for packages below its own roots only; name the package folder.
        configure += [f"-DCMAKE_TOOLCHAIN_FILE={args.toolchain}",
                      f"-DImgEngine_DIR={prefix}/{args.libdir}/cmake/ImgEngine"]
    else:
        configure += [f"-DCMAKE_C_COMPILER={args.c_compiler}", f"-DCMAKE_PREFIX_PATH={prefix}"]
    run(configure)
    run([args.cmake, "--build", build])


def consume_with_cmake(args, prefix, work):
    build = os.path.join(work, "cmake-consumer")
    build_cmake_project(args, os.path.join(HERE, "consumer"), build, prefix)
    suffix = ".exe" if args.platform == "windows" else ""
    programs = ["consumer"] + (["consumer_by_ordinal"] if args.platform == "windows" else [])
    for name in programs:
        run_consumer(args, os.path.join(build, name + suffix))


def pkg_config_flags(args, prefix):
    """What `pkg-config --cflags --libs imgengine` answers for the library installed in prefix."""
    env = dict(os.environ, PKG_CONFIG_LIBDIR=f"{prefix}/{args.libdir}/pkgconfig")
    env.pop("PKG_CONFIG_PATH", None)
    return shlex.split(run(["pkg-config", "--cflags", "--libs", "imgengine"], env=env))


def consume_with_pkg_config(args, prefix, work):
    folder = os.path.join(work, "pkg-config-consumer")
    os.makedirs(folder)
    flags = pkg_config_flags(args, prefix)
    program = os.path.join(folder, "consumer" + (".exe" if args.platform == "windows" else ""))
    run([args.c_compiler, *shlex.split(args.c_flags), os.path.join(HERE, "consumer", "main.c"),
         *flags, *shlex.split(args.link_flags), "-o", program])
    if args.platform == "windows":
        shutil.copy(f"{prefix}/{args.bindir}/ImgEngine.dll", folder)
        run_consumer(args, program)
    else:
        run_consumer(args, program, {"LD_LIBRARY_PATH": f"{prefix}/{args.libdir}"})


def add_consumer_options(parser):
    """The options that say how a program of another project is built and run on this build's platform."""
    parser.add_argument("--platform", choices=("linux", "windows"), required=True)
    parser.add_argument("--cmake", default="cmake")
    parser.add_argument("--generator", default="Ninja")
    parser.add_argument("--c-compiler", default="cc")
    parser.add_argument("--c-flags", default="")
    parser.add_argument("--link-flags", default="")
    parser.add_argument("--toolchain")
    parser.add_argument("--emulator")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    for option in ("--build", "--work", "--export-list", "--version", "--host-version", "--bindir", "--libdir",
                   "--includedir"):
        parser.add_argument(option, required=True)
    parser.add_argument("--layout-only", action="store_true")
    add_consumer_options(parser)
    args = parser.parse_args()

    shutil.rmtree(args.work, ignore_errors=True)
    prefix = os.path.join(args.work, "prefix")
    run([args.cmake, "--install", args.build, "--prefix", prefix])
    present, problems = check_layout(args, prefix)
    problems += check_declarations(f"{prefix}/{args.includedir}/ImgEngine.h", args.export_list)
    if problems:
        sys.exit("FAIL: install tree\n  " + "\n  ".join(problems) + "\nholds:\n  " + "\n  ".join(present))
    print(f"install tree of {args.build}: {len(present)} files as expected:\n  " + "\n  ".join(present))
    if args.layout_only:
        return
    consume_with_cmake(args, prefix, args.work)
    consume_with_pkg_config(args, prefix, args.work)
    print("consumers built with find_package(ImgEngine) and with pkg-config print", repr(args.host_version))


if __name__ == "__main__":
    main()
