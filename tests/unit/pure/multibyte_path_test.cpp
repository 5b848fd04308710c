// The double-byte-aware searches, with code page 932 text (natively by table, under Wine by the system).
#include <gtest/gtest.h>
#include "../../../src/common/multibyte_path.h"

// "表" is 0x95 0x5C in code page 932: its second byte is a backslash.
static const char TABLE_KANJI[] = "\x95\x5C";

TEST(MultibytePath, LeadBytesOfCodePage932)
{
    EXPECT_TRUE(IsLeadByte(0x95));
    EXPECT_TRUE(IsLeadByte(0x81));
    EXPECT_TRUE(IsLeadByte(0xE0));
    EXPECT_FALSE(IsLeadByte('A'));
    EXPECT_FALSE(IsLeadByte(0xA0)) << "half-width katakana are single bytes";
    EXPECT_FALSE(IsLeadByte(' '));
    EXPECT_FALSE(IsLeadByte('"'));
}

TEST(MultibytePath, FindCharMultibyte)
{
    struct Row {
        const char *label;
        const char *text;
        char character;
        int expected; // position, or -1 for none
    } rows[] = {
        {"no blank in the text", "abc", ' ', -1},
        {"empty text", "", ' ', -1},
        {"first of two blanks", "a b c", ' ', 1},
        {"quote at the start", "\"x\"", '"', 0},
        {"trail byte 0x20 is not a blank", "\x81\x20x y", ' ', 3},
        {"trail byte 0x22 is not a quote", "\x81\x22x\"", '"', 3},
        {"trail byte 0x5C is not a backslash", "\x95\x5C\\", '\\', 2},
    };
    for (const Row &row : rows) {
        const char *found = FindCharMultibyte(row.text, row.character);
        int position = found ? static_cast<int>(found - row.text) : -1;
        EXPECT_EQ(row.expected, position) << row.label;
    }
    EXPECT_EQ(nullptr, FindCharMultibyte(nullptr, ' '));
}

TEST(MultibytePath, EndsWithSeparator)
{
    struct Row {
        const char *label;
        const char *path;
        bool expected;
    } rows[] = {
        {"backslash", "C:\\dir\\", true},
        {"slash", "C:\\dir/", true},
        {"no separator", "C:\\dir", false},
        {"empty", "", false},
        {"double-byte character ending in 0x5C", "C:\\\x95\x5C", false},
        {"double-byte character, then a backslash", "C:\\\x95\x5C\\", true},
        {"a lone lead byte at the end", "C:\\\x95", false},
        {"backslash alone", "\\", true},
    };
    for (const Row &row : rows)
        EXPECT_EQ(row.expected, EndsWithSeparator(row.path)) << row.label;
    EXPECT_FALSE(EndsWithSeparator(nullptr));
}

TEST(MultibytePath, FindLastSeparator)
{
    struct Row {
        const char *label;
        const char *path;
        int expected;
    } rows[] = {
        {"last backslash", "C:\\a\\b", 4},
        {"slash after backslash", "C:\\dir/", 6},
        {"no separator", "file", -1},
        {"empty", "", -1},
        {"second byte of a double-byte character is skipped", "C:\\\x95\x5C", 2},
        {"trailing backslash after a double-byte name", "C:\\\x95\x5C\\", 5},
    };
    for (const Row &row : rows) {
        const char *found = FindLastSeparator(row.path);
        int position = found ? static_cast<int>(found - row.path) : -1;
        EXPECT_EQ(row.expected, position) << row.label;
    }
    EXPECT_EQ(nullptr, FindLastSeparator(nullptr));
    EXPECT_STREQ("\x95\x5C", TABLE_KANJI);
}
