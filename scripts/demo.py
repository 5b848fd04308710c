#!/usr/bin/env python3
"""Shows the launcher's cycle with the real executables under Wine, step by step.

The application's call is simulated with a default command line: the launcher writes the worker into
%TEMP%\\Kovrel\\ and starts it; the worker waits for the launcher to end, reads its command line and starts
the launcher again for cleanup; the cleanup launcher waits for the worker to end and deletes the folder.
"""
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "support"))
import harness  # noqa: E402

DEFAULT_ARGUMENTS = ["http://127.0.0.1:8080/update.ini", "C:\\KovrelDemo\\app.exe", "KovrelDemo", "1.0", "-s1"]


def windows_processes():
    """The Kovrel programs that run under Wine now, by their Windows file names."""
    out = subprocess.run(["ps", "-eo", "args"], stdout=subprocess.PIPE, text=True, check=False).stdout
    return {name for name in ("Kovrel.exe", "Kovrelw.exe") for line in out.splitlines()
            if line.rstrip().lower().endswith(name.lower()) or (name.lower() + " ") in line.lower()}


def main():
    session = harness.Session().start()
    started = time.monotonic()

    def say(text):
        print(f"[{time.monotonic() - started:6.2f}s] {text}", flush=True)

    try:
        temp = harness.temp_folder() / "Kovrel"
        worker_file = temp / "Kovrelw.exe"
        say(f"display {session.display}, Wine prefix {harness.PREFIX}")
        say(f"temporary folder {harness.windows_path(temp)} exists: {temp.exists()}")
        launcher = harness.DIST / "Kovrel.exe"
        say("application starts: Kovrel.exe " + " ".join(DEFAULT_ARGUMENTS))
        process = subprocess.Popen([harness.WINE, str(launcher), *DEFAULT_ARGUMENTS], env=session.environment(),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        seen_worker = seen_folder = False
        launcher_ended = False
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            if not seen_folder and worker_file.exists():
                seen_folder = True
                embedded = (harness.DIST / "Kovrelw.exe").read_bytes()
                try:
                    same = worker_file.read_bytes() == embedded
                except OSError:
                    same = False
                say(f"launcher wrote {harness.windows_path(worker_file)} ({len(embedded)} bytes, "
                    f"identical to the embedded worker: {same})")
            if not seen_worker and "Kovrelw.exe" in windows_processes():
                seen_worker = True
                say("worker process is running")
            if not launcher_ended and process.poll() is not None:
                launcher_ended = True
                say(f"launcher (normal mode) ended with exit code {process.returncode}")
            if launcher_ended and (seen_folder or seen_worker) and not temp.exists():
                say("worker started the launcher for cleanup; the temporary folder is gone")
                break
            time.sleep(0.005)
        else:
            say("the cycle did not finish within 60 seconds")
            return 1
        code = subprocess.run(["/usr/lib/wine/wine64", str(harness.DIST / "window_driver.exe"), "wait-mutex-free",
                               harness.MUTEX_NAME, "30000"], env=session.environment(),
                              stdout=subprocess.DEVNULL, check=False).returncode
        say("worker and cleanup launcher have ended (the mutex is free)" if code == 0
            else "the mutex is still held")
        say(f"temporary folder exists: {temp.exists()}")
        return 0 if code == 0 else 1
    finally:
        session.stop()


if __name__ == "__main__":
    sys.exit(main())
