"""The application ends as the old version or the new one, never a mix, whatever stops the replacement.

The update procedure runs in-process through run_update_driver.exe (see test_update.py). Its hooks stop the
update thread after a given copied file (KOVREL_DRIVER_HOLD_AFTER) so the test can kill the process there by
its PID, or lock files after a given copied file (KOVREL_DRIVER_LOCK_AFTER) as an application that is not
quite closed would. A second run, or the real launcher, must then put the application back byte for byte.
"""
import shutil
import subprocess
import time

import harness
import pytest
import sample_app
from sample_app import files_only, tree
from test_update import (FILE_HOLDER, KOVREL, MSG_ABORTED, MSG_REPLACE, MSG_UPDATED, RESULT_UPDATED, STATE_ABORTED,
                         STATE_DONE, STATE_FAILED, Updater, assert_unchanged, assert_updated, confirm_close,
                         folder_on_another_file_system, publish, silent_arguments, wait_for_cleanup)
from test_update import app, updater  # noqa: F401 - fixtures shared with the update tests

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


def journal(updater):
    return updater.work / "Kovrel.journal"


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


def hold(wine_env, path):
    holder = subprocess.Popen([harness.WINE, str(FILE_HOLDER), harness.windows_path(path)], env=wine_env,
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    assert holder.stdout.readline().strip() == b"held"
    return holder


def release(holder):
    holder.stdin.close()
    holder.wait(timeout=60)


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


def test_launcher_undoes_what_a_killed_worker_left(kovrel, kovrel_temp, served, app, tmp_path, wine_env):
    """A worker killed mid-copy left its journal in %TEMP%\\Kovrel\\Work: the launcher's next start keeps the
    folder and its backup, and the worker it starts puts the application back before updating it."""
    kovrel_temp.mkdir(parents=True)
    driver = kovrel_temp / "run_update_driver.exe"  # its work folder is then the worker's own
    driver.write_bytes(harness.DIST.joinpath("run_update_driver.exe").read_bytes())
    (kovrel_temp / "Kovrel.exe").write_bytes(KOVREL.read_bytes())
    info = publish(served)
    tail = tmp_path / "tail.txt"
    tail.write_text(f'"{harness.windows_path(kovrel_temp / "Kovrel.exe")}" {info} "{app.windows_exe()}" '
                    f'{sample_app.SECTION} 1.0', encoding="utf-8")
    import test_update
    process = subprocess.Popen([harness.WINE, str(driver), harness.windows_path(tail)],
                               env=dict(wine_env, KOVREL_DRIVER_HOLD_AFTER="4"), stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    crashed = test_update.DriverRun(process)
    try:
        confirm_close(kovrel)
        wait_for(crashed, lambda output: output.holding)
    finally:
        kill(crashed)
    assert (kovrel_temp / "Work" / "Kovrel.journal").exists()
    assert files_only(tree(app.folder)) != sample_app.VERSION_1_0, "the application was left mixed"

    run = kovrel.start_launcher(KOVREL, silent_arguments(info, app))
    box = kovrel.show("Kovrel", 60000)
    assert box.text() == UNDONE
    assert files_only(tree(app.folder)) == sample_app.VERSION_1_0
    kovrel.press("Kovrel", "OK")
    confirm_close(kovrel)
    assert run.exit_code() == 0
    wait_for_cleanup(kovrel, kovrel_temp)
    assert_updated(app)


# --- a network that never ends is given up -----------------------------------------------------------------

MSG_OPEN_INFO, MSG_DOWNLOAD_INFO = 30102, 30105


@pytest.mark.parametrize("kind, result, message", [("noanswer", 2, MSG_OPEN_INFO), ("drip", 6, MSG_DOWNLOAD_INFO)],
                         ids=["server that never answers", "1 KiB every 30 s"])
def test_silent_run_gives_up_a_silent_server(kind, result, message, updater, served, app):
    # Longer than one read, so a drip cannot finish within the limit.
    served.put("Kovrel.ini", sample_app.info_text(served.url("update.zip")) + b";" + b"x" * 8000 + b"\r\n")
    started = time.monotonic()
    outcome = updater.start(served.fault_url(kind, "Kovrel.ini"), options="-s1").finish(timeout=300)
    elapsed = time.monotonic() - started
    assert (outcome.state, outcome.result, outcome.message) == (STATE_FAILED, result, message), outcome
    assert elapsed < 120, f"a silent run ends within two minutes: {elapsed:.0f} s"
    assert_unchanged(app)


def test_abort_ends_an_unanswered_request_within_a_second(updater, served, app, kovrel):
    served.put("Kovrel.ini", sample_app.info_text(served.url("update.zip")))
    # The first report after the information URL is being opened (position 4) asks for the abort.
    run = updater.start(served.fault_url("noanswer", "Kovrel.ini"), extra_env={"KOVREL_DRIVER_ABORT_AT": "4"})
    box = kovrel.show("確認", 60000)
    assert box.text() == "アップデートを中断してもよろしいですか？"
    answered = time.monotonic()
    kovrel.press("確認", "6")
    outcome = run.finish(timeout=60)
    assert time.monotonic() - answered < 10
    assert (outcome.state, outcome.result, outcome.message) == (STATE_ABORTED, 2, MSG_ABORTED), outcome
    assert_unchanged(app)


# --- sound behaviour at the edges ---------------------------------------------------------------------------

MSG_INIT_FAILED, MSG_WORK_FOLDER = 30001, 30104
TEMP_FOLDER_FAILED = "一時フォルダを削除できませんでした：\n{}\n\n別の一時フォルダを使用します。"


def test_application_path_without_a_folder_is_refused(updater, served, app):
    """A path without a separator names no folder: nothing is downloaded, nothing written anywhere."""
    outcome = updater.start(publish(served), app_path=sample_app.APP_EXE).finish()
    assert (outcome.state, outcome.result, outcome.message) == (STATE_FAILED, 1, MSG_INIT_FAILED), outcome
    assert served.requests() == []
    assert_unchanged(app)


def test_query_and_fragment_are_not_part_of_the_archive_name(updater, served, app, kovrel):
    info = publish(served, archive_url=served.url("update.zip") + "?build=7#latest")
    run = updater.start(info)
    confirm_close(kovrel)
    outcome = run.finish()
    assert (outcome.state, outcome.message) == (STATE_DONE, MSG_UPDATED), outcome
    assert (updater.work / "update.zip").is_file()
    assert_updated(app)


def test_work_folder_that_cannot_be_emptied_fails_the_run(updater, served, app, wine_env):
    """Leftovers would be installed with the update: a run that cannot clear them stops."""
    (updater.work / "Src").mkdir(parents=True)
    leftover = updater.work / "Src" / "stale.dll"
    leftover.write_bytes(b"left from a run that died")
    holder = hold(wine_env, leftover)
    try:
        outcome = updater.start(publish(served)).finish(timeout=120)
    finally:
        release(holder)
    assert (outcome.state, outcome.result, outcome.message) == (STATE_FAILED, 4, MSG_WORK_FOLDER), outcome
    assert_unchanged(app)
    assert "stale.dll" not in files_only(tree(app.folder))


def test_leftovers_the_cleanup_cannot_delete_never_stop_updates(kovrel, kovrel_temp, served, app):
    """A plain file where the temporary folder should be is reported, and a fresh folder name is used; a path
    longer than 260 bytes left in the folder by an archive is removed."""
    kovrel_temp.parent.mkdir(parents=True, exist_ok=True)
    kovrel_temp.write_bytes(b"not a folder")
    fresh = kovrel_temp.with_name("Kovrel1")
    deep = fresh / "Work" / "Src" / ("d" * 120) / ("e" * 120)
    deep.mkdir(parents=True)
    (deep / ("f" * 60 + ".txt")).write_bytes(b"a path of more than 260 bytes")
    try:
        run = kovrel.start_launcher(KOVREL, silent_arguments(publish(served, version="1.0"), app))
        box = kovrel.press("Kovrel", "OK")
        assert box.text() == TEMP_FOLDER_FAILED.format(harness.windows_path(kovrel_temp) + "\\")
        assert run.exit_code() == 0
        # The run went on in Kovrel1\ (the long path was cleared first) and its cleanup removed it.
        assert harness.wait_until(lambda: not fresh.exists(), 120), list(fresh.rglob("*"))
        assert kovrel.wait_mutex_free(120000)
        assert [path for path, _ in served.requests()] == ["Kovrel.ini"]
    finally:
        kovrel_temp.unlink()
        if fresh.exists():
            import shutil
            shutil.rmtree(fresh)


def test_file_link_in_the_temp_folder_never_reaches_its_target(kovrel, kovrel_temp, served, app, tmp_path):
    """Under Wine a link to a file looks like the file, and deleting it deletes the target: the cleanup leaves
    such a link alone (and says so, going on in a fresh folder) rather than touch what it points to."""
    target = tmp_path / "precious.txt"
    target.write_bytes(b"must survive")
    target.chmod(0o444)
    (kovrel_temp / "Work").mkdir(parents=True)
    link = kovrel_temp / "Work" / "link.txt"
    link.symlink_to(target)
    fresh = kovrel_temp.with_name("Kovrel1")
    try:
        run = kovrel.start_launcher(KOVREL, silent_arguments(publish(served, version="1.0"), app))
        box = kovrel.press("Kovrel", "OK")
        assert box.text() == TEMP_FOLDER_FAILED.format(harness.windows_path(kovrel_temp) + "\\")
        assert run.exit_code() == 0
        assert harness.wait_until(lambda: not fresh.exists(), 120)
        assert kovrel.wait_mutex_free(120000)
        assert target.read_bytes() == b"must survive"
        assert target.stat().st_mode & 0o777 == 0o444, "the target's attributes are untouched"
        assert link.is_symlink()
    finally:
        link.unlink()


@pytest.mark.parametrize("blocker", ["file where a folder comes", "folder where a file comes"])
def test_tree_that_cannot_be_placed_is_refused_untouched(blocker, updater, served, app, kovrel):
    """The archive has a folder where the application has a file of that name, or the other way round: the
    update is refused before the first change, and nothing is moved or backed up."""
    if blocker == "file where a folder comes":
        (app.folder / "新フォルダ").write_bytes(b"a file of the application")
    else:
        (app.folder / "new.txt").mkdir()
    before = tree(app.folder)
    run = updater.start(publish(served))
    confirm_close(kovrel)
    outcome = run.finish()
    assert (outcome.state, outcome.result, outcome.message) == (STATE_FAILED, 14, MSG_REPLACE), outcome
    assert tree(app.folder) == before
    backup = updater.work / "Bup"
    assert not backup.exists() or files_only(tree(backup)) == {}
    assert not journal(updater).exists()


# --- a full drive -------------------------------------------------------------------------------------------

@pytest.fixture
def small_drive(tmp_path):
    """A 1 MiB file system mounted for the test (Wine reaches it through Z:), removed afterwards."""
    mount = tmp_path / "small"
    mount.mkdir()
    result = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", str(mount)],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, check=False)
    if result.returncode != 0:
        pytest.skip(f"mounting a small file system is not permitted here: {result.stdout.strip()}")
    try:
        yield mount
    finally:
        subprocess.run(["umount", "-l", str(mount)], check=False)


def fill(folder, leave):
    """Fills the file system of `folder` until only `leave` bytes are free."""
    import os
    filler = folder / "filler.bin"
    descriptor = os.open(filler, os.O_WRONLY | os.O_CREAT, 0o644)
    try:
        while True:
            os.write(descriptor, b"\0" * 4096)
    except OSError:
        pass
    finally:
        os.close(descriptor)
    os.truncate(filler, max(0, filler.stat().st_size - leave))


def test_full_drive_during_the_copy_leaves_the_old_version(small_drive, updater, served, app, kovrel):
    """The application lies on a drive that fills up during the copy: no file is left truncated, the
    originals are in place and the added files are gone."""
    app.folder = small_drive / "App"
    app.install()
    updater.app = app
    fill(small_drive, leave=4096)  # room for one new page: the second added file cannot be written
    run = updater.start(publish(served))
    confirm_close(kovrel)
    outcome = run.finish(timeout=300)
    assert (outcome.state, outcome.result, outcome.message) == (STATE_FAILED, 14, MSG_REPLACE), outcome
    found = files_only(tree(app.folder))
    assert found == sample_app.VERSION_1_0, {k: v for k, v in found.items() if sample_app.VERSION_1_0.get(k) != v}
    assert not (app.folder / "新フォルダ").exists()
    assert not journal(updater).exists()


def test_temp_path_too_long_for_the_folder_is_reported(wine_env, kovrel, served, app):
    """A TEMP whose path leaves no room for Kovrel's folder gets a message instead of a silent end."""
    names = ("TMP", "TEMP")
    saved = {name: harness.read_environment_value(wine_env, name) for name in names}
    long_temp = "C:\\" + "\\".join(["t" * 60] * 4)  # 247 characters: "Kovrel\" and its work folder do not fit
    try:
        for name in names:
            harness.write_environment_value(wine_env, name, ("REG_SZ", long_temp))
        run = kovrel.start_launcher(KOVREL, silent_arguments(publish(served), app))
        box = kovrel.press("Kovrel", "OK")
        assert box.text().startswith("一時フォルダを削除できませんでした："), box.text()
        assert run.exit_code() == 0
        assert served.requests() == [], "no worker ran"
    finally:
        for name in names:
            harness.write_environment_value(wine_env, name, saved[name])
    assert {name: harness.read_environment_value(wine_env, name) for name in names} == saved
