"""The release, build/win32/dist/Kovrel.exe, end to end: a 32-bit launcher and worker under wine32, which runs
on qemu-i386 here (scripts/setup). The 64-bit tools of the tests drive it through the same wineserver.

Emulation is not Windows: these tests show that the 32-bit build behaves as the 64-bit one that the rest of
the suite examines in depth: its boxes, whole updates unpacked by the worker itself with no archiver
library installed and by a library, its dialog drawn pixel for
pixel as the 64-bit one draws it, a restore after a locked file, and a signed update beside a refused one.
"""
import shutil
import subprocess

import harness
import pytest
import release32
import sample_app
from sample_app import SampleApp, files_only, tree
from test_dialog import (BUTTON_CLOSE, SKIN, assert_unchanged as dialog_unchanged, assert_updated as dialog_updated,
                         close_dialog, put_skin, screenshot, start_dialog, wait_for_button)
from test_launcher import ALREADY_RUNNING, BAD_COMMAND_LINE, WORKER_INIT_FAILED
from updates import FILE_HOLDER, app, assert_updated, confirm_close, publish  # noqa: F401
from updates import silent_arguments, wait_for_cleanup
from test_verified_update import keys, publish_tool, rewrite, signed_feed  # noqa: F401

LAUNCHER = release32.LAUNCHER
WORKER = release32.WORKER
LAUNCHER_64 = harness.DIST / "Kovrel.exe"
# Every window of an emulated program takes seconds, not milliseconds, to show.
SLOW_MS = 120000

pytestmark = pytest.mark.usefixtures("release_prefix")


# --- the launcher's boxes ---------------------------------------------------------------------------------

def test_second_start_is_refused_while_the_mutex_is_held(kovrel, kovrel_temp):
    with kovrel.holding_mutex("a b c d"):
        run = kovrel.start_launcher(LAUNCHER, "a b c d")
        box = kovrel.press("Kovrel", "OK", SLOW_MS)
        assert box.text() == ALREADY_RUNNING
        assert run.exit_code(timeout=120) == 0
    assert not harness.run_folders_left(), "a refused launcher extracts no worker"


def test_unclosed_quote_is_a_bad_command_line(kovrel, kovrel_temp):
    program = harness.windows_path(LAUNCHER)
    run = kovrel.start(program, f'"{program} a b c d')
    box = kovrel.press("Kovrel", "OK", SLOW_MS)
    assert box.text() == BAD_COMMAND_LINE
    assert run.exit_code(timeout=120) == 0
    assert not harness.run_folders_left()


def test_embedded_32_bit_worker_runs_from_temp_and_is_cleaned_up(kovrel, kovrel_temp):
    # Too few tokens: the worker shows its init failure and waits, so the extracted worker can be seen.
    run = kovrel.start_launcher(LAUNCHER, "only two")
    box = kovrel.show("Kovrel", SLOW_MS)
    assert box.text() == WORKER_INIT_FAILED
    assert (kovrel_temp("only two") / "Kovrelw.exe").read_bytes() == WORKER.read_bytes()
    assert "kovrelw.exe" in release32.emulated_programs(harness.PREFIX), "the box belongs to a worker under qemu-i386"
    assert run.exit_code(timeout=120) == 0
    kovrel.press("Kovrel", "OK")
    wait_for_cleanup(kovrel)


# --- whole updates --------------------------------------------------------------------------------------

@pytest.fixture
def no_archivers(release_prefix):
    """SysWOW64 without any archiver library, as on a stock Windows; they are put back afterwards."""
    system = release_prefix / "drive_c" / "windows" / "syswow64"
    for name in release32.ARCHIVER_NAMES:
        (system / name).unlink(missing_ok=True)
    yield
    release32.install_standin_archivers(release_prefix)


# zip and tar.gz are unpacked by the worker itself; .lzh still goes to its library (the stand-in reads a zip).
@pytest.mark.parametrize("extension, kind", [("zip", "zip"), ("tar.gz", "tar.gz"), ("lzh", "zip")])
def test_silent_update_through_the_32_bit_launcher(extension, kind, request, kovrel, kovrel_temp, served, app):
    if extension != "lzh":
        request.getfixturevalue("no_archivers")
    archive = "update." + extension
    run = kovrel.start_launcher(LAUNCHER, silent_arguments(publish(served, archive, kind=kind), app))
    confirm_close(kovrel)
    assert run.exit_code(timeout=120) == 0
    wait_for_cleanup(kovrel)
    assert_updated(app)
    assert (app.folder / "新フォルダ").is_dir()
    assert sorted(path for path, _ in served.requests()) == sorted(["Kovrel.ini", archive])


@pytest.mark.parametrize("tampered", [False, True], ids=["signed", "tampered"])
def test_keyed_32_bit_launcher_beside_the_application(tampered, keys, kovrel, kovrel_temp, served, app):
    launcher = app.folder / "Kovrel.exe"
    shutil.copyfile(LAUNCHER, launcher)
    publish_tool("embed-key", "--launcher", str(launcher), "--public", str(keys["first"][1]))
    keyed = launcher.read_bytes()
    info = signed_feed(served, keys)
    if tampered:
        rewrite(info, lambda line, body: line + body.replace(b"APP_VER=1.1", b"APP_VER=1.2"))
    run = kovrel.start_launcher(launcher, silent_arguments(served.url("Kovrel.ini"), app))
    if not tampered:
        confirm_close(kovrel)
    assert run.exit_code(timeout=120) == 0
    wait_for_cleanup(kovrel)
    # The worker has ended: a refused run never showed the confirmation and changed nothing.
    expected = dict(sample_app.version_1_1() if not tampered else sample_app.VERSION_1_0, **{"Kovrel.exe": keyed})
    assert files_only(tree(app.folder)) == expected
    assert [path for path, _ in served.requests()] == (["Kovrel.ini"] if tampered else ["Kovrel.ini", "update.zip"])


# --- the dialog, against the 64-bit build's --------------------------------------------------------------

def client_pixels(shot, done):
    """The raw RGB bytes of the dialog's client area in a screenshot, and its width and height."""
    (x, y), (width, height) = done.origin(), done.client()
    raw = subprocess.run(["convert", str(shot), "-crop", f"{width}x{height}+{x}+{y}", "+repage", "-depth", "8",
                          "rgb:-"], stdout=subprocess.PIPE, check=True, timeout=60).stdout
    assert len(raw) == width * height * 3
    return raw, width, height


def differing_box(first, second):
    """(left, top, right, bottom) around every pixel where two client areas differ, or None."""
    (a, width, height), (b, _, _) = first, second
    columns, rows = set(), set()
    for index in range(0, len(a), 3):
        if a[index:index + 3] != b[index:index + 3]:
            pixel_index = index // 3
            columns.add(pixel_index % width)
            rows.add(pixel_index // width)
    if not columns:
        return None
    return min(columns), min(rows), max(columns) + 1, max(rows) + 1


def animation_frame_size():
    """The sample skin's frames are square; the picture's height is the frame size."""
    size = subprocess.run(["identify", "-format", "%h", str(SKIN / "anime.vrl")], stdout=subprocess.PIPE,
                          check=True, text=True).stdout
    return int(size)


def assert_drawn_alike(first, second, label):
    """The two dialogs have the same geometry and controls, and their pixels differ at most within one
    animation frame (the animation stops on whatever frame it shows when the update ends)."""
    (view_a, shot_a), (view_b, shot_b) = first, second
    assert view_b.geometry == view_a.geometry, label
    assert view_b.controls == view_a.controls, label
    box = differing_box(client_pixels(shot_a, view_a), client_pixels(shot_b, view_b))
    if box is not None:
        frame = animation_frame_size()
        left, top, right, bottom = box
        assert right - left <= frame and bottom - top <= frame, f"{label}: pixels differ in {box}"


def skinned_application(launcher):
    installed = SampleApp().install()
    shutil.copyfile(launcher, installed.folder / "Kovrel.exe")
    put_skin(installed, (SKIN / "Kovrel.ini").read_text(encoding="cp932"))
    return installed


def finished_dialog(kovrel, installed, info, name):
    start_dialog(kovrel, installed, info)
    confirm_close(kovrel)
    done = wait_for_button(kovrel, BUTTON_CLOSE, timeout=180)
    return done, screenshot(kovrel, name)


def test_skinned_dialog_update_is_drawn_as_by_the_64_bit_build(kovrel, kovrel_temp, served):
    info = publish(served)
    finished = {}
    for bits, launcher in (("64", LAUNCHER_64), ("32", LAUNCHER)):
        installed = skinned_application(launcher)
        try:
            finished[bits] = finished_dialog(kovrel, installed, info, f"release32-skinned-{bits}")
            close_dialog(kovrel)
            dialog_updated(installed)
        finally:
            installed.remove()
    assert finished["32"][0].progress() == 100
    assert_drawn_alike(finished["64"], finished["32"], "finished update")


def test_file_in_use_is_named_and_left_alone_as_by_the_64_bit_build(kovrel, kovrel_temp, served, wine_env):
    """A file still in use is named before anything is replaced; Cancel ends the run with the application whole."""
    info = publish(served)
    finished = {}
    for bits, launcher in (("64", LAUNCHER_64), ("32", LAUNCHER)):
        installed = skinned_application(launcher)
        holder = subprocess.Popen([harness.WINE, str(FILE_HOLDER), installed.windows_exe()], env=wine_env,
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        try:
            assert holder.stdout.readline().strip() == b"held"
            start_dialog(kovrel, installed, info)
            confirm_close(kovrel)
            box = kovrel.press("Kovrel", "2", 180000)
            assert box.text().startswith("次のファイルが使用中です：\n" + installed.windows_exe() + "\n"), box.text()
            done = wait_for_button(kovrel, BUTTON_CLOSE, timeout=180)
            finished[bits] = done, screenshot(kovrel, f"release32-in-use-{bits}")
            # While the dialog stays open the worker's folder is there: nothing was backed up or replaced.
            bup = [folder / "Work" / "Bup" for folder in harness.run_folders_left() if (folder / "Work" / "Bup").exists()]
            backed_up = files_only(tree(bup[0])) if bup else {}
            close_dialog(kovrel)
        finally:
            holder.stdin.close()
            holder.wait(timeout=60)
        try:
            assert backed_up == {}, f"{bits}-bit: files were touched before the question"
            dialog_unchanged(installed)
        finally:
            installed.remove()
    assert_drawn_alike(finished["64"], finished["32"], "cancelled update")
