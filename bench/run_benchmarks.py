#!/usr/bin/env python3
"""Benchmarks of the worker against baselines measured in the same run, in the same Wine prefix; each timed
case is repeated and the median reported, as a ratio to its baseline, with the goal where there is one.

- download: the worker's download of a 100 MB archive from nginx on loopback, plain and with APP_SIZE and
  APP_SHA256 checked, against a plain WinINet loop with a 409,600-byte buffer (bench/support/wininet_fetch);
  curl to disk as information;
- copy: the copy stage replacing 2,000 files of 100 MB in all (the originals go to the backup), against
  Wine's xcopy of the same tree over an older copy of it; `cp -r` as information; as information too, the
  same with the work folder on another file system (/dev/shm), where every file is copied both ways;
- unpack: the worker's own unpacker alone on a deflated zip of 1,000 files of 50 KB, against the stand-in
  archiver through the minimal loader, and on one 100 MB file in a .gz, against zlib's inflate between
  ReadFile and WriteFile (bench/support/gz_inflate);
- whole silent update (1 large file; 1,000 files of 50 KB; 10,000 files of 50 KB), each file replacing an
  older one, against the WinINet loop + the same stand-in archiver through a minimal loader
  (bench/support/archive_loader) + xcopy, back to back; curl + unzip + cp as information; the cost per file
  from 1,000 to 10,000 files, and where the time of the 1,000-file update goes, stage by stage;
- the 32-bit release's whole silent update through Kovrel.exe against the 64-bit Kovrel.exe's, in the
  prefix of the 32-bit tests (information only: the 32-bit build runs under emulation here, not Windows);
- check: the whole process of a check when up to date (Kovrel.exe -k1) against a plain WinINet fetch of the
  same information file, with where its time goes (bench/bench_check.py);
- memory: the worker's peak working set in a 1 GB and a 100 MB update (measured once: it is not a time);
- the sizes of the 32-bit Kovrel.exe and Kovrelw.exe.

The worker runs in-process through run_update_driver.exe (the update procedure with a recording window);
its reports are timestamped as they arrive, so a stage's time is the time between its reports. A silent run
reports nothing: its stages are read from the run log, whose lines carry the milliseconds since its start.
Every timed case, the worker's and the baselines' alike, starts with all earlier writes on the disk.

    bench/run [download] [resume] [copy] [unpack] [whole] [check] [memory]      (default: all groups)
"""
import gzip
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "support"))
sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
import release32  # noqa: E402
from bench_check import bench_check  # noqa: E402
from bench_resume import bench_resume  # noqa: E402
from bench_support import (ARCHIVER, DOWNLOAD_STAGES, KB, MB, NOT_UNPACKED, NOTES, REPEAT, STAGES,  # noqa: E402
                           Bench, Row, assert_updated, install_app, median, older, progress, report, settle,
                           timed, tree_of, write_large_file, write_large_stored_zip, write_tree)


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
        goal = ("≤", 1.00) if count == 1000 else None
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


def bench_unpack(bench, nginx, scratch, rows):
    """The worker's own unpacker alone (unpack_driver.exe) against the same-platform baselines: the stand-in
    archiver through the minimal loader on a deflated zip of 1,000 files, and zlib's plain inflate between
    ReadFile and WriteFile (gz_inflate.exe) on one 100 MB file in a .gz, where zlib checks the CRC in both."""
    work = in_drive_c("bench-unpack")
    try:
        progress("unpack: 1,000 files, 50 MB")
        text = os.urandom(8 * KB).hex().encode()
        archive = work / "tree.zip"
        with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as written:
            for index in range(1000):
                written.writestr(f"d{index % 20:02d}/f{index:05d}.txt", (text * 4)[index % 64:][:50 * KB])
        large = work / "large.bin.gz"
        with gzip.open(large, "wb", compresslevel=6) as written:
            for _ in range(100):
                written.write(os.urandom(256 * KB).hex().encode()[:MB])
        cases = (("unpack, 1,000 files, 50 MB, deflated zip", archive, "stand-in through the loader",
                  lambda out: bench.wine_program("archive_loader.exe", ARCHIVER, harness.windows_path(archive),
                                                 harness.windows_path(out) + "\\"), ("≤", 1.00)),
                 ("unpack, one 100 MB file, gz", large, "zlib inflate + WriteFile",
                  lambda out: bench.wine_program("gz_inflate.exe", harness.windows_path(large),
                                                 harness.windows_path(out / "large.bin")), ("≤", 1.15)))
        for label, source, baseline_label, baseline_run, goal in cases:
            worker, baseline = [], []
            out = work / "out"
            for _ in range(REPEAT):
                for times, run in ((worker, lambda: bench.wine_program(
                        "unpack_driver.exe", harness.windows_path(source), harness.windows_path(out))),
                                   (baseline, lambda: baseline_run(out))):
                    shutil.rmtree(out, ignore_errors=True)
                    out.mkdir()
                    settle()
                    times.append(run())
            rows.append(Row(label, median(worker), baseline_label, median(baseline), goal))
    finally:
        shutil.rmtree(work, ignore_errors=True)


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
    """The driver's peak working set in silent runs over archives of 100 MB and of 1,000 MB: a checked
    download alone (an archive no unpacker handles, so the run ends after it), and a whole update of files of
    1 MB, unpacked by the worker itself as it streams each entry to its file."""
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
                        ("≤", 1.10), unit="MB"))


GROUPS = {"download": bench_download, "resume": bench_resume, "copy": bench_copy, "unpack": bench_unpack, "whole": bench_whole_both,
          "check": bench_check, "memory": bench_memory}


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
