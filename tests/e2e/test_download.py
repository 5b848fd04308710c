"""The archive's download under a stop, a stall, a slow link and a body announced too long: what the user sees
of it and what it leaves behind."""
import random
import time

import sample_app
from driver_output import RESULT_UPDATED, STATE_ABORTED, STATE_DONE, STATE_FAILED
from updates import (CONFIRM_ABORT, CONFIRM_CLOSE, MSG_ABORTED, MSG_DOWNLOAD_ARCHIVE, MSG_DOWNLOAD_INFO, MSG_UPDATED,
                     assert_unchanged, assert_updated, big_archive_files, confirm_close, publish,
                     update_with_abort_declined)
from updates import app, updater  # noqa: F401 - fixtures


def test_abort_declined_during_the_download(updater, served, app, kovrel):
    files = big_archive_files()
    info = publish(served, archive_url=served.fault_url("slow", "update.zip"), files=files)
    update_with_abort_declined(updater, kovrel, info, {"big.bin": files["big.bin"]})


def test_abort_confirmed_during_a_stalled_download(updater, served, app, kovrel):
    info = publish(served, archive_url=served.fault_url("stall", "update.zip"), files=big_archive_files())
    run = updater.start(info, extra_env={"KOVREL_DRIVER_ABORT_AT": "39"})
    box = kovrel.press("確認", "6", 120000)
    assert box.text() == CONFIRM_ABORT
    outcome = run.finish()
    assert (outcome.state, outcome.result, outcome.message) == (STATE_ABORTED, 11, MSG_ABORTED), outcome
    assert_unchanged(app)


def test_archive_announced_past_the_limit_ends_the_run_at_once(updater, served, app):
    """A body announced longer than an archive may be is refused before a byte is read. Closing its request
    may first read the rest of it (Wine's close does: minutes for 3 GiB at local speed); the run does not
    wait for that."""
    archive = served.folder / "huge.zip"
    with open(archive, "wb") as file:
        file.truncate(3 * 1024 ** 3)  # sparse: no room taken, served at local speed
    served.put("Kovrel.ini", sample_app.info_text(served.url("huge.zip"), "1.1"))
    started = time.monotonic()
    outcome = updater.start(served.url("Kovrel.ini")).finish(timeout=600)
    elapsed = time.monotonic() - started
    assert (outcome.state, outcome.result, outcome.message) == (STATE_FAILED, 11, MSG_DOWNLOAD_ARCHIVE), outcome
    assert elapsed < 60, elapsed
    assert not (updater.work / "huge.zip").exists()
    assert_unchanged(app)


def archive_download_positions(outcome):
    """The positions that the archive's download reported between its stage's start (38) and the unpacking
    (66)."""
    progress = outcome.progress()
    return [position for position in progress[progress.index(38) + 1:] if position < 66]


def test_the_bar_follows_a_download_read_by_read(updater, served, app, kovrel):
    files = big_archive_files()
    info = publish(served, archive_url=served.fault_url("slow", "update.zip"), files=files)
    run = updater.start(info)
    confirm_close(kovrel)
    outcome = run.finish()
    assert (outcome.state, outcome.result, outcome.message) == (STATE_DONE, RESULT_UPDATED, MSG_UPDATED), outcome
    moves = archive_download_positions(outcome)
    # Each report is a new position; the first bytes move the bar, the last bring it to the span's end.
    assert moves == sorted(set(moves)), moves
    assert moves[0] == 39 and moves[-1] == 64 and len(moves) >= 8, moves
    # The unpacking moves it on through its own stage (66 to 70) as the archive is read.
    progress = outcome.progress()
    unpacking = [position for position in progress[progress.index(66):] if 66 < position < 70]
    assert unpacking == [67, 68, 69], progress


def test_a_slow_link_is_not_a_stalled_one(updater, served, app, kovrel):
    """A link that brings 2 KiB a second is slow, not stalled: its archive takes longer than the stall limit,
    and is installed. A read returns only once it is full, so reads ask for what the link brings."""
    files = dict(sample_app.ARCHIVE_1_1, **{"slow.bin": random.Random(2).randbytes(140 * 1024)})
    info = publish(served, archive_url=served.fault_url("trickle", "update.zip"), files=files)
    started = time.monotonic()
    run = updater.start(info)
    box = kovrel.press("Kovrel", "OK", 180000)
    assert box.text() == CONFIRM_CLOSE
    assert time.monotonic() - started > 65, "the archive came faster than the stall limit"
    outcome = run.finish()
    assert (outcome.state, outcome.result, outcome.message) == (STATE_DONE, RESULT_UPDATED, MSG_UPDATED), outcome
    assert_updated(app, {"slow.bin": files["slow.bin"]})
    # Over a minute of download, the bar follows the bytes that have come, not the size of each read.
    moves = archive_download_positions(outcome)
    assert moves == sorted(set(moves)) and len(moves) >= 20 and moves[-1] == 64, moves


def test_stalled_server_fails_the_download_after_a_minute(updater, served, app):
    """A server that stops sending keeps nothing waiting for ever: 60 seconds without a byte fail the stage."""
    publish(served)
    started = time.monotonic()
    outcome = updater.start(served.fault_url("stall", "Kovrel.ini")).finish(timeout=300)
    elapsed = time.monotonic() - started
    assert (outcome.state, outcome.result, outcome.message) == (STATE_FAILED, 6, MSG_DOWNLOAD_INFO), outcome
    assert 59 <= elapsed < 150, elapsed
    assert_unchanged(app)
