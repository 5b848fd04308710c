// The final message of a run, from the table of stages.
#include <gtest/gtest.h>
#include "../../../src/worker/update/update_stages.h"

TEST(FinalMessageId, ByStateAndStage)
{
    EXPECT_EQ(30002u, FinalMessageId(15, 1)) << "up to date";
    EXPECT_EQ(30112u, FinalMessageId(14, 1)) << "updated";
    EXPECT_EQ(30100u, FinalMessageId(12, 3)) << "cancel in the close confirmation";
    EXPECT_EQ(30100u, FinalMessageId(10, 4)) << "confirmed abort request";
    EXPECT_EQ(30100u, FinalMessageId(0, 7));
    const unsigned expected[] = {30101, 30102, 30103, 30104, 30105, 30105, 30106,
                                 30107, 30108, 30103, 30108, 30109, 30111, 30110};
    for (int stage = 0; stage < 14; stage++) {
        EXPECT_EQ(expected[stage], FinalMessageId(stage, 2)) << "failed in stage " << stage;
        EXPECT_EQ(expected[stage], FinalMessageId(stage, 0)) << "running in stage " << stage;
    }
    EXPECT_EQ(30111u, FinalMessageId(14, 2));
    EXPECT_EQ(30111u, FinalMessageId(-1, 2)) << "a block that failed before the first stage";
}

TEST(FinalMessageId, FailureWithAMessageOfItsOwn)
{
    EXPECT_EQ(30113u, FinalMessageId(6, 2, 30113)) << "a refused signature in the check stage";
    EXPECT_EQ(30114u, FinalMessageId(8, 2, 30114));
    EXPECT_EQ(30100u, FinalMessageId(11, 3, 30113)) << "an abort still reads as an abort";
    EXPECT_EQ(30112u, FinalMessageId(14, 1, 30113)) << "a done run ignores it";
    EXPECT_EQ(30106u, FinalMessageId(6, 2, 0)) << "none: the stage's message";
}
