"""Writes the inputs that are awkward for the worker's packer, each raw and packed: a resource script that embeds
them for the Win32 tests (RAW and PACKED resources named after the case, and resource 101, the test program's
packed "worker", TEST_EMBEDDED_CONTENT of tests/unit/win32/test_resources.h), and a header that holds them for
the pure tests.

    packed_fixtures.py FOLDER
"""
import random
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "scripts"))
from pack_worker import pack  # noqa: E402

EMBEDDED_CONTENT = b"not a program\r\n"


def cases():
    rng = random.Random(20240611)
    noise = rng.randbytes
    words = [bytes(rng.choice(b"etaoinshrdlu") for _ in range(rng.randint(2, 9))) for _ in range(40)]
    text = b" ".join(rng.choice(words) for _ in range(1500))  # matches at many distances, and repeated ones
    calls = bytes(rng.choice(b"\xE8\xE8\x00\xFF\x90") for _ in range(3000))  # calls inside calls' operands
    return {
        "EMPTY": b"",
        "ONE_BYTE": b"x",
        "ZEROS": bytes(20000),  # matches of the longest length, over and over
        "NOISE": noise(3000),  # literals alone
        "CALLS": calls,
        # An E8 inside a converted operand, then E8s in the last four bytes, where no operand fits.
        "CALL_AT_END": b"\xE8\xE8\x02\x03\x04\x90\xE8\xE8\x00\xE8",
        "MIXED": text[:5000] + noise(700) + bytes(2000) + calls[:1500] + text[5000:9000] + noise(5),
    }


def c_string(data):
    # Octal escapes have at most three digits, so no following character can extend one.
    return '"' + "".join(f"\\{byte:03o}" for byte in data) + '"'


def main(folder):
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    lines = ["LANGUAGE 0x11, 0x1"]
    rows = []
    for name, data in cases().items():
        packed = pack(data)
        (folder / f"{name}.raw").write_bytes(data)
        (folder / f"{name}.packed").write_bytes(packed)
        lines += [f'{name} RAW "{folder / name}.raw"', f'{name} PACKED "{folder / name}.packed"']
        rows.append(f'    {{"{name}", {c_string(data)}, {len(data)}, {c_string(packed)}, {len(packed)}}},')
    (folder / "embedded.packed").write_bytes(pack(EMBEDDED_CONTENT))
    lines.append(f'101 RT_BINARY "{folder / "embedded.packed"}"')
    (folder / "packed_fixtures.rc").write_text("\n".join(lines) + "\n")
    header = ["// Written by tests/support/packed_fixtures.py.", "#pragma once", "struct PackedFixture {",
              "    const char *name;", "    const char *raw;", "    unsigned rawSize;", "    const char *packed;",
              "    unsigned packedSize;", "};", "static const PackedFixture PACKED_FIXTURES[] = {"] + rows + ["};"]
    (folder / "packed_fixtures.h").write_text("\n".join(header) + "\n")


if __name__ == "__main__":
    main(sys.argv[1])
