"""The publishing tool: it writes and signs the update information file that the worker reads, and puts the
publisher's keys into a built launcher."""
import hashlib
import importlib.util
import os
import random
import struct
import subprocess
import sys
from pathlib import Path

import pytest
from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PublicKey

ROOT = Path(__file__).resolve().parents[2]
PUBLISH = ROOT / "scripts" / "publish"
COMPARE_CLI = ROOT / "build" / "native" / "version_compare_cli"
KEY_BLOCK_CLI = ROOT / "build" / "native" / "key_block_cli"

sys.path.insert(0, str(ROOT / "tests" / "support"))
from pe_resources import PeFile  # noqa: E402

_spec = importlib.util.spec_from_loader("publish", loader=None)
publish_module = importlib.util.module_from_spec(_spec)
publish_module.__file__ = str(PUBLISH)
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


LAUNCHERS = {"win64": ROOT / "build" / "win64" / "dist" / "Kovrel.exe",
             "win32": ROOT / "build" / "win32" / "dist" / "Kovrel.exe"}
MARK = b"KOVREL-PUBKEYS-1"


def make_keys(tmp_path, name):
    code, out = run(tmp_path, "keygen", "--private", f"{name}.key", "--public", f"{name}.pub")
    assert code == 0, out
    return tmp_path / f"{name}.key", tmp_path / f"{name}.pub"


@pytest.fixture
def key(tmp_path):
    return make_keys(tmp_path, "publisher")


def public_of(path):
    return bytes.fromhex(path.read_text())


def signed_body(data, public):
    """The body of a signed file, after checking its signature line with the public key."""
    line, body = data.split(b"\r\n", 1)
    assert line.startswith(b";ed25519=") and len(line) == 9 + 128 and line[9:] == line[9:].lower(), line
    Ed25519PublicKey.from_public_bytes(public).verify(bytes.fromhex(line[9:].decode()), body)
    return body


def publish_signed(tmp_path, info, archive, version, private, section="App"):
    return run(tmp_path, "--info", str(info), "--section", section, "--version", version, "--archive",
               str(archive), "--url", "http://h/", "--key", str(private))


def test_keygen_makes_an_owner_only_private_key_and_its_public_half(tmp_path):
    old_umask = os.umask(0)  # the private key must not depend on the caller's umask
    try:
        private, public = make_keys(tmp_path, "k")
    finally:
        os.umask(old_umask)
    assert private.stat().st_mode & 0o777 == 0o600
    text = public.read_text()
    assert len(text) == 65 and text.endswith("\n") and all(c in "0123456789abcdef" for c in text[:64])
    loaded = serialization.load_pem_private_key(private.read_bytes(), password=None)
    assert loaded.public_key().public_bytes(serialization.Encoding.Raw, serialization.PublicFormat.Raw) == \
        public_of(public)


@pytest.mark.parametrize("existing", ["k.key", "k.pub"])
def test_keygen_never_overwrites_a_key_file(tmp_path, existing):
    (tmp_path / existing).write_text("precious\n")
    code, out = run(tmp_path, "keygen", "--private", "k.key", "--public", "k.pub")
    assert code == 1 and "exists" in out
    assert (tmp_path / existing).read_text() == "precious\n"
    assert sorted(p.name for p in tmp_path.iterdir()) == [existing], "no half pair is left"


def test_republishing_re_signs_and_keeps_the_other_sections(tmp_path, archive, key):
    info = tmp_path / "update.ini"
    info.write_bytes("; 手書き\r\n[Other]\r\nAPP_VER=9\r\n\r\n[App]\r\nAPP_VER=0.9\r\nNOTE=x\r\n".encode("cp932"))
    assert publish_signed(tmp_path, info, archive, "1.0", key[0])[0] == 0
    bigger = tmp_path / "app-2.0.zip"
    bigger.write_bytes(b"PK" + bytes(range(256)) * 3)
    code, out = publish_signed(tmp_path, info, bigger, "2.0", key[0])
    assert code == 0, out
    data = info.read_bytes()
    assert data.count(b";ed25519=") == 1
    body = signed_body(data, public_of(key[1])).decode("cp932")
    expires = body[body.index("APP_EXPIRES=") + 12:].split("\r\n")[0]
    assert body == ("; 手書き\r\n[Other]\r\nAPP_VER=9\r\n\r\n[App]\r\nAPP_VER=2.0\r\nNOTE=x\r\n"
                    "APP_URL=http://h/app-2.0.zip\r\nAPP_SIZE=770\r\n"
                    f"APP_SHA256={hashlib.sha256(bigger.read_bytes()).hexdigest()}\r\n"
                    f"APP_SERIAL=2\r\nAPP_EXPIRES={expires}\r\n")


@pytest.mark.parametrize("first_line", [b";ed25519=" + b"ab" * 64, b";ED25519=" + b"00" * 64, b";ed25519=broken"],
                         ids=["signed", "upper-case mark", "malformed signature line"])
def test_editing_a_signed_file_without_the_key_is_refused(tmp_path, archive, first_line):
    info = tmp_path / "update.ini"
    before = first_line + b"\r\n[App]\r\nAPP_VER=1.0\r\n"
    info.write_bytes(before)
    code, out = run(tmp_path, "--info", str(info), "--section", "App", "--version", "2.0", "--archive",
                    str(archive), "--url", "http://h/")
    assert code == 1 and "--key" in out and "no longer verifies" in out
    assert info.read_bytes() == before


def test_unsigned_publishing_keeps_existing_archive_facts_true(tmp_path, archive):
    info = tmp_path / "update.ini"
    info.write_bytes(b"[App]\r\nAPP_VER=1\r\nAPP_SIZE=5\r\nAPP_SHA256=" + b"0" * 64 + b"\r\n")
    assert run(tmp_path, "--info", str(info), "--section", "App", "--version", "2", "--archive", str(archive),
               "--url", "http://h/")[0] == 0
    assert info.read_bytes() == (b"[App]\r\nAPP_VER=2\r\nAPP_SIZE=22\r\nAPP_SHA256="
                                 + hashlib.sha256(archive.read_bytes()).hexdigest().encode()
                                 + b"\r\nAPP_URL=http://h/app-1.1.zip\r\n")


def test_a_signature_that_does_not_verify_is_never_written(tmp_path, archive, key, monkeypatch, capsys):
    info = tmp_path / "update.ini"
    before = b"[App]\r\nAPP_VER=1.0\r\n"
    info.write_bytes(before)
    # The signing lives in the tool's keys module; a signature of other bytes stands for a faulty signer.
    keys_module = sys.modules["publish_keys"]
    real_sign = keys_module.sign_body
    monkeypatch.setattr(keys_module, "sign_body", lambda k, body: real_sign(k, body + b"!"))
    assert publish_module.main(["--info", str(info), "--section", "App", "--version", "2.0", "--archive",
                                str(archive), "--url", "http://h/", "--key", str(key[0])]) == 1
    assert "does not verify" in capsys.readouterr().err
    assert info.read_bytes() == before
    assert sorted(p.name for p in tmp_path.iterdir()) == sorted(["update.ini", archive.name, key[0].name,
                                                                 key[1].name]), "no temporary file is left"


def test_a_public_key_given_as_the_private_key_is_refused(tmp_path, archive, key):
    code, out = publish_signed(tmp_path, tmp_path / "update.ini", archive, "1.0", key[1])
    assert code == 1 and "not an unencrypted Ed25519 private key" in out
    assert not (tmp_path / "update.ini").exists()


@pytest.mark.parametrize("change,keys,good", [
    ("none", ["publisher"], True),
    ("none", ["other", "publisher"], True),
    ("LF line end, upper-case digits", ["publisher"], True),
    ("none", ["other"], False),
    ("body byte", ["publisher"], False),
    ("blank added to the line", ["publisher"], False),
    ("signature line removed", ["publisher"], False),
], ids=["good", "good under slot 2", "LF and upper case", "other key", "body changed", "longer line",
        "unsigned"])
def test_verify_accepts_what_the_worker_accepts(tmp_path, archive, key, change, keys, good):
    info = tmp_path / "update.ini"
    make_keys(tmp_path, "other")
    assert publish_signed(tmp_path, info, archive, "1.0", key[0])[0] == 0
    line, body = info.read_bytes().split(b"\r\n", 1)
    info.write_bytes({"none": line + b"\r\n" + body,
                      "LF line end, upper-case digits": line[:9] + line[9:].upper() + b"\n" + body,
                      "body byte": line + b"\r\n" + body.replace(b"1.0", b"1.1"),
                      "blank added to the line": line + b" \r\n" + body,
                      "signature line removed": body}[change])
    arguments = [a for name in keys for a in ("--public", f"{name}.pub")]
    code, out = run(tmp_path, "verify", "--info", str(info), *arguments)
    assert code == (0 if good else 1), out


def key_block_location(data):
    """Offsets of the language entry, the data entry and the data of RT_RCDATA 102 neutral, read through the
    resource tree."""
    pe = PeFile(data)
    root = pe.offset(pe.directories[2][0])
    directory = root
    for wanted in (10, 102, 0):
        named, numbered = struct.unpack_from("<HH", data, directory + 12)
        entry = next(directory + 16 + 8 * i for i in range(named + numbered)
                     if struct.unpack_from("<I", data, directory + 16 + 8 * i)[0] == wanted)
        directory = root + (struct.unpack_from("<I", data, entry + 4)[0] & 0x7FFFFFFF)
    return entry, directory, pe.offset(struct.unpack_from("<I", data, directory)[0])


def copy_launcher(tmp_path, build):
    built = LAUNCHERS[build]
    assert built.exists(), f"{built} is built by the test command"
    copy = tmp_path / "Kovrel.exe"
    copy.write_bytes(built.read_bytes())
    copy.chmod(0o751)
    return copy


@pytest.fixture(params=sorted(LAUNCHERS))
def launcher(request, tmp_path):
    return copy_launcher(tmp_path, request.param)


@pytest.mark.parametrize("rounds", [[["a"]], [["a", "b"]], [["a", "b"], ["b"]]],
                         ids=["one key", "two keys", "one key after two clears slot 2"])
def test_embed_key_writes_the_slots_and_nothing_else(tmp_path, launcher, rounds):
    original = launcher.read_bytes()
    block = key_block_location(original)[2]
    assert original[block:block + 80] == MARK + bytes(64), "the launcher is built with empty slots"
    for names in rounds:
        for name in names:
            if not (tmp_path / f"{name}.pub").exists():
                make_keys(tmp_path, name)
        code, out = run(tmp_path, "embed-key", "--launcher", str(launcher),
                        *[a for name in names for a in ("--public", f"{name}.pub")])
        assert code == 0, out
    keys = [public_of(tmp_path / f"{name}.pub") for name in rounds[-1]]
    slots = (keys + [bytes(32)])[:2]
    data = launcher.read_bytes()
    assert PeFile(data).resources()[(10, 102, 0)] == MARK + slots[0] + slots[1]
    assert data[:block + 16] == original[:block + 16] and data[block + 80:] == original[block + 80:]
    assert launcher.stat().st_mode & 0o777 == 0o751
    assert f"slot 1 = {slots[0].hex()}" in out
    assert f"slot 2 = {slots[1].hex() if len(keys) == 2 else '(empty)'}" in out
    # The worker's own reader finds exactly these keys in these slots.
    assert KEY_BLOCK_CLI.exists(), "built by the native configuration"
    found = subprocess.run([str(KEY_BLOCK_CLI)], input=data[block:block + 80], stdout=subprocess.PIPE,
                           check=True).stdout.decode()
    assert found == "".join(f"{slot} {key.hex()}\n" for slot, key in enumerate(keys, 1))


P = 2 ** 255 - 19


@pytest.mark.parametrize("content,reason", [
    ("00" * 32 + "\n", "all zeros"),
    ("01" + "00" * 31 + "\n", "small order"),  # the neutral point
    ((P - 1).to_bytes(32, "little").hex() + "\n", "small order"),  # (0, -1)
    ("02" + "00" * 31 + "\n", "not a point"),
    (P.to_bytes(32, "little").hex() + "\n", "not a point"),  # y out of range
    ("ab" * 31 + "\n", "64 hex digits"),
    ("zz" * 32 + "\n", "64 hex digits"),
    ("ab" * 32 + "\n\n", "64 hex digits"),
    ("PRIVATE", "64 hex digits"),
], ids=["zero", "neutral point", "order two", "off the curve", "non-canonical", "short", "not hex",
        "two newlines", "private key file"])
def test_embed_key_refuses_unusable_keys(tmp_path, key, content, reason):
    launcher = copy_launcher(tmp_path, "win64")
    bad = tmp_path / "bad.pub"
    if content == "PRIVATE":
        bad.write_bytes(key[0].read_bytes())
    else:
        bad.write_text(content, newline="")
    original = launcher.read_bytes()
    code, out = run(tmp_path, "embed-key", "--launcher", str(launcher), "--public", str(key[1]), "--public", str(bad))
    assert code == 1 and reason in out, out
    assert launcher.read_bytes() == original


@pytest.mark.parametrize("damage,reason", [
    ("mark", "mark"),
    ("size", "not 80"),
    ("language", "no key block"),
    ("code signature", "code signature"),
    ("not a PE", "not a PE"),
    ("cut short", "not a PE"),
])
def test_embed_key_refuses_a_file_without_a_proper_key_block(tmp_path, launcher, key, damage, reason):
    data = bytearray(launcher.read_bytes())
    language, entry, block = key_block_location(bytes(data))
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    directories = pe + 24 + (96 if struct.unpack_from("<H", data, pe + 24)[0] == 0x10B else 112)
    if damage == "mark":
        data[block + 15] ^= 1
    elif damage == "size":
        struct.pack_into("<I", data, entry + 4, 81)
    elif damage == "language":
        struct.pack_into("<I", data, language, 1041)
    elif damage == "code signature":
        struct.pack_into("<II", data, directories + 32, len(data), 8)
    elif damage == "not a PE":
        data[pe] = ord("X")
    else:
        del data[directories:]
    launcher.write_bytes(data)
    code, out = run(tmp_path, "embed-key", "--launcher", str(launcher), "--public", str(key[1]))
    assert code == 1 and reason in out, out
    assert launcher.read_bytes() == data
