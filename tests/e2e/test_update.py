"""The update procedure against nginx and the fault server on loopback, with the stand-in archivers.

In-process tests run the worker's RunUpdate through run_update_driver.exe (a private copy per test, since the
work folder sits beside it), which records every report a dialog would get. End-to-end tests run the real
Kovrel.exe -s1 and answer its boxes with the window driver, as a person would.
"""
import shutil
import time

import harness
import pytest
import sample_app
import wine_registry
from driver_output import RESULT_UP_TO_DATE, RESULT_UPDATED, STATE_ABORTED, STATE_DONE, STATE_FAILED
from sample_app import SampleApp, files_only, tree
from updates import (CONFIRM_CLOSE, ENGLISH_CONFIRM_CLOSE, KOVREL, MARKER_PROGRAM, MSG_ABORTED, MSG_DOWNLOAD_ARCHIVE,
                     MSG_DOWNLOAD_INFO, MSG_EXTRACT, MSG_OPEN_ARCHIVE, MSG_OPEN_INFO, MSG_READ_INFO, MSG_UPDATED,
                     MSG_UP_TO_DATE, STATUS_TEXTS, assert_unchanged, assert_updated, confirm_close,
                     folder_on_another_file_system, publish, silent_arguments, wait_for_cleanup)
from updates import app, updater  # noqa: F401 - fixtures


# --- in-process runs -------------------------------------------------------------------------------------

@pytest.mark.parametrize("installed", ["1.1", "1.2"])
def test_up_to_date_never_asks_for_the_archive(installed, updater, served, app):
    info = publish(served)
    # No box is answered: a box would hold the run until the driver's bound ran out.
    outcome = updater.start(info, version=installed).finish()
    assert (outcome.state, outcome.result, outcome.message) == (STATE_DONE, RESULT_UP_TO_DATE, MSG_UP_TO_DATE), \
        outcome
    assert [path for path, _ in served.requests()] == ["Kovrel.ini"]
    assert outcome.reports[-1] == "finished"
    assert_unchanged(app)


@pytest.mark.parametrize("kind", ["zip", "tar.gz"])
def test_successful_update_replaces_everything_with_a_backup(kind, updater, served, app, kovrel):
    archive = "update." + kind
    info = publish(served, archive, kind=kind)
    run = updater.start(info)
    confirm_close(kovrel)
    outcome = run.finish()
    assert (outcome.state, outcome.result, outcome.message) == (STATE_DONE, RESULT_UPDATED, MSG_UPDATED), outcome

    assert_updated(app)
    assert (app.folder / "新フォルダ").is_dir()
    backup = updater.work / "Bup"
    assert files_only(tree(backup)) == sample_app.replaced_files()
    assert files_only(tree(updater.work / "Src")) == {}, "the new files were moved into place, not copied"
    assert sorted(path for path, _ in served.requests()) == sorted(["Kovrel.ini", archive])

    progress = outcome.progress()
    assert progress == sorted(progress), f"the bar went back: {progress}"
    assert progress[0] == 0 and progress[-1] == 100
    assert outcome.texts() == STATUS_TEXTS
    assert outcome.reports[-1] == "finished" and outcome.reports.count("finished") == 1


def test_silent_run_reports_nothing_but_still_asks(updater, served, app, kovrel):
    run = updater.start(publish(served), options="-s1")
    confirm_close(kovrel)
    outcome = run.finish()
    assert (outcome.state, outcome.result, outcome.message) == (STATE_DONE, RESULT_UPDATED, MSG_UPDATED), outcome
    assert outcome.reports == []
    assert_updated(app)


SERVER_VARIANTS = {
    # label: (information URL kind, archive URL kind) on the fault server; None: nginx
    "information through a redirect, archive chunked": ("redirect", "chunked"),
    "both without a length": ("nolength", "nolength"),
}


@pytest.mark.parametrize("label", SERVER_VARIANTS)
def test_update_through_responses_nginx_does_not_give(label, updater, served, app, kovrel):
    info_kind, archive_kind = SERVER_VARIANTS[label]
    publish(served, archive_url=served.fault_url(archive_kind, "update.zip"))
    run = updater.start(served.fault_url(info_kind, "Kovrel.ini"))
    confirm_close(kovrel)
    outcome = run.finish()
    assert (outcome.state, outcome.message) == (STATE_DONE, MSG_UPDATED), outcome
    assert_updated(app)
    assert served.fault_requests() == [f"/{info_kind}/{served.name}/Kovrel.ini",
                                       f"/{archive_kind}/{served.name}/update.zip"]
    # A redirect is followed to nginx; otherwise nginx sees nothing of the run.
    assert [path for path, _ in served.requests()] == (["Kovrel.ini"] if info_kind == "redirect" else [])


def early_failures(served):
    """label: (information URL, expected result, expected message). All end before the confirmation box."""
    zip_url = served.url("update.zip")
    sample_app.write_zip(served.folder / "update.zip", sample_app.ARCHIVE_1_1)
    served.put("no_ver.ini", sample_app.info_text(zip_url, version=None))
    served.put("no_url.ini", sample_app.info_text(None))
    # nginx answers a folder URL with its index page, so the archive URL opens and only its name is wrong.
    served.put("page/index.html", b"<html></html>")
    served.put("slash.ini", sample_app.info_text(served.url("page/")))
    served.put("other_section.ini", sample_app.info_text(zip_url, section="Another"))
    served.put("archive404.ini", sample_app.info_text(served.url("missing.zip")))
    served.put("archive500.ini", sample_app.info_text(served.fault.url("status/500")))
    served.put("Kovrel.ini", sample_app.info_text(zip_url))
    return {
        "nothing listens on the port": (f"http://127.0.0.1:{harness.free_loopback_port()}/Kovrel.ini", 2,
                                        MSG_OPEN_INFO),
        "information file 404": (served.fault.url("status/404"), 2, MSG_OPEN_INFO),
        "information file missing on nginx": (served.url("absent.ini"), 2, MSG_OPEN_INFO),
        "information body cut short": (served.fault_url("short", "Kovrel.ini"), 6, MSG_DOWNLOAD_INFO),
        "APP_VER missing": (served.url("no_ver.ini"), 7, MSG_READ_INFO),
        "section missing": (served.url("other_section.ini"), 7, MSG_READ_INFO),
        "APP_URL missing": (served.url("no_url.ini"), 8, MSG_OPEN_ARCHIVE),
        "archive 404": (served.url("archive404.ini"), 8, MSG_OPEN_ARCHIVE),
        "archive 500": (served.url("archive500.ini"), 8, MSG_OPEN_ARCHIVE),
        "APP_URL ending in a slash": (served.url("slash.ini"), 9, MSG_DOWNLOAD_ARCHIVE),
    }


EARLY_FAILURES = ["nothing listens on the port", "information file 404", "information file missing on nginx",
                  "information body cut short", "APP_VER missing", "section missing", "APP_URL missing",
                  "archive 404", "archive 500", "APP_URL ending in a slash"]


@pytest.mark.parametrize("label", EARLY_FAILURES)
def test_failure_before_the_confirmation(label, updater, served, app):
    info, result, message = early_failures(served)[label]
    outcome = updater.start(info).finish()
    assert (outcome.state, outcome.result, outcome.message) == (STATE_FAILED, result, message), outcome
    assert outcome.reports[-1] == "finished"
    assert_unchanged(app)


def test_a_slow_answer_at_the_box_loses_nothing(updater, served, app, kovrel):
    """The archive is fetched and unpacked before the question, so no request waits on the user."""
    run = updater.start(publish(served))
    box = kovrel.show("Kovrel", 60000)
    assert box.text() == CONFIRM_CLOSE
    archive_size = (served.folder / "update.zip").stat().st_size
    assert ("update.zip", 200) in served.requests(), "the archive was downloaded before the question"
    assert any(line.split()[-1] == str(archive_size) for line in served.nginx.requests() if "update.zip" in line)
    assert_unchanged(app)
    time.sleep(90)  # the user takes their time: this wait is the case under test, not a synchronisation
    confirm_close(kovrel)
    outcome = run.finish()
    assert (outcome.state, outcome.result, outcome.message) == (STATE_DONE, RESULT_UPDATED, MSG_UPDATED), outcome
    assert_updated(app)


def test_cancel_in_the_confirmation_box(updater, served, app, kovrel):
    run = updater.start(publish(served))
    confirm_close(kovrel, "2")
    outcome = run.finish()
    assert (outcome.state, outcome.result, outcome.message) == (STATE_ABORTED, 13, MSG_ABORTED), outcome
    assert files_only(tree(updater.work / "Src")) == sample_app.ARCHIVE_1_1, "unpacked before the question"
    assert_unchanged(app)


def test_archive_body_cut_short(updater, served, app, kovrel):
    # A bad download ends the run before the user is asked anything.
    outcome = updater.start(publish(served, archive_url=served.fault_url("short", "update.zip"))).finish()
    assert (outcome.state, outcome.result, outcome.message) == (STATE_FAILED, 11, MSG_DOWNLOAD_ARCHIVE), outcome
    assert_unchanged(app)


def test_content_encoded_archive_is_refused(updater, served, app):
    """A server that compresses the archive on the way sends bytes that are not the published file."""
    outcome = updater.start(publish(served, archive_url=served.fault_url("gzip", "update.zip"))).finish()
    assert (outcome.state, outcome.result, outcome.message) == (STATE_FAILED, 11, MSG_DOWNLOAD_ARCHIVE), outcome
    assert_unchanged(app)


def test_archive_that_unpacks_to_nothing_is_an_unpack_failure(updater, served, app):
    outcome = updater.start(publish(served, files={})).finish()
    assert (outcome.state, outcome.result, outcome.message) == (STATE_FAILED, 12, MSG_EXTRACT), outcome
    assert_unchanged(app)


def test_no_archiver_for_the_extension(updater, served, app, kovrel):
    outcome = updater.start(publish(served, "update.exe")).finish()
    assert (outcome.state, outcome.result, outcome.message) == (STATE_FAILED, 12, MSG_EXTRACT), outcome
    assert_unchanged(app)


@pytest.mark.parametrize("code, state, message", [("7", STATE_FAILED, MSG_EXTRACT),
                                                  ("0x8020", STATE_ABORTED, MSG_ABORTED)])
def test_archiver_failure(code, state, message, updater, served, app, kovrel, tmp_path):
    log = tmp_path / "archiver.log"
    # The stand-ins read a zip under any extension; .lzh goes to a library, as zip no longer does.
    run = updater.start(publish(served, "update.lzh"), extra_env={"KOVREL_STANDIN_FAIL": "99:" + code,
                                                    "KOVREL_STANDIN_LOG": harness.windows_path(log)})
    outcome = run.finish()
    assert (outcome.state, outcome.result, outcome.message) == (state, 12, message), outcome
    calls = [line for line in log.read_bytes().split(b"\r\n") if line]
    # A failure is tried four times; a cancel by the user is final.
    assert len(calls) == (1 if code == "0x8020" else 4), calls
    assert all(call.startswith(b"Unlha\t") for call in calls)
    assert_unchanged(app)


# --- end to end through Kovrel.exe -s1 ---------------------------------------------------------------------

def test_silent_update_through_the_launcher(kovrel, kovrel_temp, served, app):
    run = kovrel.start_launcher(KOVREL, silent_arguments(publish(served), app))
    confirm_close(kovrel)
    assert run.exit_code() == 0
    wait_for_cleanup(kovrel)
    assert_updated(app)


def test_silent_update_of_an_application_on_another_drive(kovrel, kovrel_temp, served, wine_env):
    """Applications often live on another drive than the temporary folder, where the work folder is."""
    outside = folder_on_another_file_system(harness.temp_folder())
    app = SampleApp(base=outside / "Programs").install()
    try:
        run = kovrel.start_launcher(KOVREL, silent_arguments(publish(served), app))
        confirm_close(kovrel)
        assert run.exit_code() == 0
        wait_for_cleanup(kovrel)
        assert_updated(app)
    finally:
        sample_app.make_writable(outside)
        shutil.rmtree(outside, ignore_errors=True)


@pytest.mark.parametrize("available", ["1.1", "1.0"])
def test_restart_only_after_an_update(available, kovrel, kovrel_temp, served, app):
    restart = app.base / "Restart Tool" / "marker.exe"
    restart.parent.mkdir(parents=True)
    shutil.copyfile(MARKER_PROGRAM, restart)
    marker = app.base / "restarted.txt"
    params = f"{harness.windows_path(marker)} --after-update 表示"
    extra = f'"" "{harness.windows_path(restart)}" "{params}" -r1'
    run = kovrel.start_launcher(KOVREL, silent_arguments(publish(served, version=available), app, extra=extra))
    if available == "1.1":
        confirm_close(kovrel)
    assert run.exit_code() == 0
    wait_for_cleanup(kovrel)
    if available == "1.1":
        assert harness.wait_until(marker.exists, 60)
        command_line = marker.read_text(encoding="utf-8")
        assert harness.windows_path(restart) in command_line
        assert command_line.endswith(params)
        assert_updated(app)
    else:
        # The restart would have been started before the cleanup launcher, which has finished by now.
        assert not marker.exists()
        assert_unchanged(app)


# An English system's files in ASCII: its ANSI code page is 1252.
ASCII_1_1 = {sample_app.APP_EXE: b"MZ sample application 1.1\r\n", "new.txt": b"added in 1.1"}
TEMP_FOLDERS = {
    # label: (the folder below drive C:, the locale of the run, the close box's text, the archive's files)
    "a blank in the path": ("a b", {}, CONFIRM_CLOSE, None),
    # Code page 1252 cannot hold "Ł": the temporary folder is reached through its short name.
    "a name outside the code page": ("users/{user}/Temp/Łukasz", harness.ENGLISH_LOCALE, ENGLISH_CONFIRM_CLOSE,
                                     ASCII_1_1),
}


@pytest.fixture(params=TEMP_FOLDERS)
def odd_temp(request, wine_env, kovrel):
    """TMP and TEMP of the prefix's user at one of TEMP_FOLDERS; the earlier values are put back exactly
    afterwards. Gives the temporary folder's Linux path and the rest of the row."""
    below, locale, confirm, files = TEMP_FOLDERS[request.param]
    names = ("TMP", "TEMP")
    saved = {name: wine_registry.read_environment_value(wine_env, name) for name in names}
    folder = harness.PREFIX / "drive_c" / below.format(user=harness.prefix_user())
    folder.mkdir(exist_ok=True)
    try:
        for name in names:
            wine_registry.write_environment_value(wine_env, name, ("REG_EXPAND_SZ", harness.windows_path(folder)))
        yield folder, locale, confirm, files
    finally:
        for name in names:
            wine_registry.write_environment_value(wine_env, name, saved[name])
        sample_app.make_writable(folder)
        shutil.rmtree(folder, ignore_errors=True)
    assert {name: wine_registry.read_environment_value(wine_env, name) for name in names} == saved


def test_silent_update_with_an_odd_temp_path(odd_temp, kovrel, kovrel_temp, served, app):
    temp, locale, confirm, files = odd_temp
    arguments = silent_arguments(publish(served, files=files), app)
    run_folder = temp / f"Kovrel-{harness.identity_of_arguments(arguments)}"
    run = kovrel.start_launcher(KOVREL, arguments, locale)
    confirm_close_box = kovrel.show("Kovrel", 60000)
    assert confirm_close_box.text() == confirm
    # While the box waits, the worker and its downloaded information are in the odd folder.
    assert (run_folder / "Kovrelw.exe").is_file()
    assert (run_folder / "Work" / "Kovrel.ini").is_file()
    assert not kovrel_temp(arguments).exists()
    kovrel.press("Kovrel", "OK")
    assert run.exit_code() == 0
    wait_for_cleanup(kovrel, run_folder)
    assert files_only(tree(app.folder)) == dict(sample_app.VERSION_1_0, **(files or sample_app.ARCHIVE_1_1))
