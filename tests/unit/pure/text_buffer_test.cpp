#include <gtest/gtest.h>
#include "../../../src/common/text_buffer.h"

TEST(TextBuffer, StartsEmptyAndFreesToEmpty)
{
    TextBuffer buffer = {};
    EXPECT_EQ(nullptr, buffer.text);
    EXPECT_EQ(0u, buffer.capacity);
    buffer.Free();
    EXPECT_EQ(nullptr, buffer.text);
    ASSERT_TRUE(buffer.Reserve(16));
    EXPECT_NE(nullptr, buffer.text);
    EXPECT_EQ(16u, buffer.capacity);
    buffer.Free();
    EXPECT_EQ(nullptr, buffer.text);
    EXPECT_EQ(0u, buffer.capacity);
}

TEST(TextBuffer, ReserveKeepsContentOnlyWhenItFits)
{
    TextBuffer buffer = {};
    buffer.Assign("hello");
    ASSERT_STREQ("hello", buffer.text);
    EXPECT_EQ(6u, buffer.capacity);

    ASSERT_TRUE(buffer.Reserve(6));
    EXPECT_STREQ("hello", buffer.text) << "same capacity keeps the content";
    ASSERT_TRUE(buffer.Reserve(3));
    EXPECT_EQ(6u, buffer.capacity) << "the buffer never shrinks";
    EXPECT_STREQ("hello", buffer.text);

    ASSERT_TRUE(buffer.Reserve(7));
    EXPECT_EQ(7u, buffer.capacity);
    buffer.text[0] = 0; // the old content is not carried over; only the size is promised
    buffer.Free();
}

TEST(TextBuffer, AssignGrowsAndCopiesWithTerminator)
{
    TextBuffer buffer = {};
    buffer.Assign("");
    ASSERT_NE(nullptr, buffer.text);
    EXPECT_STREQ("", buffer.text);
    buffer.Assign("a longer text than before");
    EXPECT_STREQ("a longer text than before", buffer.text);
    buffer.Assign("short");
    EXPECT_STREQ("short", buffer.text);
    EXPECT_EQ(26u, buffer.capacity) << "a shorter text reuses the block";
    buffer.Assign(nullptr);
    EXPECT_STREQ("", buffer.text);
    buffer.Free();
}
