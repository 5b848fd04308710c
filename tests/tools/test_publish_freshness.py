"""The freshness keys that the publishing tool writes into a signed section: APP_SERIAL one above the section's
previous serial, APP_EXPIRES some days from now. An unsigned file never gets them."""
import datetime

import pytest
from test_publish import archive, key, public_of, run, signed_body  # noqa: F401 - fixtures shared

UTC = datetime.timezone.utc
SIGNED = {
    # label: (the file before, extra arguments, the serial written or the refusal's words, the days written)
    "a first signed publish": ("", [], "1", 30),
    "the section's serial plus one": ("[App]\r\nAPP_VER=1\r\nAPP_SERIAL=41\r\n", [], "42", 30),
    "serial 0 plus one": ("[App]\r\nAPP_SERIAL=0\r\n", [], "1", 30),
    "the same version again refreshes": ("[App]\r\nAPP_VER=2.0\r\nAPP_SERIAL=3\r\n", [], "4", 30),
    "an older version is still refused": ("[App]\r\nAPP_VER=2.1\r\n", [], "not newer", None),
    "another section's serial does not count": ("[Other]\r\nAPP_SERIAL=90\r\n\r\n[App]\r\nAPP_VER=1\r\n", [], "1", 30),
    "--expires": ("", ["--expires", "7"], "1", 7),
    "--expires at its bound": ("", ["--expires", "3650"], "1", 3650),
    "a serial with a leading zero": ("[App]\r\nAPP_SERIAL=07\r\n", [], "is not a serial", None),
    "a serial that is no number": ("[App]\r\nAPP_SERIAL=x1\r\n", [], "is not a serial", None),
    "the last serial": ("[App]\r\nAPP_SERIAL=999999999\r\n", [], "cannot go past", None),
    "--expires 0": ("", ["--expires", "0"], "1 to 3650 days", None),
    "--expires past its bound": ("", ["--expires", "3651"], "1 to 3650 days", None),
}


@pytest.mark.parametrize("label", SIGNED)
def test_signed_section_gets_serial_and_expiry(tmp_path, archive, key, label):
    before, extra, expected, days = SIGNED[label]
    info = tmp_path / "update.ini"
    if before:
        info.write_bytes(before.encode())
    start = datetime.datetime.now(UTC).replace(microsecond=0)
    code, out = run(tmp_path, "--info", str(info), "--section", "App", "--version", "2.0", "--archive",
                    str(archive), "--url", "http://h/", "--key", str(key[0]), *extra)
    end = datetime.datetime.now(UTC)
    if days is None:
        assert code == 1 and expected in out, out
        assert (info.read_bytes() if info.exists() else b"") == before.encode(), "nothing is written"
        return
    assert code == 0, out
    section = signed_body(info.read_bytes(), public_of(key[1])).decode().split("[App]\r\n")[1]
    values = dict(line.split("=", 1) for line in section.split("\r\n") if "=" in line)
    assert values["APP_SERIAL"] == expected
    expires = datetime.datetime.strptime(values["APP_EXPIRES"], "%Y-%m-%dT%H:%M:%SZ").replace(tzinfo=UTC)
    assert start + datetime.timedelta(days=days) <= expires <= end + datetime.timedelta(days=days)
    assert f"APP_SERIAL: {expected}, APP_EXPIRES: {values['APP_EXPIRES']}" in out


def test_unsigned_file_is_written_as_before(tmp_path, archive):
    info = tmp_path / "update.ini"
    info.write_bytes(b"[App]\r\nAPP_VER=1\r\nAPP_SERIAL=5\r\n")
    code, out = run(tmp_path, "--info", str(info), "--section", "App", "--version", "2", "--archive", str(archive),
                    "--url", "http://h/")
    assert code == 0, out
    assert info.read_bytes() == b"[App]\r\nAPP_VER=2\r\nAPP_SERIAL=5\r\nAPP_URL=http://h/app-1.1.zip\r\n"
    code, out = run(tmp_path, "--info", str(info), "--section", "App", "--version", "3", "--archive", str(archive),
                    "--url", "http://h/", "--expires", "7")
    assert code == 1 and "only with --key" in out, out
