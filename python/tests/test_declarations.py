"""The generated tables against the library's exported symbols, the checked-in export
list and the sources they are generated from."""
import json
import os
import re
import subprocess
import sys

import pytest

from imgengine import library as load_library
from imgengine.library import table

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..")


def exported_symbols(path):
    out = subprocess.run(["nm", "-D", "--defined-only", path], check=True, capture_output=True, text=True).stdout
    return {line.split()[-1] for line in out.splitlines() if re.match(r"^\S+ T ", line)}


def test_declarations_name_exactly_the_symbols_the_library_exports():
    names = {e["name"] for e in table("exports")}
    assert len(names) == 359
    assert exported_symbols(os.environ["IMGENGINE_LIBRARY"]) == names


def test_ordinals_and_dll_names_match_the_checked_in_export_list():
    expected = {}
    with open(os.path.join(ROOT, "tests", "data", "ImgEngine.exports")) as f:
        for line in f:
            if line.strip() and not line.startswith("#"):
                ordinal, name = line.split()
                expected[int(ordinal)] = name
    assert {e["ordinal"]: e["exported"] for e in table("exports")} == expected


def test_every_parameter_is_four_bytes_on_the_32_bit_dll():
    # The stdcall decoration counts the argument bytes: every parameter is an int, an
    # unsigned int or a pointer there, so the count is four times the parameters.
    for e in table("exports"):
        assert e["argbytes"] == 4 * len(e["argtypes"]), e["name"]
        assert len(e["argnames"]) == len(e["argtypes"]), e["name"]


def test_shipped_tables_are_those_the_sources_give(tmp_path):
    subprocess.run([sys.executable, os.path.join(HERE, "..", "tools", "generate_tables.py"),
                    "--exports", os.path.join(ROOT, "imgengine", "include", "ImgEngineExports.h"),
                    "--settings", os.path.join(ROOT, "imgengine", "api", "SettingsFamilies.h"),
                    "--host-settings", os.path.join(ROOT, "imgengine", "api", "HostSettingsExports.cpp"),
                    "--out", str(tmp_path)], check=True)
    for name in ("exports", "settings"):
        assert json.loads((tmp_path / (name + ".json")).read_text()) == table(name), name


def test_the_generator_refuses_a_table_with_a_row_missing(tmp_path):
    source = os.path.join(ROOT, "imgengine", "include", "ImgEngineExports.h")
    with open(source) as f:
        rows = f.read().replace("VEL_FN(2, PLAIN, void, VelDeviceDisconnect, 0, (void))\n", "")
    broken = tmp_path / "exports.h"
    broken.write_text(rows)
    r = subprocess.run([sys.executable, os.path.join(HERE, "..", "tools", "generate_tables.py"),
                        "--exports", str(broken),
                        "--settings", os.path.join(ROOT, "imgengine", "api", "SettingsFamilies.h"),
                        "--host-settings", os.path.join(ROOT, "imgengine", "api", "HostSettingsExports.cpp"),
                        "--out", str(tmp_path / "out")], capture_output=True, text=True)
    assert r.returncode != 0 and "ordinal 3 where 2 was expected" in r.stderr
    assert not (tmp_path / "out").exists()


def test_settings_pair_getters_and_setters_of_the_export_table():
    exports = {e["name"]: e for e in table("exports")}
    settings = table("settings")
    for s in settings:
        assert exports[s["getter"]]["argtypes"] == [] and exports[s["setter"]]["argtypes"] == ["int"], s
    by_name = {s["name"]: s for s in settings}
    assert by_name["qr_code_enabled"]["type"] == "bool" and by_name["qr_code_enabled"]["kind"] == "switch"
    assert by_name["gain"]["type"] == "int" and by_name["gain"]["kind"] == "value"
    # A pair whose names differ comes from the settings tables.
    assert by_name["image_correction_gauss_width"]["setter"] == "VelSetGaussCorrectionWidth"
    assert by_name["auto_save_enabled"]["kind"] == "host"


def test_the_library_binds_every_export_and_calls_without_a_device():
    lib = load_library()
    assert len(lib.functions) == 359
    assert lib.text("VelGetHostVersion").startswith("V10.0 Build 15")
    assert lib.VelGetCommunicationStatus() == -4  # not connected
    with pytest.raises(AttributeError):
        lib.VelNoSuchFunction


def where_loaded(env, package_parent):
    code = "import imgengine; print(imgengine.library().path)"
    env = dict(env, PYTHONPATH=str(package_parent))
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env, timeout=60)


def test_the_library_is_found_by_the_variable_next_to_the_package_or_on_the_library_path(tmp_path):
    built = os.environ["IMGENGINE_LIBRARY"]
    package_parent = os.path.join(HERE, "..")
    bare = {k: v for k, v in os.environ.items() if k not in ("IMGENGINE_LIBRARY", "LD_LIBRARY_PATH")}
    r = where_loaded(dict(bare, LD_LIBRARY_PATH=os.path.dirname(built)), package_parent)
    assert r.returncode == 0 and r.stdout.strip() == "libImgEngine.so.10", r.stderr
    r = where_loaded(dict(bare, IMGENGINE_LIBRARY=str(tmp_path / "missing.so")), package_parent)
    assert r.returncode != 0 and "LibraryNotFoundError" in r.stderr and "IMGENGINE_LIBRARY" in r.stderr
    import shutil
    shutil.copytree(os.path.join(package_parent, "imgengine"), tmp_path / "imgengine")
    shutil.copy(built, tmp_path / "imgengine" / "libImgEngine.so")
    r = where_loaded(bare, tmp_path)
    assert r.returncode == 0 and r.stdout.strip() == str(tmp_path / "imgengine" / "libImgEngine.so"), r.stderr


def test_on_windows_the_installed_sdk_gives_the_dll_of_the_interpreters_architecture(monkeypatch):
    import importlib
    module = importlib.import_module("imgengine.library")
    monkeypatch.setattr(module, "WINDOWS", True)
    monkeypatch.setattr(module, "FILE_NAME", "ImgEngine.dll")
    monkeypatch.delenv("IMGENGINE_LIBRARY", raising=False)
    monkeypatch.setenv("IMGENGINE_SDK", "/sdk")
    found = module.candidates()
    assert found[1] == os.path.join("/sdk", "x64" if sys.maxsize > 2**32 else "x86", "bin", "ImgEngine.dll")
    assert found[0].endswith(os.path.join("imgengine", "ImgEngine.dll")) and found[2] == "ImgEngine.dll"
