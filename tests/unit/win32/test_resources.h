// String resources of the Win32 tests (test_resources.rc).
#pragma once

#define TEST_STRING_SHORT 40001
#define TEST_STRING_254 40002
#define TEST_STRING_255 40003
#define TEST_STRING_600 40004
#define TEST_STRING_KANJI_127 40005 // 127 characters of 2 bytes: 254 bytes in code page 932
#define TEST_STRING_MISSING 40999
// The unpacked resource 101, as support/packed_fixtures.py packs it.
#define TEST_EMBEDDED_CONTENT "not a program\r\n"
