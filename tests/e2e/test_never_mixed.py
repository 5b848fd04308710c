"""The application ends as the old version or the new one, never a mix, whatever stops the replacement.

The update procedure runs in-process through run_update_driver.exe (see updates.py). Its hooks stop the
update thread after a given copied file (KOVREL_DRIVER_HOLD_AFTER) so the test can kill the process there by
its PID, or lock files after a given copied file (KOVREL_DRIVER_LOCK_AFTER) as an application that is not
quite closed would. A second run, or the real launcher, must then put the application back byte for byte.
"""
import re
import shutil
import subprocess
import time
import zipfile

import harness
import pytest
import sample_app
from sample_app import files_only, tree
from updates import (CONFIRM_CLOSE, ENGLISH_CONFIRM_CLOSE, KOVREL, MSG_ABORTED, MSG_UPDATED, RESULT_UPDATED,
                     STATE_ABORTED, STATE_DONE, STATE_FAILED, Updater,
                     assert_unchanged, assert_updated, confirm_close, folder_on_another_file_system,
                     hold, journal, publish, release, silent_arguments, wait_for_cleanup)
from updates import app, updater  # noqa: F401 - fixtures shared with the update tests

MSG_RESTORE_INCOMPLETE, MSG_IN_USE_SILENT = 30116, 30119
UNDONE = "前回のアップデートは途中で中断されていました。\nアプリケーションを更新前の状態に戻しました。"
FILES_IN_ARCHIVE = len(sample_app.ARCHIVE_1_1)


def windows_paths(app, names):
    return "|".join(harness.windows_path(app.folder / name) for name in names)


def wait_for(run, seen, timeout=120):
    """Waits until seen(the driver's output so far) holds, or the driver ends."""
    assert harness.wait_until(lambda: seen(run.output()) or run.process.poll() is not None, timeout), run.lines
    assert seen(run.output()), run.lines


def kill(run):
    run.process.kill()
    run.process.wait(timeout=60)


def assert_undone_then_updated(updater, kovrel, app):
    """A new run first puts the application back (and says so), then updates it as if nothing happened."""
    run = updater.start(updater.info)
    box = kovrel.show("Kovrel", 60000)
    assert box.text() == UNDONE
    # While the box waits, the undo is complete: the application is 1.0 byte for byte, additions gone.
    assert files_only(tree(app.folder)) == sample_app.VERSION_1_0
    assert not (app.folder / "新フォルダ").exists()
    kovrel.press("Kovrel", "OK")
    confirm_close(kovrel)
    outcome = run.finish()
    assert (outcome.state, outcome.result, outcome.message) == (STATE_DONE, RESULT_UPDATED, MSG_UPDATED), outcome
    assert_updated(app)
    assert not journal(updater).exists()


@pytest.mark.parametrize("after", [1, FILES_IN_ARCHIVE // 2, FILES_IN_ARCHIVE],
                         ids=["after the first file", "mid-way", "at the last file"])
def test_worker_killed_during_the_copy(after, updater, served, app, kovrel):
    updater.info = publish(served)
    run = updater.start(updater.info, extra_env={"KOVREL_DRIVER_HOLD_AFTER": str(after)})
    confirm_close(kovrel)
    wait_for(run, lambda output: output.holding)
    kill(run)
    assert journal(updater).exists(), "the journal outlives the worker"
    assert_undone_then_updated(updater, kovrel, app)


def test_worker_killed_during_a_restore(updater, served, app, kovrel):
    """Files locked after the third copied file fail the copy, and slow the restore down; the kill comes while
    the restore is retrying a locked file (the copy fails about 4 s after the locks, each locked file then
    holds the restore for about 4 s more)."""
    updater.info = publish(served)
    replaced = list(sample_app.replaced_files())
    run = updater.start(updater.info, extra_env={"KOVREL_DRIVER_LOCK_AFTER": "3:" + windows_paths(app, replaced)})
    confirm_close(kovrel)
    wait_for(run, lambda output: harness.windows_path(app.folder / replaced[-1]) in output.locked())
    time.sleep(6)  # a point inside the restore's retries, not a synchronisation
    assert run.process.poll() is None, run.lines
    kill(run)
    assert_undone_then_updated(updater, kovrel, app)


def test_locked_late_in_the_copy_and_again_during_the_restore(updater, served, app, kovrel):
    """The restore goes past the files it cannot put back, keeps the journal, says so; the next run finishes."""
    updater.info = publish(served)
    replaced = list(sample_app.replaced_files())
    run = updater.start(updater.info, extra_env={"KOVREL_DRIVER_LOCK_AFTER": "3:" + windows_paths(app, replaced)})
    confirm_close(kovrel)
    outcome = run.finish(timeout=300)
    assert (outcome.state, outcome.result, outcome.message) == (STATE_FAILED, 14, MSG_RESTORE_INCOMPLETE), outcome
    assert journal(updater).exists(), "kept for the next start"
    # The locks ended with the driver: the next run undoes what was left, then updates.
    assert_undone_then_updated(updater, kovrel, app)


ENGLISH_UNDONE = "The previous update was interrupted.\nThe application has been put back as it was before that update."
# Names outside code page 1252, and the Greek and emoji ones outside code page 932 too.
UNICODE_1_0 = {"日本語.txt": b"ja 1.0", "Ελληνικά/αρχείο.txt": b"el 1.0"}
UNICODE_1_1 = {"日本語.txt": b"ja 1.1", "Ελληνικά/αρχείο.txt": b"el 1.1",
               "😀 smile.txt": b"smile 1.1", "Ελληνικά/νέος φάκελος/ένα.txt": b"new folder 1.1"}


@pytest.mark.parametrize("locale,confirm,undone", [
    pytest.param({}, CONFIRM_CLOSE, UNDONE, id="Japanese"),
    pytest.param(harness.ENGLISH_LOCALE, ENGLISH_CONFIRM_CLOSE, ENGLISH_UNDONE, id="English"),
])
def test_names_outside_the_code_page_are_undone_after_a_kill(locale, confirm, undone, updater, served, app,
                                                              kovrel):
    """A zip from Python's zipfile (UTF-8 names) over an application that has such names already: the worker is
    killed after its last file, before the commit; the next run undoes everything from the UTF-8 journal."""
    for name, data in UNICODE_1_0.items():
        (app.folder / name).parent.mkdir(parents=True, exist_ok=True)
        (app.folder / name).write_bytes(data)
    before = files_only(tree(app.folder))
    files = dict(sample_app.ARCHIVE_1_1, **UNICODE_1_1)
    with zipfile.ZipFile(served.folder / "unicode.zip", "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in files.items():
            archive.writestr(name, data)
    served.put("Kovrel.ini", sample_app.info_text(served.url("unicode.zip")))
    info = served.url("Kovrel.ini")

    run = updater.start(info, extra_env=dict(locale, KOVREL_DRIVER_HOLD_AFTER=str(len(files))))
    assert kovrel.press("Kovrel", "OK", 60000).text() == confirm
    wait_for(run, lambda output: output.holding)
    kill(run)
    assert files_only(tree(app.folder)) == dict(before, **files), "every file was placed"
    written = journal(updater).read_bytes()
    assert written.startswith(b"KOVREL-JOURNAL 2\r\n"), written[:40]
    for name in UNICODE_1_1:
        assert (" " + name.replace("/", "\\") + "\r\n").encode("utf-8") in written, name

    run = updater.start(info, extra_env=locale)
    assert kovrel.show("Kovrel", 60000).text() == undone
    assert files_only(tree(app.folder)) == before
    assert not (app.folder / "Ελληνικά" / "νέος φάκελος").exists()
    kovrel.press("Kovrel", "OK")
    assert kovrel.press("Kovrel", "OK", 60000).text() == confirm
    outcome = run.finish()
    assert (outcome.state, outcome.result, outcome.message) == (STATE_DONE, RESULT_UPDATED, MSG_UPDATED), outcome
    assert_updated(app, UNICODE_1_1)
    assert not journal(updater).exists()


@pytest.fixture
def updater_on_another_drive(wine_env, app, tmp_path, kovrel):
    """An updater whose work folder lies on another file system than the application: /dev/shm, reached
    through drive Z:. Nothing can be moved between the two, so every file is copied, both ways."""
    outside = folder_on_another_file_system(app.base)
    runner = Updater(wine_env, app, tmp_path, folder=outside / "Driver")
    yield runner
    runner.stop()
    sample_app.make_writable(outside)
    shutil.rmtree(outside, ignore_errors=True)


@pytest.mark.parametrize("options", ["", "-b0"], ids=["with a backup", "without a backup"])
def test_update_with_the_work_folder_on_another_drive(options, updater_on_another_drive, served, app, kovrel):
    updater = updater_on_another_drive
    run = updater.start(publish(served), options=options)
    confirm_close(kovrel)
    outcome = run.finish()
    assert (outcome.state, outcome.result, outcome.message) == (STATE_DONE, RESULT_UPDATED, MSG_UPDATED), outcome
    assert_updated(app)
    # The originals were copied into the backup, the new files out of the unpacked tree, which keeps them.
    backup = sample_app.replaced_files() if not options else {}
    assert files_only(tree(updater.work / "Bup")) == backup
    assert files_only(tree(updater.work / "Src")) == sample_app.ARCHIVE_1_1


def test_worker_killed_during_a_copy_across_drives(updater_on_another_drive, served, app, kovrel):
    """The undo copies the originals back from the other drive."""
    updater = updater_on_another_drive
    updater.info = publish(served)
    run = updater.start(updater.info, extra_env={"KOVREL_DRIVER_HOLD_AFTER": str(FILES_IN_ARCHIVE // 2)})
    confirm_close(kovrel)
    wait_for(run, lambda output: output.holding)
    kill(run)
    assert journal(updater).exists(), "the journal outlives the worker"
    assert files_only(tree(app.folder)) != sample_app.VERSION_1_0, "the copy had begun"
    assert_undone_then_updated(updater, kovrel, app)


def test_copy_killed_mid_file_without_a_backup_leaves_that_file_whole(updater_on_another_drive, served, app,
                                                                     kovrel):
    """Without a backup nothing can be put back: a copy that a kill cuts short must have written beside the
    file, never into it. Every file is then its old self or its complete new one."""
    updater = updater_on_another_drive
    name = "lib/deep/nested.bin"
    run = updater.start(publish(served), options="-b0",
                        extra_env={"KOVREL_DRIVER_STALL_COPY": harness.windows_path(app.folder / name)})
    confirm_close(kovrel)
    stalled = lambda: [line for line in run.lines if line.startswith("stalled ")]  # noqa: E731
    assert harness.wait_until(lambda: stalled() or run.process.poll() is not None, 120), run.lines
    kill(run)
    assert stalled(), run.lines
    found = files_only(tree(app.folder))
    assert found[name] == sample_app.VERSION_1_0[name]
    new = sample_app.version_1_1()
    partial = [k for k, v in found.items() if v not in (sample_app.VERSION_1_0.get(k), new.get(k))]
    assert set(partial) <= {name + ".kvnew"}, partial


@pytest.mark.parametrize("answer", ["OK", "Cancel"])
def test_file_in_use_is_named_before_anything_is_touched(answer, updater, served, app, kovrel, wine_env):
    holder = hold(wine_env, app.exe)
    try:
        run = updater.start(publish(served))
        confirm_close(kovrel)
        box = kovrel.show("Kovrel", 60000)
        assert box.text().startswith("次のファイルが使用中です：\n" + app.windows_exe() + "\n"), box.text()
        assert_unchanged(app)
        assert not journal(updater).exists(), "nothing was begun"
    finally:
        release(holder)
    kovrel.press("Kovrel", "1" if answer == "OK" else "2")
    outcome = run.finish()
    if answer == "OK":  # checked again, now free
        assert (outcome.state, outcome.message) == (STATE_DONE, MSG_UPDATED), outcome
        assert_updated(app)
    else:
        assert (outcome.state, outcome.result, outcome.message) == (STATE_ABORTED, 14, MSG_ABORTED), outcome
        assert_unchanged(app)


def test_silent_run_waits_for_a_file_in_use_then_fails_untouched(updater, served, app, kovrel, wine_env):
    holder = hold(wine_env, app.folder / "lib" / "core.dat")
    try:
        run = updater.start(publish(served), options="-s1")
        confirm_close(kovrel)
        started = time.monotonic()
        outcome = run.finish(timeout=180)
        waited = time.monotonic() - started
    finally:
        release(holder)
    assert (outcome.state, outcome.result, outcome.message) == (STATE_FAILED, 14, MSG_IN_USE_SILENT), outcome
    assert 29 <= waited < 120, waited
    assert_unchanged(app)
    end = app.run_log().read_bytes().decode("cp932").split("\r\n")[-2]
    blocked = harness.windows_path(app.folder / "lib" / "core.dat")
    assert re.search(rf"; cause: error 32 \(.+\), {re.escape(blocked)}$", end), "the sharing violation and its file"


def test_launcher_undoes_what_a_killed_worker_left(kovrel, kovrel_temp, served, app, tmp_path, wine_env):
    """A worker killed mid-copy left its journal in its run folder's Work\\: the launcher's next start keeps the
    folder and its backup, and the worker it starts puts the application back before updating it."""
    info = publish(served)
    folder = kovrel_temp(silent_arguments(info, app))
    folder.mkdir(parents=True)
    driver = folder / "run_update_driver.exe"  # its work folder is then the worker's own
    driver.write_bytes(harness.DIST.joinpath("run_update_driver.exe").read_bytes())
    (folder / "Kovrel.exe").write_bytes(KOVREL.read_bytes())
    tail = tmp_path / "tail.txt"
    tail.write_text(f'"{harness.windows_path(folder / "Kovrel.exe")}" {info} "{app.windows_exe()}" '
                    f'{sample_app.SECTION} 1.0', encoding="utf-8")
    import updates
    process = subprocess.Popen([harness.WINE, str(driver), harness.windows_path(tail)],
                               env=dict(wine_env, KOVREL_DRIVER_HOLD_AFTER="4"), stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    crashed = updates.DriverRun(process)
    try:
        confirm_close(kovrel)
        wait_for(crashed, lambda output: output.holding)
    finally:
        kill(crashed)
    assert (folder / "Work" / "Kovrel.journal").exists()
    assert files_only(tree(app.folder)) != sample_app.VERSION_1_0, "the application was left mixed"

    run = kovrel.start_launcher(KOVREL, silent_arguments(info, app))
    box = kovrel.show("Kovrel", 60000)
    assert box.text() == UNDONE
    assert files_only(tree(app.folder)) == sample_app.VERSION_1_0
    kovrel.press("Kovrel", "OK")
    confirm_close(kovrel)
    assert run.exit_code() == 0
    wait_for_cleanup(kovrel)
    assert_updated(app)
