"""Publishing refuses a silent key change: a signed file is re-signed only with the key that signed it,
unless --rotate says the publisher is moving to a new key; with --launcher, only with a key that the built
launcher holds, and the key that signed the file before is named from its block."""
import pytest
from test_publish import archive, copy_launcher, make_keys, public_of, run, signed_body  # noqa: F401 - fixtures


def publish(tmp_path, info, key, *extra, version="2"):
    return run(tmp_path, "--info", str(info), "--section", "App", "--version", version, "--archive",
               str(tmp_path / "app-1.1.zip"), "--url", "http://h/", "--key", str(key[0]), *extra)


# label: (key that signed the file first or None, key publishing now, launcher slots or None, --rotate,
#         refused: the words of the refusal, or None when the file is signed by the new key)
CASES = {
    "the same key": ("old", "old", None, False, None),
    "another key": ("old", "new", None, False, "pass --rotate"),
    "another key with --rotate": ("old", "new", None, True, None),
    "a key the launcher does not hold": (None, "new", ["old"], False, "does not hold the key"),
    "rotating to a key the launcher does not hold": ("old", "new", ["old"], True, "does not hold the key"),
    "another key, the one before named from the launcher": ("old", "new", ["new", "old"], False, "old-hex"),
    "rotating with a launcher that holds both": ("old", "new", ["new", "old"], True, None),
}


@pytest.mark.parametrize("label", CASES)
def test_a_key_change_is_never_silent(tmp_path, archive, label):
    first, now, slots, rotate, refused = CASES[label]
    keys = {name: make_keys(tmp_path, name) for name in ("old", "new")}
    info = tmp_path / "update.ini"
    if first:
        code, out = publish(tmp_path, info, keys[first], version="1")
        assert code == 0, out
    extra = ["--rotate"] if rotate else []
    if slots:
        launcher = copy_launcher(tmp_path, "win64")
        code, out = run(tmp_path, "embed-key", "--launcher", str(launcher),
                        *[a for name in slots for a in ("--public", str(keys[name][1]))])
        assert code == 0, out
        extra += ["--launcher", str(launcher)]
    before = info.read_bytes() if info.exists() else b""
    code, out = publish(tmp_path, info, keys[now], *extra)
    if refused:
        words = refused.replace("old-hex", public_of(keys["old"][1]).hex())
        assert code == 1 and words in out, out
        assert public_of(keys[now][1]).hex() in out, "the refused key is named"
        assert (info.read_bytes() if info.exists() else b"") == before, "nothing is written"
    else:
        assert code == 0, out
        assert b"APP_VER=2" in signed_body(info.read_bytes(), public_of(keys[now][1]))
