"""The check group: the whole process of a check when the application is up to date (Kovrel.exe -k1, from its
start until the launcher has ended with exit code 0) against a plain program that fetches the same information
file once with WinINet and exits (bench/support/wininet_check), both started and timed by the same Wine
program (bench/support/process_timer), against nginx on loopback, in the same prefix.

Where a check's time goes is read from outside: the run log gives the worker's own steps (its lines carry the
milliseconds since the log began) and, by the time its file was written, where the worker's log began and
ended within the timed process. Around it, programs that only import what the launcher and the worker import
(bench/support/bare_process), timed the same way, and the launcher's unpacking of its worker and the removal
of its folder done alone (bench/support/launcher_steps) split the rest."""
import shutil
import subprocess

import harness
import sample_app
from bench_support import NOTES, REPEAT, STAGES, Row, install_app, median, settle

# Each run takes a fraction of a second, whose spread would swamp a median of three.
CHECK_REPEAT = 5 * REPEAT


def timed_process(bench, *command):
    """Runs `command` under process_timer.exe; returns (the lines the child printed, its whole time in ms, the
    system time at its start in ms since 1970, the performance counter then in ms)."""
    result = subprocess.run([harness.WINE, str(harness.DIST / "process_timer.exe"), *command], env=bench.env,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120, check=False)
    lines = result.stdout.decode(errors="replace").split()
    assert result.returncode == 0 and len(lines) >= 4, f"process_timer {command}: {result.stderr!r}"
    code, elapsed, started, counter = lines[-4:]
    assert code == "0", f"{command} ended with {code}: {result.stderr!r}"
    return lines[:-4], float(elapsed), float(started), int(counter) / 1000


def bare_once(bench, program, entry, *how):
    """A bare program's start (until its entry) and end (from its entry until the timer saw it end), in ms;
    `entry` is the file it writes its entry's time into."""
    entry.unlink(missing_ok=True)
    _, elapsed, _, counter = timed_process(bench, *how, harness.windows_path(harness.DIST / program),
                                           harness.windows_path(entry))
    start = int(entry.read_text()) / 1000 - counter
    return start, elapsed - start


def logged_check(bench):
    """The last check's run log: [(ms since its start, text)] and the system time its file was written (ms)."""
    path = bench.run_log()
    entries = [(int(ticks), text) for ticks, text in
               (line.split(" ", 1) for line in path.read_bytes().decode("cp932").split("\r\n")[:-1])]
    assert entries[0][1].endswith(", check") and entries[-1][1] == "end: check code 0", entries
    return entries, path.stat().st_mtime_ns / 1e6


def worker_steps(entries):
    """{step: ms} of the worker's log: before its first stage, each stage, and from the last stage to its end."""
    marks = [("before the first stage", entries[0][0])]
    marks += [(f"stage {STAGES[int(text.split()[1])]}", ticks) for ticks, text in entries
              if text.startswith("stage ")]
    marks.append(("end", entries[-1][0]))
    return {name: after - ticks for (name, ticks), (_, after) in zip(marks, marks[1:])}


def imports(program):
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(program)], stdout=subprocess.PIPE, check=True)
    return {line.split()[-1].lower() for line in dump.stdout.decode().splitlines() if "DLL Name:" in line}


def assert_same_imports(bare, product):
    """A bare program stands for a product's start only while it loads the same libraries (and the C runtime)."""
    extra = imports(harness.DIST / bare) - imports(harness.DIST / product)
    missing = imports(harness.DIST / product) - imports(harness.DIST / bare)
    assert not missing and extra <= {"msvcrt.dll"}, f"{bare} imports {extra} more, {missing} less than {product}"


def check_once(bench, launcher, info, app):
    bench.app = app  # whose run log bench.run_log() names
    bench.run_log().unlink(missing_ok=True)
    settle()
    _, elapsed, started, _ = timed_process(bench, harness.windows_path(launcher), info, app.windows_exe(),
                                        sample_app.SECTION, "1.0", "-k1")
    entries, written = logged_check(bench)
    # The worker's log began its end line's ticks before the file was written.
    log_start = written - entries[-1][0] - started
    return {"whole": elapsed, "logged": entries[-1][0], "to log start": log_start,
            "after log": started + elapsed - written, **worker_steps(entries)}


def baseline_once(bench, info, size):
    settle()
    printed, elapsed, _, counter = timed_process(bench, harness.windows_path(harness.DIST / "wininet_check.exe"),
                                                 info)
    assert len(printed) == 3 and int(printed[0]) == size, f"wininet_check read {printed}, not {size} bytes"
    start, fetch = int(printed[2]) / 1000 - counter, float(printed[1])
    return {"whole": elapsed, "start": start, "fetch": fetch, "end": elapsed - start - fetch}


def launcher_steps_once(bench, launcher, folder):
    settle()
    result = subprocess.run([harness.WINE, str(harness.DIST / "launcher_steps.exe"), harness.windows_path(launcher),
                             harness.windows_path(folder) + "\\"], env=bench.env, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, timeout=120, check=False)
    assert result.returncode == 0, f"launcher_steps: {result.stderr!r}"
    assert not folder.exists(), "launcher_steps left its folder"
    extraction, removal = result.stdout.decode().split()
    return {"extraction": float(extraction), "removal": float(removal)}


def bare_figures(bench, entry):
    figures = {}
    for name in ("launcher", "worker"):
        figures[f"{name} start"], figures[f"{name} end"] = bare_once(bench, f"bare_{name}.exe", entry)
    return figures


def bench_check(bench, nginx, scratch, rows):
    launcher = harness.DIST / "Kovrel.exe"
    info_file = bench.web / "check.ini"
    info_file.write_bytes(sample_app.info_text(nginx.url("check.zip"), "1.0"))
    info = nginx.url(info_file.name)
    # The launcher's run folder lies in %TEMP%: its steps alone are timed on the same file system.
    steps_folder = harness.temp_folder() / "kovrel-bench-steps"
    shutil.rmtree(steps_folder, ignore_errors=True)
    app = install_app()
    assert_same_imports("bare_launcher.exe", "Kovrel.exe")
    assert_same_imports("bare_worker.exe", "Kovrelw.exe")
    runs = {"check": [], "baseline": [], "bare": [], "steps": []}
    try:
        # One untimed round first: the first start of each program reads it from the disk.
        for timed in [False] + [True] * CHECK_REPEAT:
            figures = (check_once(bench, launcher, info, app), baseline_once(bench, info, info_file.stat().st_size),
                       bare_figures(bench, steps_folder.with_name("kovrel-bench-entry.txt")),
                       launcher_steps_once(bench, launcher, steps_folder))
            if timed:
                for name, figure in zip(runs, figures):
                    runs[name].append(figure)
        requested = [line for line in nginx.requests() if "/check.zip " in line]
        assert not requested, "a check requested the archive"
    finally:
        app.remove()
        shutil.rmtree(steps_folder, ignore_errors=True)
        steps_folder.with_name("kovrel-bench-entry.txt").unlink(missing_ok=True)
        info_file.unlink(missing_ok=True)
    report_check(runs, rows)


def report_check(runs, rows):
    def of(group, name):
        return median([run.get(name, 0) for run in runs[group]])

    rows.append(Row("check, up to date (-k1), whole process", of("check", "whole"), "WinINet fetch of the file",
                    of("baseline", "whole"), ("≤", 2.00), unit="ms"))
    rows.append(Row("check, the worker's logged work", of("check", "logged"), "the fetch alone, in-process",
                    of("baseline", "fetch"), unit="ms"))
    steps = [name for name in runs["check"][0] if name.startswith(("before", "stage"))]
    before, after = of("check", "to log start"), of("check", "after log")
    launcher, worker = of("bare", "launcher start"), of("bare", "worker start")
    extraction, removal = of("steps", "extraction"), of("steps", "removal")
    NOTES.append(f"where the time of a check goes (medians of {CHECK_REPEAT}, ms; the parts' medians need not add up):")
    lines = [("check, whole process", of("check", "whole")),
             ("  launcher start to the worker's log start", before),
             ("    a process with the launcher's imports, until its entry", launcher),
             ("    run folder made, worker unpacked", extraction),
             ("    a process with the worker's imports, until its entry", worker),
             ("    the rest: hand-off, the worker's start before its log", before - launcher - extraction - worker),
             ("  the worker's log", of("check", "logged")),
             *((f"    {name}", of("check", name)) for name in steps),
             ("  log written to the launcher's end", after),
             ("    the run folder's removal", removal),
             ("    a process with the worker's imports, from its entry to its end", of("bare", "worker end")),
             ("    a process with the launcher's imports, from its entry to its end", of("bare", "launcher end")),
             ("    the rest: the launcher's wait for the worker and the mutex", after - removal -
              of("bare", "worker end") - of("bare", "launcher end")),
             ("baseline, whole process", of("baseline", "whole")),
             ("  process start, until its entry", of("baseline", "start")),
             ("  the fetch, InternetOpen to the last close", of("baseline", "fetch")),
             ("  process end", of("baseline", "end"))]
    NOTES.extend(f"  {name:<68} {value:7.1f}" for name, value in lines)
