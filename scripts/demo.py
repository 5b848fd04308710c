#!/usr/bin/env python3
"""A whole update of a sample application, in the dialog, as a person would see it.

nginx serves an update information file and a .zip of version 1.1 of a small sample application; version 1.0
is installed into the Wine prefix with Kovrel.exe and the sample skin beside it; Kovrel.exe runs in dialog
mode on a virtual display (on your own display with DISPLAY set and KOVREL_DEMO_VISIBLE=1). The boxes are
answered with the window driver, screenshots of the dialog are saved, and what changed in the application
folder is printed.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "support"))
import harness  # noqa: E402
import sample_app  # noqa: E402

SHOTS = harness.ROOT / "build" / "demo"
CAPTION = "Updating..."


class Demo:
    def __init__(self, env):
        self.env = env
        self.started = time.monotonic()

    def say(self, text):
        print(f"[{time.monotonic() - self.started:6.2f}s] {text}", flush=True)

    def driver(self, *arguments, timeout=120):
        result = subprocess.run([harness.WINE, str(harness.DIST / "window_driver.exe"), *arguments], env=self.env,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=timeout, check=False)
        return result.returncode, result.stdout.decode("utf-8", "replace").splitlines()

    def button(self):
        code, lines = self.driver("show", CAPTION, "30000")
        for line in lines:
            if line.startswith("control 2 "):
                return line.split(" ", 3)[3]
        return None

    def screenshot(self, name):
        # Once the box that was just answered has gone from the screen.
        self.driver("gone", "Kovrel", "30000")
        SHOTS.mkdir(parents=True, exist_ok=True)
        path = SHOTS / f"{name}.png"
        subprocess.run(["import", "-window", "root", "-display", self.env["DISPLAY"], str(path)],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False, timeout=60)
        self.say(f"screenshot {path}")


def describe_changes(before, after):
    for name in sorted(set(before) | set(after)):
        if name not in before:
            print(f"    added    {name}")
        elif name not in after:
            print(f"    removed  {name}")
        elif before[name] != after[name]:
            print(f"    replaced {name} ({len(before[name])} -> {len(after[name])} bytes)")
        else:
            print(f"    kept     {name}")


def main():
    visible = os.environ.get("KOVREL_DEMO_VISIBLE") == "1" and os.environ.get("DISPLAY")
    session = harness.Session()
    if visible:
        session.display = os.environ["DISPLAY"]
        session.start_wine()
    else:
        session.start()
    web = Path(tempfile.mkdtemp(prefix="kovrel-demo-web-"))
    nginx = harness.Nginx(web, Path(tempfile.mkdtemp(prefix="kovrel-demo-nginx-"))).start()
    demo = Demo(session.environment())
    app = sample_app.SampleApp("demo")
    try:
        demo.say(f"display {session.display}; nginx on port {nginx.port}")
        app.remove()
        app.install()
        shutil.copyfile(harness.DIST / "Kovrel.exe", app.folder / "Kovrel.exe")
        for name in ("Kovrel.ini", "bkgnd.vrl", "parts.vrl", "anime.vrl"):
            shutil.copyfile(harness.ROOT / "skin" / name, app.folder / name)
        before = sample_app.files_only(sample_app.tree(app.folder))
        demo.say(f"installed version 1.0 in {harness.windows_path(app.folder)}")

        sample_app.write_zip(web / "sample-1.1.zip", sample_app.ARCHIVE_1_1)
        (web / "update.ini").write_bytes(sample_app.info_text(nginx.url("sample-1.1.zip"), "1.1"))
        info_url = nginx.url("update.ini")
        demo.say(f"serving {info_url} (APP_VER=1.1) and sample-1.1.zip")

        launcher = harness.windows_path(app.folder / "Kovrel.exe")
        arguments = [info_url, app.windows_exe(), sample_app.SECTION, "1.0", "Sample App update"]
        demo.say("the application starts: Kovrel.exe " + " ".join(arguments))
        process = subprocess.Popen([harness.WINE, launcher, *arguments], env=demo.env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        code, lines = demo.driver("press", "Kovrel", "OK", "60000")
        if code != 0:
            demo.say("the close confirmation did not appear: " + " | ".join(lines))
            return 1
        demo.say("answered the box 'close the application, then press OK' with OK")
        global CAPTION
        CAPTION = "Sample App update"
        deadline = time.monotonic() + 60
        running_shot = False
        while time.monotonic() < deadline:
            text = demo.button()
            if text and not running_shot:
                demo.screenshot("dialog-running")
                running_shot = True
            if text == "終了":
                break
            time.sleep(0.2)
        else:
            demo.say("the update did not finish within a minute")
            return 1
        demo.say("the dialog shows its final message; the button reads 終了")
        demo.screenshot("dialog-finished")
        demo.driver("press", CAPTION, "2", "10000")
        demo.say("closed the dialog")
        process.wait(timeout=60)
        temp = harness.temp_folder() / "Kovrel"
        if not harness.wait_until(lambda: not temp.exists(), 60):
            demo.say("the temporary folder was not removed")
            return 1
        demo.say("the cleanup launcher removed %TEMP%\\Kovrel")
        after = sample_app.files_only(sample_app.tree(app.folder))
        print("what changed in the application folder:")
        describe_changes(before, after)
        ok = all(after.get(name) == data for name, data in sample_app.ARCHIVE_1_1.items())
        demo.say("every file of version 1.1 is in place" if ok else "the application is NOT at version 1.1")
        return 0 if ok else 1
    finally:
        nginx.stop()
        shutil.rmtree(web, ignore_errors=True)
        session.stop()


if __name__ == "__main__":
    sys.exit(main())
