"""Freshness of a signed information file: a launcher with keys refuses a file past its APP_EXPIRES and one
whose APP_SERIAL is lower than the highest it accepted for the section (recorded per user in
%LOCALAPPDATA%\\Kovrel\\<section>.serial), and needs the installed version. Feeds are published with
scripts/publish --key and changed and signed again where a case needs other values."""
import re

import harness
import pytest
import sample_app
from test_verified_update import keys, launchers, seed_of, signature_line_and_body, signed_feed  # noqa: F401
from test_verified_update import MSG_NOT_VERIFIED, REFUSED_FEED, run_refused, run_updated
from updates import MSG_UPDATED, RESULT_UP_TO_DATE, STATE_DONE, STATE_FAILED, assert_updated, confirm_close
from updates import app, updater  # noqa: F401 - fixtures shared with the update tests

MSG_INIT_FAILED, MSG_STALE, MSG_UP_TO_DATE = 30001, 30121, 30002


@pytest.fixture(autouse=True)
def section_files(wine_env, app):
    """The section's serial record and the application's run log, absent before and after each test."""
    folder = harness.PREFIX / "drive_c" / "users" / harness.prefix_user() / "AppData" / "Local" / "Kovrel"
    files = [folder / f"{sample_app.SECTION}.serial", app.run_log()]
    for path in files:
        path.unlink(missing_ok=True)
    yield dict(zip(("serial", "log"), files))
    for path in files:
        path.unlink(missing_ok=True)


def resign(info, keys, key, value):
    """Sets the section's `key` (drops it for None) and signs the file again with the first key."""
    from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PrivateKey
    _, body = signature_line_and_body(info)
    line = b"" if value is None else f"{key}={value}\r\n".encode()
    body = re.sub(f"{key}=[^\r\n]*\r\n".encode(), lambda _: line, body)
    private = Ed25519PrivateKey.from_private_bytes(seed_of(keys["first"][0]))
    info.write_bytes(b";ed25519=" + private.sign(body).hex().encode() + b"\r\n" + body)


def log_of(files):
    return files["log"].read_bytes().decode("cp932")


@pytest.mark.parametrize("expires,message,cause", [
    ("2020-01-01T00:00:00Z", MSG_STALE, "the information file expired at 2020-01-01T00:00:00Z"),
    ("2020-01-01", MSG_NOT_VERIFIED, "APP_EXPIRES or APP_SERIAL is malformed"),
], ids=["expired", "malformed"])
def test_expired_file_is_refused(expires, message, cause, keys, launchers, updater, served, section_files):
    updater.use_launcher(launchers["first"])
    resign(signed_feed(served, keys), keys, "APP_EXPIRES", expires)
    run_refused(updater, served, served.url("Kovrel.ini"), REFUSED_FEED, message)
    assert [path for path, _ in served.requests()] == ["Kovrel.ini"]
    assert cause in log_of(section_files)
    assert not section_files["serial"].exists(), "a refused file's serial is not recorded"


# The serial served after serial 5 was accepted: refused with the logged cause, or taken and recorded.
SECOND_SERIALS = {
    "a lower serial is a replay": ("4", "serial 4 is lower than the 5 already accepted", b"5"),
    "a file without a serial counts as 0": (None, "serial 0 is lower than the 5 already accepted", b"5"),
    "the same serial is taken again": ("5", None, b"5"),
    "a higher serial is taken and recorded": ("6", None, b"6"),
}


@pytest.mark.parametrize("label", SECOND_SERIALS)
def test_serial_after_one_was_accepted(label, keys, launchers, updater, served, kovrel, section_files):
    serial, cause, recorded = SECOND_SERIALS[label]
    updater.use_launcher(launchers["first"])
    info = signed_feed(served, keys)
    resign(info, keys, "APP_SERIAL", "5")
    # Accepted by a run that is already up to date, which changes nothing else.
    outcome = updater.start(served.url("Kovrel.ini"), version="1.1").finish()
    assert (outcome.state, outcome.result, outcome.message) == (STATE_DONE, RESULT_UP_TO_DATE, MSG_UP_TO_DATE)
    assert section_files["serial"].read_bytes() == b"5"
    resign(info, keys, "APP_SERIAL", serial)
    if cause:
        run_refused(updater, served, served.url("Kovrel.ini"), REFUSED_FEED, MSG_STALE)
        assert cause in log_of(section_files)
    else:
        run_updated(updater, kovrel, served.url("Kovrel.ini"))
    assert section_files["serial"].read_bytes() == recorded


@pytest.mark.parametrize("launcher", ["first", "none"], ids=["with keys", "without keys"])
def test_installed_version_is_needed_with_keys(launcher, keys, launchers, updater, served, kovrel):
    updater.use_launcher(launchers[launcher])
    signed_feed(served, keys)
    run = updater.start(served.url("Kovrel.ini"), version="")
    if launcher == "none":  # a missing version counts as older: the update goes ahead as it always did
        confirm_close(kovrel)
        assert run.finish().message == MSG_UPDATED
        assert_updated(updater.app)
        return
    outcome = run.finish()
    assert (outcome.state, outcome.result, outcome.message) == (STATE_FAILED, 1, MSG_INIT_FAILED), outcome
    assert served.requests() == [], "nothing is fetched"
