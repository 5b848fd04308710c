"""Writes the inputs that are awkward for the worker's packer, each raw and packed, and a resource script
that embeds them for the Win32 tests: RAW and PACKED resources named after the case, and resource 101, the
test program's packed "worker" (TEST_EMBEDDED_CONTENT of tests/unit/win32/test_resources.h).

    packed_fixtures.py FOLDER
"""
import random
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "scripts"))
from pack_worker import CHUNK, pack  # noqa: E402

EMBEDDED_CONTENT = b"not a program\r\n"


def cases():
    rng = random.Random(20240611)
    noise = rng.randbytes
    text = bytes(rng.choice(b"etaoin shrdlu\r\n") for _ in range(2 * CHUNK))
    return {
        "EMPTY": b"",
        "ONE_BYTE": b"x",
        "ZEROS": bytes(3 * CHUNK + 100),  # one match runs to each chunk's end
        "NOISE": noise(2 * CHUNK + 1),  # stored chunks, then a stored tail of one byte
        "EXACT_CHUNKS": text,  # no tail chunk
        "PERIOD_37": (bytes(range(37)) * 400)[:3 * CHUNK + 7],  # the longest match at every offset width
        "MIXED": noise(CHUNK - 5) + bytes(CHUNK + 10) + noise(300) + text[:700],  # stored and packed, unaligned
    }


def main(folder):
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    lines = ["LANGUAGE 0x11, 0x1"]
    for name, data in cases().items():
        (folder / f"{name}.raw").write_bytes(data)
        (folder / f"{name}.packed").write_bytes(pack(data))
        lines += [f'{name} RAW "{folder / name}.raw"', f'{name} PACKED "{folder / name}.packed"']
    (folder / "embedded.packed").write_bytes(pack(EMBEDDED_CONTENT))
    lines.append(f'101 RT_BINARY "{folder / "embedded.packed"}"')
    (folder / "packed_fixtures.rc").write_text("\n".join(lines) + "\n")


if __name__ == "__main__":
    main(sys.argv[1])
