"""The stand-in archiver libraries, called as the worker calls them: loaded by bare name from the prefix's
system folder through archiver_driver.exe, with the worker's exact command lines."""
import gzip
import io
import os
import struct
import subprocess
import tarfile
import zipfile

import harness
import pytest
from pe_resources import PeFile

DRIVER = harness.DIST / "archiver_driver.exe"
BAD_COMMAND_LINE, DAMAGED, UNSAFE_NAME, CANCELLED = 0x8001, 0x8003, 0x8004, 0x8020

# (library, command function, archive extension, command line template, quiet option) as the worker sends them.
KINDS = {
    "Unlha": ("Unlha32.dll", "Unlha", ".lzh", "x -c1ga1{opt} {archive} {dest} *.*", "n1"),
    "UnZip": ("Unzip32.dll", "UnZip", ".zip", "-x -o{opt} {archive} {dest} *.*", " --i"),
    "Tar": ("tar32.dll", "Tar", ".tar", "-x{opt} {archive} {dest} *.*", " --display-dialog=0"),
    "Cab": ("cab32.dll", "Cab", ".cab", "-x -o{opt} {archive} {dest} *.*", " -i"),
    "Unrar": ("unrar32.dll", "Unrar", ".rar", "-x -o {archive} {dest} *", ""),
    "SevenZip": ("7-zip32.dll", "SevenZip", ".7z", "x -aoa{opt} {archive} {dest}", " -hide"),
}


def quoted(path):
    return f'"{path}"' if " " in path else path


def command_line(kind, archive, dest, quiet=False):
    template, option = KINDS[kind][3], KINDS[kind][4]
    return template.format(opt=option if quiet else "", archive=quoted(harness.windows_path(archive)),
                           dest=quoted(harness.windows_path(dest) + "\\"))


class Driver:
    def __init__(self, env, scratch):
        self.env = env
        self.scratch = scratch
        self.count = 0

    def run(self, kind, line, queries=0, calls=1, extra_env=None):
        """Returns (exit code, busy answers, result codes)."""
        dll, command = KINDS[kind][:2]
        self.count += 1
        line_file = self.scratch / f"line{self.count}.txt"
        line_file.write_bytes(line.encode("utf-8"))
        result = subprocess.run(
            [harness.WINE, str(DRIVER), dll, command, command + "GetRunning", harness.windows_path(line_file),
             str(queries), str(calls)],
            env=dict(self.env, **(extra_env or {})), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
            timeout=120, check=False)
        line_file.unlink()
        lines = result.stdout.decode("utf-8", "replace").split()
        busy = [int(v) for k, v in zip(lines[::2], lines[1::2]) if k == "busy"]
        results = [int(v, 16) for k, v in zip(lines[::2], lines[1::2]) if k == "result"]
        return result.returncode, busy, results

    def extract(self, kind, archive, dest, quiet=False, extra_env=None):
        code, _, results = self.run(kind, command_line(kind, archive, dest, quiet), extra_env=extra_env)
        assert code == 0 and len(results) == 1, (code, results)
        return results[0]


@pytest.fixture
def driver(wine_env, tmp_path):
    return Driver(wine_env, tmp_path)


def tree(root):
    """{relative path: bytes, or None for a folder} of everything under root."""
    found = {}
    for folder, folders, files in os.walk(root):
        for name in folders:
            found[os.path.relpath(os.path.join(folder, name), root)] = None
        for name in files:
            path = os.path.join(folder, name)
            found[os.path.relpath(path, root)] = open(path, "rb").read()
    return found


BIG = bytes(range(256)) * 1500 + os.urandom(70000)
# Zip entries alternate stored and deflated, so the big one is deflated.
CONTENT = {"readme.txt": b"hello\r\n", "big.bin": BIG, "empty.txt": b"", "sub/deeper/data.txt": b"nested",
           "sub/only-folder/": None, "with blank/x y.txt": b"blank"}
EXPECTED = {"readme.txt": b"hello\r\n", "empty.txt": b"", "big.bin": BIG, "sub": None, "sub/deeper": None,
            "sub/deeper/data.txt": b"nested", "sub/only-folder": None, "with blank": None,
            "with blank/x y.txt": b"blank"}


def write_zip(path, entries, comment=b""):
    with zipfile.ZipFile(path, "w") as archive:
        for i, (name, data) in enumerate(entries.items()):
            if data is None:
                archive.writestr(zipfile.ZipInfo(name), b"")
            else:
                method = zipfile.ZIP_DEFLATED if i % 2 else zipfile.ZIP_STORED
                archive.writestr(name, data, compress_type=method)
        archive.comment = comment
    return path


def write_tar(path, entries, mode="w", fmt=tarfile.PAX_FORMAT, encoding="utf-8"):
    with tarfile.open(path, mode, format=fmt, encoding=encoding) as archive:
        for name, data in entries.items():
            info = tarfile.TarInfo(name.rstrip("/"))
            if data is None:
                info.type = tarfile.DIRTYPE
                archive.addfile(info)
            else:
                info.size = len(data)
                archive.addfile(info, io.BytesIO(data))
    return path


def export_names(path):
    pe = PeFile(path.read_bytes())
    start = pe.offset(pe.directories[0][0])
    count, names = struct.unpack_from("<I", pe.data, start + 24)[0], struct.unpack_from("<I", pe.data, start + 32)[0]
    result = []
    for i in range(count):
        at = pe.offset(struct.unpack_from("<I", pe.data, pe.offset(names) + 4 * i)[0])
        result.append(pe.data[at:pe.data.index(b"\0", at)].decode())
    return sorted(result)


@pytest.mark.parametrize("kind", KINDS)
def test_library_exports_exactly_its_two_functions(kind, driver, tmp_path):
    dll, command = KINDS[kind][:2]
    assert export_names(harness.BUILD / "archivers" / dll) == sorted([command, command + "GetRunning"])
    installed = harness.PREFIX / "drive_c" / "windows" / "system32" / dll
    assert installed.read_bytes() == (harness.BUILD / "archivers" / dll).read_bytes()
    # The lookup by name is case-sensitive: a wrongly spelt name must not resolve.
    (tmp_path / "l.txt").write_text("")
    result = subprocess.run([harness.WINE, str(DRIVER), dll, command.lower(), command + "GetRunning",
                             harness.windows_path(tmp_path / "l.txt")], env=driver.env,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=120, check=False)
    assert (result.returncode, result.stdout.split()) == (4, [b"missing", command.lower().encode()])


@pytest.mark.parametrize("kind,quiet", [(k, q) for k in KINDS for q in (False, True)])
def test_every_kind_extracts_a_zip_and_a_tar_by_content(kind, quiet, driver, tmp_path):
    extension = KINDS[kind][2]
    archive = write_zip(tmp_path / ("in zip" + extension), CONTENT)
    dest = tmp_path / "out zip"
    assert driver.extract(kind, archive, dest, quiet) == 0
    assert tree(dest) == EXPECTED
    archive = write_tar(tmp_path / ("tar" + extension), CONTENT, "w:gz" if kind == "Unrar" else "w")
    dest = tmp_path / "out_tar"
    assert driver.extract(kind, archive, dest, quiet) == 0
    assert tree(dest) == EXPECTED


def test_zip_names_in_code_page_932_and_utf8(driver, tmp_path):
    # zipfile flags every non-ASCII name as UTF-8; an unflagged Shift-JIS name is patched in over a placeholder
    # of the same length. Both names hold 0x5C as a trail byte.
    sjis = "ソフト/表示.txt".encode("cp932")
    placeholder = b"q" * len(sjis)
    archive = tmp_path / "names.zip"
    write_zip(archive, {placeholder.decode(): b"sjis", "日本語/ü.txt": b"utf8", "win\\style.txt": b"bs"})
    data = archive.read_bytes()
    assert data.count(placeholder) == 2
    archive.write_bytes(data.replace(placeholder, sjis))
    dest = tmp_path / "出力 先"
    assert driver.extract("UnZip", archive, dest, quiet=True) == 0
    assert tree(dest) == {"ソフト": None, "ソフト/表示.txt": b"sjis", "日本語": None, "日本語/ü.txt": b"utf8",
                          "win": None, "win/style.txt": b"bs"}


def test_zip_with_a_comment_that_contains_the_end_signature(driver, tmp_path):
    archive = write_zip(tmp_path / "c.zip", {"a.txt": b"a"}, comment=b"note PK\x05\x06 fake end record")
    assert driver.extract("UnZip", archive, tmp_path / "out") == 0
    assert tree(tmp_path / "out") == {"a.txt": b"a"}


# Over 100 bytes, so each format needs its own way to store it, but with a last part that fits a ustar name.
LONG = "long-" + "d" * 90 + "/" + "n" * 80 + ".txt"


@pytest.mark.parametrize("name,mode,fmt,encoding", [
    ("ustar prefix field", "w", tarfile.USTAR_FORMAT, "cp932"),
    ("GNU long name", "w:gz", tarfile.GNU_FORMAT, "cp932"),
    ("pax path record", "w:gz", tarfile.PAX_FORMAT, "utf-8"),
])
def test_tar_long_and_japanese_names(name, mode, fmt, encoding, driver, tmp_path):
    entries = {"フォルダ/": None, "フォルダ/表示.txt": b"jp", LONG: b"long"}
    archive = write_tar(tmp_path / "x.tgz", entries, mode, fmt, encoding)
    assert driver.extract("Tar", archive, tmp_path / "out") == 0, name
    assert tree(tmp_path / "out") == {"フォルダ": None, "フォルダ/表示.txt": b"jp", LONG.split("/")[0]: None,
                                      LONG: b"long"}, name


def test_gz_without_a_tar_is_one_file_named_after_the_archive(driver, tmp_path):
    archive = tmp_path / "report.csv.gz"
    archive.write_bytes(gzip.compress(BIG))
    assert driver.extract("Tar", archive, tmp_path / "out", quiet=True) == 0
    assert tree(tmp_path / "out") == {"report.csv": BIG}


def test_existing_files_are_overwritten_and_missing_folders_created(driver, tmp_path):
    dest = tmp_path / "new" / "deeper"
    archive = write_zip(tmp_path / "a.zip", {"readme.txt": b"new"})
    assert driver.extract("UnZip", archive, dest) == 0
    (dest / "readme.txt").write_bytes(b"old and longer")
    (dest / "readme.txt").chmod(0o444)
    assert driver.extract("UnZip", archive, dest) == 0
    assert tree(dest) == {"readme.txt": b"new"}


UNSAFE = ["../evil.txt", "/abs-standin.txt", "\\abs-standin.txt", "C:/x.txt", "C:\\x.txt", "C:x.txt",
          "sub/../../evil.txt", "sub\\..\\..\\evil.txt", "... /evil.txt"]


@pytest.mark.parametrize("bad", UNSAFE)
@pytest.mark.parametrize("container", ["zip", "tar"])
def test_a_name_outside_the_destination_fails_before_anything_is_written(bad, container, driver, tmp_path):
    # The good entries come first: an engine that wrote while it checked would leave them behind.
    entries = {"good.txt": b"good", "sub/": None, bad: b"evil"}
    archive = tmp_path / ("a.zip" if container == "zip" else "a.tar")
    write_zip(archive, entries) if container == "zip" else write_tar(archive, entries)
    before = sorted(os.listdir(tmp_path))
    assert driver.extract("UnZip" if container == "zip" else "Tar", archive, tmp_path / "out") == UNSAFE_NAME
    assert sorted(os.listdir(tmp_path)) == before
    assert not os.path.exists("/abs-standin.txt")
    assert not (harness.PREFIX / "drive_c" / "x.txt").exists()


def damaged_archives(tmp_path):
    good_zip = write_zip(tmp_path / "good.zip", {"a.txt": b"a" * 1000, "b.txt": b"b" * 1000}).read_bytes()
    good_tar = write_tar(tmp_path / "good.tar", {"a.txt": b"a" * 1000}).read_bytes()
    flipped = bytearray(good_zip)
    flipped[good_zip.index(b"aaaa")] ^= 1  # a stored byte: only the CRC can tell
    bad_checksum = bytearray(good_tar)
    bad_checksum[0] ^= 1
    return {
        "zip cut short": good_zip[:len(good_zip) // 2],
        "zip content changed": bytes(flipped),
        "tar header checksum": bytes(bad_checksum),
        "tar content cut short": good_tar[:700],
        "gzip cut short": gzip.compress(good_tar)[:-30],
        "gzip broken stream": b"\x1f\x8b\x08\x00" + b"\xff" * 100,
        "unknown format": b"this is not an archive at all" * 40,
        "empty file": b"",
    }


def test_damaged_archives_fail_and_write_nothing(driver, tmp_path):
    for label, data in damaged_archives(tmp_path).items():
        archive = tmp_path / "damaged.tgz"
        archive.write_bytes(data)
        code = driver.extract("Tar", archive, tmp_path / "out")
        assert code == DAMAGED, f"{label}: {code:#x}"
        assert not (tmp_path / "out").exists(), label


def test_command_line_without_archive_or_destination_fails(driver, tmp_path):
    archive = write_zip(tmp_path / "a.zip", {"a.txt": b"a"})
    path = harness.windows_path(archive)
    cases = {"no destination": f"-x -o {path} ", "nothing": "", "options only": "-x -o --i",
             "unterminated quotes": '-x -o "' + path}
    for label, line in cases.items():
        assert driver.run("UnZip", line)[2] == [BAD_COMMAND_LINE], label
    assert driver.run("UnZip", f"-x -o {path}.missing {harness.windows_path(tmp_path)}\\ *.*")[2] == [0x8002]


def test_busy_query_answers_true_for_the_first_n_queries(driver, tmp_path):
    line = command_line("SevenZip", write_zip(tmp_path / "a.7z", {"a.txt": b"a"}), tmp_path / "out")
    assert driver.run("SevenZip", line, queries=5, extra_env={"KOVREL_STANDIN_BUSY": "3"})[1] == [1, 1, 1, 0, 0]
    assert driver.run("SevenZip", line, queries=2)[1] == [0, 0]


@pytest.mark.parametrize("setting,results", [
    ("2:0x8005", [0x8005, 0x8005, 0]),
    ("1:12", [12, 0, 0]),
    ("99:0x8020", [CANCELLED] * 3),
    ("0:0x8020", [0, 0, 0]),
    ("nonsense", [0, 0, 0]),
])
def test_fail_control_fails_the_first_n_calls(setting, results, driver, tmp_path):
    archive = write_zip(tmp_path / "a.lzh", {"a.txt": b"a"})
    _, _, got = driver.run("Unlha", command_line("Unlha", archive, tmp_path / "out"), calls=3,
                              extra_env={"KOVREL_STANDIN_FAIL": setting})
    assert got == results
    assert tree(tmp_path / "out") == ({} if 0 not in results else {"a.txt": b"a"})


def test_log_records_each_command_call_exactly(driver, tmp_path):
    log = tmp_path / "calls.log"
    log.write_bytes(b"earlier\r\n")
    archive = write_zip(tmp_path / "空 白.zip", {"a.txt": b"a"})
    line = command_line("UnZip", archive, tmp_path / "出力", quiet=True)
    env = {"KOVREL_STANDIN_LOG": harness.windows_path(log), "KOVREL_STANDIN_BUSY": "1"}
    assert driver.run("UnZip", line, queries=2, calls=2, extra_env=env)[2] == [0, 0]
    assert log.read_bytes() == b"earlier\r\n" + 2 * (b"UnZip\t" + line.encode("cp932") + b"\r\n")


@pytest.mark.parametrize("only", ["tar32", "TAR32.DLL"])
def test_only_control_limits_the_controls_to_one_library(only, driver, tmp_path):
    log = tmp_path / "calls.log"
    env = {"KOVREL_STANDIN_ONLY": only, "KOVREL_STANDIN_FAIL": "99:0x8020", "KOVREL_STANDIN_BUSY": "9",
           "KOVREL_STANDIN_LOG": harness.windows_path(log)}
    archive = write_tar(tmp_path / "a.tar", {"a.txt": b"a"})
    tar_line = command_line("Tar", archive, tmp_path / "tar_out")
    assert driver.run("Tar", tar_line, queries=1, extra_env=env)[1:] == ([1], [CANCELLED])
    zip_line = command_line("UnZip", write_zip(tmp_path / "a.zip", {"a.txt": b"a"}), tmp_path / "zip_out")
    assert driver.run("UnZip", zip_line, queries=1, extra_env=env)[1:] == ([0], [0])
    assert tree(tmp_path / "zip_out") == {"a.txt": b"a"} and not (tmp_path / "tar_out").exists()
    assert log.read_bytes() == b"Tar\t" + tar_line.encode() + b"\r\n"
