"""The run log: each run appends what it did to %LOCALAPPDATA%\\Kovrel\\<section>.log, capped, oldest lines first
to go, ending with the outcome's message id, so that even a silent run leaves a trace."""
import harness
import pytest
import sample_app
from updates import MSG_OPEN_INFO, MSG_UPDATED, confirm_close, publish
from updates import app, updater  # noqa: F401 - fixtures shared with the update tests

CAP = 64 * 1024


@pytest.fixture
def run_log(wine_env):
    path = harness.PREFIX / "drive_c" / "users" / harness.prefix_user() / "AppData" / "Local" / "Kovrel" / \
        f"{sample_app.SECTION}.log"
    if path.exists():
        path.unlink()
    yield path
    if path.exists():
        path.unlink()


def lines_of(path):
    return path.read_bytes().decode("cp932").split("\r\n")[:-1]


def test_successful_silent_run_is_logged(run_log, updater, served, app, kovrel):
    info = publish(served)
    run = updater.start(info, options="-s1")
    confirm_close(kovrel)
    assert run.finish().message == MSG_UPDATED
    lines = lines_of(run_log)
    texts = [line.split(" ", 1)[1] for line in lines]
    assert texts[0].startswith(f"start: information {info}, application {app.windows_exe()}, installed version 1.0")
    assert "announced version 1.1" in texts
    assert f"archive {served.url('update.zip')}" in texts
    assert [text for text in texts if text.startswith("stage ")] == [f"stage {n}" for n in range(14)]
    placed = [text for text in texts if "files placed in" in text]
    assert placed and placed[0].startswith(f"{len(sample_app.ARCHIVE_1_1)} of {len(sample_app.ARCHIVE_1_1)} files")
    assert texts[-1] == f"end: message {MSG_UPDATED}"
    times = [int(line.split(" ", 1)[0]) for line in lines]
    assert times == sorted(times), "each line carries the milliseconds since the start"


def test_failed_run_is_appended_with_its_message(run_log, updater, served, app):
    run_log.parent.mkdir(parents=True, exist_ok=True)
    run_log.write_bytes(b"0 an earlier run\r\n")
    outcome = updater.start(served.url("absent.ini"), options="-s1").finish()
    assert outcome.message == MSG_OPEN_INFO
    lines = lines_of(run_log)
    assert lines[0] == "0 an earlier run"
    assert lines[-1].endswith(f"end: message {MSG_OPEN_INFO}")


def test_log_is_capped_by_dropping_its_oldest_lines(run_log, updater, served, app):
    run_log.parent.mkdir(parents=True, exist_ok=True)
    run_log.write_bytes(b"".join(b"%06d an old line\r\n" % i for i in range(20000)))
    outcome = updater.start(served.url("absent.ini"), options="-s1").finish()
    assert outcome.message == MSG_OPEN_INFO
    data = run_log.read_bytes()
    assert len(data) <= CAP
    lines = lines_of(run_log)
    assert lines[0].endswith(" an old line") and len(lines[0]) == len("000000 an old line"), "whole lines only"
    assert lines[-1].endswith(f"end: message {MSG_OPEN_INFO}")
    assert b"019999 an old line" in data, "the newest old lines are kept"
