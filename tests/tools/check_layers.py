#!/usr/bin/env python3
"""Holds the library's source tree to its layers. Each folder of imgengine/ is a layer;
a file may include headers of its own folder and of the layers below it, never above:

  api -> core -> operations -> image -> connection -> config -> link -> transport -> base -> platform

The public header (include/) is included by the api layer only, but for the field
trace's record format (ImgEngineTrace.h, constants only), which its writer in base/
shares with the readers; platform/win32 and platform/posix are reached through the
platform headers only; and no code above the platform layer, but for the export shims,
asks which operating system it is built for.

usage: check_layers.py IMGENGINE_DIR
"""
import os
import re
import sys

LAYERS = ["platform", "base", "transport", "link", "config", "connection", "image", "operations", "core", "api"]
OS_TEST = re.compile(r"#\s*(if|ifdef|ifndef|elif)\b.*\b(_WIN32|_WIN64|__linux__|__unix__|WIN32)\b")
INCLUDE = re.compile(r'#\s*include\s+"([^"]+)"')


def layer_of(path):
    top = path.split("/")[0]
    return top


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else "imgengine"
    problems = []
    checked = 0
    for folder, _, files in os.walk(root):
        for name in files:
            if not name.endswith((".h", ".cpp")):
                continue
            path = os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")
            own = layer_of(path)
            if own == "include":
                continue
            if own not in LAYERS:
                problems.append(f"{path}: folder {own}/ is not a layer")
                continue
            checked += 1
            with open(os.path.join(root, path), encoding="utf-8") as f:
                for number, line in enumerate(f, 1):
                    where = f"{path}:{number}"
                    if OS_TEST.search(line) and own not in ("platform", "api"):
                        problems.append(f"{where}: asks for the operating system above the platform layer")
                    m = INCLUDE.search(line)
                    if not m:
                        continue
                    target = m.group(1)
                    if target == "ImgEngineTrace.h":
                        continue
                    if target in ("ImgEngine.h", "ImgEngineExports.h"):
                        if own != "api":
                            problems.append(f"{where}: only the api layer includes the public header ({target})")
                        continue
                    if "/" not in target:
                        if not os.path.exists(os.path.join(root, os.path.dirname(path), target)):
                            problems.append(f"{where}: \"{target}\" is not a header of this folder")
                        continue
                    layer = layer_of(target)
                    if layer not in LAYERS:
                        problems.append(f"{where}: includes {target} outside the layers")
                    elif target.startswith(("platform/win32/", "platform/posix/")) and not path.startswith(
                            target.rsplit("/", 1)[0] + "/"):
                        problems.append(f"{where}: includes an implementation of the platform layer ({target})")
                    elif LAYERS.index(layer) > LAYERS.index(own):
                        problems.append(f"{where}: {own}/ includes {target}, a layer above it")
    for p in problems:
        print(p)
    print(f"{checked} files of {root} checked: {len(problems)} problem(s)")
    sys.exit(1 if problems or checked == 0 else 0)


if __name__ == "__main__":
    main()
