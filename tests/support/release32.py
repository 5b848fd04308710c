"""The 32-bit release (build/win32) under wine32 on qemu-i386, as scripts/setup prepares it: where its files
are, whether 32-bit programs can run here at all, and the stand-in archivers of its Wine prefix.

The release tests use a prefix of their own (a 64-bit one that also holds wine32's 32-bit system): the 64-bit
tools of the tests (window driver, file holder) run natively in it and see the 32-bit windows, since both
talk to the same wineserver.
"""
import os
import shutil
import subprocess
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
# Both can point elsewhere, so that a second run works beside the main one on its own build and prefix;
# KOVREL_RELEASE names the release's dist folder, as in test_build.py.
DIST = Path(os.environ.get("KOVREL_RELEASE") or ROOT / "build" / "win32" / "dist")
PREFIX = Path(os.environ.get("KOVREL_RELEASE_PREFIX") or DIST.parent / "wineprefix")
LAUNCHER = DIST / "Kovrel.exe"
WORKER = DIST / "Kovrelw.exe"
ARCHIVERS = DIST.parent / "archivers"

EMULATION = Path("/usr/local/lib/kovrel-i386")
BINFMT = Path("/proc/sys/fs/binfmt_misc")
ENTRY = BINFMT / "kovrel-i386"
WINE32_LOADER = Path("/usr/lib/wine/wine")
ARCHIVER_NAMES = ("Unlha32.dll", "Unzip32.dll", "tar32.dll", "cab32.dll", "unrar32.dll", "7-zip32.dll")


def unavailable():
    """None when the 32-bit release can run here; otherwise why not, in a sentence."""
    if not (BINFMT / "register").exists():
        return "binfmt_misc is not mounted (scripts/setup mounts it as root; it could not here)"
    if not ENTRY.exists():
        return f"no binfmt_misc entry {ENTRY.name} for 32-bit programs (scripts/setup registers it as root)"
    if ENTRY.read_text().splitlines()[0] != "enabled":
        return f"the binfmt_misc entry {ENTRY.name} is disabled"
    if not WINE32_LOADER.exists():
        return "wine32 is not installed (scripts/setup installs it)"
    try:
        probe = subprocess.run([str(EMULATION / "emulation_probe")], stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, timeout=120, check=False)
    except OSError as error:
        return f"a 32-bit program does not start: {error}"
    except subprocess.TimeoutExpired:
        return "a 32-bit program did not end within 120 s"
    if probe.returncode != 0:
        output = probe.stdout.decode("utf-8", "replace").strip()
        return f"32-bit programs do not run with the emulation fixes: {output or probe.returncode}"
    return None


def missing_build():
    """The files of the win32 build that the release tests need and do not find."""
    return [path for path in [LAUNCHER] + [ARCHIVERS / name for name in ARCHIVER_NAMES] if not path.exists()]


def install_standin_archivers(prefix):
    """Copies the 32-bit stand-in archiver libraries into the prefix's 32-bit system folder (SysWOW64),
    where the 32-bit worker's bare-name load finds them."""
    system = Path(prefix) / "drive_c" / "windows" / "syswow64"
    system.mkdir(parents=True, exist_ok=True)
    for name in ARCHIVER_NAMES:
        shutil.copyfile(ARCHIVERS / name, system / name)


def emulated_programs(prefix):
    """The file names (lower case) of the Windows programs that run under qemu-i386 in the prefix now."""
    names = []
    wanted = b"WINEPREFIX=" + str(prefix).encode()
    for process in Path("/proc").glob("[0-9]*"):
        try:
            arguments = (process / "cmdline").read_bytes().split(b"\0")
            if not arguments[0].endswith(b"qemu-i386-static"):
                continue
            if wanted not in (process / "environ").read_bytes().split(b"\0"):
                continue
        except OSError:
            continue  # the process has ended meanwhile
        for argument in arguments[1:]:
            if argument.lower().endswith(b".exe"):
                names.append(argument.decode("utf-8", "replace").replace("\\", "/").rsplit("/", 1)[-1].lower())
    return names
