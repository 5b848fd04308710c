"""What the benchmarks share: the table of rows and its report, timing, archives and trees of files, and the
Bench record that runs the worker, the launcher and the baselines in one Wine prefix."""
import hashlib
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import zipfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "support"))
import driver_output  # noqa: E402
import harness  # noqa: E402
import sample_app  # noqa: E402

REPEAT = int(os.environ.get("KOVREL_BENCH_REPEAT", "3"))
KB = 1024
MB = 1024 * 1024
FETCH_BUFFER = 409600
ARCHIVER = "Unzip32.dll"
XCOPY = ["xcopy", "/E", "/I", "/Q", "/Y"]
# The update procedure's stages, in the order of their numbers (src/worker/update/update_stages.h).
STAGES = ("connect", "open information", "information buffer", "work folder", "information file",
          "download information", "check information", "open archive", "archive file", "archive buffer",
          "download archive", "extract", "confirm close", "replace files", "finish")
# The archive's stages, from opening its request to the end of its body.
DOWNLOAD_STAGES = ("open archive", "archive file", "archive buffer", "download archive")
# The outcome of a run over an archive that no archiver handles: downloaded (and checked), then not unpacked.
NOT_UNPACKED = (driver_output.STATE_FAILED, 12, 30109)
# Lines printed after the table: what a row alone does not show.
NOTES = []


class Row:
    """One line of the table. A time row's ratio is worker / baseline; a speed row's (downloads) is
    baseline / worker, so that both read as the goal says. goal: None (information), ("≥", x), ("≤", x) or
    ("±", x) for a ratio within 1 ± x."""

    def __init__(self, case, worker, baseline, base, goal=None, speed=False, unit="s"):
        self.case, self.worker, self.baseline, self.base = case, worker, baseline, base
        self.goal, self.speed, self.unit = goal, speed, unit

    @property
    def ratio(self):
        return self.base / self.worker if self.speed else self.worker / self.base

    def goal_text(self):
        if not self.goal:
            return "info"
        sign, value = self.goal
        return f"{sign} {value:.2f}" if sign != "±" else f"1 ± {value:.2f}"

    def met(self):
        if not self.goal:
            return ""
        sign, value = self.goal
        ratio = round(self.ratio, 2)
        return "yes" if (ratio >= value if sign == "≥" else ratio <= value if sign == "≤"
                         else abs(ratio - 1) <= value) else "NO"


def value_text(value, unit):
    return f"{value:.2f} {unit}" if unit == "s" else f"{value:.1f} {unit}"


def report(rows):
    print()
    print("ratio: worker time / baseline time; (speed) rows: baseline time / worker time")
    print(f"{'case':<60} {'worker':>13} {'baseline':<34} {'base':>13} {'ratio':>6} {'goal':>9} {'met':>4}")
    for row in rows:
        case = row.case + (" (speed)" if row.speed else "")
        print(f"{case:<60} {value_text(row.worker, row.unit):>13} {row.baseline:<34} "
              f"{value_text(row.base, row.unit):>13} {row.ratio:6.2f} {row.goal_text():>9} {row.met():>4}")


def progress(text):
    """Where a long run is, on stderr: the table stays alone on stdout."""
    print(text, file=sys.stderr, flush=True)


def median(values):
    return statistics.median(values)


def settle():
    """Puts every write so far on the disk. Each timed case starts so, as an installed application's files
    are on the disk: otherwise the writeback of one case lands in the time of the next, and a baseline that
    overwrites files just written frees blocks that were never even allocated. The steps within a case are
    not settled in between."""
    os.sync()


def timed(command, **kwargs):
    started = time.monotonic()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kwargs)
    return time.monotonic() - started


def write_stored_zip(path, files):
    """A zip of stored entries (the archiver's time is not what is measured)."""
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as archive:
        for name, data in files.items():
            archive.writestr(name, data)


def write_large_stored_zip(path, count, total):
    """A stored zip of `count` files of total/count bytes each, written a block at a time."""
    block = os.urandom(MB)
    size = total // count
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED, allowZip64=True) as archive:
        for index in range(count):
            with archive.open(f"d{index % 20:02d}/big{index:05d}.bin", "w") as entry:
                left = size
                while left:
                    entry.write(block[:min(left, len(block))])
                    left -= min(left, len(block))


def write_large_file(path, total):
    block = os.urandom(MB)
    with open(path, "wb") as file:
        for _ in range(total // MB):
            file.write(block)


def tree_of(count, size):
    """`count` files of `size` bytes in 20 folders; all hold the same random block."""
    block = os.urandom(size)
    return {f"d{i % 20:02d}/f{i:05d}.bin": block for i in range(count)}


def older(files):
    """The same names with other contents of the same sizes: what an update replaces."""
    blocks = {}
    return {name: blocks.setdefault(len(data), os.urandom(len(data))) for name, data in files.items()}


def write_tree(root, files):
    for name, data in files.items():
        path = Path(root) / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)


def install_app(files=None):
    """Version 1.0 of the sample application, holding an older copy of every file the update brings."""
    return sample_app.SampleApp().install(dict(sample_app.VERSION_1_0, **(files or {})))


def assert_updated(app, files):
    name = next(iter(files))
    assert (app.folder / name).read_bytes() == files[name], "the update did not happen"


class DriverRun:
    """One run of run_update_driver.exe: what it printed (output), {line: seconds since its start, first time
    seen} and the whole time of the process."""

    def __init__(self, seen, lines, total):
        self.output = driver_output.parse(lines)
        self.seen = seen
        self.total = total

    def outcome(self):
        return self.output.state, self.output.result, self.output.message

    def between(self, first, last):
        assert first in self.seen and last in self.seen, f"no {first!r} or {last!r}: {self.output.lines[-5:]}"
        return self.seen[last] - self.seen[first]


class Bench:
    def __init__(self, env, web, nginx):
        self.env = env
        self.web = web
        self.nginx = nginx

    def answer_box(self, stop):
        # The confirmation that the application is closed, answered as soon as it shows.
        while not stop.is_set():
            code = subprocess.run([harness.WINE, str(harness.DIST / "window_driver.exe"), "press", "Kovrel", "OK",
                                   "2000"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                  check=False).returncode
            if code == 0:
                return

    def run_log(self):
        """The log of the application of the last run_driver."""
        return harness.log_path(sample_app.SECTION, harness.application_folder(self.app.exe))

    @staticmethod
    def archive_cache():
        """The archive cache of the driver's runs: per machine, as Wine's full token makes them elevated."""
        return harness.PREFIX / "drive_c" / "ProgramData" / "Kovrel" / "Cache"

    def run_driver(self, info_url, app, silent=False, confirm=True, where=None, keep_cache=False):
        """Runs the update procedure once (the run log starts empty, and the archive cache too unless kept). With confirm, the box that asks for the
        application to be closed is answered; a run that ends before it is better timed without the answerer,
        whose Wine processes would compete with it for the processors. The driver, and with it the work
        folder, lies in drive C: or in `where`."""
        folder = Path(tempfile.mkdtemp(dir=where or harness.PREFIX / "drive_c", prefix="bench-driver-"))
        exe = folder / "run_update_driver.exe"
        shutil.copyfile(harness.DIST / "run_update_driver.exe", exe)
        # The worker reads the publisher's keys (none here) from the launcher beside it.
        shutil.copyfile(harness.DIST / "Kovrel.exe", folder / "Kovrel.exe")
        tail = folder / "tail.txt"
        options = " -s1" if silent else ""
        tail.write_text(f'"{harness.windows_path(folder / "Kovrel.exe")}" {info_url} "{app.windows_exe()}" '
                        f'{sample_app.SECTION} 1.0{options}', encoding="utf-8")
        self.app = app
        self.run_log().unlink(missing_ok=True)
        # Each run downloads: an archive kept by the run before would be used again without a request.
        if not keep_cache:
            shutil.rmtree(self.archive_cache(), ignore_errors=True)
        settle()
        stop = threading.Event()
        answerer = threading.Thread(target=self.answer_box, args=(stop,), daemon=True)
        if confirm:
            answerer.start()
        started = time.monotonic()
        process = subprocess.Popen([harness.WINE, str(exe), harness.windows_path(tail)], env=self.env,
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        seen = {}
        lines = []
        for raw in process.stdout:
            line = raw.decode("utf-8", "replace").strip()
            seen.setdefault(line, time.monotonic() - started)
            lines.append(line)
        process.wait()
        total = time.monotonic() - started
        stop.set()
        if confirm:
            answerer.join(timeout=10)
        sample_app.make_writable(folder)
        shutil.rmtree(folder, ignore_errors=True)
        return DriverRun(seen, lines, total)

    def stage_times(self):
        """{stage name: seconds} of the last run, from its run log, and the seconds from the log's start to its
        end line."""
        lines = self.run_log().read_bytes().decode("cp932").split("\r\n")[:-1]
        marks = []
        for line in lines:
            ticks, text = line.split(" ", 1)
            if text.startswith("stage "):
                # "stage <number> <name>"
                marks.append((text.split(" ", 2)[2], int(ticks)))
            elif text.startswith("end: "):
                marks.append(("end", int(ticks)))
        return {name: (after - ticks) / 1000 for (name, ticks), (_, after) in zip(marks, marks[1:])}, \
            marks[-1][1] / 1000

    def run_launcher(self, launcher, info_url, app):
        """One whole silent update through a launcher, from its start until the cleanup launcher has removed
        the temporary folder; returns the seconds taken."""
        identity = harness.application_identity(sample_app.SECTION, app.windows_exe())
        temp = harness.temp_folder() / f"Kovrel-{identity}"
        stop = threading.Event()
        answerer = threading.Thread(target=self.answer_box, args=(stop,), daemon=True)
        answerer.start()
        settle()
        started = time.monotonic()
        subprocess.run([harness.WINE, harness.windows_path(launcher), info_url, app.windows_exe(),
                        sample_app.SECTION, "1.0", "-s1"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=600, check=True)
        assert harness.wait_until(lambda: not temp.exists(), 600, interval=0.02), f"{temp} stayed"
        elapsed = time.monotonic() - started
        stop.set()
        answerer.join(timeout=10)
        code = subprocess.run([harness.WINE, str(harness.DIST / "window_driver.exe"), "wait-mutex-free",
                               harness.MUTEX_PREFIX + identity, "120000"], env=self.env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, check=False).returncode
        assert code == 0, "the worker still runs after its folder was removed"
        return elapsed

    def publish(self, name, files, extension="zip", checked=False, archive=None):
        """The archive (unless already written at `archive`) and its information file; returns the
        information file's URL and the archive's path."""
        if archive is None:
            archive = self.web / f"{name}.{extension}"
            if extension == "zip":
                write_stored_zip(archive, files)
            else:
                archive.write_bytes(files)
        text = sample_app.info_text(self.nginx.url(archive.name), "1.1")
        if checked:
            digest = hashlib.sha256()
            with open(archive, "rb") as file:
                for block in iter(lambda: file.read(MB), b""):
                    digest.update(block)
            text += f"APP_SIZE={archive.stat().st_size}\r\nAPP_SHA256={digest.hexdigest()}\r\n".encode()
        (self.web / f"{name}.ini").write_bytes(text)
        return self.nginx.url(f"{name}.ini"), archive

    def wine_program(self, name, *arguments):
        """Runs one of the bench's Wine programs; returns the milliseconds it printed, in seconds."""
        result = subprocess.run([harness.WINE, str(harness.DIST / name), *arguments], env=self.env,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=1200, check=False)
        assert result.returncode == 0, f"{name} {' '.join(arguments)}: exit code {result.returncode:#x}, " \
            f"{result.stdout.decode(errors='replace')} {result.stderr.decode(errors='replace')}"
        return float(result.stdout.decode().split()[-1]) / 1000

    def fetch(self, url, target):
        """The plain WinINet loop: the seconds of the transfer alone."""
        return self.wine_program("wininet_fetch.exe", url, harness.windows_path(target), str(FETCH_BUFFER))

    def fetch_hashed(self, url, target):
        """The plain WinINet loop hashing each read as it writes it: (hex digest, seconds of the transfer)."""
        result = subprocess.run([harness.WINE, str(harness.DIST / "wininet_fetch.exe"), url,
                                 harness.windows_path(target), str(FETCH_BUFFER), "sha256"], env=self.env,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=1200, check=True)
        digest, milliseconds = result.stdout.decode().split()
        return digest, float(milliseconds) / 1000

    def xcopy(self, source, target):
        return timed([harness.WINE, *XCOPY, harness.windows_path(source), harness.windows_path(target)],
                     env=self.env)
