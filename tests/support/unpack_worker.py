"""Unpacks the worker that the launcher embeds, independently of scripts/pack_worker.py: the header
("KvZ1", unpacked size, FNV-1a of the unpacked bytes), then LZNT1 as ntdll's RtlDecompressBuffer reads it."""
import struct


def _chunk(body, out):
    """Appends the bytes of one compressed chunk to `out`."""
    start = len(out)
    at = 0
    while at < len(body):
        flags = body[at]
        at += 1
        for bit in range(8):
            if at >= len(body):
                break
            if not flags >> bit & 1:
                out.append(body[at])
                at += 1
                continue
            code = struct.unpack_from("<H", body, at)[0]
            at += 2
            offset_bits = 4
            while offset_bits < 12 and 1 << offset_bits < len(out) - start:
                offset_bits += 1
            length = (code & (1 << (16 - offset_bits)) - 1) + 3
            distance = (code >> (16 - offset_bits)) + 1
            if distance > len(out) - start:
                raise ValueError("back-reference before the chunk")
            for _ in range(length):
                out.append(out[-distance])
    if len(out) - start > 4096:
        raise ValueError("chunk unpacks to more than 4,096 bytes")


def lznt1(data):
    out = bytearray()
    at = 0
    while at + 2 <= len(data):
        header = struct.unpack_from("<H", data, at)[0]
        at += 2
        if not header:
            return bytes(out)
        if header >> 12 & 7 != 3:
            raise ValueError(f"chunk signature {header:#06x}")
        size = (header & 0xFFF) + 1
        if at + size > len(data):
            raise ValueError("chunk runs past the end")
        if len(out) % 4096:
            raise ValueError("a short chunk before the last")
        if header & 0x8000:
            _chunk(data[at:at + size], out)
        else:
            out += data[at:at + size]
        at += size
    raise ValueError("no end mark")


def unpack(packed):
    mark, size, hash_ = struct.unpack_from("<4sII", packed)
    assert mark == b"KvZ1", mark
    data = lznt1(packed[12:])
    assert len(data) == size, (len(data), size)
    value = 0x811C9DC5
    for byte in data:
        value = ((value ^ byte) * 0x01000193) & 0xFFFFFFFF
    assert value == hash_
    return data
