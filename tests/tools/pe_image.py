"""Reads what the Windows loader reads from a PE image (PE32 or PE32+), without
running it: machine, export directory, import table and resource directory."""
import struct

MACHINES = {0x14C: "i386", 0x8664: "amd64"}
RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION = 5, 6, 14, 16


class PeImage:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        if self.data[:2] != b"MZ":
            raise ValueError(f"{path}: not an MZ image")
        pe = self.u32(0x3C)
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise ValueError(f"{path}: no PE signature")
        machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", self.data, pe + 4)
        self.machine = MACHINES.get(machine, hex(machine))
        optional = pe + 24
        magic = self.u16(optional)
        if magic not in (0x10B, 0x20B):
            raise ValueError(f"{path}: unknown optional header magic {magic:#x}")
        self.pe32plus = magic == 0x20B
        count_at = optional + (108 if self.pe32plus else 92)
        count = self.u32(count_at)
        self.directories = [struct.unpack_from("<II", self.data, count_at + 4 + 8 * i) for i in range(min(count, 16))]
        table = optional + optional_size
        self.sections = []
        for i in range(sections):
            name, vsize, va, rawsize, rawptr = struct.unpack_from("<8sIIII", self.data, table + 40 * i)
            self.sections.append((va, max(vsize, rawsize), rawptr, rawsize))

    def u16(self, at):
        return struct.unpack_from("<H", self.data, at)[0]

    def u32(self, at):
        return struct.unpack_from("<I", self.data, at)[0]

    def offset(self, rva):
        for va, size, raw, rawsize in self.sections:
            if va <= rva < va + size:
                if rva - va >= rawsize:
                    raise ValueError(f"RVA {rva:#x} lies in uninitialised data")
                return raw + rva - va
        raise ValueError(f"RVA {rva:#x} outside every section")

    def string(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("ascii")

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def exports(self):
        """{ordinal: name} of the named exports, and {ordinal: address} of every export."""
        rva, _ = self.directory(0)
        if not rva:
            return {}, {}
        at = self.offset(rva)
        base, functions, names, functions_rva, names_rva, ordinals_rva = struct.unpack_from("<IIIIII", self.data, at + 16)
        addresses = [self.u32(self.offset(functions_rva) + 4 * i) for i in range(functions)]
        table = {}
        for i in range(names):
            name = self.string(self.u32(self.offset(names_rva) + 4 * i))
            index = self.u16(self.offset(ordinals_rva) + 2 * i)
            if base + index in table:
                raise ValueError(f"ordinal {base + index} named twice")
            table[base + index] = name
        return table, {base + i: a for i, a in enumerate(addresses)}

    def imports(self):
        """{dll name: [ordinal int or name str, ...]}"""
        rva, _ = self.directory(1)
        result = {}
        if not rva:
            return result
        at = self.offset(rva)
        width, flag = (8, 1 << 63) if self.pe32plus else (4, 1 << 31)
        fmt = "<Q" if self.pe32plus else "<I"
        while True:
            lookup, _, _, name, first = struct.unpack_from("<IIIII", self.data, at)
            if name == 0:
                break
            entries = []
            thunk = self.offset(lookup or first)
            while True:
                value = struct.unpack_from(fmt, self.data, thunk)[0]
                if value == 0:
                    break
                entries.append(value & 0xFFFF if value & flag else self.string((value & 0x7FFFFFFF) + 2))
                thunk += width
            result[self.string(name)] = entries
            at += 20
        return result

    def _resource_entries(self, at):
        """(id or name, target) of one resource directory table at file offset at."""
        root = self.offset(self.directory(2)[0])
        named, ids = struct.unpack_from("<HH", self.data, at + 12)
        for i in range(named + ids):
            ident, target = struct.unpack_from("<II", self.data, at + 16 + 8 * i)
            if ident & 0x80000000:
                length = self.u16(root + (ident & 0x7FFFFFFF))
                start = root + (ident & 0x7FFFFFFF) + 2
                ident = self.data[start:start + 2 * length].decode("utf-16-le")
            yield ident, target

    def resources(self):
        """{type id: [entry ids]} of the resource directory's first two levels (named entries as str)."""
        rva, _ = self.directory(2)
        if not rva:
            return {}
        root = self.offset(rva)
        result = {}
        for kind, target in self._resource_entries(root):
            result[kind] = ([ident for ident, _ in self._resource_entries(root + (target & 0x7FFFFFFF))]
                            if target & 0x80000000 else [])
        return result

    def resource_data(self, kind, ident):
        """The bytes of resource (kind, ident) in its first language, or None when it is absent."""
        rva, _ = self.directory(2)
        if not rva:
            return None
        root = self.offset(rva)
        at = root
        for wanted in (kind, ident):
            target = next((t for i, t in self._resource_entries(at) if i == wanted), None)
            if target is None:
                return None
            if not target & 0x80000000:
                raise ValueError(f"resource {kind}/{ident}: data where a directory was expected")
            at = root + (target & 0x7FFFFFFF)
        languages = [t for _, t in self._resource_entries(at)]
        if not languages or languages[0] & 0x80000000:
            raise ValueError(f"resource {kind}/{ident}: no data entry")
        data_rva, size = struct.unpack_from("<II", self.data, root + languages[0])
        start = self.offset(data_rva)
        if start + size > len(self.data):
            raise ValueError(f"resource {kind}/{ident} runs past the end of the file")
        return self.data[start:start + size]

    def version_info(self):
        """The version resource (RT_VERSION 1): {"file": (a, b, c, d), "product": (a, b, c, d),
        "strings": {key: value} of its string tables}, or None when there is none."""
        data = self.resource_data(RT_VERSION, 1)
        if data is None:
            return None
        key, value, value_length, children = _version_block(data, 0)
        if key != "VS_VERSION_INFO" or value_length < 52:
            raise ValueError(f"version resource: block {key!r} with a value of {value_length} bytes")
        signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", data, value)
        if signature != 0xFEEF04BD:
            raise ValueError(f"version resource: fixed file info signature {signature:#x}")
        strings = {}
        for child in children:
            name, _, _, tables = _version_block(data, child)
            if name == "StringFileInfo":
                for table in tables:
                    for entry in _version_block(data, table)[3]:
                        text_key, text_at, text_words, _ = _version_block(data, entry)
                        strings[text_key] = data[text_at:text_at + 2 * text_words].decode("utf-16-le").rstrip("\0")

        def words(ms, ls):
            return ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF
        return {"file": words(file_ms, file_ls), "product": words(product_ms, product_ls), "strings": strings}


def _align4(at):
    return (at + 3) & ~3


def _version_block(data, at):
    """One block of a version resource at offset at: (key, offset of its value, value length
    as stored, [offsets of its children])."""
    length, value_length, text = struct.unpack_from("<HHH", data, at)
    end = at + length
    if length < 6 or end > len(data):
        raise ValueError(f"version resource: block at {at} of length {length} runs past {len(data)} bytes")
    key_end = at + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
        if key_end >= end:
            raise ValueError(f"version resource: block at {at} has an unterminated key")
    key = data[at + 6:key_end].decode("utf-16-le")
    value = _align4(key_end + 2)
    # A text value (type 1) counts UTF-16 words, a binary one bytes.
    child = _align4(value + (2 * value_length if text == 1 else value_length))
    children = []
    while child < end:
        children.append(child)
        child_length = struct.unpack_from("<H", data, child)[0]
        if child_length == 0:
            break
        child = _align4(child + child_length)
    return key, value, value_length, children
