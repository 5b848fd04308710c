"""Fixtures of the 32-bit release tests: those of the end-to-end tests (tests/e2e/conftest.py), on a Wine prefix
of their own that also holds a 32-bit system, with the 32-bit stand-in archivers in its SysWOW64.

These tests run in a pytest process of their own (tests/run_all.py starts one), since the harness takes its
prefix from the environment when it is first imported. Where 32-bit programs cannot run (see
release32.unavailable), every test here is skipped with the reason.
"""
import importlib.util
import os
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "support"))
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
import release32  # noqa: E402

os.environ["KOVREL_WINEPREFIX"] = str(release32.PREFIX)
import harness  # noqa: E402

if harness.PREFIX != release32.PREFIX:
    raise pytest.UsageError("tests/release32 runs in a pytest run of its own, not beside tests/e2e: "
                            f"the harness already uses the prefix {harness.PREFIX}")

# The end-to-end fixtures, loaded under a name of their own so that this file stays the conftest here.
_spec = importlib.util.spec_from_file_location("e2e_conftest", ROOT / "tests" / "e2e" / "conftest.py")
e2e_conftest = importlib.util.module_from_spec(_spec)
sys.modules["e2e_conftest"] = e2e_conftest
_spec.loader.exec_module(e2e_conftest)
from e2e_conftest import (fault_server, kovrel, kovrel_temp, nginx, served, web_root,  # noqa: E402,F401
                          wine_env)

UNAVAILABLE = release32.unavailable()


def pytest_collection_modifyitems(config, items):
    if UNAVAILABLE:
        skip = pytest.mark.skip(reason=f"32-bit release not runnable here: {UNAVAILABLE}")
        for item in items:
            if Path(str(item.fspath)).parent == Path(__file__).parent:
                item.add_marker(skip)


@pytest.fixture(scope="session")
def release_prefix(wine_env):
    """The session's prefix with the 32-bit archivers installed, as a user installs archiver libraries."""
    missing = release32.missing_build()
    assert not missing, f"scripts/build win32 has not built {[str(path) for path in missing]}"
    release32.install_standin_archivers(harness.PREFIX)
    return harness.PREFIX
