"""The Wine environment of the tests: the prefix, the virtual display and the persistent wineserver.

Everything here is started by the test run and stopped by it again. `Session` is used by the test runner
(which shares one display and wineserver between CTest and pytest) and by pytest alone.
"""
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
# Both can point elsewhere, so that a second run works beside the main one on its own build and prefix.
BUILD = Path(os.environ.get("KOVREL_BUILD") or ROOT / "build" / "win64")
DIST = BUILD / "dist"
PREFIX = Path(os.environ.get("KOVREL_WINEPREFIX") or BUILD / "wineprefix")
WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver64"
MUTEX_PREFIX = "Kovrel_check_period_mutex."
CLEANUP_ARGUMENT = "<:rokuta!velmoranpisuCLOSE!!:>"
SCREEN = (1280, 1024)


def log_path(section, folder, prefix=None, user=None):
    """The Linux path of the run log of the application in `folder` (its Windows path, ending in a backslash):
    %LOCALAPPDATA%\\Kovrel\\<identity>.log of the prefix's user, or of `user` in `prefix`."""
    return Path(prefix or PREFIX) / "drive_c" / "users" / (user or prefix_user()) / "AppData" / "Local" / "Kovrel" / \
        f"{application_identity(section, folder)}.log"


def application_folder(exe):
    """The Windows path of the folder of a Linux path, ending in a backslash, as the launcher derives it."""
    return windows_path(Path(exe).parent) + "\\"


# The locale of a system whose interface is not Japanese, for a test's programs (extra_env): Wine then
# reports English (0x409) and code page 1252.
ENGLISH_LOCALE = {"LC_ALL": "C.UTF-8", "LANG": "C.UTF-8"}
# A Japanese interface over code page 1252: the platform's loader would pick the Japanese texts, which that
# code page turns into question marks (an empty LC_ALL counts as unset).
JAPANESE_INTERFACE_WESTERN_CODE_PAGE = {"LC_ALL": "", "LANG": "C.UTF-8", "LC_MESSAGES": "ja_JP.UTF-8"}
# The dialog's font is not part of Wine: a Japanese proportional font installed on the machine takes its
# place, under its Japanese and its English name, and so does the font of Japanese title bars (MS UI Gothic).
# A virtual desktop of the screen's size gives windows the frame and title bar that Wine draws itself, as on
# Windows; without a window manager they would have none.
PREFIX_SETTINGS = """Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]
"ＭＳ Ｐゴシック"="IPAPGothic"
"MS PGothic"="IPAPGothic"
"MS UI Gothic"="IPAPGothic"

[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]
"Default"="{width}x{height}"
"""


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


def folder_on_another_file_system(near, prefix):
    """A new folder in /dev/shm, reached through drive Z:, where that is another file system than `near`'s
    (nothing can be moved between the two, only copied); None where it is not."""
    shm = Path("/dev/shm")
    if not shm.is_dir() or shm.stat().st_dev == Path(near).stat().st_dev:
        return None
    return Path(tempfile.mkdtemp(dir=shm, prefix=prefix))


def prefix_user():
    users = PREFIX / "drive_c" / "users"
    names = [p.name for p in users.iterdir() if p.name != "Public"] if users.exists() else []
    return names[0] if names else os.environ.get("USER", "root")


def temp_folder():
    """The Linux path of the prefix user's %TEMP% (C:\\users\\<user>\\Temp)."""
    return PREFIX / "drive_c" / "users" / prefix_user() / "Temp"


# Wine's own fonts (package fonts-wine) for what it draws itself: the glyphs of the title bar's buttons
# (Marlett) and its text (Tahoma). This Wine looks for them only in the prefix's font folder.
WINE_FONTS = Path("/usr/share/wine/fonts")


def install_wine_fonts(prefix=PREFIX):
    fonts = prefix / "drive_c" / "windows" / "Fonts"
    for name in ("marlett.ttf", "tahoma.ttf", "tahomabd.ttf"):
        source = WINE_FONTS / name
        if source.exists() and not (fonts / name).exists():
            fonts.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(source, fonts / name)


def install_standin_archivers():
    """Copies the stand-in archiver libraries into the prefix's system folder, where the worker's bare-name
    load finds them, as a user installs archiver libraries."""
    system = PREFIX / "drive_c" / "windows" / "system32"
    system.mkdir(parents=True, exist_ok=True)
    for name in ("Unlha32.dll", "Unzip32.dll", "tar32.dll", "cab32.dll", "unrar32.dll", "7-zip32.dll"):
        shutil.copyfile(BUILD / "archivers" / name, system / name)


def prefix_settings_applied(prefix=PREFIX):
    """True when the prefix's saved user registry already holds PREFIX_SETTINGS."""
    user_registry = prefix / "user.reg"
    if not user_registry.exists():
        return False
    saved = user_registry.read_text(encoding="utf-8", errors="replace")
    # Wine keeps the Japanese value name in escapes; the number of replacements counts it.
    return (saved.count('="IPAPGothic"') >= PREFIX_SETTINGS.count('="IPAPGothic"') and
            '"Desktop"="Default"' in saved and
            f'"Default"="{SCREEN[0]}x{SCREEN[1]}"' in saved)


def apply_prefix_settings(env, prefix=PREFIX, runner=()):
    """Writes PREFIX_SETTINGS into the prefix's registry (with `runner` before Wine's command, the command of
    another user); writing them again changes nothing."""
    text = PREFIX_SETTINGS.format(width=SCREEN[0], height=SCREEN[1]).replace("\n", "\r\n")
    with tempfile.TemporaryDirectory(dir=prefix / "drive_c") as folder:
        os.chmod(folder, 0o755)
        settings = Path(folder) / "kovrel-tests.reg"
        settings.write_bytes(b"\xff\xfe" + text.encode("utf-16-le"))
        subprocess.run([*runner, WINE, "reg", "import", "C:\\" + str(settings.relative_to(prefix / "drive_c"))],
                       env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=120, check=True)


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
            ["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp", "-screen", "0",
             f"{SCREEN[0]}x{SCREEN[1]}x24"],
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
        return self.start_wine()

    def start_wine(self):
        """The prefix, the wineserver and the stand-in archivers, on the display already chosen."""
        env = self.environment()
        # A wineserver left from an earlier run keeps its desktop on that run's display, which may be gone:
        # every window would then fail. Start from none.
        subprocess.run([WINESERVER, "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       check=False)
        subprocess.run([WINESERVER, "-w"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=120, check=False)
        if not (PREFIX / "system.reg").exists():
            PREFIX.mkdir(parents=True, exist_ok=True)
            subprocess.run([WINE, "wineboot", "-i"], env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=300, check=False)
            subprocess.run([WINESERVER, "-w"], env=env, timeout=300, check=False)
        install_wine_fonts()
        # The first program that opens a window makes the desktop; it must find the settings already there.
        # They are written by a wineserver of their own, which saves them when it ends.
        if not prefix_settings_applied():
            apply_prefix_settings(env)
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


def free_loopback_port():
    """A port that nothing listens on at the moment of the call (also: an address where a run finds nobody)."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class LoopbackServer:
    """A test server process on 127.0.0.1: its URLs, its log lines and its end."""

    process = None
    port = None

    def url(self, path):
        return f"http://127.0.0.1:{self.port}/{path.lstrip('/')}"

    @staticmethod
    def log_lines(log):
        return log.read_text(errors="replace").splitlines() if log.exists() else []

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=30)
        self.process = None


class Nginx(LoopbackServer):
    """Debian's nginx on a free loopback port, serving `root`; its pid, logs and temp folders live in `folder`.
    The access log has one line per request: `<request line> <status> <bytes sent>`.

    With tls=(certificate PEM, key PEM) it speaks HTTPS and its URLs name localhost, which the certificate
    names (Wine's name check refuses 127.0.0.1 there); its /to-http/<path> then answers 302 to
    `plain_base` + <path>, when given."""

    TEMPLATE = ROOT / "tests" / "e2e" / "nginx.conf.template"
    TLS_TEMPLATE = ROOT / "tests" / "e2e" / "nginx_tls.conf.template"

    def __init__(self, root, folder, tls=None, plain_base=None):
        self.root = Path(root)
        self.folder = Path(folder)
        self.tls = tls
        self.plain_base = plain_base
        self.process = None
        self.port = None

    def url(self, path):
        if not self.tls:
            return super().url(path)
        return f"https://localhost:{self.port}/{path.lstrip('/')}"

    def configuration(self):
        text = (self.TLS_TEMPLATE if self.tls else self.TEMPLATE).read_text()
        if self.tls:
            to_http = f"rewrite ^/to-http/(.*)$ {self.plain_base}$1 redirect;" if self.plain_base else "return 404;"
            text = (text.replace("@CERT@", str(Path(self.tls[0]).resolve()))
                    .replace("@KEY@", str(Path(self.tls[1]).resolve())).replace("@TO_HTTP@", to_http))
        return text.replace("@PREFIX@", str(self.folder)).replace("@ROOT@", str(self.root)) \
            .replace("@PORT@", str(self.port))

    def start(self, attempts=5):
        self.folder.mkdir(parents=True, exist_ok=True)
        # The port is free when chosen but nginx binds it a moment later; another process may win, so retry.
        for _ in range(attempts):
            self.port = free_loopback_port()
            conf = self.folder / "nginx.conf"
            conf.write_text(self.configuration())
            self.process = subprocess.Popen(
                ["/usr/sbin/nginx", "-p", str(self.folder), "-c", str(conf), "-g", "daemon off;"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if wait_until(lambda: self.process.poll() is not None or self._answers(), 30):
                if self.process.poll() is None:
                    return self
            self.stop()
        raise RuntimeError("nginx did not start: " + self.error_log())

    def _answers(self):
        try:
            with socket.create_connection(("127.0.0.1", self.port), timeout=1):
                return True
        except OSError:
            return False


    def requests(self):
        """The request lines of the access log, e.g. 'GET /a/Kovrel.ini HTTP/1.1 200 54'."""
        return self.log_lines(self.folder / "access.log")

    def error_log(self):
        log = self.folder / "error.log"
        return log.read_text(errors="replace") if log.exists() else ""



class FaultServer(LoopbackServer):
    """tests/support/fault_server.py serving `root`, with its port file and request log in `folder`."""

    SCRIPT = ROOT / "tests" / "support" / "fault_server.py"

    def __init__(self, root, folder, redirect_base=None):
        self.root = Path(root)
        self.folder = Path(folder)
        self.redirect_base = redirect_base
        self.process = None
        self.port = None

    def start(self):
        self.folder.mkdir(parents=True, exist_ok=True)
        port_file = self.folder / "fault_port"
        if port_file.exists():
            port_file.unlink()
        command = [sys.executable, str(self.SCRIPT), "--root", str(self.root), "--port-file", str(port_file),
                   "--log", str(self.folder / "fault_requests.log")]
        if self.redirect_base:
            command += ["--redirect-base", self.redirect_base]
        self.process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_until(lambda: port_file.exists() or self.process.poll() is not None, 30) \
                or self.process.poll() is not None:
            self.stop()
            raise RuntimeError("the fault server did not start")
        self.port = int(port_file.read_text())
        return self


    def requests(self):
        return self.log_lines(self.folder / "fault_requests.log")


def application_identity(section, app_path, encoding="cp932"):
    """The short name of one application that its lock, folders, cache and log carry (the product's
    common/application_identity.cpp): the section's name bytes, "-", FNV-1a of the application's folder (its
    Windows path up to the last backslash) + "|" + section, in upper case, as bytes of the ANSI code page."""
    folder = app_path[:app_path.rfind("\\") + 1]
    value = 0x811C9DC5
    for byte in (folder + "|" + section).encode(encoding, "replace").upper():
        value = ((value ^ byte) * 0x01000193) & 0xFFFFFFFF
    name = "".join(c if c.isascii() and (c.isalnum() or c in "._-") else "_"
                   for c in section.encode(encoding, "replace").decode("latin-1").lower())[:24]
    return f"{name}-{value:08x}"


def positional_tokens(arguments):
    """The launcher's positional tokens (common/command_tokens.h): blank-separated, a quote before the next
    blank makes a quoted token, an unquoted token starting with "-" is an option and takes no position."""
    tokens, i, n = [], 0, len(arguments)
    while True:
        while i < n and arguments[i] == " ":
            i += 1
        if i >= n:
            return tokens
        blank = arguments.find(" ", i)
        blank = n if blank < 0 else blank
        quote = arguments.find('"', i)
        if 0 <= quote < blank:
            closing = arguments.find('"', quote + 1)
            if closing < 0:
                return tokens
            tokens.append(arguments[quote + 1:closing])
            blank = arguments.find(" ", closing + 1)
            i = n if blank < 0 else blank
        else:
            if arguments[i] != "-":
                tokens.append(arguments[i:blank])
            i = blank


def identity_of_arguments(arguments, encoding="cp932"):
    """The identity of the application that a launcher's arguments name (path: token 1, section: token 2)."""
    tokens = positional_tokens(arguments) + ["", "", ""]
    return application_identity(tokens[2], tokens[1], encoding)


def run_folder(arguments, candidate=0):
    """The Linux path of the run folder in %TEMP% of the application that the arguments name."""
    suffix = f".{candidate}" if candidate else ""
    return temp_folder() / f"Kovrel-{identity_of_arguments(arguments)}{suffix}"


def machine_run_folder(arguments):
    """The Linux path of the same application's per-machine staging folder."""
    return PREFIX / "drive_c" / "ProgramData" / "Kovrel" / f"Staging-{identity_of_arguments(arguments)}"


def run_folders_left():
    """The run folders in %TEMP%: none once every run of a test has been cleaned up after."""
    return sorted(temp_folder().glob("Kovrel-*"))


def lock_name(arguments):
    return MUTEX_PREFIX + identity_of_arguments(arguments)
