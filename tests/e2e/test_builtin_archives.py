"""The worker's own unpacker (zip, jar, tar, tar.gz, tgz, gz) through unpack_driver.exe, many archives per
process: good archives unpack exactly; hostile ones are refused whole, with their cause in the run log and
nothing written outside their destination."""
import gzip
import io
import os
import shutil
import struct
import subprocess
import tarfile
import zipfile
import zlib

import harness
import pytest
from sample_app import tree

DRIVER = harness.DIST / "unpack_driver.exe"
DONE, FAILED, STOPPED = 0, 1, 3
REFUSED, DISK_SPACE = 4, 7

UNICODE = {"日本語.txt": b"nihongo" * 3000, "Ελληνικά/αρχείο.txt": b"greek", "😀 smile.txt": b"",
           "bin/app.exe": bytes(range(256)) * 500 + os.urandom(20000)}


def expected_tree(files):
    """The tree (as sample_app.tree gives it) that unpacking `files` makes, folders included."""
    found = {}
    for name, data in files.items():
        parts = name.rstrip("/").split("/")
        for i in range(1, len(parts)):
            found["/".join(parts[:i]) + "/"] = None
        found[name] = data
    return found


# --- archives as tools write them -------------------------------------------------------------------------

def python_zip(files, **options):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as archive:
        for i, (name, data) in enumerate(files.items()):
            method = zipfile.ZIP_DEFLATED if i % 2 == 0 else zipfile.ZIP_STORED
            if options.get("force_zip64"):
                with archive.open(zipfile.ZipInfo(name), "w", force_zip64=True) as entry:
                    entry.write(data)
            else:
                archive.writestr(name, data, compress_type=method)
        archive.writestr(zipfile.ZipInfo("Ελληνικά/"), b"")
        archive.comment = options.get("comment", b"")
    return out.getvalue()


class Unseekable(io.RawIOBase):
    """A stream that cannot seek, so that zipfile writes data descriptors after each entry."""
    def __init__(self):
        self.data = bytearray()

    def writable(self):
        return True

    def write(self, b):
        self.data += b
        return len(b)


def zip_with_descriptors(files):
    out = Unseekable()
    with zipfile.ZipFile(out, "w", compression=zipfile.ZIP_DEFLATED) as archive:
        for name, data in files.items():
            archive.writestr(name, data)
    return bytes(out.data)


def with_zip64_end(data):
    """The archive with its end record at the maximum values, the real ones in zip64 end records."""
    end = data.rindex(b"PK\x05\x06")
    count, size, offset = struct.unpack_from("<HII", data, end + 10)
    record = struct.pack("<4sQHHIIQQQQ", b"PK\x06\x06", 44, 45, 45, 0, 0, count, count, size, offset)
    locator = struct.pack("<4sIQI", b"PK\x06\x07", 0, end, 1)
    return data[:end] + record + locator + struct.pack("<4sHHHHIIH", b"PK\x05\x06", 0, 0, 0xFFFF, 0xFFFF,
                                                       0xFFFFFFFF, 0xFFFFFFFF, 0)


def python_tar(files, fmt, compression=""):
    out = io.BytesIO()
    with tarfile.open(fileobj=out, mode="w:" + compression, format=fmt, encoding="utf-8") as archive:
        for name, data in files.items():
            info = tarfile.TarInfo(name)
            if data is None:
                info.type = tarfile.DIRTYPE
                archive.addfile(info)
            else:
                info.size = len(data)
                archive.addfile(info, io.BytesIO(data))
    return out.getvalue()


LONG = "long/" + "n" * 120 + "/" + "日" * 30 + ".txt"
TAR_FILES = dict(UNICODE, **{LONG: b"long name", "empty/": None})
GOOD = {
    "unicode.zip": (python_zip(UNICODE), expected_tree(UNICODE)),
    "unicode.jar": (python_zip(UNICODE), expected_tree(UNICODE)),
    "descriptors.zip": (zip_with_descriptors(UNICODE), expected_tree(UNICODE)),
    "zip64-local.zip": (python_zip(UNICODE, force_zip64=True), expected_tree(UNICODE)),
    "zip64-end.zip": (with_zip64_end(python_zip(UNICODE)), expected_tree(UNICODE)),
    "comment.zip": (python_zip(UNICODE, comment=b"PK\x05\x06 in a comment"), expected_tree(UNICODE)),
    "gnu.tar": (python_tar(TAR_FILES, tarfile.GNU_FORMAT), expected_tree(TAR_FILES)),
    "pax.tar.gz": (python_tar(TAR_FILES, tarfile.PAX_FORMAT, "gz"), expected_tree(TAR_FILES)),
    "ustar.tgz": (python_tar({"a/b.txt": b"b", "c.txt": b"c" * 70000}, tarfile.USTAR_FORMAT, "gz"),
                  {"a/": None, "a/b.txt": b"b", "c.txt": b"c" * 70000}),
    "app.exe.gz": (gzip.compress(UNICODE["bin/app.exe"]), {"app.exe": UNICODE["bin/app.exe"]}),
}


# --- archives made to harm -----------------------------------------------------------------------------------

def raw_zip(entries, split=False, cut=0):
    """A zip from entry dicts: name (str or bytes), data, and overrides of what the headers declare: method,
    crc, size, flags, system (the 'made by' host), attributes, local (a dict of local-header overrides),
    extra (the central extra field)."""
    body, central = bytearray(), bytearray()
    for e in entries:
        name = e["name"] if isinstance(e["name"], bytes) else e["name"].encode("utf-8")
        raw = e.get("data", b"")
        method = e.get("method", 8)
        packed = zlib.compress(raw)[2:-4] if method == 8 and "packed" not in e else e.get("packed", raw)
        flags = e.get("flags", 0x800)
        crc, size = e.get("crc", zlib.crc32(raw)), e.get("size", len(raw))
        local = dict(dict(crc=crc, size=size, packed=len(packed), name=name, flags=flags), **e.get("local", {}))
        extra = e.get("extra", b"")
        offset = len(body)
        body += struct.pack("<4sHHHHHIIIHH", b"PK\x03\x04", 20, local["flags"], method, 0, 0, local["crc"],
                            local["packed"], local["size"], len(local["name"]), 0) + local["name"] + packed
        central += struct.pack("<4sHHHHHHIIIHHHHHII", b"PK\x01\x02", e.get("system", 0) << 8 | 20, 20, flags,
                               method, 0, 0, crc, len(packed), size if size < 0xFFFFFFFF else 0xFFFFFFFF, len(name), len(extra), 0, 0, 0,
                               e.get("attributes", 0), offset) + name + extra
    disk = 1 if split else 0
    end = struct.pack("<4sHHHHIIH", b"PK\x05\x06", disk, disk, len(entries), len(entries), len(central), len(body), 0)
    data = bytes(body + central + end)
    return data[:len(data) - cut] if cut else data


def raw_tar(member, data=b"", fmt=tarfile.GNU_FORMAT):
    out = io.BytesIO()
    with tarfile.open(fileobj=out, mode="w", format=fmt, encoding="utf-8") as archive:
        archive.addfile(tarfile.TarInfo("ok.txt"), io.BytesIO(b""))
        member.size = len(data) if member.type in (tarfile.REGTYPE, tarfile.AREGTYPE) else 0
        archive.addfile(member, io.BytesIO(data))
    return out.getvalue()


def tar_member(name, kind=tarfile.REGTYPE, link=""):
    member = tarfile.TarInfo(name)
    member.type, member.linkname = kind, link
    return member


def damaged_checksum(data):
    return data[:148] + b"0000000\0" + data[156:]


BAD_NAMES = ["../x.txt", "..\\x.txt", "/abs.txt", "\\abs.txt", "C:/x.txt", "C:x.txt", "a.txt:stream", "CON.txt",
             "sub/nul", "com1.log", "dot.", "blank ", "a<b.txt", "a|b.txt", "q?.txt", "tab\t.txt", "sub/../../x.txt"]
SIZE_1_TIB = 1 << 40
HOSTILE = [(f"name{i}.zip", raw_zip([{"name": "ok.txt", "data": b"ok"}, {"name": name, "data": b"x"}]),
            "entry name refused: " + name, REFUSED) for i, name in enumerate(BAD_NAMES)] + [
    ("link.zip", raw_zip([{"name": "link", "data": b"/etc/passwd", "system": 3, "attributes": 0o120777 << 16}]),
     "link or device entry: link", REFUSED),
    ("fifo.zip", raw_zip([{"name": "fifo", "system": 3, "attributes": 0o010644 << 16}]), "link or device entry", REFUSED),
    ("encrypted.zip", raw_zip([{"name": "secret.txt", "data": b"s", "flags": 0x801}]), "encrypted entry: secret.txt",
     REFUSED),
    ("bzip2.zip", raw_zip([{"name": "b.txt", "data": b"b", "method": 12}]), "compression method 12 not supported: b.txt",
     REFUSED),
    ("crc.zip", raw_zip([{"name": "bin/app.exe", "data": b"MZ" * 100, "crc": 1234}]), "CRC mismatch: bin/app.exe",
     REFUSED),
    ("local.zip", raw_zip([{"name": "a.txt", "data": b"a", "local": {"crc": 99}}]),
     "local header disagrees with the directory: a.txt", REFUSED),
    ("local-name.zip", raw_zip([{"name": "a.txt", "data": b"a", "local": {"name": b"../"}}]),
     "local header disagrees with the directory: a.txt", REFUSED),
    ("longer.zip", raw_zip([{"name": "bomb.bin", "data": bytes(1 << 20), "size": 1000}]),
     "entry larger than declared: bomb.bin", REFUSED),
    ("shorter.zip", raw_zip([{"name": "s.bin", "data": b"s" * 100, "size": 5000}]), "entry smaller than declared: s.bin",
     REFUSED),
    ("twice.zip", raw_zip([{"name": "a.txt", "data": b"1"}, {"name": "A.TXT", "data": b"2"}]),
     "entry named twice: A.TXT", REFUSED),
    ("split.zip", raw_zip([{"name": "a.txt", "data": b"a"}], split=True), "split zip archives are not supported",
     REFUSED),
    ("cut.zip", raw_zip([{"name": "a.txt", "data": b"a"}], cut=5), "not a zip archive", REFUSED),
    ("huge.zip", raw_zip([{"name": "h.bin", "data": b"h", "size": SIZE_1_TIB,
                           "extra": struct.pack("<HHQ", 1, 8, SIZE_1_TIB), "local": {"size": 0}}]), "the unpacked files need", DISK_SPACE),
    ("symlink.tar", raw_tar(tar_member("s", tarfile.SYMTYPE, "/etc")), "link or device entry: s", REFUSED),
    ("hardlink.tar", raw_tar(tar_member("h", tarfile.LNKTYPE, "ok.txt")), "link or device entry: h", REFUSED),
    ("fifo.tar", raw_tar(tar_member("f", tarfile.FIFOTYPE)), "link or device entry: f", REFUSED),
    ("device.tar", raw_tar(tar_member("d", tarfile.CHRTYPE)), "link or device entry: d", REFUSED),
    ("dotdot.tar", raw_tar(tar_member("../up.txt"), b"u"), "entry name refused: ../up.txt", REFUSED),
    ("pax.tar", raw_tar(tar_member("C:\\Windows\\日.txt"), b"x", tarfile.PAX_FORMAT), "entry name refused: C:", REFUSED),
    ("checksum.tar", damaged_checksum(raw_tar(tar_member("a.txt"), b"a")), "damaged tar header", REFUSED),
    ("cut.tar.gz", gzip.compress(raw_tar(tar_member("a.txt"), os.urandom(50000)))[:-3000], "the gzip data is damaged",
     REFUSED),
    ("crc.gz", gzip.compress(b"payload")[:-8] + struct.pack("<II", 1, 7), "the gzip data is damaged", REFUSED),
]


def run_driver(wine_env, pairs, extra_env=None):
    arguments = []
    for archive, destination in pairs:
        arguments += [harness.windows_path(archive), harness.windows_path(destination)]
    log = harness.log_path("unpack-driver", "")
    if log.exists():
        log.unlink()
    result = subprocess.run([harness.WINE, str(DRIVER)] + arguments, env=dict(wine_env, **(extra_env or {})),
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=600, check=True)
    lines = result.stdout.decode().splitlines()
    outcomes = [tuple(int(v) for v in line.split()[1:8:2]) for line in lines if line.startswith("outcome")]
    logged = {}
    for line in log.read_bytes().decode("utf-8", "replace").split("\r\n"):
        words = line.split(" ", 1)
        if len(words) == 2 and words[1].startswith("archive "):
            current = logged.setdefault(words[1][8:].rsplit("\\", 1)[-1], [])
        elif len(words) == 2:
            current.append(words[1])
    assert all("beyond" not in line for line in lines), lines
    return outcomes, logged, lines


def test_good_archives_unpack_exactly(wine_env, tmp_path):
    pairs = []
    for name, (data, _) in GOOD.items():
        (tmp_path / name).write_bytes(data)
        pairs.append((tmp_path / name, tmp_path / ("out-" + name)))
    outcomes, logged, _ = run_driver(wine_env, pairs)
    for (name, (_, expected)), outcome in zip(GOOD.items(), outcomes):
        assert outcome[:3] == (DONE, 0, 0), (name, outcome, logged.get(name))
        assert outcome[3] >= 1, "the progress was told"
        assert tree(tmp_path / ("out-" + name)) == expected, name


def test_hostile_archives_are_refused_whole(wine_env, tmp_path):
    pairs = []
    for name, data, _, _ in HOSTILE:
        (tmp_path / "archives").mkdir(exist_ok=True)
        (tmp_path / "archives" / name).write_bytes(data)
        pairs.append((tmp_path / "archives" / name, tmp_path / "out" / name))
    (tmp_path / "out").mkdir()
    outcomes, logged, _ = run_driver(wine_env, pairs)
    assert len(outcomes) == len(HOSTILE)
    for (name, _, cause_text, cause), outcome in zip(HOSTILE, outcomes):
        assert outcome[:2] == (FAILED, cause), (name, outcome, logged.get(name))
        assert any(line.startswith(cause_text) for line in logged[name]), (name, logged.get(name))
    # Nothing was written beside the destinations: no "x.txt" above them, no stream, no device.
    assert sorted(os.listdir(tmp_path)) == ["archives", "out"]
    assert sorted(os.listdir(tmp_path / "out")) == sorted(name for name, _, _, _ in HOSTILE)
    # Names, kinds and sizes are checked before the first write.
    for name in ("name0.zip", "link.zip", "bzip2.zip", "huge.zip", "symlink.tar", "pax.tar"):
        assert tree(tmp_path / "out" / name) == {}, name


def test_a_stop_ends_the_unpacking_within_a_second(wine_env, tmp_path):
    big = {f"part{i}.bin": os.urandom(1 << 20) for i in range(24)}
    (tmp_path / "big.zip").write_bytes(python_zip(big))
    outcomes, _, lines = run_driver(wine_env, [(tmp_path / "big.zip", tmp_path / "out")],
                                    {"KOVREL_DRIVER_STOP_AFTER": "3"})
    assert outcomes[0][0] == STOPPED, outcomes
    stopped = [int(line.split()[2]) for line in lines if line.startswith("stopped after")]
    assert stopped and stopped[0] < 1000, lines
    assert len(tree(tmp_path / "out")) < len(big)


def test_a_missing_library_is_named(wine_env, tmp_path):
    library = harness.PREFIX / "drive_c" / "windows" / "system32" / "Unlha32.dll"
    aside = tmp_path / "Unlha32.dll"
    shutil.move(library, aside)
    try:
        (tmp_path / "update.lzh").write_bytes(python_zip({"a.txt": b"a"}))
        outcomes, logged, _ = run_driver(wine_env, [(tmp_path / "update.lzh", tmp_path / "out")])
    finally:
        shutil.move(aside, library)
    assert outcomes[0][0] == FAILED
    assert logged["update.lzh"] == ["no archiver library Unlha32.dll for .lzh"]
