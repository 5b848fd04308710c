"""Verified updates: a signed information file, the archive's promised size and digest, and hard limits.

The publisher's keys are put into a copy of the built launcher with scripts/publish embed-key, and feeds are
signed with scripts/publish --key, as an application developer does. The worker's update procedure runs
in-process through run_update_driver.exe (see updates.py), which reads the keys from that launcher copy.
"""
import hashlib
import os
import random
import struct
import subprocess
import sys
from pathlib import Path

import harness
import pytest
import sample_app
from pe_resources import PeFile
from updates import (KOVREL, MSG_DOWNLOAD_ARCHIVE, MSG_DOWNLOAD_INFO, MSG_OPEN_INFO, MSG_UPDATED,
                         RESULT_UPDATED, STATE_DONE, STATE_FAILED, assert_unchanged, assert_updated, confirm_close)
from updates import app, updater  # noqa: F401 - fixtures shared with the update tests
from updates import silent_arguments, update_with_abort_declined, wait_for_cleanup

PUBLISH = harness.ROOT / "scripts" / "publish"
MSG_NOT_VERIFIED, MSG_DISK_SPACE = 30113, 30114
# The result (stage that ended the run + 1) of a refused information file and of a refused archive section.
REFUSED_FEED, REFUSED_SECTION, REFUSED_ARCHIVE = 7, 8, 11
NOT_VERIFIED_TEXT = ("異常終了：\n\nアップデートを検証できませんでした。\n署名またはファイルの内容が正しくありません。\n"
                     "アプリケーションは変更されていません。")


def publish_tool(*arguments):
    result = subprocess.run([sys.executable, str(PUBLISH), *arguments], stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True, check=False)
    assert result.returncode == 0, result.stdout
    return result.stdout


@pytest.fixture(scope="module")
def keys(tmp_path_factory):
    """Two key pairs made by the publishing tool: {name: (private file, public file)}."""
    folder = tmp_path_factory.mktemp("keys")
    pairs = {}
    for name in ("first", "second"):
        pairs[name] = (folder / f"{name}.key", folder / f"{name}.pub")
        publish_tool("keygen", "--private", str(pairs[name][0]), "--public", str(pairs[name][1]))
    return pairs


@pytest.fixture(scope="module")
def launchers(keys, tmp_path_factory):
    """Copies of the built launcher: without a key, with the first key, and with both keys (second first)."""
    folder = tmp_path_factory.mktemp("launchers")
    made = {"none": KOVREL}
    for name, publics in (("first", [keys["first"][1]]), ("both", [keys["second"][1], keys["first"][1]])):
        made[name] = folder / f"Kovrel-{name}.exe"
        made[name].write_bytes(KOVREL.read_bytes())
        arguments = ["embed-key", "--launcher", str(made[name])]
        for public in publics:
            arguments += ["--public", str(public)]
        publish_tool(*arguments)
    return made


def signed_feed(served, keys, key="first", archive_name="update.zip", archive_url=None, extra=None):
    """Writes the 1.1 archive (with the extra files) and a feed signed by the publishing tool; returns the
    feed's path."""
    archive = sample_app.write_zip(served.folder / archive_name, dict(sample_app.ARCHIVE_1_1, **(extra or {})))
    info = served.folder / "Kovrel.ini"
    publish_tool("--info", str(info), "--section", sample_app.SECTION, "--version", "1.1", "--archive",
                 str(archive), "--url", archive_url or served.url(archive_name), "--key", str(keys[key][0]))
    return info


def signature_line_and_body(info):
    data = info.read_bytes()
    end = data.index(b"\n") + 1
    return data[:end], data[end:]


def run_refused(updater, served, info_url, result, message=MSG_NOT_VERIFIED):
    outcome = updater.start(info_url).finish()
    assert (outcome.state, outcome.result, outcome.message) == (STATE_FAILED, result, message), outcome
    assert_unchanged(updater.app)
    return outcome


def run_updated(updater, kovrel, info_url):
    run = updater.start(info_url)
    confirm_close(kovrel)
    outcome = run.finish()
    assert (outcome.state, outcome.result, outcome.message) == (STATE_DONE, RESULT_UPDATED, MSG_UPDATED), outcome
    assert_updated(updater.app)
    return outcome


# --- the signature --------------------------------------------------------------------------------------

def rewrite(info, change):
    line, body = signature_line_and_body(info)
    info.write_bytes(change(line, body))


GOOD_FEEDS = {
    "as published (lower-case hex, CRLF)": lambda line, body: line + body,
    "upper-case hex": lambda line, body: line.upper().replace(b";ED25519=", b";ed25519=") + body,
    "signature line ended by LF": lambda line, body: line.replace(b"\r\n", b"\n") + body,
}


@pytest.mark.parametrize("label", GOOD_FEEDS)
def test_signed_feed_is_installed(label, keys, launchers, updater, served, kovrel):
    updater.use_launcher(launchers["first"])
    info = signed_feed(served, keys)
    rewrite(info, GOOD_FEEDS[label])
    run_updated(updater, kovrel, served.url("Kovrel.ini"))


def test_second_key_slot_verifies(keys, launchers, updater, served, kovrel):
    """A launcher carrying a new key first and the old one second still takes a feed signed by the old one."""
    updater.use_launcher(launchers["both"])
    signed_feed(served, keys, key="first")
    run_updated(updater, kovrel, served.url("Kovrel.ini"))


def test_lf_feed_signed_over_its_own_bytes(keys, launchers, updater, served, kovrel, tmp_path):
    """A feed whose every line ends in LF, signed over exactly those bytes."""
    from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PrivateKey
    updater.use_launcher(launchers["first"])
    info = signed_feed(served, keys)
    _, body = signature_line_and_body(info)
    body = body.replace(b"\r\n", b"\n")
    private = Ed25519PrivateKey.from_private_bytes(seed_of(keys["first"][0]))
    info.write_bytes(b";ed25519=" + private.sign(body).hex().encode() + b"\n" + body)
    run_updated(updater, kovrel, served.url("Kovrel.ini"))


def seed_of(private_file):
    """The 32-byte seed in the publishing tool's private key file, whatever its encoding."""
    from cryptography.hazmat.primitives import serialization
    data = private_file.read_bytes()
    text = data.strip()
    if len(text) == 64:
        return bytes.fromhex(text.decode())
    key = serialization.load_pem_private_key(data, password=None)
    return key.private_bytes(serialization.Encoding.Raw, serialization.PrivateFormat.Raw,
                             serialization.NoEncryption())


BAD_FEEDS = {
    "version changed after signing": lambda line, body: line + body.replace(b"APP_VER=1.1", b"APP_VER=1.2"),
    "URL changed after signing": lambda line, body: line + body.replace(b"update.zip", b"other.zip"),
    "digest changed after signing": lambda line, body: line + flip_digest(body),
    "a section added after signing": lambda line, body: line + body + b"[Other]\r\nAPP_VER=9\r\n",
    "signature line removed": lambda line, body: body,
    "signature truncated": lambda line, body: line[:-4] + b"\r\n" + body,
    "signature line moved below the section": lambda line, body: body + line,
}


def flip_digest(body):
    start = body.index(b"APP_SHA256=") + len(b"APP_SHA256=")
    digit = b"0" if body[start:start + 1] != b"0" else b"1"
    return body[:start] + digit + body[start + 1:]


@pytest.mark.parametrize("label", BAD_FEEDS)
def test_tampered_feed_is_refused_before_anything_is_used(label, keys, launchers, updater, served):
    updater.use_launcher(launchers["first"])
    info = signed_feed(served, keys)
    rewrite(info, BAD_FEEDS[label])
    run_refused(updater, served, served.url("Kovrel.ini"), REFUSED_FEED)
    assert [path for path, _ in served.requests()] == ["Kovrel.ini"], "nothing of a refused feed is fetched"


def test_feed_signed_by_another_key_is_refused(keys, launchers, updater, served):
    updater.use_launcher(launchers["first"])
    signed_feed(served, keys, key="second")
    run_refused(updater, served, served.url("Kovrel.ini"), REFUSED_FEED)


def without_key_block(launcher):
    """The launcher with its key block renamed out of reach, as if the block had been taken out."""
    data = bytearray(launcher.read_bytes())
    pe = PeFile(bytes(data))
    root = pe.offset(pe.directories[2][0])
    for rtype, entry in pe._entries(root, root):
        if rtype == 10:
            names = root + (entry & 0x7FFFFFFF)
            named, numbered = struct.unpack_from("<HH", data, names + 12)
            for at in range(names + 16, names + 16 + 8 * (named + numbered), 8):
                if struct.unpack_from("<I", data, at)[0] == 102:
                    struct.pack_into("<I", data, at, 999)
    assert (10, 102, 0) not in PeFile(bytes(data)).resources()
    launcher.write_bytes(bytes(data))


@pytest.mark.parametrize("damage", ["no launcher", "no key block"])
def test_unreadable_launcher_never_falls_back_to_unsigned(damage, updater, served):
    """Whether keys exist cannot be known without the launcher or its key block: an unsigned feed is refused."""
    launcher = updater.folder / "Kovrel.exe"
    if damage == "no launcher":
        launcher.unlink()
    else:
        without_key_block(launcher)
    sample_app.write_zip(served.folder / "update.zip", sample_app.ARCHIVE_1_1)
    served.put("Kovrel.ini", sample_app.info_text(served.url("update.zip")))
    run_refused(updater, served, served.url("Kovrel.ini"), REFUSED_FEED)


# --- the archive ----------------------------------------------------------------------------------------

def test_swapped_archive_is_refused_and_deleted(keys, launchers, updater, served, kovrel):
    updater.use_launcher(launchers["first"])
    signed_feed(served, keys)
    # Same size, other bytes: only the digest can tell.
    archive = served.folder / "update.zip"
    data = bytearray(archive.read_bytes())
    data[len(data) // 2] ^= 0xFF
    archive.write_bytes(bytes(data))
    # A refused archive ends the run before the user is asked to close the application.
    outcome = updater.start(served.url("Kovrel.ini")).finish()
    assert (outcome.state, outcome.result, outcome.message) == (STATE_FAILED, REFUSED_ARCHIVE, MSG_NOT_VERIFIED), \
        outcome
    assert not (updater.work / "update.zip").exists(), "a refused archive is deleted"
    assert not (updater.work / "Src").exists(), "the archiver never saw it"
    assert_unchanged(updater.app)


# Several megabytes: the download's reads cycle through its buffer's slots several times while the digest is
# computed behind them, so a slot hashed twice, skipped or out of turn would fail the check.
LARGE_FILE = {"lib/large.bin": random.Random(11).randbytes(7 * 1024 * 1024)}


def test_large_archive_is_checked_across_many_reads(keys, launchers, updater, served, kovrel):
    updater.use_launcher(launchers["first"])
    signed_feed(served, keys, extra=LARGE_FILE)
    run = updater.start(served.url("Kovrel.ini"))
    confirm_close(kovrel)
    outcome = run.finish()
    assert (outcome.state, outcome.result, outcome.message) == (STATE_DONE, RESULT_UPDATED, MSG_UPDATED), outcome
    assert_updated(updater.app, extra=LARGE_FILE)


def test_large_archive_changed_near_its_end_is_refused(keys, launchers, updater, served, kovrel):
    updater.use_launcher(launchers["first"])
    signed_feed(served, keys, extra=LARGE_FILE)
    archive = served.folder / "update.zip"
    data = bytearray(archive.read_bytes())
    data[-5000] ^= 0x01
    archive.write_bytes(bytes(data))
    outcome = updater.start(served.url("Kovrel.ini")).finish()
    assert (outcome.state, outcome.result, outcome.message) == (STATE_FAILED, REFUSED_ARCHIVE, MSG_NOT_VERIFIED), \
        outcome
    assert not (updater.work / "update.zip").exists()
    assert_unchanged(updater.app)


def test_endless_archive_body_stops_at_the_promised_size(keys, launchers, updater, served, kovrel):
    updater.use_launcher(launchers["first"])
    signed_feed(served, keys, archive_url=served.fault_url("endless", "update.zip"))
    outcome = updater.start(served.url("Kovrel.ini")).finish(timeout=120)
    assert (outcome.state, outcome.result, outcome.message) == (STATE_FAILED, REFUSED_ARCHIVE, MSG_NOT_VERIFIED), \
        outcome
    assert not (updater.work / "update.zip").exists()
    assert_unchanged(updater.app)


@pytest.mark.parametrize("missing", ["APP_SIZE", "APP_SHA256", "both"])
def test_signed_section_without_archive_keys_is_refused(missing, keys, launchers, updater, served):
    updater.use_launcher(launchers["first"])
    info = signed_feed(served, keys)
    _, body = signature_line_and_body(info)
    lines = [line for line in body.split(b"\r\n")
             if not any(line.startswith(k.encode() + b"=") for k in (["APP_SIZE", "APP_SHA256"]
                                                                      if missing == "both" else [missing]))]
    body = b"\r\n".join(lines)
    from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PrivateKey
    private = Ed25519PrivateKey.from_private_bytes(seed_of(keys["first"][0]))
    info.write_bytes(b";ed25519=" + private.sign(body).hex().encode() + b"\r\n" + body)
    run_refused(updater, served, served.url("Kovrel.ini"), REFUSED_SECTION)
    assert [path for path, _ in served.requests()] == ["Kovrel.ini"]


# --- compatibility and limits without a key ----------------------------------------------------------------

def test_launcher_without_key_takes_a_signed_feed(keys, updater, served, kovrel):
    signed_feed(served, keys)
    run_updated(updater, kovrel, served.url("Kovrel.ini"))


def legacy_feed_with(served, extra=None, route=None, **keys):
    """An unsigned information file with the given archive keys; the archive comes through the fault server's
    route when one is named."""
    archive = sample_app.write_zip(served.folder / "update.zip", dict(sample_app.ARCHIVE_1_1, **(extra or {})))
    text = sample_app.info_text(served.fault_url(route, "update.zip") if route else served.url("update.zip"))
    for key, value in keys.items():
        text += f"{key}={value(archive.read_bytes())}\r\n".encode()
    served.put("Kovrel.ini", text)
    return served.url("Kovrel.ini")


def test_launcher_without_key_checks_the_archive_keys_when_given(updater, served, kovrel):
    info = legacy_feed_with(served, APP_SIZE=lambda data: len(data),
                            APP_SHA256=lambda data: hashlib.sha256(data + b"x").hexdigest())
    outcome = updater.start(info).finish()
    assert (outcome.state, outcome.result, outcome.message) == (STATE_FAILED, REFUSED_ARCHIVE, MSG_NOT_VERIFIED), \
        outcome
    assert_unchanged(updater.app)


def test_abort_declined_while_a_large_archive_is_checked(updater, served, kovrel):
    """While the abort question is open nothing is hashed, so the download waits once its buffer is full;
    declined, it goes on, and every byte is still hashed once and in order."""
    info = legacy_feed_with(served, extra=LARGE_FILE, APP_SIZE=lambda data: len(data),
                            APP_SHA256=lambda data: hashlib.sha256(data).hexdigest())
    update_with_abort_declined(updater, kovrel, info, LARGE_FILE)


def allowed_processors(pid):
    """The processors that each thread of a process may run on, from /proc: a list of sets."""
    found = []
    for task in Path(f"/proc/{pid}/task").iterdir():
        try:
            status = (task / "status").read_text()
        except OSError:
            continue  # the thread ended
        listed = next(line.split(":", 1)[1].strip() for line in status.splitlines()
                      if line.startswith("Cpus_allowed_list:"))
        processors = set()
        for part in listed.split(","):
            first, _, last = part.partition("-")
            processors.update(range(int(first), int(last or first) + 1))
        found.append(processors)
    return found


def test_checked_download_keeps_its_reads_and_hash_apart(updater, served, kovrel):
    """While a checked archive comes in, the thread that reads it and the thread that hashes it run on
    different processors: the hash on the highest, the reads on all the others. Once the body is in, every
    thread may run anywhere again. With a single processor nothing is pinned."""
    processors = os.sched_getaffinity(0)
    extra = {"lib/checked.bin": random.Random(12).randbytes(2 * 1024 * 1024)}  # about 3 s on the slow route
    info = legacy_feed_with(served, extra=extra, route="slow", APP_SIZE=lambda data: len(data),
                            APP_SHA256=lambda data: hashlib.sha256(data).hexdigest())
    run = updater.start(info)

    def downloading():
        # The body's first report is 39; its last, 64, comes once the body is in.
        return any(39 <= position < 64 for position in run.output().progress())

    assert harness.wait_until(downloading, 60), run.lines[-5:]
    during = allowed_processors(run.process.pid)
    assert 64 not in run.output().progress(), "the body came in before it was looked at"
    kovrel.show("Kovrel", 60000)
    after = allowed_processors(run.process.pid)
    confirm_close(kovrel)
    outcome = run.finish()
    assert (outcome.state, outcome.result, outcome.message) == (STATE_DONE, RESULT_UPDATED, MSG_UPDATED), outcome
    assert_updated(updater.app, extra)

    assert all(allowed == processors for allowed in after), after
    if len(processors) < 2:
        assert all(allowed == processors for allowed in during), during
        return
    highest = max(processors)
    assert {highest} in during, during
    assert processors - {highest} in during, during
    assert all(allowed in (processors, {highest}, processors - {highest}) for allowed in during), during


@pytest.mark.parametrize("key, value", [("APP_SIZE", "12ab"), ("APP_SIZE", "-1"), ("APP_SHA256", "abc")])
def test_malformed_archive_key_is_refused_not_ignored(key, value, updater, served):
    run_refused(updater, served, legacy_feed_with(served, **{key: lambda data: value}), REFUSED_SECTION)


def test_information_file_over_64_kib_fails_at_once(updater, served):
    text = sample_app.info_text(served.url("update.zip")) + b";" + b"x" * (64 * 1024) + b"\r\n"
    served.put("Kovrel.ini", text)
    for url in (served.url("Kovrel.ini"), served.fault_url("nolength", "Kovrel.ini")):
        run_refused(updater, served, url, 6, MSG_DOWNLOAD_INFO)


def test_endless_information_file_fails_at_once(updater, served):
    served.put("Kovrel.ini", sample_app.info_text(served.url("update.zip")))
    run_refused(updater, served, served.fault_url("endless", "Kovrel.ini"), 6, MSG_DOWNLOAD_INFO)


def test_redirect_loop_ends_after_ten_hops(updater, served):
    run_refused(updater, served, served.fault.url(f"loop/{served.name}/Kovrel.ini"), 2, MSG_OPEN_INFO)
    hops = [line for line in served.fault.requests() if f"/loop/{served.name}/" in line]
    assert 1 <= len(hops) <= 11, hops


# --- through the real launcher ------------------------------------------------------------------------------

@pytest.mark.parametrize("tampered", [False, True], ids=["signed", "tampered"])
def test_keyed_launcher_beside_the_application(tampered, keys, launchers, kovrel, kovrel_temp, served, app):
    """The launcher shipped in the application folder hands its keys to the worker it starts."""
    launcher = app.folder / "Kovrel.exe"
    launcher.write_bytes(launchers["first"].read_bytes())
    info = signed_feed(served, keys)
    if tampered:
        rewrite(info, lambda line, body: line + body.replace(b"APP_VER=1.1", b"APP_VER=1.2"))
    run = kovrel.start_launcher(launcher, silent_arguments(served.url("Kovrel.ini"), app))
    if not tampered:
        confirm_close(kovrel)
    assert run.exit_code() == 0
    wait_for_cleanup(kovrel)
    # The worker has ended: a refused run never showed the confirmation and changed nothing.
    expected = dict(sample_app.version_1_1() if not tampered else sample_app.VERSION_1_0,
                    **{"Kovrel.exe": launchers["first"].read_bytes()})
    assert sample_app.files_only(sample_app.tree(app.folder)) == expected
    assert [path for path, _ in served.requests()] == (["Kovrel.ini"] if tampered else ["Kovrel.ini", "update.zip"])
