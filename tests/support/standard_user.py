"""A standard user's Wine, for the tests of applications in protected folders.

Every Wine process holds an administrator token, and running as root no Unix permission stops a write. A
folder that a standard user may not write exists only for a Unix user other than root: this one runs Wine with
a prefix of its own, so that a folder owned by root refuses its writes with ERROR_ACCESS_DENIED, as a
per-machine folder refuses a standard user's on Windows. scripts/setup makes the user.
"""
import os
import pwd
import shutil
import subprocess

import harness

USER = "kovrel-tester"
PREFIX = harness.BUILD / "standard-user-prefix"


def account():
    """(uid, gid, home) of the user; an error that names scripts/setup where it is missing."""
    try:
        entry = pwd.getpwnam(USER)
    except KeyError:
        raise RuntimeError(f"the Unix user {USER} is missing: scripts/setup makes it") from None
    return entry.pw_uid, entry.pw_gid, entry.pw_dir


class StandardUser:
    """The user's prefix and persistent wineserver on the tests' display; commands run as the user."""

    def __init__(self, display):
        self.uid, self.gid, self.home = account()
        self.display = display

    def runner(self):
        """What goes before a command to run it as the user, with the environment kept."""
        return ["setpriv", f"--reuid={self.uid}", f"--regid={self.gid}", "--init-groups"]

    def environment(self):
        env = harness.wine_environment(self.display)
        env.update(WINEPREFIX=str(PREFIX), HOME=self.home, USER=USER, LOGNAME=USER)
        env.pop("XDG_RUNTIME_DIR", None)
        return env

    def run(self, *command, timeout=300):
        return subprocess.run([*self.runner(), *command], env=self.environment(), stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout, check=False)

    def start(self):
        self.run(harness.WINESERVER, "-k")
        self.run(harness.WINESERVER, "-w")
        if not (PREFIX / "system.reg").exists():
            shutil.rmtree(PREFIX, ignore_errors=True)
            PREFIX.mkdir(parents=True)
            os.chown(PREFIX, self.uid, self.gid)
            self.run(harness.WINE, "wineboot", "-i")
            self.run(harness.WINESERVER, "-w")
        harness.install_wine_fonts(PREFIX)
        if not harness.prefix_settings_applied(PREFIX):
            harness.apply_prefix_settings(self.environment(), PREFIX, self.runner())
            self.run(harness.WINESERVER, "-w")
        subprocess.run(["setsid", "-f", *self.runner(), harness.WINESERVER, "-p"], env=self.environment(),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
        self.run(harness.WINE, "cmd.exe", "/c", "exit")
        return self

    def stop(self):
        self.run(harness.WINESERVER, "-k")

    def temp_folder(self):
        """The Linux path of the user's %TEMP%."""
        return PREFIX / "drive_c" / "users" / USER / "Temp"

    def give(self, path):
        """Gives the user the folder and all it holds (the rights that elevation brings)."""
        for root, folders, files in os.walk(path):
            for name in [root, *(os.path.join(root, f) for f in folders + files)]:
                os.chown(name, self.uid, self.gid, follow_symlinks=False)

    @staticmethod
    def take_back(path):
        """Gives the folder and all it holds back to root."""
        for root, folders, files in os.walk(path):
            for name in [root, *(os.path.join(root, f) for f in folders + files)]:
                os.chown(name, 0, 0, follow_symlinks=False)
