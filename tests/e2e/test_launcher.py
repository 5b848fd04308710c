"""The launcher's whole cycle with the real executables under wine64: hand-off, worker, cleanup."""
import os
import shutil
import stat

import harness
import pytest

KOVREL = harness.DIST / "Kovrel.exe"
KOVRELW = harness.DIST / "Kovrelw.exe"
PROBE_LAUNCHER = harness.DIST / "KovrelProbe.exe"
ALREADY_RUNNING = "既に起動しています。"
BAD_COMMAND_LINE = "コマンドラインが不正。"
WORKER_INIT_FAILED = "Kovrel の初期化に失敗しました。"
ARGS = "a b c d"
# The cleanup request for the application that ARGS names.
CLEANUP = f'{harness.CLEANUP_ARGUMENT} "{harness.identity_of_arguments(ARGS)}"'


def install_launcher(source, folder_name):
    """Copies a launcher into a folder of drive C: and returns its Linux path."""
    folder = harness.PREFIX / "drive_c" / folder_name
    folder.mkdir(parents=True, exist_ok=True)
    target = folder / "Kovrel.exe"
    shutil.copyfile(source, target)
    return target


def read_probe(path):
    """The probe worker's record: the text after its program name, the eight slots, the parse summary."""
    lines = path.read_bytes().decode("cp932").split("\n")
    return lines[0], lines[1:9], lines[9]


def test_whole_cycle_passes_arguments_unchanged(kovrel, kovrel_temp, tmp_path):
    launcher = install_launcher(PROBE_LAUNCHER, "My App アプリ")
    record = tmp_path / "probe.txt"
    # Silent, so that the worker's update (nothing listens on port 9) ends without a dialog to answer.
    arguments = ('http://127.0.0.1:9/u.ini "C:\\Program Files\\表示\\app.exe" セクション 1.0.2 -r1 '
                 '"" "C:\\My App\\app.exe" "-x y" -s1')
    run = kovrel.start_launcher(launcher, arguments, {"KOVREL_PROBE_OUT": harness.windows_path(record)})
    assert run.exit_code() == 0
    assert harness.wait_until(record.exists, 60)
    # The cleanup launcher removes the folder once the worker has gone.
    assert harness.wait_until(lambda: not kovrel_temp(arguments).exists(), 60)
    assert kovrel.wait_mutex_free()

    tail, slots, summary = read_probe(record)
    launcher_path = "C:\\My App アプリ\\Kovrel.exe"
    assert tail == f'"{launcher_path}" {arguments}'
    assert slots == [launcher_path, "http://127.0.0.1:9/u.ini", "C:\\Program Files\\表示\\app.exe",
                     "セクション", "1.0.2", "", "C:\\My App\\app.exe", "-x y"]
    assert summary == "parsed=1 options=10007"


def test_long_arguments_reach_the_worker_whole(kovrel, kovrel_temp, tmp_path):
    launcher = install_launcher(PROBE_LAUNCHER, "probe")
    record = tmp_path / "probe.txt"
    arguments = "http://127.0.0.1:9/u.ini C:\\app\\a.exe S -s1 " + "9" * 3000
    run = kovrel.start_launcher(launcher, arguments, {"KOVREL_PROBE_OUT": harness.windows_path(record)})
    assert run.exit_code() == 0
    assert harness.wait_until(record.exists, 60)
    assert harness.wait_until(lambda: not kovrel_temp(arguments).exists(), 60)
    tail, slots, summary = read_probe(record)
    assert tail == f'"C:\\probe\\Kovrel.exe" {arguments}'
    assert slots[4] == "9" * 3000
    assert summary.startswith("parsed=1")


def test_real_worker_is_embedded_byte_for_byte_and_a_stale_folder_is_replaced(kovrel, kovrel_temp):
    folder = kovrel_temp("only two")
    # A stale folder from an earlier run, with a read-only file and an old worker.
    folder.mkdir(parents=True)
    stale = folder / "stale.txt"
    stale.write_text("old")
    stale.chmod(stat.S_IREAD)
    (folder / "Kovrelw.exe").write_bytes(b"old worker")
    (folder / "Work").mkdir()

    # With too few tokens the worker shows its init failure and waits for the user: the folder can be seen.
    run = kovrel.start_launcher(KOVREL, "only two")
    box = kovrel.show("Kovrel")
    assert box.text() == WORKER_INIT_FAILED
    assert run.exit_code() == 0, "the launcher ended after starting the worker"
    assert sorted(p.name for p in folder.iterdir()) == ["Kovrelw.exe"]
    assert (folder / "Kovrelw.exe").read_bytes() == KOVRELW.read_bytes()

    kovrel.press("Kovrel", "OK")
    # The worker still starts the launcher for cleanup.
    assert harness.wait_until(lambda: not folder.exists(), 60)
    assert kovrel.wait_mutex_free()


def test_real_worker_with_four_tokens_ends_in_cleanup(kovrel, kovrel_temp):
    arguments = "http://127.0.0.1:9/u.ini C:\\app\\a.exe SECTION 1.0 -s1"
    run = kovrel.start_launcher(KOVREL, arguments)
    assert run.exit_code() == 0
    assert harness.wait_until(lambda: not kovrel_temp(arguments).exists(), 60)
    assert kovrel.wait_mutex_free()


@pytest.mark.parametrize("locale,text", [
    pytest.param(None, ALREADY_RUNNING, id="Japanese"),
    pytest.param(harness.ENGLISH_LOCALE, "Kovrel is already running.", id="English"),
    pytest.param(harness.JAPANESE_INTERFACE_WESTERN_CODE_PAGE, "Kovrel is already running.",
                 id="Japanese interface, western code page"),
])
def test_second_launcher_is_refused_and_touches_nothing(kovrel, kovrel_temp, locale, text):
    folder = kovrel_temp(ARGS)
    folder.mkdir(parents=True)
    (folder / "marker").write_text("in use")
    with kovrel.holding_mutex(ARGS):
        run = kovrel.start_launcher(KOVREL, "a b c d", locale)
        box = kovrel.press("Kovrel", "OK")
        assert box.text() == text
        assert run.exit_code() == 0
    assert (folder / "marker").read_text() == "in use"
    assert sorted(p.name for p in folder.iterdir()) == ["marker"]


def test_unclosed_quote_around_the_program_name(kovrel, kovrel_temp):
    folder = kovrel_temp(ARGS)
    program = harness.windows_path(KOVREL)
    run = kovrel.start(program, f'"{program} a b c d')
    box = kovrel.press("Kovrel", "OK")
    assert box.text() == BAD_COMMAND_LINE
    assert run.exit_code() == 0
    assert not folder.exists()


def test_cleanup_waits_for_the_mutex_owner(kovrel, kovrel_temp):
    folder = kovrel_temp(ARGS)
    folder.mkdir(parents=True)
    (folder / "Kovrelw.exe").write_bytes(b"worker")
    (folder / "Work" / "Src").mkdir(parents=True)
    with kovrel.holding_mutex(ARGS):
        run = kovrel.start_launcher(KOVREL, CLEANUP)
        # While the owner holds the mutex the cleanup launcher waits and deletes nothing.
        assert not harness.wait_until(lambda: not run.running(), 3)
        assert (folder / "Kovrelw.exe").exists()
    assert run.exit_code() == 0
    assert not folder.exists()


def test_cleanup_without_a_folder_ends_quietly(kovrel, kovrel_temp):
    folder = kovrel_temp(ARGS)
    run = kovrel.start_launcher(KOVREL, CLEANUP)
    assert run.exit_code() == 0
    assert not folder.exists()


@pytest.mark.parametrize("arguments", [harness.CLEANUP_ARGUMENT, harness.CLEANUP_ARGUMENT + " ",
                                       f"{harness.CLEANUP_ARGUMENT} ..\\\\x", f"{CLEANUP} more"])
def test_a_cleanup_request_that_names_no_application_does_nothing(kovrel, kovrel_temp, tmp_path, arguments):
    folder = kovrel_temp(ARGS)
    (folder / "Work").mkdir(parents=True)
    launcher = install_launcher(PROBE_LAUNCHER, "probe")
    record = tmp_path / "probe.txt"
    run = kovrel.start_launcher(launcher, arguments, {"KOVREL_PROBE_OUT": harness.windows_path(record)})
    assert run.exit_code() == 0
    assert (folder / "Work").exists()
    assert not record.exists(), "no worker was started"


def test_cleanup_never_follows_links(kovrel, kovrel_temp, tmp_path):
    folder = kovrel_temp(ARGS)
    outside = tmp_path / "outside"
    (outside / "deep").mkdir(parents=True)
    (outside / "keep.txt").write_text("keep")
    (outside / "deep" / "keep2.txt").write_text("keep")
    folder.mkdir(parents=True)
    (folder / "file.txt").write_text("x")
    os.symlink(outside, folder / "linked folder")
    (folder / "Work").mkdir()
    os.symlink(outside / "deep", folder / "Work" / "link")

    run = kovrel.start_launcher(KOVREL, CLEANUP)
    assert run.exit_code() == 0
    assert (outside / "keep.txt").read_text() == "keep"
    assert (outside / "deep" / "keep2.txt").read_text() == "keep"
    assert not (folder / "file.txt").exists()
    # Wine cannot remove a link to a folder that holds files (Windows removes the link itself), so the
    # links may stay behind; what matters is that nothing behind them was touched.
    left = sorted(str(p.relative_to(folder)) for p in folder.rglob("*")) if folder.exists() else []
    assert set(left) <= {"linked folder", "Work", "Work/link"}


def test_cleanup_of_a_temp_folder_that_is_itself_a_link(kovrel, kovrel_temp, tmp_path):
    folder = kovrel_temp(ARGS)
    outside = tmp_path / "outside"
    outside.mkdir()
    (outside / "keep.txt").write_text("keep")
    os.symlink(outside, folder)

    run = kovrel.start_launcher(KOVREL, CLEANUP)
    assert run.exit_code() == 0
    assert (outside / "keep.txt").read_text() == "keep"
    assert sorted(p.name for p in outside.iterdir()) == ["keep.txt"]
