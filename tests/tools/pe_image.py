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

    def resources(self):
        """{type id: [entry ids]} of the resource directory's first two levels (named entries as str)."""
        rva, _ = self.directory(2)
        if not rva:
            return {}
        root = self.offset(rva)

        def entries(at):
            named, ids = struct.unpack_from("<HH", self.data, at + 12)
            for i in range(named + ids):
                ident, target = struct.unpack_from("<II", self.data, at + 16 + 8 * i)
                if ident & 0x80000000:
                    length = self.u16(root + (ident & 0x7FFFFFFF))
                    start = root + (ident & 0x7FFFFFFF) + 2
                    ident = self.data[start:start + 2 * length].decode("utf-16-le")
                yield ident, target

        result = {}
        for kind, target in entries(root):
            result[kind] = [ident for ident, _ in entries(root + (target & 0x7FFFFFFF))] if target & 0x80000000 else []
        return result
