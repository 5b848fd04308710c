"""What the update tests share: the driver that runs the worker's update procedure in-process, the sample
application's fixtures, publishing an update, and the checks of its outcome."""
import random
import shutil
import subprocess
import threading

import driver_output
import harness
import pytest
import sample_app
from driver_output import RESULT_UP_TO_DATE, RESULT_UPDATED, STATE_ABORTED, STATE_DONE, STATE_FAILED  # noqa: F401
from sample_app import SECTION, SampleApp, files_only, tree

DRIVER = harness.DIST / "run_update_driver.exe"
FILE_HOLDER = harness.DIST / "file_holder.exe"
MARKER_PROGRAM = harness.DIST / "marker_program.exe"
KOVREL = harness.DIST / "Kovrel.exe"

MSG_UP_TO_DATE, MSG_UPDATED, MSG_ABORTED = 30002, 30112, 30100
MSG_OPEN_INFO, MSG_DOWNLOAD_INFO, MSG_READ_INFO = 30102, 30105, 30106
MSG_OPEN_ARCHIVE, MSG_DOWNLOAD_ARCHIVE, MSG_EXTRACT, MSG_REPLACE = 30107, 30108, 30109, 30110

CONFIRM_CLOSE = ("これからアップデートを行います。\n『 アップデートを行うアプリケーションを終了させた後 』\n"
                 "に「OK」ボタンを押してください。")
ENGLISH_CONFIRM_CLOSE = ("The update is about to start.\nFirst close the application that is being updated,\n"
                         "then press the OK button.")
CONFIRM_ABORT = "アップデートを中断してもよろしいですか？"
# The archive is downloaded and unpacked before the user is asked to close the application.
STATUS_TEXTS = ["インターネットに接続中...", "初期化処理中...", "アップデート情報を取得中...",
                "アップデート情報をチェック中...", "ファイルを解凍中...", "アプリケーションの終了待ち中...",
                "ファイルを更新中..."]


def outcome_of(lines):
    """The driver's output once it has ended; it ends with its peak working set (for the benchmarks) after the
    outcome."""
    outcome = driver_output.parse(lines)
    assert outcome.peak_working_set is not None, f"no peak working set: {lines}"
    assert outcome.state is not None, f"no final line: {lines}"
    return outcome


class DriverRun:
    """One run of the driver; its output is read as it comes so a full pipe never blocks it."""

    def __init__(self, process):
        self.process = process
        self.lines = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.append(line.decode("utf-8", "replace").rstrip("\r\n"))

    def output(self):
        """What the driver has printed so far."""
        return driver_output.parse(self.lines)

    def finish(self, timeout=180):
        self.process.wait(timeout=timeout)
        self.reader.join(timeout=30)
        return outcome_of(self.lines)


class Updater:
    """Starts the update procedure in a private copy of the driver for one installed sample application."""

    def __init__(self, env, app, scratch, folder=None):
        self.env = env
        self.app = app
        self.scratch = scratch
        self.folder = folder or app.base / "Driver"
        self.folder.mkdir(parents=True)
        self.exe = self.folder / "run_update_driver.exe"
        shutil.copyfile(DRIVER, self.exe)
        # The worker reads the publisher's keys from the launcher that started it.
        self.use_launcher(KOVREL)
        self.runs = []

    def use_launcher(self, launcher):
        shutil.copyfile(launcher, self.folder / "Kovrel.exe")

    @property
    def work(self):
        return self.folder / "Work"

    def start(self, info_url, version="1.0", options="", extra_env=None, app_path=None):
        app_path = app_path or self.app.windows_exe()
        tail = f'"{harness.windows_path(self.folder / "Kovrel.exe")}" {info_url} "{app_path}" ' \
               f'{SECTION} {version} {options}'.rstrip()
        tail_file = self.scratch / f"tail{len(self.runs)}.txt"
        tail_file.write_text(tail, encoding="utf-8")
        process = subprocess.Popen([harness.WINE, str(self.exe), harness.windows_path(tail_file)],
                                   env=dict(self.env, **(extra_env or {})), stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        run = DriverRun(process)
        self.runs.append(run)
        return run

    def stop(self):
        for run in self.runs:
            if run.process.poll() is None:
                run.process.kill()
                run.process.wait(timeout=30)


@pytest.fixture
def app(wine_env):
    installed = SampleApp().install()
    yield installed
    installed.remove()


@pytest.fixture
def updater(wine_env, app, tmp_path, kovrel):
    runner = Updater(wine_env, app, tmp_path)
    yield runner
    runner.stop()


def folder_on_another_file_system(near):
    """A new folder on another file system than `near`'s, or a skip where the machine has none."""
    folder = harness.folder_on_another_file_system(near, "kovrel-test-")
    if folder is None:
        pytest.skip("/dev/shm is not a file system of its own here")
    return folder


def publish(served, archive_name="update.zip", archive_url=None, version="1.1", files=None, kind="zip"):
    """Puts the 1.1 archive and an information file pointing at it into the test's served folder; returns
    the information file's URL."""
    files = sample_app.ARCHIVE_1_1 if files is None else files
    writer = sample_app.write_tar_gz if kind == "tar.gz" else sample_app.write_zip
    writer(served.folder / archive_name, files)
    url = archive_url if archive_url is not None else served.url(archive_name)
    served.put("Kovrel.ini", sample_app.info_text(url, version))
    return served.url("Kovrel.ini")


def assert_unchanged(app):
    assert files_only(tree(app.folder)) == sample_app.VERSION_1_0
    assert not (app.folder / "新フォルダ").exists()


def assert_updated(app, extra=None):
    assert files_only(tree(app.folder)) == dict(sample_app.version_1_1(), **(extra or {}))


def confirm_close(kovrel, button="OK"):
    box = kovrel.press("Kovrel", button, 60000)
    assert box.text() == CONFIRM_CLOSE
    return box


def silent_arguments(info, app, version="1.0", extra=""):
    return f'{info} "{app.windows_exe()}" {SECTION} {version} {extra} -s1'.replace("  ", " ")


def wait_for_cleanup(kovrel, temp=None):
    """Waits until the run folder `temp`, or without it every run folder, is gone and the locks are free."""
    if temp is None:
        assert harness.wait_until(lambda: not harness.run_folders_left(), 120), harness.run_folders_left()
    assert temp is None or harness.wait_until(lambda: not temp.exists(), 120), f"{temp} is still there"
    assert kovrel.wait_mutex_free(120000)


def big_archive_files():
    rng = random.Random(1)
    return dict(sample_app.ARCHIVE_1_1, **{"big.bin": rng.randbytes(2 * 1024 * 1024)})


def update_with_abort_declined(updater, kovrel, info, extra):
    """Runs the update, declines the abort that the first report of the download's own progress (above the
    stage's start, 38) asks for, and expects the update with the extra files."""
    run = updater.start(info, extra_env={"KOVREL_DRIVER_ABORT_AT": "39"})
    box = kovrel.press("確認", "7", 120000)
    assert box.text() == CONFIRM_ABORT
    confirm_close(kovrel)
    outcome = run.finish()
    assert (outcome.state, outcome.result, outcome.message) == (STATE_DONE, RESULT_UPDATED, MSG_UPDATED), outcome
    assert_updated(updater.app, extra)


def journal(updater):
    return updater.work / "Kovrel.journal"


def hold(wine_env, path):
    holder = subprocess.Popen([harness.WINE, str(FILE_HOLDER), harness.windows_path(path)], env=wine_env,
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    assert holder.stdout.readline().strip() == b"held"
    return holder


def release(holder):
    holder.stdin.close()
    holder.wait(timeout=60)
