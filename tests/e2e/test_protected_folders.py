"""Applications in protected folders: a standard user (a Unix user other than root, with a prefix of its own)
runs Kovrel against an application folder owned by root, which refuses its writes as Program Files refuses a
standard user's. The elevated apply step is reached through the test broker (support/elevation_broker.cpp),
which stands where ShellExecuteExW finds the launcher in the application folder, waits until the harness has
given the user the folder (the rights that elevation brings), and runs the real launcher with the full token."""
import os
import shutil
import tempfile
from pathlib import Path

import harness
import pytest
import sample_app
from sample_app import SampleApp, files_only, tree
from standard_user import PREFIX as USER_PREFIX, USER, StandardUser
from conftest import Kovrel, remove_path
from test_verified_update import keys, launchers, publish_tool, signed_feed  # noqa: F401 - fixtures
from updates import CONFIRM_CLOSE, KOVREL, MARKER_PROGRAM, assert_updated

APPLY_ARGUMENT = "<:kovrel!APPLY!!:>"
MSG_UPDATED, MSG_NO_PERMISSION, MSG_UP_TO_DATE = 30112, 30118, 30002
BROKER = harness.DIST / "elevation_broker.exe"
UNDONE_TEXT = "前回のアップデートは途中で中断されていました。\nアプリケーションを更新前の状態に戻しました。"


@pytest.fixture(scope="session")
def standard_user(wine_env):
    user = StandardUser(wine_env["DISPLAY"]).start()
    yield user
    user.stop()


class Protected:
    """A root-owned application folder with the broker as its launcher and the real one beside it, the
    user's own launcher outside it, and a folder where the broker reports."""

    def __init__(self, standard_user, launcher):
        self.base = Path(tempfile.mkdtemp(prefix="kovrel-protected-"))
        self.base.chmod(0o755)
        self.app = SampleApp(base=self.base).install()
        shutil.copyfile(BROKER, self.app.folder / "Kovrel.exe")
        shutil.copyfile(launcher, self.app.folder / "KovrelApply.exe")
        self.launcher = self.base / "Launcher" / "Kovrel.exe"
        self.launcher.parent.mkdir()
        shutil.copyfile(launcher, self.launcher)
        shutil.copyfile(MARKER_PROGRAM, self.base / "marker.exe")
        self.reports = self.base / "Reports"
        self.reports.mkdir()
        standard_user.give(self.reports)
        self.user = standard_user

    def arguments(self, info):
        marker = harness.windows_path(self.reports / "restarted.txt")
        return (f'{info} "{self.app.windows_exe()}" {sample_app.SECTION} 1.0 "" '
                f'"{harness.windows_path(self.base / "marker.exe")}" "{marker}" -r1 -s1')

    def identity(self):
        return harness.application_identity(sample_app.SECTION, self.app.windows_exe())

    def start(self, kovrel, info):
        """Starts the user's launcher; the broker learns from the environment where to report."""
        return kovrel.start_launcher(self.launcher, self.arguments(info),
                                     {"KOVREL_BROKER_FOLDER": harness.windows_path(self.reports)})

    def request(self, timeout=120):
        """The apply step's arguments, once the broker has been started."""
        path = self.reports / "request.txt"
        assert harness.wait_until(path.exists, timeout), "the apply step was never asked for"
        return path.read_text(encoding="utf-8")

    def grant(self, rights=True):
        """Lets the broker go on, with the application folder given to the user or not; returns the step's
        exit code once it has ended, and the folder is root's again."""
        if rights:
            self.user.give(self.app.folder)
        (self.reports / "granted").write_text("")
        done = self.reports / "done.txt"
        try:
            assert harness.wait_until(done.exists, 180), "the apply step did not end"
        finally:
            self.user.take_back(self.app.folder)
        return int(done.read_text().split()[1])

    def run_log(self):
        return harness.log_path(sample_app.SECTION, harness.application_folder(self.app.exe), USER_PREFIX, USER)

    def remove(self):
        self.user.take_back(self.base)
        remove_path(self.run_log())
        self.app.remove()


@pytest.fixture
def user_kovrel(standard_user, tmp_path):
    scratch = Path(tempfile.mkdtemp(prefix="kovrel-user-scratch-"))
    scratch.chmod(0o755)
    k = Kovrel(standard_user.environment(), scratch, standard_user.runner())
    yield k
    for run in k.runs:
        if run.running():
            k.end(run)
    freed = k.wait_mutex_free(120000)
    for pid in k.worker_pids():
        k.driver("end", str(pid))
    shutil.rmtree(scratch, ignore_errors=True)
    for folder in standard_user.temp_folder().glob("Kovrel-*"):
        remove_path(folder)
    shutil.rmtree(USER_PREFIX / "drive_c" / "users" / USER / "AppData" / "Local" / "Kovrel" / "Cache", ignore_errors=True)
    shutil.rmtree(USER_PREFIX / "drive_c" / "ProgramData" / "Kovrel", ignore_errors=True)
    assert freed, "a worker of this test still held the mutex"


def final_message(protected):
    lines = protected.run_log().read_bytes().decode("cp932").split("\r\n")
    ends = [line.split(" end: message ", 1)[1] for line in lines if " end: message " in line]
    return int(ends[-1].split(";")[0])


def finish(user_kovrel, run):
    assert run.exit_code() == 0
    assert harness.wait_until(lambda: user_kovrel.wait_mutex_free(1000), 180), "the run did not end"


@pytest.fixture
def protected(standard_user, launchers):
    made = Protected(standard_user, launchers["first"])
    yield made
    made.remove()


def test_protected_folder_without_a_key_fails_before_any_download(standard_user, user_kovrel, served):
    """A launcher without publisher keys may not ask for rights: 30118 at the start, nothing fetched."""
    folder = Protected(standard_user, KOVREL)
    try:
        info = served.url("Kovrel.ini")
        run = folder.start(user_kovrel, info)
        finish(user_kovrel, run)
        assert final_message(folder) == MSG_NO_PERMISSION
        assert served.requests() == []
        assert files_only(tree(folder.app.folder)) == dict(sample_app.VERSION_1_0, **{
            "Kovrel.exe": BROKER.read_bytes(), "KovrelApply.exe": KOVREL.read_bytes()})
    finally:
        folder.remove()


# What happens between the two sides: nothing, a tampered archive and unpacked tree in the user's staging
# (written by a Wine process of the user), or no rights granted to the elevated step after all.
BETWEEN = ["nothing", "staging tampered", "rights not granted"]


@pytest.mark.parametrize("between", BETWEEN)
def test_protected_folder_is_updated_through_one_elevation(between, protected, standard_user, user_kovrel, served,
                                                           keys):
    signed_feed(served, keys)
    run = protected.start(user_kovrel, served.url("Kovrel.ini"))
    box = user_kovrel.press("Kovrel", "OK", 60000)
    assert box.text() == CONFIRM_CLOSE
    request = protected.request()
    assert request.startswith(APPLY_ARGUMENT + ' "')
    staged = request.split('"')[1]
    assert "\\kovrel\\cache\\" in staged.lower() and staged.endswith("_update.zip"), staged
    if between == "staging tampered":
        evil = protected.reports / "evil.zip"
        sample_app.write_zip(evil, {sample_app.APP_EXE: b"MZ not the update"})
        unpacked = f"C:\\users\\{USER}\\Temp\\Kovrel-{protected.identity()}\\Work\\Src\\{sample_app.APP_EXE}"
        for target in (staged, unpacked):
            result = standard_user.run(harness.WINE, "cmd.exe", "/c", "copy", "/y", harness.windows_path(evil), target)
            assert result.returncode == 0
    code = protected.grant(rights=between != "rights not granted")
    finish(user_kovrel, run)
    expected = MSG_NO_PERMISSION if between == "rights not granted" else MSG_UPDATED
    assert (code, final_message(protected)) == (expected, expected)
    launchers_in_app = {"Kovrel.exe": BROKER.read_bytes(), "KovrelApply.exe": protected.launcher.read_bytes()}
    if expected == MSG_UPDATED:
        assert_updated(protected.app, launchers_in_app)
        restarted = protected.reports / "restarted.txt.token"
        assert harness.wait_until(restarted.exists, 60)
        assert restarted.read_text() == "elevated 0", "restarted by the run that asked, never by the step"
    else:
        assert files_only(tree(protected.app.folder)) == dict(sample_app.VERSION_1_0, **launchers_in_app)
    archive_requests = [path for path, _ in served.requests() if path.endswith("update.zip")]
    # The step uses the archive of the run that asked only when it is the one that it verified itself.
    assert len(archive_requests) == {"nothing": 1, "staging tampered": 2, "rights not granted": 1}[between]


def plant_interrupted_apply(protected):
    """What an apply step killed during its replacement leaves: its journal and backup in the per-machine
    staging, the application half replaced."""
    staging = f"Staging-{protected.identity()}"
    work = USER_PREFIX / "drive_c" / "ProgramData" / "Kovrel" / staging / "Work"
    (work / "Bup").mkdir(parents=True)
    (work / "Bup" / sample_app.APP_EXE).write_bytes(sample_app.VERSION_1_0[sample_app.APP_EXE])
    lines = ["KOVREL-JOURNAL 2", f"A {protected.app.windows_exe().rsplit(chr(92), 1)[0]}\\",
             f"B C:\\ProgramData\\Kovrel\\{staging}\\Work\\Bup\\", "C new.txt", f"R {sample_app.APP_EXE}"]
    (work / "Kovrel.journal").write_bytes(("\r\n".join(lines) + "\r\n").encode("utf-8"))
    (protected.app.folder / sample_app.APP_EXE).write_bytes(sample_app.ARCHIVE_1_1[sample_app.APP_EXE])
    (protected.app.folder / "new.txt").write_bytes(sample_app.ARCHIVE_1_1["new.txt"])
    return work.parents[1]


def test_protected_folder_interrupted_elevated_apply_is_undone_first(protected, standard_user, user_kovrel, served,
                                                                    keys):
    """The next run finds the journal of an interrupted apply step and, before anything else, asks for an
    apply step that undoes it, with the box of every undone update; then it goes on (here: up to date)."""
    machine_root = plant_interrupted_apply(protected)
    standard_user.give(machine_root)
    served.put("update.zip", b"")
    publish_tool("--info", str(served.folder / "Kovrel.ini"), "--section", sample_app.SECTION, "--version", "1.0",
                 "--archive", str(served.folder / "update.zip"), "--url", served.url("update.zip"),
                 "--key", str(keys["first"][0]))
    run = protected.start(user_kovrel, served.url("Kovrel.ini"))
    request = protected.request()
    assert request.startswith(APPLY_ARGUMENT + ' ""'), request
    assert served.requests() == [], "asked before anything else"
    protected.user.give(protected.app.folder)
    (protected.reports / "granted").write_text("")
    try:
        box = user_kovrel.press("Kovrel", "OK", 120000)
        assert box.text() == UNDONE_TEXT
        assert harness.wait_until((protected.reports / "done.txt").exists, 120)
    finally:
        protected.user.take_back(protected.app.folder)
    finish(user_kovrel, run)
    assert final_message(protected) == MSG_UP_TO_DATE
    assert files_only(tree(protected.app.folder)) == dict(sample_app.VERSION_1_0, **{
        "Kovrel.exe": BROKER.read_bytes(), "KovrelApply.exe": protected.launcher.read_bytes()})
    assert not (machine_root / f"Staging-{protected.identity()}").exists(), \
        "the apply step's folder goes once nothing is left to undo"
