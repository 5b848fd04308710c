#!/usr/bin/env python3
"""Runs every test of the project and ends with one line: `N passed, N failed`.

1. the pure tests, natively under the sanitizers (CTest in build/native);
2. the unit tests under Wine (CTest in build/win64, through the cross-compiling emulator);
3. the end-to-end tests under Wine (pytest in tests/e2e);
4. the 32-bit release end to end under wine32 on qemu-i386 (pytest in tests/release32, in a run of its own
   with its own Wine prefix and display); where 32-bit programs cannot run its tests are skipped, with the
   reason printed, and not counted.
GoogleTest and pytest write XML reports; the counts come from them, one per test case. A test program that
crashed before writing its report counts as one failure.
"""
import os
import subprocess
import sys
import xml.etree.ElementTree as ElementTree
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent / "support"))
import harness  # noqa: E402

REPORTS = harness.ROOT / "build" / "reports"


def count_report(path):
    """(passed, failed) of one JUnit-style XML report (GoogleTest and pytest both write them)."""
    passed = failed = 0
    for case in ElementTree.parse(path).getroot().iter("testcase"):
        if case.get("status") == "notrun" or case.find("skipped") is not None:
            continue
        if case.find("failure") is not None or case.find("error") is not None:
            failed += 1
        else:
            passed += 1
    return passed, failed


def count_skipped(path):
    return sum(1 for case in ElementTree.parse(path).getroot().iter("testcase") if case.find("skipped") is not None)


def run_ctest(build_dir, name, env, under_wine=False):
    report_dir = REPORTS / name
    report_dir.mkdir(parents=True, exist_ok=True)
    for old in report_dir.glob("*.xml"):
        old.unlink()
    # GoogleTest takes a folder when the path ends in a separator; under Wine the path must be a Windows one.
    folder = harness.windows_path(report_dir) + "\\" if under_wine else str(report_dir) + "/"
    env = dict(env, GTEST_OUTPUT="xml:" + folder)
    ctest = subprocess.run(["ctest", "--test-dir", str(build_dir), "--output-on-failure", "--timeout", "900"],
                           env=env, check=False)
    passed = failed = 0
    for report in report_dir.glob("*.xml"):
        p, f = count_report(report)
        passed += p
        failed += f
    if (ctest.returncode != 0 and failed == 0) or passed + failed == 0:
        failed += 1  # a test program crashed or timed out without a report, or nothing ran at all
    print(f"{name}: {passed} passed, {failed} failed", flush=True)
    return passed, failed


def run_pytest(env):
    REPORTS.mkdir(parents=True, exist_ok=True)
    report = REPORTS / "e2e.xml"
    if report.exists():
        report.unlink()
    result = subprocess.run([sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider", str(harness.ROOT / "tests" / "e2e"), str(harness.ROOT / "tests" / "tools"),
                             "--junitxml", str(report)], env=env, check=False)
    passed, failed = count_report(report) if report.exists() else (0, 1)
    if (result.returncode != 0 and failed == 0) or passed + failed == 0:
        failed += 1
    print(f"e2e: {passed} passed, {failed} failed", flush=True)
    return passed, failed


def run_release32():
    """The release suite runs in a pytest process of its own: the harness takes its prefix from the
    environment when it is first imported, and this suite's prefix is not the 64-bit one."""
    REPORTS.mkdir(parents=True, exist_ok=True)
    report = REPORTS / "release32.xml"
    if report.exists():
        report.unlink()
    env = dict(os.environ)
    env.pop("KOVREL_TEST_DISPLAY", None)
    result = subprocess.run([sys.executable, "-m", "pytest", "-q", "-rs", "-p", "no:cacheprovider",
                             str(harness.ROOT / "tests" / "release32"), "--junitxml", str(report)], env=env,
                            check=False)
    passed, failed = count_report(report) if report.exists() else (0, 1)
    skipped = count_skipped(report) if report.exists() else 0
    if (result.returncode != 0 and failed == 0) or passed + failed + skipped == 0:
        failed += 1
    print(f"release32: {passed} passed, {failed} failed" + (f" ({skipped} skipped)" if skipped else ""),
          flush=True)
    return passed, failed


def main():
    totals = [0, 0]

    def add(result):
        totals[0] += result[0]
        totals[1] += result[1]

    add(run_ctest(harness.ROOT / "build" / "native", "native", dict(os.environ)))
    session = harness.Session().start()
    try:
        env = session.environment()
        env["KOVREL_TEST_DISPLAY"] = session.display
        add(run_ctest(harness.BUILD, "wine", env, under_wine=True))
        add(run_pytest(env))
    finally:
        session.stop()
    add(run_release32())
    print(f"{totals[0]} passed, {totals[1]} failed", flush=True)
    return 0 if totals[1] == 0 and totals[0] > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
