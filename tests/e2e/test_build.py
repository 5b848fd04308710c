"""The built executables: targets, imports, embedded worker, string tables, version block, sizes."""
import os
import re
from pathlib import Path

import harness
import pytest
from pe_resources import PeFile, string_table
from unpack_worker import unpack

# KOVREL_RELEASE points at another release build, as KOVREL_BUILD does for the 64-bit one.
RELEASE = Path(os.environ.get("KOVREL_RELEASE") or harness.ROOT / "build" / "win32" / "dist")
JAPANESE, ENGLISH = 1041, 1033
# Windows' known DLLs, which it loads from the system folder whatever lies beside a program. Any other
# library (WinINet, the common controls) is loaded from the system folder at run time.
KNOWN_DLLS = {"kernel32.dll", "user32.dll", "shell32.dll", "msvcrt.dll", "gdi32.dll", "ole32.dll", "oleaut32.dll",
              "advapi32.dll"}

CONFIGURATIONS = [
    pytest.param(RELEASE, 0x14C, 0x10B, id="win32"),
    pytest.param(harness.DIST, 0x8664, 0x20B, id="win64"),
]


def load(path):
    return PeFile(path.read_bytes())


@pytest.mark.parametrize("dist,machine,magic", CONFIGURATIONS)
def test_launcher_embeds_its_own_worker_packed(dist, machine, magic):
    launcher = load(dist / "Kovrel.exe")
    worker = dist / "Kovrelw.exe"
    assert (launcher.machine, launcher.magic) == (machine, magic)
    assert (load(worker).machine, load(worker).magic) == (machine, magic)
    embedded = launcher.resources().get(("RT_BINARY", 101, 1041))
    assert embedded is not None, "resource RT_BINARY 101, language 1041"
    assert unpack(embedded) == worker.read_bytes()
    assert len(embedded) < worker.stat().st_size


@pytest.mark.parametrize("dist,machine,magic", CONFIGURATIONS)
def test_product_imports_only_known_dlls(dist, machine, magic):
    for name in ("Kovrel.exe", "Kovrelw.exe"):
        dlls = {dll.lower() for dll in load(dist / name).imported_dlls()}
        assert dlls <= KNOWN_DLLS, f"{name} imports {dlls - KNOWN_DLLS}"


def test_release_sizes():
    worker = (RELEASE / "Kovrelw.exe").stat().st_size
    launcher = (RELEASE / "Kovrel.exe").stat().st_size
    print(f"32-bit worker {worker} bytes, 32-bit launcher {launcher} bytes")
    # The worker carries its texts and dialog in Japanese and English (about 7 KiB of resources) and zlib's
    # inflate (about 36 KiB).
    # 136 KiB since the freshness check of signed files (expiry, serial record, a clock import) crossed 128;
    # 144 KiB since the run log names its stages and the causes of failures, in words.
    assert worker < 144 * 1024
    # The release carries the signature verifier, the replacement journal and both languages, worker included,
    # packed in LZMA and unpacked by the launcher's own decoder.
    assert launcher <= 100 * 1024


def test_launcher_strings_and_version_block():
    resources = load(RELEASE / "Kovrel.exe").resources()
    assert string_table(resources) == {
        30000: "ミューテックス作成失敗。",
        30001: "コマンドラインが不正。",
        30002: "既に起動しています。",
        30003: "一時フォルダを削除できませんでした：\n%s\n\n別の一時フォルダを使用します。",
        30004: "作業フォルダを準備できませんでした：\n%s",
        30005: "使用できる一時フォルダがありません：\n%s\n\nアップデートは行われません。",
        30050: "Kovrel",
    }
    assert string_table(resources, ENGLISH) == {
        30000: "The mutex could not be created.",
        30001: "The command line is not valid.",
        30002: "Kovrel is already running.",
        30003: "The temporary folder could not be deleted:\n%s\n\nAnother temporary folder is used.",
        30004: "The staging folder could not be prepared:\n%s",
        30005: "No temporary folder can be used:\n%s\n\nThe update does not run.",
        30050: "Kovrel",
    }
    assert string_languages(resources) == {JAPANESE, ENGLISH}
    assert (16, 1, 1041) in resources and not [key for key in resources if key[0] == 16 and key[2] != 1041], \
        "one version block, Japanese"
    version = resources[(16, 1, 1041)]
    fixed = version.index(b"\xbd\x04\xef\xfe")  # VS_FIXEDFILEINFO signature
    file_ms, file_ls, product_ms, product_ls = [int.from_bytes(version[fixed + o:fixed + o + 4], "little")
                                                for o in (8, 12, 16, 20)]
    assert (file_ms, file_ls, product_ms, product_ls) == (0x20000, 0, 0x20000, 0)
    text = version.decode("utf-16-le", "replace")
    for key, value in [("FileVersion", "2, 0, 0"), ("ProductVersion", "2, 0, 0"), ("ProductName", "Kovrel"),
                       ("LegalTrademarks", "Kovrel"), ("OriginalFilename", "Kovrel.exe"),
                       ("FileDescription", "自動アップデート機能実装ツール"),
                       ("Comments", "自動アップデート機能実装ツール")]:
        assert re.search(key + r"\x00+" + re.escape(value) + r"\x00", text), key


def string_languages(resources):
    return {language for rtype, _, language in resources if rtype == 6}


def test_worker_string_table_is_complete():
    resources = load(RELEASE / "Kovrelw.exe").resources()
    strings = string_table(resources)
    expected_ids = (list(range(30000, 30005)) + list(range(30050, 30055)) + list(range(30100, 30122)) +
                    list(range(30200, 30207)))
    assert sorted(strings) == expected_ids
    assert string_languages(resources) == {JAPANESE, ENGLISH}
    assert strings[30001] == "Kovrel の初期化に失敗しました。"
    assert strings[30003] == ("これからアップデートを行います。\n『 アップデートを行うアプリケーションを終了させた後 』\n"
                              "に「OK」ボタンを押してください。")
    assert strings[30053] == "Aborting..."
    assert strings[30120] == ("異常終了：\n\nアップデートには管理者の権限が必要ですが、許可されませんでした。\n"
                              "アプリケーションは変更されていません。")
    assert strings[30110] == ("異常終了：\n\nアプリケーションのアップデートに失敗しました。\n"
                              "アプリケーションが終了しているか確認してください。")
    assert strings[30113] == ("異常終了：\n\nアップデートを検証できませんでした。\n"
                              "署名またはファイルの内容が正しくありません。\nアプリケーションは変更されていません。")
    assert strings[30114] == "異常終了：\n\nディスクの空き容量が不足しています。\nアプリケーションは変更されていません。"


def test_launcher_carries_an_empty_key_block():
    """Both slots empty until the publisher embeds a key: updates then work as they did before keys."""
    for dist in (RELEASE, harness.DIST):
        block = load(dist / "Kovrel.exe").resources()[(10, 102, 0)]
        assert block == b"KOVREL-PUBKEYS-1" + bytes(64)


@pytest.mark.parametrize("name", ["Kovrel.exe", "Kovrelw.exe"])
def test_english_strings_are_plain_ascii_and_complete(name):
    """Every text has an English form, and it reads the same in any ANSI code page."""
    resources = load(RELEASE / name).resources()
    japanese = string_table(resources, JAPANESE)
    english = string_table(resources, ENGLISH)
    assert sorted(english) == sorted(japanese)
    for string_id, text in english.items():
        assert text and text.isascii(), f"{string_id}: {text!r}"
        # Composed texts keep their one placeholder.
        assert text.count("%s") == japanese[string_id].count("%s"), string_id


def test_worker_english_texts():
    strings = string_table(load(RELEASE / "Kovrelw.exe").resources(), ENGLISH)
    assert strings[30001] == "Kovrel could not be initialized."
    assert strings[30002] == "The installed version is the latest."
    assert strings[30003] == ("The update is about to start.\nFirst close the application that is being updated,\n"
                              "then press the OK button.")
    assert strings[30052] == "MS PGothic", "the English name of the Japanese dialog's font"
    assert (strings[30053], strings[30054]) == ("Aborting...", "Close")
    assert strings[30112] == "The application was updated successfully."
    assert strings[30113] == ("Update failed:\n\nThe update could not be verified.\n"
                              "Its signature or contents are not correct.\nThe application has not been changed.")


def has_dialog_text(template, text):
    """True when the dialog template holds the text as one of its zero-terminated UTF-16 strings."""
    return (text + "\0").encode("utf-16-le") in template


def test_worker_dialog_in_both_languages():
    resources = load(RELEASE / "Kovrelw.exe").resources()
    assert {key[2] for key in resources if key[:2] == (5, 101)} == {JAPANESE, ENGLISH}
    japanese, english = resources[(5, 101, JAPANESE)], resources[(5, 101, ENGLISH)]
    # The same styles, control count and size in both: one skin fits either.
    assert japanese[:18] == english[:18], "style, extended style, control count, position and size"
    for text in ("Updating...", "ＭＳ Ｐゴシック", "中止", "アプリケーションを再起動する"):
        assert has_dialog_text(japanese, text), text
    for text in ("Updating...", "MS PGothic", "Abort", "Restart the application"):
        assert has_dialog_text(english, text), text
