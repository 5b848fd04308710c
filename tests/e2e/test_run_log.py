"""The run log: each run appends what it did to %LOCALAPPDATA%\\Kovrel\\<identity>.log, one file per application,
capped, oldest lines first to go. A run's first line names the UTC time, Kovrel's version and the launcher; its
stages are named; its last line gives the outcome's message id and, for a failure, the cause. A run that the
launcher refuses leaves a line of its own."""
import re

import harness
import pytest
import sample_app
from updates import KOVREL, MSG_OPEN_INFO, MSG_UPDATED, confirm_close, publish
from updates import app, updater  # noqa: F401 - fixtures shared with the update tests

CAP = 64 * 1024
VERSION = re.search(r'#define KOVREL_VERSION_TEXT "([^"]+)"',
                    (harness.ROOT / "src" / "common" / "kovrel_version.h").read_text()).group(1)
START = re.compile(r"\d+ start: \d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ, Kovrel (?P<version>\S+), launcher (?P<launcher>.+?); "
                   r"(?P<rest>.*)")


@pytest.fixture
def run_log(wine_env, app):
    return app.run_log()  # removed with the application


def lines_of(path):
    return path.read_bytes().decode("cp932").split("\r\n")[:-1]


def test_successful_silent_run_is_logged(run_log, updater, served, app, kovrel):
    info = publish(served)
    run = updater.start(info, options="-s1")
    confirm_close(kovrel)
    assert run.finish().message == MSG_UPDATED
    lines = lines_of(run_log)
    start = START.fullmatch(lines[0])
    assert start, lines[0]
    assert (start["version"], start["launcher"]) == (VERSION, harness.windows_path(updater.folder / "Kovrel.exe"))
    assert start["rest"].startswith(f"information {info}, application {app.windows_exe()}, installed version 1.0")
    texts = [line.split(" ", 1)[1] for line in lines]
    assert "announced version 1.1" in texts
    assert f"archive {served.url('update.zip')}" in texts
    stages = [re.fullmatch(r"stage (\d+) ([a-z ]+)", text).groups() for text in texts if text.startswith("stage ")]
    assert [int(number) for number, _ in stages] == list(range(14))
    assert len({name for _, name in stages}) == 14, "each stage has a name of its own"
    placed = [text for text in texts if "files placed in" in text]
    assert placed and placed[0].startswith(f"{len(sample_app.ARCHIVE_1_1)} of {len(sample_app.ARCHIVE_1_1)} files")
    assert texts[-1] == f"end: message {MSG_UPDATED}", "a run that succeeds names no cause"
    times = [int(line.split(" ", 1)[0]) for line in lines]
    assert times == sorted(times), "each line carries the milliseconds since the start"


def test_failed_run_is_appended_with_its_message_and_cause(run_log, updater, served, app):
    run_log.parent.mkdir(parents=True, exist_ok=True)
    run_log.write_bytes(b"0 an earlier run\r\n")
    url = served.url("absent.ini")
    outcome = updater.start(url, options="-s1").finish()
    assert outcome.message == MSG_OPEN_INFO
    lines = lines_of(run_log)
    assert lines[0] == "0 an earlier run"
    assert lines[-1].endswith(f" end: message {MSG_OPEN_INFO}; cause: HTTP status 404, {url}")


def test_log_is_capped_by_dropping_its_oldest_lines(run_log, updater, served, app):
    run_log.parent.mkdir(parents=True, exist_ok=True)
    run_log.write_bytes(b"".join(b"%06d an old line\r\n" % i for i in range(20000)))
    outcome = updater.start(served.url("absent.ini"), options="-s1").finish()
    assert outcome.message == MSG_OPEN_INFO
    data = run_log.read_bytes()
    assert len(data) <= CAP
    lines = lines_of(run_log)
    assert lines[0].endswith(" an old line") and len(lines[0]) == len("000000 an old line"), "whole lines only"
    assert f" end: message {MSG_OPEN_INFO}; " in lines[-1]
    assert b"019999 an old line" in data, "the newest old lines are kept"


def test_second_start_is_logged_as_refused(run_log, kovrel, served, app):
    """Refused before any worker starts (a check, so that no box waits): one line in the start's form."""
    arguments = f'{served.url("Kovrel.ini")} "{app.windows_exe()}" {sample_app.SECTION} 1.0 -k1'
    with kovrel.holding_mutex(arguments):
        run = kovrel.start_launcher(KOVREL, arguments)
        assert run.exit_code(120) == 2
    lines = lines_of(run_log)
    start = START.fullmatch(lines[-1])
    assert start, lines
    assert (start["version"], start["launcher"], start["rest"]) == \
        (VERSION, harness.windows_path(KOVREL), "refused: another run of this application is going on")
