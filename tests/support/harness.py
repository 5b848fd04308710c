"""The Wine environment of the tests: the prefix, the virtual display and the persistent wineserver.

Everything here is started by the test run and stopped by it again. `Session` is used by the test runner
(which shares one display and wineserver between CTest and pytest) and by pytest alone.
"""
import os
import shutil
import subprocess
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BUILD = ROOT / "build" / "win64"
DIST = BUILD / "dist"
PREFIX = BUILD / "wineprefix"
WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver64"
MUTEX_NAME = "Kovrel_check_period_mutex"
CLEANUP_ARGUMENT = "<:rokuta!velmoranpisuCLOSE!!:>"


def wine_environment(display=None):
    env = dict(os.environ)
    env.update(
        WINEPREFIX=str(PREFIX),
        WINEDEBUG="-all",
        WINEDLLOVERRIDES="mscoree,mshtml=",
        LC_ALL="ja_JP.UTF-8",
        LANG="ja_JP.UTF-8",
    )
    if display:
        env["DISPLAY"] = display
    return env


def windows_path(path):
    """The Windows form of a Linux path: drive Z: maps the Linux root."""
    path = Path(path).resolve()
    drive_c = (PREFIX / "drive_c").resolve()
    try:
        return "C:\\" + str(path.relative_to(drive_c)).replace("/", "\\")
    except ValueError:
        return "Z:" + str(path).replace("/", "\\")


def prefix_user():
    users = PREFIX / "drive_c" / "users"
    names = [p.name for p in users.iterdir() if p.name != "Public"] if users.exists() else []
    return names[0] if names else os.environ.get("USER", "root")


def temp_folder():
    """The Linux path of the prefix user's %TEMP% (C:\\users\\<user>\\Temp)."""
    return PREFIX / "drive_c" / "users" / prefix_user() / "Temp"


def install_standin_archivers():
    """Copies the stand-in archiver libraries into the prefix's system folder, where the worker's bare-name
    load finds them, as a user installs archiver libraries."""
    system = PREFIX / "drive_c" / "windows" / "system32"
    system.mkdir(parents=True, exist_ok=True)
    for name in ("Unlha32.dll", "Unzip32.dll", "tar32.dll", "cab32.dll", "unrar32.dll", "7-zip32.dll"):
        shutil.copyfile(BUILD / "archivers" / name, system / name)


def wait_until(condition, timeout, interval=0.05):
    """Polls until the condition holds; False when the generous bound passes first."""
    deadline = time.monotonic() + timeout
    while True:
        if condition():
            return True
        if time.monotonic() > deadline:
            return False
        time.sleep(interval)


class Session:
    """A virtual display, a Wine prefix and one persistent wineserver for a whole test run."""

    def __init__(self):
        self.display = None
        self.xvfb = None
        self.owns_wineserver = False

    def start(self):
        if shutil.which("Xvfb") is None:
            raise RuntimeError("Xvfb is not installed")
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp", "-screen", "0", "1280x1024x24"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        with os.fdopen(read_end, "rb") as pipe:
            while not number.endswith(b"\n"):
                chunk = pipe.read(1)
                if not chunk:
                    break
                number += chunk
        if not number.strip():
            self.stop()
            raise RuntimeError("Xvfb did not report a display")
        self.display = ":" + number.decode().strip()
        env = self.environment()
        if not (PREFIX / "system.reg").exists():
            PREFIX.mkdir(parents=True, exist_ok=True)
            subprocess.run([WINE, "wineboot", "-i"], env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=300, check=False)
            subprocess.run([WINESERVER, "-w"], env=env, timeout=300, check=False)
        # One persistent wineserver makes each Windows process start in milliseconds instead of seconds.
        subprocess.run(["setsid", "-f", WINESERVER, "-p"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=False)
        self.owns_wineserver = True
        # The first Windows program also starts Wine's services, which live as long as the wineserver. Started
        # here with nowhere to write, they hold no pipe of a later caller open (a runner waiting for the end of
        # a test program's output would otherwise wait for ever).
        subprocess.run([WINE, "cmd.exe", "/c", "exit"], env=env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300, check=False)
        install_standin_archivers()
        return self

    def environment(self):
        return wine_environment(self.display)

    def stop(self):
        if self.owns_wineserver:
            subprocess.run([WINESERVER, "-k"], env=self.environment(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, check=False)
            self.owns_wineserver = False
        if self.xvfb:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
            self.xvfb = None
