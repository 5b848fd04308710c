"""Check mode: Kovrel.exe -k1 waits for its worker, which fetches the information file alone, and ends with
0 (up to date), 1 (a newer version announced and verified) or 2 (the check failed), showing nothing."""
import subprocess
import sys

import harness
import pytest
import sample_app
from test_run_log import lines_of, run_log  # noqa: F401 - the run log fixture
from updates import KOVREL, assert_unchanged, publish
from updates import app  # noqa: F401 - fixture shared with the update tests

PUBLISH = harness.ROOT / "scripts" / "publish"


def keyed_launcher(folder):
    """A copy of the launcher with a publisher key: it refuses the unsigned information files served here."""
    tool = [sys.executable, str(PUBLISH)]
    subprocess.run(tool + ["keygen", "--private", str(folder / "k.key"), "--public", str(folder / "k.pub")],
                   check=True, stdout=subprocess.DEVNULL)
    launcher = folder / "Kovrel.exe"
    launcher.write_bytes(KOVREL.read_bytes())
    subprocess.run(tool + ["embed-key", "--launcher", str(launcher), "--public", str(folder / "k.pub")],
                   check=True, stdout=subprocess.DEVNULL)
    return launcher


@pytest.mark.parametrize("feed,keyed,code,announced", [
    pytest.param("1.0", False, 0, "1.0", id="up to date"),
    pytest.param("1.1", False, 1, "1.1", id="newer version"),
    pytest.param(None, False, 2, None, id="information file missing"),
    pytest.param("1.1", True, 2, None, id="signature refused"),
])
def test_check_ends_with_its_code_and_changes_nothing(feed, keyed, code, announced, kovrel, kovrel_temp, served,
                                                      app, run_log, tmp_path):
    info = publish(served, version=feed) if feed else served.url("absent.ini")
    launcher = keyed_launcher(tmp_path) if keyed else KOVREL
    arguments = f'{info} "{app.windows_exe()}" {sample_app.SECTION} 1.0 -k1'
    run = kovrel.start_launcher(launcher, arguments)
    # A box or the dialog would hold the worker, and the launcher with it: the run ends only when nothing shows.
    assert run.exit_code(120) == code
    assert [path for path, _ in served.requests()] == [info.rsplit("/", 1)[1]], "no archive is requested"
    assert_unchanged(app)
    # The launcher cleaned up after its worker before it ended, and let the mutex go.
    assert not kovrel_temp(arguments).exists()
    assert kovrel.wait_mutex_free()
    texts = [line.split(" ", 1)[1] for line in lines_of(run_log)]
    assert texts[0].endswith("installed version 1.0, check"), texts
    assert (f"announced version {announced}" in texts) == (announced is not None), texts
    assert texts[-1].split(";")[0] == f"end: check code {code}"
