"""Downloads that survive: with APP_SHA256 and APP_SIZE given, an archive whose download was cut short is
resumed at the next run, and one whose update did not happen is used again, from the application's archive
cache. The fault server's ranged files count the bytes of every body they send."""
import hashlib
import shutil

import harness
import pytest
import sample_app
from updates import (MSG_UPDATED, assert_updated, big_archive_files, confirm_close)
from updates import app, updater  # noqa: F401 - fixtures shared with the update tests

MSG_DOWNLOAD_ARCHIVE, MSG_ABORTED = 30108, 30100
CUT_AT = 0.6


@pytest.fixture
def cache(wine_env):
    """The Linux path of the archive cache, absent at the start and the end of a test. The update driver runs
    with Wine's full token, as an elevated run: its cache is the per-machine one, %ProgramData%\\Kovrel\\Cache\\
    (a run with the limited token uses %LOCALAPPDATA%\\Kovrel\\Cache\\)."""
    path = harness.PREFIX / "drive_c" / "ProgramData" / "Kovrel" / "Cache"
    shutil.rmtree(path, ignore_errors=True)
    yield path
    shutil.rmtree(path, ignore_errors=True)


def publish_with_digest(served, url, files, name="update.zip"):
    """The archive of `files` and an information file naming its URL, size and SHA-256; returns the archive."""
    archive = sample_app.write_zip(served.folder / name, files)
    data = archive.read_bytes()
    info = sample_app.info_text(url) + \
        f"APP_SIZE={len(data)}\r\nAPP_SHA256={hashlib.sha256(data).hexdigest()}\r\n".encode()
    served.put("Kovrel.ini", info)
    return archive


def sent(archive):
    """The bytes of each body that the fault server sent for the archive, so far."""
    log = archive.with_name(archive.name + ".sent")
    return [int(line.split()[1]) for line in log.read_text().splitlines()] if log.exists() else []


def corrupt_kept(cache, archive):
    kept = next(path for path in cache.rglob("*_" + archive.name))
    data = bytearray(kept.read_bytes())
    data[len(data) // 2] ^= 0xFF
    kept.write_bytes(bytes(data))


def change_archive(served, url, archive):
    publish_with_digest(served, url, dict(big_archive_files(), **{"new.bin": b"a second build"}))


# (query of the ranged file, what happens between the runs, the bodies that the second run receives as
# fractions of the archive: the rest, the whole, or first the rest and then the whole)
INTERRUPTED = {
    "cut with an ETag": ("validator=etag", None, [1 - CUT_AT]),
    "cut with Last-Modified only": ("validator=modified", None, [1 - CUT_AT]),
    "a server that ignores Range": ("ranges=ignore", None, [1]),
    "a kept file corrupted on disk": ("validator=etag", "corrupt", [1 - CUT_AT, 1]),
    "the archive changed between runs": ("validator=etag", "change", [1]),
    "a 416": ("ranges=refuse", None, [1]),
}


@pytest.mark.parametrize("case", INTERRUPTED)
def test_an_interrupted_download_is_resumed_or_started_again(case, updater, served, app, kovrel, cache):
    query, between, expected = INTERRUPTED[case]
    url = served.fault_url("ranged", "update.zip") + "?" + query
    archive = publish_with_digest(served, url, big_archive_files())
    size = archive.stat().st_size
    cut = archive.with_name("update.zip.cut")
    cut.write_text(str(int(size * CUT_AT)))
    first = updater.start(served.url("Kovrel.ini")).finish()
    assert first.message == MSG_DOWNLOAD_ARCHIVE, first
    assert sent(archive) == [int(size * CUT_AT)]
    cut.unlink()
    if between == "corrupt":
        corrupt_kept(cache, archive)
    elif between == "change":
        change_archive(served, url, archive)
    run = updater.start(served.url("Kovrel.ini"))
    confirm_close(kovrel)
    assert run.finish().message == MSG_UPDATED
    whole = archive.stat().st_size
    assert sent(archive)[1:] == [size - int(size * CUT_AT) if part == 1 - CUT_AT else int(part * whole)
                                 for part in expected]
    extra = {"big.bin": big_archive_files()["big.bin"]}
    if between == "change":
        extra["new.bin"] = b"a second build"
    assert_updated(app, extra)
    assert not any(cache.rglob("*_update.zip")), "nothing is kept after the update"


def test_a_declined_update_keeps_its_archive_for_the_next_run(updater, served, app, kovrel, cache):
    """Declined at the "close the application" box, the verified archive stays; the next run asks for the
    information file only."""
    url = served.fault_url("ranged", "update.zip")
    archive = publish_with_digest(served, url, big_archive_files())
    run = updater.start(served.url("Kovrel.ini"))
    confirm_close(kovrel, "2")  # Cancel
    assert run.finish().message == MSG_ABORTED
    assert sent(archive) == [archive.stat().st_size]
    run = updater.start(served.url("Kovrel.ini"))
    confirm_close(kovrel)
    assert run.finish().message == MSG_UPDATED
    assert sent(archive) == [archive.stat().st_size], "no archive request"
    assert_updated(app, {"big.bin": big_archive_files()["big.bin"]})
