"""Reads a PE file's headers and resources, enough for the tests of the built executables."""
import struct


class PeFile:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        self.machine, sections = struct.unpack_from("<HH", data, pe + 4)[:2]
        optional_size = struct.unpack_from("<H", data, pe + 20)[0]
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        directories = optional + (96 if self.magic == 0x10B else 112)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(16)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            name, vsize, vaddr, rsize, raddr = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode(), vaddr, max(vsize, rsize), raddr))

    def offset(self, rva):
        for _, vaddr, size, raddr in self.sections:
            if vaddr <= rva < vaddr + size:
                return rva - vaddr + raddr
        raise ValueError(f"address {rva:#x} is in no section")

    def _string(self, offset):
        length = struct.unpack_from("<H", self.data, offset)[0]
        return self.data[offset + 2:offset + 2 + 2 * length].decode("utf-16-le")

    def _entries(self, root, directory):
        named, numbered = struct.unpack_from("<HH", self.data, directory + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", self.data, directory + 16 + 8 * i)
            key = self._string(root + (name & 0x7FFFFFFF)) if name & 0x80000000 else name
            yield key, target

    def resources(self):
        """Every resource as {(type, name, language): bytes}; types and names are ints or strings."""
        rva, size = self.directories[2]
        if not rva:
            return {}
        root = self.offset(rva)
        found = {}
        for rtype, t in self._entries(root, root):
            for rname, n in self._entries(root, root + (t & 0x7FFFFFFF)):
                for language, leaf in self._entries(root, root + (n & 0x7FFFFFFF)):
                    data_rva, data_size = struct.unpack_from("<II", self.data, root + leaf)
                    start = self.offset(data_rva)
                    found[(rtype, rname, language)] = self.data[start:start + data_size]
        return found

    def imported_dlls(self):
        rva, size = self.directories[1]
        dlls = []
        if not rva:
            return dlls
        entry = self.offset(rva)
        while True:
            name_rva = struct.unpack_from("<I", self.data, entry + 12)[0]
            if not name_rva:
                return dlls
            start = self.offset(name_rva)
            dlls.append(self.data[start:self.data.index(b"\0", start)].decode())
            entry += 20


def string_table(resources, language=1041):
    """The string resources as {id: text}."""
    strings = {}
    for (rtype, block, lang), data in resources.items():
        if rtype != 6 or lang != language:
            continue
        offset = 0
        for index in range(16):
            length = struct.unpack_from("<H", data, offset)[0]
            if length:
                strings[(block - 1) * 16 + index] = data[offset + 2:offset + 2 + 2 * length].decode("utf-16-le")
            offset += 2 + 2 * length
    return strings
