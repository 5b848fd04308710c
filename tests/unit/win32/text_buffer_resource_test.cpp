// LoadResourceString on the test program's own string table.
#include <windows.h>
#include <gtest/gtest.h>
#include <string>
#include "test_resources.h"
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
