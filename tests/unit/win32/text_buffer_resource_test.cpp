// LoadResourceString on the test program's own string table, and the load in the user's language beneath it.
#include <windows.h>
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include "test_resources.h"
#include "../../../src/common/localized_resource.h"
#include "../../../src/common/text_buffer.h"

static HINSTANCE Self()
{
    return GetModuleHandleA(0);
}

TEST(LoadResourceString, ShortTextNeedsOneBlock)
{
    TextBuffer buffer = {};
    ASSERT_TRUE(buffer.LoadResourceString(Self(), TEST_STRING_SHORT));
    EXPECT_STREQ("short text", buffer.text);
    EXPECT_EQ(256u, buffer.capacity);
    buffer.Free();
}

TEST(LoadResourceString, TextOf254BytesTakesOneMorePass)
{
    TextBuffer buffer = {};
    ASSERT_TRUE(buffer.LoadResourceString(Self(), TEST_STRING_254));
    EXPECT_EQ(std::string(254, 'a'), buffer.text);
    EXPECT_EQ(512u, buffer.capacity) << "256 - 254 = 2 is not more than 2, so the block grows once";
    buffer.Free();
}

TEST(LoadResourceString, LongerTextsGrowUntilTheyFit)
{
    TextBuffer buffer = {};
    ASSERT_TRUE(buffer.LoadResourceString(Self(), TEST_STRING_255));
    EXPECT_EQ(std::string(255, 'b'), buffer.text);
    EXPECT_EQ(512u, buffer.capacity);
    ASSERT_TRUE(buffer.LoadResourceString(Self(), TEST_STRING_600));
    EXPECT_EQ(std::string(600, 'c'), buffer.text);
    EXPECT_EQ(768u, buffer.capacity);
    buffer.Free();
}

TEST(LoadResourceString, DoubleByteTextIsNotCut)
{
    TextBuffer buffer = {};
    ASSERT_TRUE(buffer.LoadResourceString(Self(), TEST_STRING_KANJI_127));
    std::string expected;
    for (int i = 0; i < 127; i++)
        expected += "\x95\x5C";
    EXPECT_EQ(expected, buffer.text) << "needs the Japanese ANSI code page";
    EXPECT_EQ(512u, buffer.capacity);
    buffer.Free();
}

TEST(LoadResourceString, MissingIdIsFalseAndLeavesAnEmptyText)
{
    TextBuffer buffer = {};
    buffer.Assign("previous");
    EXPECT_FALSE(buffer.LoadResourceString(Self(), TEST_STRING_MISSING));
    ASSERT_NE(nullptr, buffer.text);
    EXPECT_STREQ("", buffer.text);
    buffer.Free();
}

// The load underneath, as LoadStringA does it: the text cut to size - 1 bytes, never inside a character.
TEST(LoadLocalizedString, CutsBeforeACharacterThatDoesNotFit)
{
    struct Row {
        const char *label;
        unsigned id;
        int size;
        int expectedLength;
    } rows[] = {
        {"short text in a large buffer", TEST_STRING_SHORT, 256, 10},
        {"short text cut to the buffer", TEST_STRING_SHORT, 5, 4},
        {"a double-byte character that fits whole", TEST_STRING_KANJI_127, 5, 4},
        {"a double-byte character that would be split is left out", TEST_STRING_KANJI_127, 6, 4},
        {"room for the terminating zero only", TEST_STRING_SHORT, 1, 0},
        {"missing string", TEST_STRING_MISSING, 256, 0},
    };
    for (const Row &row : rows) {
        char buffer[256];
        memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(row.expectedLength, LoadLocalizedString(Self(), row.id, buffer, row.size)) << row.label;
        EXPECT_EQ(row.expectedLength, static_cast<int>(strlen(buffer))) << row.label << ": terminated after the text";
    }
}

// The worker's texts are Japanese where the interface is Japanese and the code page 932, as in this test run.
TEST(LoadLocalizedString, PicksTheJapaneseTableOnAJapaneseSystem)
{
    ASSERT_EQ(932u, GetACP()) << "the tests run under the Japanese locale";
    char buffer[256];
    ASSERT_GT(LoadLocalizedString(Self(), 30054, buffer, sizeof buffer), 0);
    EXPECT_STREQ("\x8f\x49\x97\xb9", buffer) << "30054 in code page 932";
}