#!/usr/bin/env python3
"""Benchmarks of the worker against baselines measured in the same run; each case is repeated and the
median reported, as a ratio to its baseline.

- download: the worker's download of a 100 MB archive from nginx on loopback, against curl to disk, and the
  same download checked against APP_SIZE and APP_SHA256, against the unchecked one;
- copy: the copy stage on 2,000 files of 100 MB in all, against `cp -r` and against Wine's xcopy;
- whole silent update (1 large file; 1,000 files; 10,000 small files) against curl + unzip + cp, and the 32-bit
  release's whole silent update through Kovrel.exe against the 64-bit Kovrel.exe's, in the prefix of the
  32-bit tests (information only: the 32-bit build runs under emulation here, which is not Windows);
- the sizes of the 32-bit Kovrel.exe and Kovrelw.exe.

The worker runs in-process through run_update_driver.exe (the update procedure with a recording window);
its reports are timestamped as they arrive, so a stage's time is the time between its reports.

    bench/run [download] [copy] [whole]      (default: all groups)
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "support"))
import harness  # noqa: E402
import release32  # noqa: E402
import sample_app  # noqa: E402

REPEAT = int(os.environ.get("KOVREL_BENCH_REPEAT", "3"))
MB = 1024 * 1024


def write_stored_zip(path, files):
    """A zip of stored entries (the archiver's time is not what is measured)."""
    import zipfile
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as archive:
        for name, data in files.items():
            archive.writestr(name, data)


def tree_of(count, total):
    size = total // count
    block = os.urandom(size)
    return {f"d{i % 20:02d}/f{i:05d}.bin": block for i in range(count)}


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

    def run_driver(self, info_url, app, silent=False):
        """Runs the update procedure once; returns {report: first time seen} and the final line."""
        folder = Path(tempfile.mkdtemp(dir=harness.PREFIX / "drive_c", prefix="bench-driver-"))
        exe = folder / "run_update_driver.exe"
        shutil.copyfile(harness.DIST / "run_update_driver.exe", exe)
        # The worker reads the publisher's keys (none here) from the launcher beside it.
        shutil.copyfile(harness.DIST / "Kovrel.exe", folder / "Kovrel.exe")
        tail = folder / "tail.txt"
        options = " -s1" if silent else ""
        tail.write_text(f'"{harness.windows_path(folder / "Kovrel.exe")}" {info_url} "{app.windows_exe()}" '
                        f'{sample_app.SECTION} 1.0{options}', encoding="utf-8")
        stop = threading.Event()
        answerer = threading.Thread(target=self.answer_box, args=(stop,), daemon=True)
        answerer.start()
        started = time.monotonic()
        process = subprocess.Popen([harness.WINE, str(exe), harness.windows_path(tail)], env=self.env,
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        seen = {}
        final = None
        for raw in process.stdout:
            line = raw.decode("utf-8", "replace").strip()
            seen.setdefault(line, time.monotonic() - started)
            final = line
        process.wait()
        total = time.monotonic() - started
        stop.set()
        answerer.join(timeout=10)
        sample_app.make_writable(folder)
        shutil.rmtree(folder, ignore_errors=True)
        return seen, final, total

    def run_launcher(self, launcher, info_url, app):
        """One whole silent update through a launcher, from its start until the cleanup launcher has removed
        the temporary folder; returns the seconds taken."""
        temp = harness.temp_folder() / "Kovrel"
        stop = threading.Event()
        answerer = threading.Thread(target=self.answer_box, args=(stop,), daemon=True)
        answerer.start()
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

    def publish(self, name, files, extension="zip", checked=False):
        archive = self.web / f"{name}.{extension}"
        if extension == "zip":
            write_stored_zip(archive, files)
        else:
            archive.write_bytes(files)
        text = sample_app.info_text(self.nginx.url(archive.name), "1.1")
        if checked:
            import hashlib
            data = archive.read_bytes()
            text += f"APP_SIZE={len(data)}\r\nAPP_SHA256={hashlib.sha256(data).hexdigest()}\r\n".encode()
        (self.web / f"{name}.ini").write_bytes(text)
        return self.nginx.url(f"{name}.ini"), archive


def timed(command, **kwargs):
    started = time.monotonic()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kwargs)
    return time.monotonic() - started


def median(values):
    return statistics.median(values)


def report(rows):
    print()
    print(f"{'case':<44} {'worker s':>9} {'baseline':<22} {'base s':>8} {'ratio':>7}")
    for case, worker, baseline, base in rows:
        print(f"{case:<44} {worker:9.2f} {baseline:<22} {base:8.2f} {worker / base:7.2f}")


def bench_download(bench, nginx, scratch, rows):
    """A 100 MB archive that no archiver handles, so the run ends right after the download."""
    big = os.urandom(100 * MB)
    info, archive = bench.publish("big", big, "exe")
    checked_info, _ = bench.publish("bigchecked", big, "exe", checked=True)
    worker, checked, curl = [], [], []
    for _ in range(REPEAT):
        for url, times in ((info, worker), (checked_info, checked)):
            app = sample_app.SampleApp().install()
            seen, final, _ = bench.run_driver(url, app)
            times.append(seen["progress 66"] - seen["progress 38"])
            app.remove()
        curl.append(timed(["curl", "-s", "-o", str(scratch / "big.exe"), nginx.url(archive.name)]))
    rows.append(("download 100 MB", median(worker), "curl -o", median(curl)))
    rows.append(("download 100 MB, size and SHA-256 checked", median(checked), "unchecked download",
                 median(worker)))


def bench_copy(bench, nginx, scratch, rows):
    """The copy stage on 2,000 files, 100 MB."""
    files = tree_of(2000, 100 * MB)
    info, archive = bench.publish("copy", files)
    worker, cp, xcopy = [], [], []
    source = scratch / "copy-src"
    shutil.rmtree(source, ignore_errors=True)
    subprocess.run(["unzip", "-q", "-o", str(archive), "-d", str(source)], check=True)
    xcopy_source = harness.PREFIX / "drive_c" / "bench-xcopy-src"
    shutil.rmtree(xcopy_source, ignore_errors=True)
    shutil.copytree(source, xcopy_source)
    for _ in range(REPEAT):
        app = sample_app.SampleApp().install()
        seen, final, total = bench.run_driver(info, app)
        end = seen.get("finished", total)
        worker.append(end - seen["progress 72"])
        app.remove()
        target = scratch / "copy-dst"
        shutil.rmtree(target, ignore_errors=True)
        cp.append(timed(["cp", "-r", str(source), str(target)]))
        xcopy_target = harness.PREFIX / "drive_c" / "bench-xcopy-dst"
        shutil.rmtree(xcopy_target, ignore_errors=True)
        xcopy.append(timed([harness.WINE, "xcopy", "/E", "/I", "/Q", "/Y", harness.windows_path(xcopy_source),
                            harness.windows_path(xcopy_target)], env=bench.env))
    rows.append(("copy stage, 2,000 files, 100 MB", median(worker), "cp -r", median(cp)))
    rows.append(("copy stage, 2,000 files, 100 MB", median(worker), "wine xcopy", median(xcopy)))
    shutil.rmtree(xcopy_source, ignore_errors=True)


def bench_whole(bench, nginx, scratch, rows):
    """Whole silent updates."""
    for label, count, total in (("1 large file", 1, 100 * MB), ("1,000 files", 1000, 50 * MB),
                                ("10,000 small files", 10000, 20 * MB)):
        files = tree_of(count, total)
        info, archive = bench.publish(f"whole{count}", files)
        worker, baseline = [], []
        for _ in range(REPEAT):
            app = sample_app.SampleApp().install()
            _, final, elapsed = bench.run_driver(info, app, silent=True)
            assert final and final.startswith("state 1 result 15"), final
            worker.append(elapsed)
            app.remove()
            work = scratch / "whole"
            shutil.rmtree(work, ignore_errors=True)
            work.mkdir()
            started = time.monotonic()
            subprocess.run(["curl", "-s", "-o", str(work / "a.zip"), nginx.url(archive.name)], check=True)
            subprocess.run(["unzip", "-q", "-o", str(work / "a.zip"), "-d", str(work / "Src")], check=True)
            subprocess.run(["cp", "-r", str(work / "Src"), str(work / "App")], check=True)
            baseline.append(time.monotonic() - started)
        rows.append((f"silent update, {label}", median(worker), "curl + unzip + cp", median(baseline)))


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
            files = tree_of(count, total)
            info, _ = launchers.publish(f"whole32-{count}", files)
            times = {release32.LAUNCHER: [], harness.DIST / "Kovrel.exe": []}
            for _ in range(REPEAT):
                for launcher, seconds in times.items():
                    app = sample_app.SampleApp().install()
                    seconds.append(launchers.run_launcher(launcher, info, app))
                    name = next(iter(files))
                    assert (app.folder / name).read_bytes() == files[name], "the update did not happen"
                    app.remove()
            rows.append((f"32-bit silent update, {label}", median(times[release32.LAUNCHER]),
                         "64-bit Kovrel.exe", median(times[harness.DIST / "Kovrel.exe"])))
    finally:
        if session:
            session.stop()
        harness.PREFIX = saved_prefix


def bench_whole_both(bench, nginx, scratch, rows):
    bench_whole(bench, nginx, scratch, rows)
    bench_whole_32(bench, rows)


GROUPS = {"download": bench_download, "copy": bench_copy, "whole": bench_whole_both}


def main():
    chosen = sys.argv[1:] or list(GROUPS)
    unknown = [name for name in chosen if name not in GROUPS]
    if unknown:
        print(f"unknown groups {unknown}; choose from {list(GROUPS)}", file=sys.stderr)
        return 2
    session = harness.Session().start()
    web = Path(tempfile.mkdtemp(prefix="kovrel-bench-web-"))
    nginx = harness.Nginx(web, Path(tempfile.mkdtemp(prefix="kovrel-bench-nginx-"))).start()
    bench = Bench(session.environment(), web, nginx)
    rows = []
    scratch = Path(tempfile.mkdtemp(prefix="kovrel-bench-"))
    try:
        for name in chosen:
            GROUPS[name](bench, nginx, scratch, rows)
        report(rows)
        print()
        for name in ("Kovrel.exe", "Kovrelw.exe"):
            path = harness.ROOT / "build" / "win32" / "dist" / name
            print(f"32-bit {name}: {path.stat().st_size} bytes")
    finally:
        nginx.stop()
        shutil.rmtree(web, ignore_errors=True)
        shutil.rmtree(scratch, ignore_errors=True)
        session.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
