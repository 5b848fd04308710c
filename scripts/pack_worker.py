#!/usr/bin/env python3
"""Packs the worker program for the launcher to embed: a small header, then the program in raw LZMA.

The header (little-endian) is the mark, the unpacked size, the FNV-1a hash of the unpacked bytes (raw LZMA
has no check, and the launcher must never write a damaged worker) and LZMA's properties byte,
lc + 9 * (lp + 5 * pb). The stream ends in LZMA's end marker. Before packing, every x86 call's operand is
made the target's offset in the file (src/launcher/call_transform.h), which the launcher undoes.

    pack_worker.py INPUT OUTPUT
"""
import lzma
import struct
import sys

MARK = b"KvZ2"
HEADER = struct.Struct("<4sIIB")
# The launcher's decoder takes lc + lp up to 4 (src/launcher/lzma_decoder.h).
LITERAL_BITS = 4


def fnv1a(data):
    value = 0x811C9DC5
    for byte in data:
        value = ((value ^ byte) * 0x01000193) & 0xFFFFFFFF
    return value


def transform_calls(data):
    """Every E8 byte's 4-byte operand, relative to the next instruction, becomes the target's offset."""
    out = bytearray(data)
    i = 0
    while i + 5 <= len(out):
        if out[i] == 0xE8:
            relative = struct.unpack_from("<I", out, i + 1)[0]
            struct.pack_into("<I", out, i + 1, (relative + i + 5) & 0xFFFFFFFF)
            i += 5
        else:
            i += 1
    return bytes(out)


def compress(data, lc, lp, pb):
    # The decoder keeps the whole output, so the dictionary may as well hold all of it.
    dictionary = 4096
    while dictionary < len(data):
        dictionary *= 2
    options = {"id": lzma.FILTER_LZMA1, "preset": 9 | lzma.PRESET_EXTREME, "dict_size": dictionary,
               "lc": lc, "lp": lp, "pb": pb}
    return lzma.compress(data, format=lzma.FORMAT_RAW, filters=[options])


def pack(data):
    """The smallest packing over the literal and position bits that the launcher's decoder takes."""
    transformed = transform_calls(data)
    tries = [(lc, lp, pb) for lc in range(LITERAL_BITS + 1) for lp in range(LITERAL_BITS + 1 - lc) for pb in range(5)]
    body, lc, lp, pb = min(((compress(transformed, *bits), *bits) for bits in tries), key=lambda t: len(t[0]))
    return HEADER.pack(MARK, len(data), fnv1a(data), lc + 9 * (lp + 5 * pb)) + body


def main(arguments):
    if len(arguments) != 2:
        sys.exit(__doc__.strip().splitlines()[-1].strip())
    source, target = arguments
    with open(source, "rb") as file:
        data = file.read()
    with open(target, "wb") as file:
        file.write(pack(data))


if __name__ == "__main__":
    main(sys.argv[1:])
