#!/usr/bin/env python3
"""Packs the worker program for the launcher to embed: a small header, then the program in LZNT1.

The launcher unpacks it with ntdll's RtlDecompressBuffer, present on every Windows, so it carries no
decompressor. The header (little-endian) is the mark, the unpacked size and the FNV-1a hash of the unpacked
bytes: LZNT1 itself has no check, and the launcher must never write a damaged worker.

    pack_worker.py INPUT OUTPUT
"""
import struct
import sys

MARK = b"KvZ1"
HEADER = struct.Struct("<4sII")
CHUNK = 4096
MIN_MATCH = 3
# Candidates looked at per position: enough for executables, and a build stays within a few seconds.
CHAIN_DEPTH = 64
# Match lengths tried below a match's longest when choosing the cheapest way through a chunk.
SHORT_CUTS = 32


def fnv1a(data):
    value = 0x811C9DC5
    for byte in data:
        value = ((value ^ byte) * 0x01000193) & 0xFFFFFFFF
    return value


def _length_bits(position):
    """The bits of a back-reference's length at `position` bytes into a chunk; the offset has the rest."""
    offset_bits = 4
    while (1 << offset_bits) < position:
        offset_bits += 1
    return 16 - offset_bits


def _longest_matches(chunk):
    """For every position of a chunk, its longest earlier match within the chunk: (length, distance), or
    (0, 0). The longest a match may be depends on the position, as the offset takes more bits further in."""
    size = len(chunk)
    heads = {}
    found = [(0, 0)] * size
    for position in range(size - MIN_MATCH + 1):
        key = chunk[position:position + MIN_MATCH]
        candidates = heads.setdefault(key, [])
        most = min((1 << _length_bits(position)) - 1 + MIN_MATCH, size - position)
        best_length = best_distance = 0
        for start in reversed(candidates[-CHAIN_DEPTH:]):
            if best_length and chunk[start + best_length] != chunk[position + best_length]:
                continue
            if chunk[start:start + most] == chunk[position:position + most]:
                best_length, best_distance = most, position - start
                break
            length = MIN_MATCH
            while length < most and chunk[start + length] == chunk[position + length]:
                length += 1
            if length > best_length:
                best_length, best_distance = length, position - start
        found[position] = (best_length, best_distance)
        candidates.append(position)
    return found


def _compress_chunk(chunk):
    """The tokens of one chunk (flag bytes included), or None when they are no shorter than the chunk.
    The cheapest way through the chunk is chosen from its end: a literal costs 9 bits, a match 17, and a
    match may be cut short where that lets a longer one start sooner."""
    size = len(chunk)
    matches = _longest_matches(chunk)
    cost = [0] * (size + 1)
    step = [1] * size
    for position in range(size - 1, -1, -1):
        best, take = 9 + cost[position + 1], 1
        length = matches[position][0]
        if length:
            # Every length up to a short bound, and the longest: longer cuts rarely pay.
            for candidate in list(range(MIN_MATCH, min(length, SHORT_CUTS) + 1)) + [length]:
                total = 17 + cost[position + candidate]
                if total < best:
                    best, take = total, candidate
        cost[position], step[position] = best, take
    out = bytearray()
    flag_at = -1
    token = 8
    position = 0
    while position < size:
        if token == 8:
            flag_at = len(out)
            out.append(0)
            token = 0
        if step[position] > 1:
            code = ((matches[position][1] - 1) << _length_bits(position)) | (step[position] - MIN_MATCH)
            out += struct.pack("<H", code)
            out[flag_at] |= 1 << token
        else:
            out.append(chunk[position])
        position += step[position]
        token += 1
        if len(out) >= size:  # compressed data must stay below the raw size to be worth its flag bytes
            return None
    return out


def compress(data):
    """LZNT1: chunks of 4,096 bytes, each compressed when that makes it shorter, then an end mark."""
    out = bytearray()
    for start in range(0, len(data), CHUNK):
        chunk = bytes(data[start:start + CHUNK])
        tokens = _compress_chunk(chunk)
        if tokens is None:
            out += struct.pack("<H", 0x3000 | (len(chunk) - 1)) + chunk
        else:
            out += struct.pack("<H", 0xB000 | (len(tokens) - 1)) + tokens
    return bytes(out + b"\0\0")


def pack(data):
    return HEADER.pack(MARK, len(data), fnv1a(data)) + compress(data)


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
