#!/usr/bin/env python3
"""Writes the tables the imgengine package binds the library with.

  generate_tables.py --exports ImgEngineExports.h --settings SettingsFamilies.h
                     --host-settings HostSettingsExports.cpp --out DIR

DIR/exports.json: one entry per row of the export table (ordinal, C name, the name the
DLL exports it under, return type, parameter types and names). DIR/settings.json: one
entry per setting of the configuration record and the host settings store, each a getter
and setter pair with its Python name, type and kind:
  value     a plain value: the setter stores the low bits that fit the field
  switch    on or off
  selector  one of several modes: setting it on selects it, setting it off does nothing
  adapted   the setter fits the value to the imager (rounds, clamps, converts)
  host      a switch in the host settings store: the setter answers 0 or an error code
Files are written only when their text changes, so an unchanged table rebuilds nothing.
"""
import argparse
import json
import os
import re
import sys

ROW = re.compile(r"^VEL_(FN|ALIAS)\((\d+), (PLAIN|DECORATED), ([^,]+), (\w+), (\d+), \(([^)]*)\)(?:, (\w+))?\)$")
PARAMETER = re.compile(r"^(.*?)\s*\b(\w+)$")
TABLE = re.compile(r"#define (VEL_\w+)\(X\)((?:.*\\\n)*.*)")
TABLE_ROW = re.compile(r"X\((VelGet\w+),\s*(VelSet\w+)")
HOST_SWITCH = re.compile(r"VEL_API (VelGet\w+)\(void\) \{ return readSwitch")
# The C types the table uses, spelled as the package's type names.
TYPES = {
    "void": "void", "int": "int", "unsigned int": "uint", "char*": "char_p", "const char*": "char_p",
    "unsigned char*": "uchar_p", "const unsigned char*": "uchar_p", "int*": "int_p",
    "VelWindow": "handle", "VelDC": "handle", "VelBitmap": "handle",
}
TABLE_KINDS = {
    "VEL_VALUE_SETTINGS": "value", "VEL_OPTION_SWITCHES": "switch", "VEL_CORRECTION_SWITCHES": "switch",
    "VEL_SYMBOLOGY_SWITCHES": "switch", "VEL_ORDERING_SWITCHES": "switch", "VEL_HISTOGRAM_MODES": "selector",
}


def fail(message):
    sys.exit("generate_tables: " + message)


def c_type(text, where):
    text = c_spelling(text)
    if text not in TYPES:
        fail("%s: type %r not known" % (where, text))
    return TYPES[text]


def c_spelling(text):
    """A C type as the table spells it, with its blanks normalised ("const char*")."""
    return " ".join(text.replace("*", " * ").split()).replace(" *", "*")


def read_rows(path):
    """The rows of the export table with their C types as written: one dict per row
    (ordinal, name, exported, ret, params [(C type, name)], argbytes, alias_of)."""
    rows = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if not line.startswith("VEL_"):
                continue
            m = ROW.match(line)
            if not m:
                fail("%s: row not understood: %s" % (path, line))
            kind, ordinal, naming, ret, name, size, params, target = m.groups()
            if int(ordinal) != len(rows) + 1:
                fail("%s: ordinal %s where %d was expected" % (path, ordinal, len(rows) + 1))
            parameters = []
            for p in [] if params.strip() == "void" else params.split(","):
                pm = PARAMETER.match(p.strip())
                if not pm:
                    fail("%s: parameter %r of %s not understood" % (path, p, name))
                c_type(pm.group(1), name)
                parameters.append((c_spelling(pm.group(1)), pm.group(2)))
            c_type(ret, name)
            rows.append({
                "ordinal": int(ordinal), "name": name,
                "exported": "_%s@%s" % (name, size) if naming == "DECORATED" else name,
                "ret": c_spelling(ret), "params": parameters, "argbytes": int(size), "alias_of": target,
            })
    if len(rows) != 359:
        fail("%s: %d exports, 359 expected" % (path, len(rows)))
    return rows


def read_exports(path):
    return [{
        "ordinal": r["ordinal"], "name": r["name"], "exported": r["exported"],
        "restype": TYPES[r["ret"]], "argtypes": [TYPES[t] for t, _ in r["params"]],
        "argnames": [n for _, n in r["params"]], "argbytes": r["argbytes"], "alias_of": r["alias_of"],
    } for r in read_rows(path)]


def python_name(getter):
    """VelGetQRCodeEnabled -> qr_code_enabled."""
    words = getter[len("VelGet"):]
    words = re.sub(r"([A-Z]+)([A-Z][a-z])", r"\1_\2", words)
    words = re.sub(r"([a-z0-9])([A-Z])", r"\1_\2", words)
    return words.lower()


def read_settings(exports, settings_source, host_source):
    by_name = {e["name"]: e for e in exports}
    with open(settings_source, encoding="utf-8") as f:
        text = f.read()
    with open(host_source, encoding="utf-8") as f:
        host_getters = set(HOST_SWITCH.findall(f.read()))
    pairs = {}
    for table, body in TABLE.findall(text):
        if table not in TABLE_KINDS:
            fail("%s: table %s has no kind" % (settings_source, table))
        for getter, setter in TABLE_ROW.findall(body):
            pairs[getter] = (setter, TABLE_KINDS[table])
    tabled_setters = {setter for setter, _ in pairs.values()}
    # Every other getter with a setter of the same name outside the tables.
    for e in exports:
        getter = e["name"]
        setter = "VelSet" + getter[len("VelGet"):]
        if not getter.startswith("VelGet") or getter in pairs or setter in tabled_setters:
            continue
        s = by_name.get(setter)
        if e["argtypes"] or e["restype"] != "int" or not s or s["argtypes"] != ["int"] or s["alias_of"]:
            continue
        if e["alias_of"]:
            continue
        pairs[getter] = (setter, "host" if getter in host_getters else "adapted")
    settings = []
    for getter, (setter, kind) in sorted(pairs.items(), key=lambda p: by_name[p[0]]["ordinal"]):
        for name in (getter, setter):
            if name not in by_name:
                fail("%s is not in the export table" % name)
        boolean = kind in ("switch", "selector", "host") or getter.endswith("Enabled")
        settings.append({"name": python_name(getter), "getter": getter, "setter": setter,
                         "type": "bool" if boolean else "int", "kind": kind})
    names = [s["name"] for s in settings]
    if len(set(names)) != len(names):
        fail("two settings share a Python name")
    return settings


def write_if_changed(path, data):
    text = "[\n" + ",\n".join(json.dumps(entry) for entry in data) + "\n]\n"  # one entry a line
    old = None
    if os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            old = f.read()
    if old != text:
        with open(path, "w", encoding="utf-8", newline="\n") as f:
            f.write(text)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exports", required=True)
    parser.add_argument("--settings", required=True)
    parser.add_argument("--host-settings", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    exports = read_exports(args.exports)
    settings = read_settings(exports, args.settings, args.host_settings)
    os.makedirs(args.out, exist_ok=True)
    write_if_changed(os.path.join(args.out, "exports.json"), exports)
    write_if_changed(os.path.join(args.out, "settings.json"), settings)


if __name__ == "__main__":
    main()
