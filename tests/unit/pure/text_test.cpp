#include <gtest/gtest.h>
#include "../../../src/common/text.h"

TEST(Text, LengthAndEquality)
{
    EXPECT_EQ(0u, TextLength(nullptr));
    EXPECT_EQ(0u, TextLength(""));
    EXPECT_EQ(3u, TextLength("abc"));
    EXPECT_TRUE(TextEquals("abc", "abc"));
    EXPECT_FALSE(TextEquals("abc", "abc "));
    EXPECT_FALSE(TextEquals("ab", "abc"));
    EXPECT_FALSE(TextEquals("abc", nullptr));
    EXPECT_TRUE(TextEquals(nullptr, nullptr));
    EXPECT_TRUE(TextStartsWithIgnoringCase("ProgramData\\x", "programdata"));
    EXPECT_TRUE(TextStartsWithIgnoringCase("abc", ""));
    EXPECT_FALSE(TextStartsWithIgnoringCase("Program", "programdata")) << "shorter than its start";
}

TEST(Text, CopyRefusesWhatDoesNotFit)
{
    char buffer[8] = "keep";
    EXPECT_TRUE(CopyText(buffer, sizeof buffer, "1234567"));
    EXPECT_STREQ("1234567", buffer);
    EXPECT_FALSE(CopyText(buffer, sizeof buffer, "12345678")) << "eight bytes and the zero need nine";
    EXPECT_STREQ("1234567", buffer) << "a refused copy writes nothing";
    EXPECT_FALSE(CopyText(buffer, 0, "")) << "no room even for the zero";
}

TEST(Text, AppendRefusesWhatDoesNotFit)
{
    char buffer[8] = "abc";
    EXPECT_TRUE(AppendText(buffer, sizeof buffer, "defg"));
    EXPECT_STREQ("abcdefg", buffer);
    EXPECT_FALSE(AppendText(buffer, sizeof buffer, "h"));
    EXPECT_STREQ("abcdefg", buffer);
    EXPECT_TRUE(AppendText(buffer, sizeof buffer, ""));
}
