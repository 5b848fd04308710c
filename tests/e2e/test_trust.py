"""Nothing is acted on that Kovrel did not write or verify: journals planted in the work folder or sent as an
archive, and a launcher whose key block is gone (test_verified_update.py). Every case ends with the user's
own files outside the application untouched."""
import os
import shutil

import harness
import pytest
import sample_app
from sample_app import files_only, tree
from updates import (CONFIRM_CLOSE, KOVREL, MSG_EXTRACT, MSG_REPLACE, MSG_UPDATED, RESULT_UPDATED, STATE_DONE, STATE_FAILED, assert_updated,
                     big_archive_files, confirm_close, journal, publish, silent_arguments)
from updates import app, updater  # noqa: F401 - fixtures shared with the update tests
from test_dialog import BUTTON_CLOSE, close_dialog, installed, wait_for_button  # noqa: F401 - installed: a fixture

USERS_OWN = b"the user's own document"


@pytest.fixture
def documents(tmp_path):
    folder = tmp_path / "Documents"
    folder.mkdir()
    (folder / "doc.txt").write_bytes(USERS_OWN)
    return folder


def refused_journal():
    return harness.PREFIX / "drive_c" / "users" / harness.prefix_user() / "AppData" / "Local" / "Kovrel" / \
        "refused.journal"


def journal_text(application, backup, records):
    lines = ["KOVREL-JOURNAL 2", f"A {harness.windows_path(application)}\\", f"B {harness.windows_path(backup)}\\"]
    return ("\r\n".join(lines + records) + "\r\n").encode("utf-8")


def plant(work, application, backup, records):
    """A journal in the work folder, with a planted file in its own backup folder."""
    (work / "Bup").mkdir(parents=True, exist_ok=True)
    (work / "Bup" / "doc.txt").write_bytes(b"planted")
    (work / "Kovrel.journal").write_bytes(journal_text(application, backup, records))


# Each would move or delete the user's document if it were undone.
PLANTED = {
    "another application folder": lambda app, work, docs: (docs, work / "Bup", ["R doc.txt"]),
    "a backup folder not its own": lambda app, work, docs: (app.folder, docs, ["R doc.txt"]),
    "a name going up": lambda app, work, docs: (app.folder, work / "Bup",
                                                ["C " + os.path.relpath(docs / "doc.txt", app.folder).replace("/", "\\")]),
    "a rooted name": lambda app, work, docs: (app.folder, work / "Bup", ["C " + harness.windows_path(docs / "doc.txt")]),
}


@pytest.mark.parametrize("variant", PLANTED)
def test_a_planted_journal_is_set_aside_and_the_run_goes_on(variant, updater, served, app, kovrel, documents):
    refused_journal().unlink(missing_ok=True)
    plant(updater.work, *PLANTED[variant](app, updater.work, documents))
    run = updater.start(publish(served))
    confirm_close(kovrel)
    outcome = run.finish()
    assert (outcome.state, outcome.result, outcome.message) == (STATE_DONE, RESULT_UPDATED, MSG_UPDATED), outcome
    assert (documents / "doc.txt").read_bytes() == USERS_OWN
    assert_updated(app)
    assert not journal(updater).exists()
    assert b"\r\nA " in refused_journal().read_bytes(), "kept for inspection"


def test_an_archive_named_as_the_journal_is_never_one(updater, served, app, kovrel, documents):
    served.put("Kovrel.journal", journal_text(documents, updater.work / "Bup", ["C doc.txt"]))
    served.put("Kovrel.ini", sample_app.info_text(served.url("Kovrel.journal")))
    outcome = updater.start(served.url("Kovrel.ini")).finish()
    assert (outcome.state, outcome.message) == (STATE_FAILED, MSG_EXTRACT), outcome
    assert not journal(updater).exists()
    run = updater.start(publish(served))
    confirm_close(kovrel)
    assert run.finish().message == MSG_UPDATED
    assert (documents / "doc.txt").read_bytes() == USERS_OWN


@pytest.mark.parametrize("sound", [True, False], ids=["another application's", "unsound"])
def test_the_launcher_keeps_only_journals_of_an_application(sound, kovrel, kovrel_temp, served, app, documents):
    """Another application's journal keeps its folder for that application, and this run uses the next one;
    an unsound journal's folder is emptied like any stale one."""
    arguments = silent_arguments(publish(served), app)
    work = kovrel_temp(arguments) / "Work"
    plant(work, documents, work / "Bup" if sound else documents, ["R doc.txt"])
    run = kovrel.start_launcher(KOVREL, arguments)
    confirm_close(kovrel)
    assert run.exit_code() == 0
    used = harness.run_folder(arguments, 1) if sound else kovrel_temp(arguments)
    assert harness.wait_until(lambda: not used.exists() and kovrel.wait_mutex_free(1000), 120), f"{used} stays"
    assert_updated(app)
    assert (documents / "doc.txt").read_bytes() == USERS_OWN
    assert (work / "Kovrel.journal").exists() == sound


PLANTED_LIBRARIES = ("wininet.dll", "comctl32.dll", "Unlha32.dll")


def test_libraries_planted_beside_the_worker_are_never_loaded(installed, kovrel, kovrel_temp, served, tmp_path,
                                                               wine_env):
    """A WinINet, common controls and archiver of an attacker's beside the worker, beside the application and
    in the current folder. Wine is told to prefer such copies to its own, as Windows would find them first
    beside a program; none is loaded, and the update goes through with the system's."""
    marker = tmp_path / "loaded.txt"
    worker_folder = tmp_path / "Worker"
    worker_folder.mkdir()
    for folder in (worker_folder, installed.folder):
        for name in PLANTED_LIBRARIES:
            shutil.copyfile(harness.DIST / "planted_library.dll", folder / name)
    shutil.copyfile(harness.DIST / "Kovrelw.exe", worker_folder / "Kovrelw.exe")
    shutil.copyfile(KOVREL, worker_folder / "Kovrel.exe")
    # The stand-ins read a zip under any extension; .lzh goes to Unlha32.dll.
    info = publish(served, "update.lzh")
    worker = harness.windows_path(worker_folder / "Kovrelw.exe")
    arguments = f'"{harness.windows_path(worker_folder / "Kovrel.exe")}" {info} "{installed.windows_exe()}" ' \
                f'{sample_app.SECTION} 1.0'
    overrides = wine_env.get("WINEDLLOVERRIDES", "") + ";wininet,comctl32=n,b"
    kovrel.start(worker, f'"{worker}" {arguments}', {"WINEDLLOVERRIDES": overrides,
                                                     "KOVREL_PLANTED_MARKER": harness.windows_path(marker)},
                 cwd=installed.folder)
    confirm_close(kovrel)
    wait_for_button(kovrel, BUTTON_CLOSE)
    close_dialog(kovrel)
    assert not marker.exists(), marker.read_text(errors="replace")
    planted = {name: (harness.DIST / "planted_library.dll").read_bytes() for name in PLANTED_LIBRARIES}
    assert_updated(installed, dict(planted, **{"Kovrel.exe": KOVREL.read_bytes()}))


def test_an_application_folder_swapped_for_a_link_is_never_written(updater, served, app, kovrel, documents):
    """While the "close the application" box waits, the folder is moved away and a link to another folder
    put in its place: the run fails with nothing written, neither there nor in the real folder."""
    run = updater.start(publish(served))
    box = kovrel.show("Kovrel", 60000)
    assert box.text() == CONFIRM_CLOSE
    moved = app.folder.with_name(app.folder.name + "-moved")
    app.folder.rename(moved)
    app.folder.symlink_to(documents, target_is_directory=True)
    try:
        kovrel.press("Kovrel", "OK")
        outcome = run.finish()
    finally:
        app.folder.unlink()
        moved.rename(app.folder)
    assert (outcome.state, outcome.message) == (STATE_FAILED, MSG_REPLACE), outcome
    assert sorted(os.listdir(documents)) == ["doc.txt"]
    assert files_only(tree(app.folder)) == sample_app.VERSION_1_0


def test_the_archive_is_held_against_writers_while_it_is_unpacked(updater, served, app, kovrel):
    """Within the unpacking's first report, while the unpacker waits for it, the checked archive cannot be
    opened for writing; the update then goes through."""
    files = big_archive_files()
    archive = harness.windows_path(updater.work / "update.zip")
    run = updater.start(publish(served, files=files), extra_env={"KOVREL_DRIVER_PROBE_AT": "67:" + archive})
    confirm_close(kovrel)
    outcome = run.finish()
    assert "probe refused 32" in run.lines, run.lines  # ERROR_SHARING_VIOLATION
    assert outcome.message == MSG_UPDATED
    assert_updated(app, {"big.bin": files["big.bin"]})


@pytest.fixture
def machine_staging():
    """The Linux path of %ProgramData%\\Kovrel\\, absent at the start and the end of a test."""
    path = harness.PREFIX / "drive_c" / "ProgramData" / "Kovrel"
    shutil.rmtree(path, ignore_errors=True)
    yield path
    shutil.rmtree(path, ignore_errors=True)


STAGING_BEFORE = {
    "limited token": None,
    "elevated": None,
    "elevated, a file in its place": lambda root: root.write_bytes(b"a user's"),
    "elevated, a user's folder": lambda root: (root / "a user's" / "Work").mkdir(parents=True),
}


@pytest.mark.parametrize("case", STAGING_BEFORE)
def test_an_elevated_run_stages_only_in_the_per_machine_folder(case, kovrel, kovrel_temp, machine_staging,
                                                               served, app):
    """Started with the limited token, Kovrel stages in %TEMP%; elevated, in %ProgramData%\\Kovrel\\Staging-…\\,
    and %TEMP% is never touched. The folder that stays is the protected root, emptied of the run."""
    elevated = case != "limited token"
    if STAGING_BEFORE[case]:
        STAGING_BEFORE[case](machine_staging)
    arguments = silent_arguments(publish(served), app)
    run = kovrel.start_launcher(KOVREL, arguments, elevated=elevated)
    temp, staging = kovrel_temp(arguments), harness.machine_run_folder(arguments)
    used, unused = (staging, temp) if elevated else (temp, machine_staging)
    assert harness.wait_until(lambda: (used / "Kovrelw.exe").exists(), 60), f"{used} not used"
    confirm_close(kovrel)
    assert run.exit_code() == 0
    assert harness.wait_until(lambda: not used.exists() and kovrel.wait_mutex_free(1000), 120), f"{used} stays"
    assert_updated(app)
    assert not unused.exists()
    assert machine_staging.is_dir() == elevated
