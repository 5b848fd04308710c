"""The publishing tool: it writes the update information file that the worker reads."""
import random
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
PUBLISH = ROOT / "scripts" / "publish"
COMPARE_CLI = ROOT / "build" / "native" / "version_compare_cli"

sys.path.insert(0, str(ROOT / "scripts"))
import importlib.util  # noqa: E402

_spec = importlib.util.spec_from_loader("publish", loader=None)
publish_module = importlib.util.module_from_spec(_spec)
exec(compile(PUBLISH.read_text(encoding="utf-8"), str(PUBLISH), "exec"), publish_module.__dict__)


def run(tmp_path, *arguments):
    result = subprocess.run([sys.executable, str(PUBLISH), *arguments], cwd=tmp_path, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, check=False)
    return result.returncode, result.stdout + result.stderr


@pytest.fixture
def archive(tmp_path):
    path = tmp_path / "app-1.1.zip"
    path.write_bytes(b"PK\x05\x06" + b"\0" * 18)
    return path


def test_creates_a_new_file(tmp_path, archive):
    info = tmp_path / "update.ini"
    code, out = run(tmp_path, "--info", str(info), "--section", "MyApp", "--version", "1.1", "--archive",
                    str(archive), "--url", "http://h/files/")
    assert code == 0, out
    assert info.read_bytes() == b"[MyApp]\r\nAPP_VER=1.1\r\nAPP_URL=http://h/files/app-1.1.zip\r\n"
    assert "APP_VER: (none) -> 1.1" in out


def test_updates_one_section_and_keeps_the_others(tmp_path, archive):
    info = tmp_path / "update.ini"
    original = ("; published by hand\r\n[Other]\r\nAPP_VER=9.0\r\nAPP_URL=http://h/o.zip\r\n\r\n"
                "[myapp]\r\nAPP_URL=http://h/old.zip\r\nNOTE=keep me\r\napp_ver = 1.0\r\n\r\n"
                "[Third]\r\nAPP_VER=3\r\n")
    info.write_bytes(original.encode("cp932"))
    code, out = run(tmp_path, "--info", str(info), "--section", "MyApp", "--version", "1.0.1", "--archive",
                    str(archive), "--url", "http://h/new/app-1.1.zip")
    assert code == 0, out
    assert info.read_bytes().decode("cp932") == (
        "; published by hand\r\n[Other]\r\nAPP_VER=9.0\r\nAPP_URL=http://h/o.zip\r\n\r\n"
        "[myapp]\r\nAPP_URL=http://h/new/app-1.1.zip\r\nNOTE=keep me\r\nAPP_VER=1.0.1\r\n\r\n"
        "[Third]\r\nAPP_VER=3\r\n")
    assert "APP_VER: 1.0 -> 1.0.1" in out


def test_adds_missing_keys_to_an_existing_section(tmp_path, archive):
    info = tmp_path / "update.ini"
    info.write_bytes(b"[A]\r\nOTHER=1\r\n\r\n[B]\r\nAPP_VER=2\r\n")
    code, out = run(tmp_path, "--info", str(info), "--section", "A", "--version", "1", "--archive", str(archive),
                    "--url", "https://h/app-1.1.zip")
    assert code == 0, out
    assert info.read_bytes() == (b"[A]\r\nOTHER=1\r\nAPP_VER=1\r\nAPP_URL=https://h/app-1.1.zip\r\n\r\n"
                                 b"[B]\r\nAPP_VER=2\r\n")


@pytest.mark.parametrize("published,new", [("1.1", "1.1"), ("1.2", "1.02"), ("1.0", "1"), ("1.0", "1.0b"),
                                           ("2.0", "1.9.9"), ("1.5.1", "1.5")])
def test_refuses_a_version_that_is_not_newer(tmp_path, archive, published, new):
    info = tmp_path / "update.ini"
    before = f"[A]\r\nAPP_VER={published}\r\nAPP_URL=http://h/a.zip\r\n".encode()
    info.write_bytes(before)
    code, out = run(tmp_path, "--info", str(info), "--section", "A", "--version", new, "--archive", str(archive),
                    "--url", "http://h/app-1.1.zip")
    assert code == 1
    assert "not newer" in out
    assert info.read_bytes() == before, "nothing is written"


@pytest.mark.parametrize("url,reason", [
    ("http://h/files/setup.exe", "no archiver"),
    ("http://h/CON.zip", "device"),
    ("ftp://h/app.zip", "absolute"),
    ("app.zip", "absolute"),
    ("http://h/app.zip.", "dot"),
])
def test_refuses_archive_urls_the_worker_cannot_use(tmp_path, archive, url, reason):
    info = tmp_path / "update.ini"
    code, out = run(tmp_path, "--info", str(info), "--section", "A", "--version", "1", "--archive", str(archive),
                    "--url", url)
    assert code == 1
    assert reason in out
    assert not info.exists()


def test_refuses_a_missing_archive(tmp_path):
    code, out = run(tmp_path, "--info", "u.ini", "--section", "A", "--version", "1", "--archive", "missing.zip",
                    "--url", "http://h/missing.zip")
    assert code == 1
    assert "no archive" in out


def test_japanese_section_in_code_page_932(tmp_path, archive):
    info = tmp_path / "update.ini"
    code, out = run(tmp_path, "--info", str(info), "--section", "表示アプリ", "--version", "1.0", "--archive",
                    str(archive), "--url", "http://h/")
    assert code == 0, out
    assert info.read_bytes() == "[表示アプリ]\r\nAPP_VER=1.0\r\nAPP_URL=http://h/app-1.1.zip\r\n".encode("cp932")


def test_version_rule_matches_the_worker():
    """The tool's comparison against the worker's own, on the documented cases and on many random ones."""
    assert COMPARE_CLI.exists(), "built by the native configuration"
    rng = random.Random(20261208)
    pieces = ["0", "1", "2", "9", "10", "01", "007", "a", "b", "A", "rc", " ", ".", "..", "12345678901", "表", "Ｂ"]
    pairs = [("1.2.3", "1.2.10"), ("1.02", "1.2"), ("1.0b", "1.0"), ("1.2a5", "1.2a05"), ("1.0A", "1.0a"),
             ("1.5.1", "1.5"), ("", "1"), ("4294967296", "1")]
    for _ in range(3000):
        pairs.append(tuple("".join(rng.choice(pieces) for _ in range(rng.randint(0, 6))) for _ in range(2)))
    stdin = "".join(f"{a}\n{b}\n" for a, b in pairs).encode("cp932")
    out = subprocess.run([str(COMPARE_CLI)], input=stdin, stdout=subprocess.PIPE, check=True).stdout.split()
    assert len(out) == len(pairs)
    for (a, b), expected in zip(pairs, out):
        result = publish_module.compare_versions(a, b)
        assert (result > 0) - (result < 0) == int(expected), (a, b)
