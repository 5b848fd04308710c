"""Sound behaviour at the edges: a network that never ends is given up, odd paths and leftovers are refused or
cleaned without harm, and a full drive leaves the old version whole."""
import subprocess
import time

import harness
import pytest
import sample_app
import wine_registry
from sample_app import files_only, tree
from updates import (KOVREL, MSG_ABORTED, MSG_REPLACE, MSG_UPDATED, STATE_ABORTED, STATE_DONE, STATE_FAILED,
                     assert_unchanged, assert_updated, confirm_close, hold, journal, publish,
                     release, silent_arguments)
from updates import app, updater  # noqa: F401 - fixtures shared with the update tests


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
NO_RUN_FOLDER = "使用できる一時フォルダがありません：\n%TEMP%\n\nアップデートは行われません。"


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
    """A plain file where the temporary folder should be is passed over (silently in silent mode), and a fresh
    folder name is used; a path longer than 260 bytes left in the folder by an archive is removed."""
    arguments = silent_arguments(publish(served, version="1.0"), app)
    blocked, fresh = kovrel_temp(arguments), harness.run_folder(arguments, 1)
    blocked.parent.mkdir(parents=True, exist_ok=True)
    blocked.write_bytes(b"not a folder")
    deep = fresh / "Work" / "Src" / ("d" * 120) / ("e" * 120)
    deep.mkdir(parents=True)
    (deep / ("f" * 60 + ".txt")).write_bytes(b"a path of more than 260 bytes")
    try:
        run = kovrel.start_launcher(KOVREL, arguments)
        assert run.exit_code() == 0
        # The run went on in the next folder (the long path was cleared first) and its cleanup removed it.
        assert harness.wait_until(lambda: not fresh.exists(), 120), list(fresh.rglob("*"))
        assert kovrel.wait_mutex_free(120000)
        assert [path for path, _ in served.requests()] == ["Kovrel.ini"]
        # Silent: the launcher's notice went to the log instead of a box.
        notice = f"notice: a run folder could not be emptied or made, {harness.windows_path(blocked)}\\"
        assert any(line.endswith(notice) for line in app.run_log().read_bytes().decode("cp932").splitlines())
    finally:
        blocked.unlink()
        if fresh.exists():
            import shutil
            shutil.rmtree(fresh)


def test_file_link_in_the_temp_folder_never_reaches_its_target(kovrel, kovrel_temp, served, app, tmp_path):
    """Under Wine a link to a file looks like the file, and deleting it deletes the target: the cleanup leaves
    such a link alone (going on in a fresh folder, silently in silent mode) rather than touch what it points to."""
    target = tmp_path / "precious.txt"
    target.write_bytes(b"must survive")
    target.chmod(0o444)
    arguments = silent_arguments(publish(served, version="1.0"), app)
    folder, fresh = kovrel_temp(arguments), harness.run_folder(arguments, 1)
    (folder / "Work").mkdir(parents=True)
    link = folder / "Work" / "link.txt"
    link.symlink_to(target)
    try:
        run = kovrel.start_launcher(KOVREL, arguments)
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
    saved = {name: wine_registry.read_environment_value(wine_env, name) for name in names}
    long_temp = "C:\\" + "\\".join(["t" * 60] * 4)  # 247 characters: "Kovrel\" and its work folder do not fit
    try:
        for name in names:
            wine_registry.write_environment_value(wine_env, name, ("REG_SZ", long_temp))
        run = kovrel.start_launcher(KOVREL, silent_arguments(publish(served), app))
        # Silent, the run stops with a box all the same, and the refusal is in the log.
        box = kovrel.press("Kovrel", "OK")
        assert box.text() == NO_RUN_FOLDER, box.text()
        assert run.exit_code() == 0
        assert served.requests() == [], "no worker ran"
        assert app.run_log().read_bytes().decode("cp932").endswith("refused: no run folder could be used\r\n")
    finally:
        for name in names:
            wine_registry.write_environment_value(wine_env, name, saved[name])
    assert {name: wine_registry.read_environment_value(wine_env, name) for name in names} == saved
