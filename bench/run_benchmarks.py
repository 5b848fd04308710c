#!/usr/bin/env python3
"""Benchmarks of the worker against baselines measured in the same run, in the same Wine prefix; each timed
case is repeated and the median reported, as a ratio to its baseline, with the goal where there is one.

- download: the worker's download of a 100 MB archive from nginx on loopback, plain and with APP_SIZE and
  APP_SHA256 checked, against a plain WinINet loop with a 409,600-byte buffer (bench/support/wininet_fetch);
  curl to disk as information;
- copy: the copy stage replacing 2,000 files of 100 MB in all (the originals go to the backup), against
  Wine's xcopy of the same tree over an older copy of it; `cp -r` as information; as information too, the
  same with the work folder on another file system (/dev/shm), where every file is copied both ways;
- whole silent update (1 large file; 1,000 files of 50 KB; 10,000 files of 50 KB), each file replacing an
  older one, against the WinINet loop + the same stand-in archiver through a minimal loader
  (bench/support/archive_loader) + xcopy, back to back; curl + unzip + cp as information; the cost per file
  from 1,000 to 10,000 files, and where the time of the 1,000-file update goes, stage by stage;
- the 32-bit release's whole silent update through Kovrel.exe against the 64-bit Kovrel.exe's, in the
  prefix of the 32-bit tests (information only: the 32-bit build runs under emulation here, not Windows);
- memory: the worker's peak working set in a 1 GB and a 100 MB update (measured once: it is not a time);
- the sizes of the 32-bit Kovrel.exe and Kovrelw.exe.

The worker runs in-process through run_update_driver.exe (the update procedure with a recording window);
its reports are timestamped as they arrive, so a stage's time is the time between its reports. A silent run
reports nothing: its stages are read from the run log, whose lines carry the milliseconds since its start.
Every timed case, the worker's and the baselines' alike, starts with all earlier writes on the disk.

    bench/run [download] [copy] [whole] [memory]      (default: all groups)
"""
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
import release32  # noqa: E402
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
        return harness.PREFIX / "drive_c" / "users" / harness.prefix_user() / "AppData" / "Local" / "Kovrel" / \
            f"{sample_app.SECTION}.log"

    def run_driver(self, info_url, app, silent=False, confirm=True, where=None):
        """Runs the update procedure once (the run log starts empty). With confirm, the box that asks for the
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
        self.run_log().unlink(missing_ok=True)
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
                marks.append((STAGES[int(text.split()[1])], int(ticks)))
            elif text.startswith("end: "):
                marks.append(("end", int(ticks)))
        return {name: (after - ticks) / 1000 for (name, ticks), (_, after) in zip(marks, marks[1:])}, \
            marks[-1][1] / 1000

    def run_launcher(self, launcher, info_url, app):
        """One whole silent update through a launcher, from its start until the cleanup launcher has removed
        the temporary folder; returns the seconds taken."""
        temp = harness.temp_folder() / "Kovrel"
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
                               harness.MUTEX_NAME, "120000"], env=self.env, stdout=subprocess.DEVNULL,
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


def in_drive_c(name):
    folder = harness.PREFIX / "drive_c" / name
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    return folder


def bench_download(bench, nginx, scratch, rows):
    """A 100 MB archive that no archiver handles, so the run ends right after the download. The worker's
    time runs from opening the archive's request (the report of position 28) until the extraction stage
    begins (66), as the WinINet loop's runs from before its request is opened until its file is closed."""
    big = os.urandom(100 * MB)
    info, archive = bench.publish("big", big, "exe")
    checked_info, _ = bench.publish("bigchecked", big, "exe", checked=True)
    fetched = in_drive_c("bench-fetch") / "big.exe"
    worker, checked, fetch, hashed, curl = [], [], [], [], []
    logged = {info: [], checked_info: []}
    try:
        for _ in range(REPEAT):
            for url, times in ((info, worker), (checked_info, checked)):
                app = install_app()
                run = bench.run_driver(url, app, confirm=False)
                assert run.outcome() == NOT_UNPACKED, run.output.lines[-3:]
                times.append(run.between("progress 28", "progress 66"))
                # The same stages as the worker itself timed them, without the reports' way to this script.
                stages, _ = bench.stage_times()
                logged[url].append(sum(stages[name] for name in DOWNLOAD_STAGES))
                app.remove()
            settle()
            fetch.append(bench.fetch(nginx.url(archive.name), fetched))
            assert fetched.stat().st_size == len(big), "the WinINet loop fetched something else"
            fetched.unlink()
            settle()
            digest, seconds = bench.fetch_hashed(nginx.url(archive.name), fetched)
            assert digest == hashlib.sha256(big).hexdigest(), "the hashing loop hashed something else"
            hashed.append(seconds)
            fetched.unlink()
            settle()
            curl.append(timed(["curl", "-s", "-o", str(scratch / "big.exe"), nginx.url(archive.name)]))
    finally:
        shutil.rmtree(fetched.parent, ignore_errors=True)
    loop = "WinINet loop, 409,600-byte buffer"
    rows.append(Row("download 100 MB", median(worker), loop, median(fetch), ("≥", 0.95), speed=True))
    rows.append(Row("download 100 MB, size and SHA-256 checked", median(checked), loop, median(fetch),
                    ("≥", 0.90), speed=True))
    rows.append(Row("download 100 MB, the worker's own log", median(logged[info]), loop, median(fetch), speed=True))
    rows.append(Row("download 100 MB, checked, the worker's own log", median(logged[checked_info]), loop,
                    median(fetch), speed=True))
    rows.append(Row("download 100 MB, size and SHA-256 checked", median(checked), "WinINet loop hashing each read",
                    median(hashed), speed=True))
    rows.append(Row("download 100 MB", median(worker), "curl -o", median(curl), speed=True))
    rows.append(Row("download 100 MB, size and SHA-256 checked", median(checked), "unchecked download",
                    median(worker), speed=True))


def bench_copy(bench, nginx, scratch, rows):
    """The copy stage replacing 2,000 files, 100 MB, each of which the application folder already holds in
    an older version. xcopy copies the same tree over an older copy of it; its time is less the start of a
    Wine process (an xcopy of one small file, measured in the same run), as the copy stage's time holds
    none. Then, where /dev/shm is a file system of its own, the same with the work folder there."""
    files = tree_of(2000, 100 * MB // 2000)
    old = older(files)
    info, archive = bench.publish("copy", files)
    source = scratch / "copy-src"
    subprocess.run(["unzip", "-q", "-o", str(archive), "-d", str(source)], check=True)
    work = in_drive_c("bench-xcopy")
    shutil.copytree(source, work / "Src")
    write_tree(work / "One", {"one.txt": b"one"})
    # The work folder on another file system (/dev/shm, through drive Z:), as when the application lies on
    # another drive than the temporary folder: the originals are copied into the backup and the new files
    # copied out of the unpacked tree. xcopy then copies from that drive.
    elsewhere = harness.folder_on_another_file_system(harness.PREFIX, "kovrel-bench-")
    if elsewhere:
        shutil.copytree(source, elsewhere / "Src")
    worker, cp, xcopy, start, across, xcopy_across = [], [], [], [], [], []
    try:
        for _ in range(REPEAT):
            app = install_app(old)
            run = bench.run_driver(info, app)
            assert run.output.updated(), run.output.lines[-3:]
            assert_updated(app, files)
            worker.append(run.between("progress 72", "finished"))
            app.remove()
            target = scratch / "copy-dst"
            shutil.rmtree(target, ignore_errors=True)
            write_tree(target, old)
            settle()
            cp.append(timed(["cp", "-r", f"{source}/.", str(target)]))
            shutil.rmtree(work / "App", ignore_errors=True)
            write_tree(work / "App", old)
            settle()
            xcopy.append(bench.xcopy(work / "Src", work / "App"))
            assert (work / "App" / next(iter(files))).read_bytes() == next(iter(files.values()))
            shutil.rmtree(work / "OneCopy", ignore_errors=True)
            settle()
            start.append(bench.xcopy(work / "One", work / "OneCopy"))
        # Apart, so that the main row's runs follow one another as before.
        for _ in range(REPEAT if elsewhere else 0):
            app = install_app(old)
            run = bench.run_driver(info, app, where=elsewhere)
            assert run.output.updated(), run.output.lines[-3:]
            assert_updated(app, files)
            across.append(run.between("progress 72", "finished"))
            app.remove()
            shutil.rmtree(work / "App", ignore_errors=True)
            write_tree(work / "App", old)
            settle()
            xcopy_across.append(bench.xcopy(elsewhere / "Src", work / "App"))
    finally:
        shutil.rmtree(work, ignore_errors=True)
        if elsewhere:
            shutil.rmtree(elsewhere, ignore_errors=True)
    label = "copy stage, 2,000 files, 100 MB, with backup"
    rows.append(Row(label, median(worker), "wine xcopy over older copy", median(xcopy) - median(start),
                    ("≤", 1.05)))
    rows.append(Row(label, median(worker), "cp -r over older copy", median(cp)))
    if elsewhere:
        rows.append(Row("the same, work folder on another drive (backup copied)", median(across),
                        "wine xcopy from that drive", median(xcopy_across) - median(start)))
    else:
        NOTES.append("copy: /dev/shm is not a file system of its own here; the copy across drives was not run")
    NOTES.append(f"copy: the start of a Wine process (xcopy of one small file), taken off xcopy's time: "
                 f"{median(start):.2f} s")


def same_platform_update(bench, nginx, archive, old, files):
    """The WinINet loop, the stand-in archiver through the minimal loader and xcopy over an older copy of
    the application, back to back; returns the whole time and the three steps' own times."""
    work = in_drive_c("bench-baseline")
    try:
        write_tree(work / "App", old)
        settle()
        started = time.monotonic()
        fetch = bench.fetch(nginx.url(archive.name), work / archive.name)
        extract = bench.wine_program("archive_loader.exe", ARCHIVER, harness.windows_path(work / archive.name),
                                     harness.windows_path(work / "Src") + "\\")
        copy = bench.xcopy(work / "Src", work / "App")
        whole = time.monotonic() - started
        name = next(iter(files))
        assert (work / "App" / name).read_bytes() == files[name], "the baseline did not update"
        return whole, (fetch, extract, copy)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def native_update(nginx, scratch, archive, old):
    work = scratch / "whole"
    shutil.rmtree(work, ignore_errors=True)
    write_tree(work / "App", old)
    settle()
    started = time.monotonic()
    subprocess.run(["curl", "-s", "-o", str(work / "a.zip"), nginx.url(archive.name)], check=True)
    subprocess.run(["unzip", "-q", "-o", str(work / "a.zip"), "-d", str(work / "Src")], check=True)
    subprocess.run(["cp", "-r", f"{work / 'Src'}/.", str(work / "App")], check=True)
    elapsed = time.monotonic() - started
    shutil.rmtree(work, ignore_errors=True)
    return elapsed


def bench_whole(bench, nginx, scratch, rows):
    """Whole silent updates, each file replacing an older one; the same-platform baseline ends with the
    same files in place."""
    per_file = {}
    for label, count, size in (("1 large file", 1, 100 * MB), ("1,000 files, 50 MB", 1000, 50 * KB),
                               ("10,000 files, 500 MB", 10000, 50 * KB)):
        progress(f"whole: {label}")
        files = tree_of(count, size)
        old = older(files)
        info, archive = bench.publish(f"whole{count}", files)
        worker, baseline, native, stages, steps, logged = [], [], [], [], [], []
        for _ in range(REPEAT):
            app = install_app(old)
            run = bench.run_driver(info, app, silent=True)
            assert run.output.updated(), run.output.lines[-3:]
            assert_updated(app, files)
            worker.append(run.total)
            stage, end = bench.stage_times()
            stages.append(stage)
            logged.append(run.total - end)
            app.remove()
            whole, parts = same_platform_update(bench, nginx, archive, old, files)
            baseline.append(whole)
            steps.append(parts)
            native.append(native_update(nginx, scratch, archive, old))
        archive.unlink()
        goal = ("≤", 1.30) if count == 1000 else None
        rows.append(Row(f"silent update, {label}", median(worker), "WinINet loop + loader + xcopy",
                        median(baseline), goal))
        rows.append(Row(f"silent update, {label}", median(worker), "curl + unzip + cp", median(native)))
        if count > 1:
            per_file[count] = median(worker) * 1000 / count
        if count == 1000:
            NOTES.append(f"where the silent update of {label} goes (medians of {REPEAT}):")
            for name in STAGES:
                NOTES.append(f"  worker   {name:<24} {median([s.get(name, 0) for s in stages]):7.3f} s")
            NOTES.append(f"  worker   {'process start and end':<24} {median(logged):7.3f} s")
            for index, name in enumerate(("WinINet loop", "archive loader", "xcopy (with its start)")):
                NOTES.append(f"  baseline {name:<24} {median([parts[index] for parts in steps]):7.3f} s")
    rows.append(Row("silent update, cost per file, 10,000 files", per_file[10000], "the same, 1,000 files",
                    per_file[1000], ("±", 0.20), unit="ms/file"))


def bench_whole_32(bench, rows):
    """Whole silent updates through the 32-bit and the 64-bit Kovrel.exe, in turns, in the 32-bit tests'
    prefix (on its own display and wineserver): launcher, worker and cleanup launcher each time."""
    reason = release32.unavailable() or (release32.missing_build() and "scripts/build win32 has not run")
    if reason:
        print(f"32-bit whole update left out: {reason}")
        return
    saved_prefix = harness.PREFIX
    harness.PREFIX = release32.PREFIX
    session = None
    try:
        session = harness.Session().start()
        release32.install_standin_archivers(harness.PREFIX)
        launchers = Bench(session.environment(), bench.web, bench.nginx)
        for label, count, total in (("10 files", 10, 1 * MB), ("1,000 files", 1000, 50 * MB)):
            files = tree_of(count, total // count)
            info, _ = launchers.publish(f"whole32-{count}", files)
            times = {release32.LAUNCHER: [], harness.DIST / "Kovrel.exe": []}
            for _ in range(REPEAT):
                for launcher, seconds in times.items():
                    app = install_app()
                    seconds.append(launchers.run_launcher(launcher, info, app))
                    assert_updated(app, files)
                    app.remove()
            rows.append(Row(f"32-bit silent update, {label}", median(times[release32.LAUNCHER]),
                            "64-bit Kovrel.exe", median(times[harness.DIST / "Kovrel.exe"])))
    finally:
        if session:
            session.stop()
        harness.PREFIX = saved_prefix


def bench_whole_both(bench, nginx, scratch, rows):
    bench_whole(bench, nginx, scratch, rows)
    bench_whole_32(bench, rows)


def bench_memory(bench, nginx, scratch, rows):
    """The driver's peak working set in silent runs over archives of 100 MB and of 1,000 MB (the stand-in
    archivers take nothing of 1 GiB or more): a checked download alone (an archive no archiver handles, so the
    run ends after it), where only the worker's own code runs, and a whole update of files of 1 MB, where
    the stand-in archiver runs in the same process and holds the whole archive and every entry in memory
    while it unpacks, so that row shows the stand-in's growth (information)."""
    for label, extension in (("checked download", "exe"), ("whole update, files of 1 MB", "zip")):
        peaks = []
        for total in (100 * MB, 1000 * MB):
            archive = bench.web / f"memory-{total // MB}.{extension}"
            try:
                if extension == "zip":
                    write_large_stored_zip(archive, total // MB, total)
                else:
                    write_large_file(archive, total)
                info, _ = bench.publish(archive.stem, None, archive=archive, checked=extension == "exe")
                app = install_app()
                try:
                    run = bench.run_driver(info, app, silent=True)
                    finished = run.output.updated() if extension == "zip" else run.outcome() == NOT_UNPACKED
                    assert finished and run.output.peak_working_set, run.output.lines[-3:]
                    peaks.append(run.output.peak_working_set / MB)
                finally:
                    app.remove()
            finally:
                archive.unlink(missing_ok=True)
        rows.append(Row(f"peak working set, {label}, 1,000 MB", peaks[1], "the same, 100 MB", peaks[0],
                        ("≤", 1.10) if extension == "exe" else None, unit="MB"))
    NOTES.append("memory: the whole update's peak holds the stand-in archiver's copy of the archive and of every "
                 "entry (it runs in the worker's process); the worker's own part is the checked download's")


GROUPS = {"download": bench_download, "copy": bench_copy, "whole": bench_whole_both, "memory": bench_memory}


def main():
    chosen = sys.argv[1:] or list(GROUPS)
    unknown = [name for name in chosen if name not in GROUPS]
    if unknown:
        print(f"unknown groups {unknown}; choose from {list(GROUPS)}", file=sys.stderr)
        return 2
    session = harness.Session().start()
    web = Path(tempfile.mkdtemp(prefix="kovrel-bench-web-"))
    nginx_folder = Path(tempfile.mkdtemp(prefix="kovrel-bench-nginx-"))
    nginx = harness.Nginx(web, nginx_folder).start()
    bench = Bench(session.environment(), web, nginx)
    rows = []
    scratch = Path(tempfile.mkdtemp(prefix="kovrel-bench-"))
    try:
        for name in chosen:
            progress(f"{name} ...")
            GROUPS[name](bench, nginx, scratch, rows)
        report(rows)
        print()
        for note in NOTES:
            print(note)
        print()
        for name in ("Kovrel.exe", "Kovrelw.exe"):
            path = harness.ROOT / "build" / "win32" / "dist" / name
            print(f"32-bit {name}: {path.stat().st_size} bytes" if path.exists() else
                  f"32-bit {name}: not built (scripts/build win32)")
    finally:
        nginx.stop()
        shutil.rmtree(nginx_folder, ignore_errors=True)
        shutil.rmtree(web, ignore_errors=True)
        shutil.rmtree(scratch, ignore_errors=True)
        session.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
