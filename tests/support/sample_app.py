"""A sample application for the update tests: version 1.0 installed inside the Wine prefix, version 1.1 as a
.zip or .tar.gz, and the update information file that points at it.

Version 1.0 has nested folders, a read-only file and names in code page 932; 1.1 changes some files, adds a
file and a folder, and leaves others out (they must survive the update untouched). Archive names are code page
932 bytes without the UTF-8 flag, as archivers on a Japanese Windows write them.
"""
import io
import os
import shutil
import stat
import struct
import tarfile
import time
import uuid
import zlib
from pathlib import Path

import harness

SECTION = "SampleApp"
APP_EXE = "sample.exe"

VERSION_1_0 = {
    APP_EXE: b"MZ sample application 1.0\r\n",
    "readme.txt": b"version 1.0\r\n",
    "表示.txt": "表示 1.0\r\n".encode("cp932"),
    "データ/設定.ini": b"[settings]\r\nlevel=1\r\n",
    "lib/core.dat": bytes(range(256)) * 4,
    "lib/deep/nested.bin": b"nested 1.0" * 100,
    "readonly.dat": b"read-only 1.0",
    "keep.txt": b"not in the update",
}
READ_ONLY = "readonly.dat"

# What the archive of 1.1 holds: changed files, one unchanged file, a new file and a new folder.
ARCHIVE_1_1 = {
    APP_EXE: b"MZ sample application 1.1, somewhat longer\r\n",
    "表示.txt": "表示 1.1 更新済み\r\n".encode("cp932"),
    "データ/設定.ini": b"[settings]\r\nlevel=2\r\nextra=yes\r\n",
    "lib/core.dat": bytes(range(256)) * 4,
    "lib/deep/nested.bin": b"nested 1.1" * 150,
    READ_ONLY: b"read-only 1.1",
    "new.txt": b"added in 1.1",
    "新フォルダ/追加.txt": "追加 1.1".encode("cp932"),
}


def version_1_1():
    """The whole application folder after a successful update."""
    return dict(VERSION_1_0, **ARCHIVE_1_1)


def replaced_files():
    """The files the update overwrites: what a backup holds, with their 1.0 contents."""
    return {name: VERSION_1_0[name] for name in ARCHIVE_1_1 if name in VERSION_1_0}


def tree(root):
    """{relative path with '/': bytes} of every file under root, and {relative path + '/': None} for folders."""
    root = Path(root)
    found = {}
    for folder, folders, files in os.walk(root):
        for name in folders:
            found[Path(folder, name).relative_to(root).as_posix() + "/"] = None
        for name in files:
            path = Path(folder, name)
            found[path.relative_to(root).as_posix()] = path.read_bytes()
    return found


def files_only(found):
    return {name: data for name, data in found.items() if data is not None}


def make_writable(root):
    """Undoes read-only marks so that the folder can be removed."""
    root = Path(root)
    if not root.exists():
        return
    for path in [root, *root.rglob("*")]:
        if not path.is_symlink():
            path.chmod(0o755 if path.is_dir() else 0o644)


class SampleApp:
    """One installed copy of version 1.0 in drive_c/KovrelTest/<unique>/App."""

    def __init__(self, name=None, base=None):
        self.base = base or harness.PREFIX / "drive_c" / "KovrelTest" / (name or uuid.uuid4().hex[:12])
        self.folder = self.base / "App"

    def install(self, files=VERSION_1_0):
        for name, data in files.items():
            path = self.folder / name
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(data)
        # Wine shows a file without write permission for its owner as FILE_ATTRIBUTE_READONLY.
        (self.folder / READ_ONLY).chmod(stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)
        return self

    @property
    def exe(self):
        return self.folder / APP_EXE

    def windows_exe(self):
        return harness.windows_path(self.exe)

    def run_log(self):
        """The application's run log in the test prefix."""
        return harness.log_path(SECTION, harness.application_folder(self.exe))

    def remove(self):
        self.run_log().unlink(missing_ok=True)
        make_writable(self.base)
        if self.base.exists():
            shutil.rmtree(self.base)


def write_zip(path, files):
    """A zip built by hand, so that names stay code page 932 bytes without the UTF-8 flag. Folders get their
    own entries; contents alternate between stored and deflated."""
    entries = []
    for name in files:
        parts = name.split("/")
        for depth in range(1, len(parts)):
            folder = "/".join(parts[:depth]) + "/"
            if folder not in [e[0] for e in entries]:
                entries.append((folder, b""))
        entries.append((name, files[name]))
    stamp_time, stamp_date = 0x6000, 0x5A21  # 12:00, 2025-01-01 in DOS form
    body = io.BytesIO()
    directory = io.BytesIO()
    for index, (name, data) in enumerate(entries):
        raw_name = name.encode("cp932")
        crc = zlib.crc32(data) & 0xFFFFFFFF
        if index % 2 and data:
            packer = zlib.compressobj(9, zlib.DEFLATED, -15)
            packed, method = packer.compress(data) + packer.flush(), 8
        else:
            packed, method = data, 0
        offset = body.tell()
        body.write(struct.pack("<4sHHHHHIIIHH", b"PK\x03\x04", 20, 0, method, stamp_time, stamp_date, crc,
                               len(packed), len(data), len(raw_name), 0))
        body.write(raw_name + packed)
        attributes = 0x10 if name.endswith("/") else 0x20
        directory.write(struct.pack("<4sHHHHHHIIIHHHHHII", b"PK\x01\x02", 20, 20, 0, method, stamp_time,
                                    stamp_date, crc, len(packed), len(data), len(raw_name), 0, 0, 0, 0,
                                    attributes, offset))
        directory.write(raw_name)
    start = body.tell()
    central = directory.getvalue()
    end = struct.pack("<4sHHHHIIH", b"PK\x05\x06", 0, 0, len(entries), len(entries), len(central), start, 0)
    Path(path).write_bytes(body.getvalue() + central + end)
    return Path(path)


def write_tar_gz(path, files):
    """A gzip-compressed GNU tar with code page 932 names and folder entries."""
    folders = sorted({"/".join(name.split("/")[:d]) for name in files for d in range(1, name.count("/") + 1)})
    with tarfile.open(path, "w:gz", format=tarfile.GNU_FORMAT, encoding="cp932") as archive:
        for folder in folders:
            info = tarfile.TarInfo(folder)
            info.type, info.mode, info.mtime = tarfile.DIRTYPE, 0o755, int(time.time())
            archive.addfile(info)
        for name, data in files.items():
            info = tarfile.TarInfo(name)
            info.size, info.mode, info.mtime = len(data), 0o644, int(time.time())
            archive.addfile(info, io.BytesIO(data))
    return Path(path)


def info_text(archive_url=None, version="1.1", section=SECTION):
    """The update information file; None leaves a key out."""
    lines = [f"[{section}]"]
    if version is not None:
        lines.append(f"APP_VER={version}")
    if archive_url is not None:
        lines.append(f"APP_URL={archive_url}")
    return ("\r\n".join(lines) + "\r\n").encode("cp932")
