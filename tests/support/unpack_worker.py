"""Unpacks the worker that the launcher embeds, independently of scripts/pack_worker.py: the header
("KvZ2", unpacked size, FNV-1a of the unpacked bytes, LZMA's properties byte), then raw LZMA of the program
whose call operands were made offsets in the file."""
import lzma
import struct


def restore_calls(data):
    out = bytearray(data)
    at = 0
    while at + 5 <= len(out):
        if out[at] != 0xE8:
            at += 1
            continue
        target = int.from_bytes(out[at + 1:at + 5], "little")
        out[at + 1:at + 5] = ((target - at - 5) % 2**32).to_bytes(4, "little")
        at += 5
    return bytes(out)


def unpack(packed):
    mark, size, hash_, properties = struct.unpack_from("<4sIIB", packed)
    assert mark == b"KvZ2", mark
    lc, lp, pb = properties % 9, properties // 9 % 5, properties // 45
    options = {"id": lzma.FILTER_LZMA1, "lc": lc, "lp": lp, "pb": pb, "dict_size": 1 << 24}
    decompressor = lzma.LZMADecompressor(lzma.FORMAT_RAW, filters=[options])
    data = restore_calls(decompressor.decompress(packed[13:]))
    assert decompressor.eof and not decompressor.unused_data, "the stream ends in its end marker, at the end"
    assert len(data) == size, (len(data), size)
    value = 0x811C9DC5
    for byte in data:
        value = ((value ^ byte) * 0x01000193) & 0xFFFFFFFF
    assert value == hash_
    return data
