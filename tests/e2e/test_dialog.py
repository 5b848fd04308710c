"""The update dialog with the real Kovrel.exe on Xvfb: what a person sees and presses.

The window driver reads the dialog's controls (button text, check box, progress) and presses its button;
screenshots of the virtual display are checked at chosen pixels and kept under build/screenshots/ so that a
person can look at them.
"""
import shutil
import subprocess
from pathlib import Path

import harness
import pytest
import sample_app
from sample_app import SampleApp
from sample_app import files_only, tree
from updates import CONFIRM_ABORT, ENGLISH_CONFIRM_CLOSE, KOVREL, MARKER_PROGRAM, confirm_close, publish

SCREENSHOTS = harness.ROOT / "build" / "screenshots"
DEFAULT_CAPTION = "Updating..."
BUTTON_ABORT, BUTTON_ABORTING, BUTTON_CLOSE = "中止", "Aborting...", "終了"
RESTART_BOX = "アプリケーションを再起動する"
# The boxes that the worker and the launcher show over the dialog, in both languages.
BOX_CAPTIONS = ("Kovrel", "確認", "Confirm")
SKIN = harness.ROOT / "skin"


class DialogView:
    """The window driver's view of the dialog."""

    def __init__(self, lines):
        self.lines = lines
        self.caption = None
        self.geometry = {}
        self.controls = {}
        self.places = {}
        for line in lines:
            if line.startswith("window "):
                self.caption = line[len("window "):]
            elif line.startswith("geometry "):
                self.geometry = dict(part.split("=", 1) for part in line.split()[1:])
            elif line.startswith("control "):
                parts = line.split(" ", 3)
                self.controls.setdefault(int(parts[1]), {})["text"] = parts[3] if len(parts) > 3 else ""
            elif line.startswith("place "):
                parts = line.split()
                self.places[int(parts[1])] = tuple(int(v) for v in parts[2:6])
            elif line.startswith("state "):
                parts = line.split()
                fields = dict(part.split("=", 1) for part in parts[2:])
                self.controls.setdefault(int(parts[1]), {}).update({k: int(v) for k, v in fields.items()})

    def button(self):
        return self.controls[2]["text"]

    def restart_box(self):
        return self.controls[1003]

    def progress(self):
        return self.controls[1000]["position"]

    def client(self):
        width, height = self.geometry["client"].split("x")
        return int(width), int(height)

    def origin(self):
        x, y = self.geometry["origin"].split(",")
        return int(x), int(y)

    def place(self, control_id):
        """(x, y, width, height) of a control in the client area."""
        return self.places[control_id]


def view(kovrel, caption=DEFAULT_CAPTION, timeout_ms=60000):
    code, lines = kovrel.driver("show", caption, str(timeout_ms))
    assert code == 0, f"no dialog {caption!r}: {lines}"
    return DialogView(lines)


def wait_for_button(kovrel, text, caption=DEFAULT_CAPTION, timeout=120):
    seen = []

    def has_text():
        current = view(kovrel, caption)
        seen.append(current.button())
        return current.button() == text

    assert harness.wait_until(has_text, timeout, interval=0.2), f"button never read {text!r}: {seen[-5:]}"
    return view(kovrel, caption)


def screenshot(kovrel, name):
    """The whole virtual display, once no box covers the dialog any more."""
    for caption in BOX_CAPTIONS:
        code, lines = kovrel.driver("gone", caption, "30000")
        assert code == 0, f"a box {caption!r} stayed on the screen: {lines}"
    SCREENSHOTS.mkdir(parents=True, exist_ok=True)
    path = SCREENSHOTS / f"{name}.png"
    subprocess.run(["import", "-window", "root", "-display", kovrel.env["DISPLAY"], str(path)], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    return path


def picture_size(path):
    out = subprocess.run(["identify", "-format", "%w %h", str(path)], stdout=subprocess.PIPE, text=True,
                         check=True).stdout
    width, height = out.split()
    return int(width), int(height)


def pixel(path, x, y):
    out = subprocess.run(["convert", str(path), "-crop", f"1x1+{x}+{y}", "-depth", "8", "txt:-"],
                         stdout=subprocess.PIPE, text=True, check=True).stdout
    values = out.splitlines()[1].split("(", 1)[1].split(")", 1)[0].split(",")
    return tuple(int(float(v)) for v in values[:3])


# The launcher and its skin lie beside the application; the update does not touch them.
SHIPPED_BESIDE = {"Kovrel.exe", "Kovrel.ini", "bkgnd.vrl", "parts.vrl", "anime.vrl"}


def application_files(app):
    return {name: data for name, data in files_only(tree(app.folder)).items() if name not in SHIPPED_BESIDE}


def assert_updated(app, extra=None):
    assert application_files(app) == dict(sample_app.version_1_1(), **(extra or {}))


def assert_unchanged(app):
    assert application_files(app) == sample_app.VERSION_1_0


@pytest.fixture
def installed(wine_env, kovrel):
    """Version 1.0 of the sample application with the launcher beside it, and no skin."""
    app = SampleApp().install()
    shutil.copyfile(KOVREL, app.folder / "Kovrel.exe")
    yield app
    app.remove()


def start_dialog(kovrel, app, info_url, version="1.0", tokens="", extra_env=None):
    launcher = app.folder / "Kovrel.exe"
    arguments = f'{info_url} "{app.windows_exe()}" {sample_app.SECTION} {version} {tokens}'.rstrip()
    return kovrel.start_launcher(launcher, arguments, extra_env)


def close_dialog(kovrel, caption=DEFAULT_CAPTION):
    kovrel.press(caption, "2")
    assert harness.wait_until(lambda: not harness.run_folders_left(), 60), "the cleanup launcher removed the folder"
    assert kovrel.wait_mutex_free()


def put_skin(app, settings=None, pictures=("bkgnd.vrl", "parts.vrl", "anime.vrl")):
    for name in pictures:
        shutil.copyfile(SKIN / name, app.folder / name)
    if settings is not None:
        (app.folder / "Kovrel.ini").write_bytes(settings.encode("cp932"))


def test_update_with_skin_and_restart_unchecked(installed, kovrel, kovrel_temp, served, tmp_path):
    put_skin(installed, (SKIN / "Kovrel.ini").read_text(encoding="cp932"))
    marker = tmp_path / "restarted.txt"
    info = publish(served)
    start_dialog(kovrel, installed, info,
                 tokens=f'"" "{harness.windows_path(MARKER_PROGRAM)}" "{harness.windows_path(marker)}" -r1')
    confirm_close(kovrel)
    done = wait_for_button(kovrel, BUTTON_CLOSE)
    screenshot(kovrel, "dialog-finished")
    assert done.progress() == 100
    assert done.restart_box()["visible"] == 1 and done.restart_box()["checked"] == 1
    assert done.restart_box()["text"] == RESTART_BOX
    assert done.client() == picture_size(SKIN / "bkgnd.vrl"), "the sample background fits the client area"
    # Centred in the work area.
    g = {k: int(v) if v.lstrip("-").isdigit() else v for k, v in done.geometry.items()}
    left, top, right, bottom = (int(v) for v in done.geometry["work"].split(","))
    assert abs(g["x"] - (left + right - g["width"]) // 2) <= 1
    assert abs(g["y"] - (top + bottom - g["height"]) // 2) <= 1
    assert done.geometry["caption"] == "1"

    kovrel.driver("click", DEFAULT_CAPTION, "1003")
    assert view(kovrel).restart_box()["checked"] == 0
    close_dialog(kovrel)
    assert_updated(installed)
    assert not marker.exists(), "unchecked: the program is not started again"


def test_update_with_restart_checked_starts_the_program(installed, kovrel, kovrel_temp, served, tmp_path):
    marker = tmp_path / "restarted.txt"
    info = publish(served)
    start_dialog(kovrel, installed, info,
                 tokens=f'"" "{harness.windows_path(MARKER_PROGRAM)}" "{harness.windows_path(marker)}" -r1')
    confirm_close(kovrel)
    wait_for_button(kovrel, BUTTON_CLOSE)
    close_dialog(kovrel)
    assert harness.wait_until(marker.exists, 60)
    assert_updated(installed)


def test_up_to_date_keeps_the_check_box_hidden(installed, kovrel, kovrel_temp, served, tmp_path):
    marker = tmp_path / "restarted.txt"
    info = publish(served, version="1.0")
    start_dialog(kovrel, installed, info,
                 tokens=f'"" "{harness.windows_path(MARKER_PROGRAM)}" "{harness.windows_path(marker)}" -r1')
    done = wait_for_button(kovrel, BUTTON_CLOSE)
    assert done.restart_box()["visible"] == 0
    assert done.progress() == 100
    close_dialog(kovrel)
    assert not marker.exists()
    assert [path for path, _ in served.requests()] == ["Kovrel.ini"]


def test_caption_token_and_no_title_bar(installed, kovrel, kovrel_temp, served):
    info = publish(served, version="1.0")
    start_dialog(kovrel, installed, info)
    framed = wait_for_button(kovrel, BUTTON_CLOSE)
    close_dialog(kovrel)

    start_dialog(kovrel, installed, info, tokens='"サンプル更新" -c0')
    bare = wait_for_button(kovrel, BUTTON_CLOSE, caption="サンプル更新")
    assert bare.geometry["caption"] == "0"
    assert framed.geometry["caption"] == "1"
    assert bare.client() == framed.client(), "the client area keeps its size without the title bar"
    assert int(bare.geometry["height"]) < int(framed.geometry["height"])
    left, top, right, bottom = (int(v) for v in bare.geometry["work"].split(","))
    assert abs(int(bare.geometry["x"]) - (left + right - int(bare.geometry["width"])) // 2) <= 1
    close_dialog(kovrel, caption="サンプル更新")


def slow_update(served):
    files = dict(sample_app.ARCHIVE_1_1, **{"big.bin": bytes(range(256)) * 16384})
    return publish(served, archive_url=served.fault_url("slow", "update.zip"), files=files)


def test_abort_declined_lets_the_update_finish(installed, kovrel, kovrel_temp, served):
    start_dialog(kovrel, installed, slow_update(served))
    # During the download, before the close confirmation.
    running = view(kovrel)
    assert running.button() == BUTTON_ABORT
    screenshot(kovrel, "dialog-running")
    kovrel.driver("click", DEFAULT_CAPTION, "2")
    box = kovrel.press("確認", "7", 60000)
    assert box.text() == CONFIRM_ABORT
    aborting = view(kovrel)
    assert aborting.button() == BUTTON_ABORTING, "the button keeps its text until the end"
    confirm_close(kovrel)
    screenshot(kovrel, "dialog-aborting")
    wait_for_button(kovrel, BUTTON_CLOSE)
    close_dialog(kovrel)
    assert_updated(installed, {"big.bin": bytes(range(256)) * 16384})


def test_escape_and_confirmed_abort_leave_the_application_untouched(installed, kovrel, kovrel_temp, served):
    start_dialog(kovrel, installed, slow_update(served))
    view(kovrel)
    kovrel.driver("escape", DEFAULT_CAPTION)
    box = kovrel.press("確認", "6", 60000)
    assert box.text() == CONFIRM_ABORT
    done = wait_for_button(kovrel, BUTTON_CLOSE)
    assert done.restart_box()["visible"] == 0
    close_dialog(kovrel)
    assert_unchanged(installed)


def make_picture(path, width, height, colour):
    subprocess.run(["convert", "-size", f"{width}x{height}", f"xc:{colour}", f"BMP3:{path}"], check=True)


def test_background_colour_and_centred_picture(installed, kovrel, kovrel_temp, served):
    # Blue background (colours are written blue-green-red), no fill behind the status text, and a small
    # green background picture that the dialog centres.
    (installed.folder / "Kovrel.ini").write_bytes(b"[DRAWCOLOR]\r\nBKGND=FF0000\r\nINFOBKGND=FF000000\r\n")
    make_picture(installed.folder / "bkgnd.vrl", 60, 40, "#00FF00")
    info = publish(served, version="1.0")
    start_dialog(kovrel, installed, info)
    done = wait_for_button(kovrel, BUTTON_CLOSE)
    shot = screenshot(kovrel, "dialog-skinned-background")
    x0, y0 = done.origin()
    width, height = done.client()
    assert pixel(shot, x0 + 3, y0 + height - 3) == (0, 0, 255), "the settings' background colour"
    assert pixel(shot, x0 + width // 2, y0 + height // 2) == (0, 255, 0), "the picture at the centre"
    assert pixel(shot, x0 + width // 2 - 28, y0 + height // 2 - 18) == (0, 255, 0)
    assert pixel(shot, x0 + width // 2 - 34, y0 + height // 2) == (0, 0, 255), "left of the centred picture"
    close_dialog(kovrel)


def test_without_skin_or_settings(installed, kovrel, kovrel_temp, served):
    info = publish(served, version="1.0")
    start_dialog(kovrel, installed, info)
    done = wait_for_button(kovrel, BUTTON_CLOSE)
    shot = screenshot(kovrel, "dialog-plain")
    x0, y0 = done.origin()
    width, height = done.client()
    corner = pixel(shot, x0 + 3, y0 + height - 3)
    assert corner == pixel(shot, x0 + width - 3, y0 + 3), "one background colour"
    # The status rectangle is filled with the window colour inside a frame, below its text.
    inside = pixel(shot, x0 + int(width * 300 / 364), y0 + int(height * 95 / 176))
    assert inside != corner
    assert inside == (255, 255, 255)
    close_dialog(kovrel)


def region(path, x, y, width, height):
    """The pixels of a rectangle of a screenshot, as (r, g, b) tuples."""
    out = subprocess.run(["convert", str(path), "-crop", f"{width}x{height}+{x}+{y}", "-depth", "8", "txt:-"],
                         stdout=subprocess.PIPE, text=True, check=True).stdout
    return [tuple(int(float(v)) for v in line.split("(", 1)[1].split(")", 1)[0].split(",")[:3])
            for line in out.splitlines()[1:]]


def info_rect(width, height):
    """The status rectangle (left, top, right, bottom) in a client area of that size: reference 95, 12, 350,
    100 in 364 x 176, scaled."""
    return (round(95 * width / 364), round(12 * height / 176), round(350 * width / 364), round(100 * height / 176))


def readme_sample_settings():
    """The sample Kovrel.ini of the README, as an application developer copies it: comments and padding too."""
    lines = (harness.ROOT / "README.md").read_text(encoding="utf-8").splitlines()
    start = next(i for i, line in enumerate(lines) if line.startswith("- `Kovrel.ini`"))
    block = []
    for line in lines[start + 1:]:
        if line.startswith("      "):
            block.append(line[6:])
        elif block:
            break
    assert block and block[0] == "[DRAWCOLOR]" and any(line.startswith("TRANSCOLOR=") for line in block), block
    return "\r\n".join(block) + "\r\n"


GREY, WHITE, MAGENTA = (192, 192, 192), (255, 255, 255), (255, 0, 255)
# The dots of the sample animation (scripts/make_sample_skin).
DOT_COLOURS = {(31, 95, 175), (79, 130, 194), (127, 164, 212), (180, 200, 227)}


def test_readme_sample_settings_render_as_their_comments_say(installed, kovrel, kovrel_temp, served):
    # The sample animation, whose frames lie on magenta, and no background picture: BKGND shows wherever
    # nothing else is drawn.
    (installed.folder / "Kovrel.ini").write_text(readme_sample_settings(), encoding="ascii", newline="")
    put_skin(installed, pictures=("anime.vrl",))
    start_dialog(kovrel, installed, publish(served, version="1.0"))
    done = wait_for_button(kovrel, BUTTON_CLOSE)
    assert done.progress() == 100 and done.restart_box()["visible"] == 0
    shot = screenshot(kovrel, "dialog-readme-settings")
    x0, y0 = done.origin()
    width, height = done.client()
    assert pixel(shot, x0 + 3, y0 + height - 3) == GREY, "BKGND=C0C0C0 where no picture covers"
    left, top, right, bottom = info_rect(width, height)
    assert pixel(shot, x0 + right - 5, y0 + bottom - 5) == WHITE, "INFOBKGND=FFFFFF fills the status rectangle"
    first_line = region(shot, x0 + left + 2, y0 + top + 2, right - left - 4, 16)
    assert sum(1 for p in first_line if max(p) < 80) >= 20, "INFOTEXT=000000: the status text in black"
    px, py, pw, ph = done.place(1001)
    panel = region(shot, x0 + px, y0 + py, pw, ph)
    assert MAGENTA not in panel, "TRANSCOLOR=FF00FF: the frames' key colour is transparent"
    assert panel[0] == GREY, "ANIBKGND not set: the dialog shows through around the frame"
    assert DOT_COLOURS & set(panel), "the frame's dots are drawn"
    close_dialog(kovrel)


def test_unset_background_colour_is_the_system_colour_around_a_picture(installed, kovrel, kovrel_temp, served):
    (installed.folder / "Kovrel.ini").write_bytes(b"[DRAWCOLOR]\r\nBKGND=FF000000\r\nINFOBKGND=FF000000\r\n")
    make_picture(installed.folder / "bkgnd.vrl", 60, 40, "#00FF00")
    start_dialog(kovrel, installed, publish(served, version="1.0"))
    done = wait_for_button(kovrel, BUTTON_CLOSE)
    shot = screenshot(kovrel, "dialog-unset-background")
    x0, y0 = done.origin()
    width, height = done.client()
    # Without parts.vrl the button is a standard push button, whose face is the system colour.
    bx, by, bw, bh = done.place(2)
    face = pixel(shot, x0 + bx + 6, y0 + by + bh // 2)
    assert pixel(shot, x0 + 3, y0 + height - 3) == face, "the margin around the picture"
    assert pixel(shot, x0 + width - 3, y0 + 3) == face
    assert pixel(shot, x0 + width // 2, y0 + height // 2) == (0, 255, 0), "the picture at the centre"
    close_dialog(kovrel)




def test_english_system_sees_english_texts(installed, kovrel, kovrel_temp, served, tmp_path):
    # File names in ASCII: such a system's ANSI code page is 1252.
    files = {"sample.exe": b"MZ sample application 1.1\r\n", "new.txt": b"added in 1.1"}
    marker = tmp_path / "restarted.txt"
    start_dialog(kovrel, installed, publish(served, files=files),
                 tokens=f'"" "{harness.windows_path(MARKER_PROGRAM)}" "{harness.windows_path(marker)}" -r1',
                 extra_env=harness.ENGLISH_LOCALE)
    box = kovrel.show("Kovrel", 60000)
    assert box.text() == ENGLISH_CONFIRM_CLOSE
    assert view(kovrel).button() == "Abort"
    kovrel.press("Kovrel", "OK")
    done = wait_for_button(kovrel, "Close")
    restart = done.restart_box()
    assert (restart["text"], restart["visible"], restart["checked"]) == ("Restart the application", 1, 1)
    screenshot(kovrel, "dialog-english")
    close_dialog(kovrel)
    assert harness.wait_until(marker.exists, 60), "the restart box was left checked"
    assert (installed.folder / "new.txt").read_bytes() == b"added in 1.1"
