// Frame count, stepping and placement of the animation panel.
#include <gtest/gtest.h>
#include "../../../src/worker/ui/animation_geometry.h"

TEST(AnimationGeometry, FrameCount)
{
    struct Row {
        const char *label;
        int width, side;
        unsigned short expected;
    } rows[] = {
        {"whole frames", 480, 48, 10},
        {"last frame partial", 500, 48, 11},
        {"one pixel over", 481, 48, 11},
        {"narrower than high", 30, 48, 1},
        {"square", 48, 48, 1},
        {"empty strip", 0, 48, 0},
        {"side 0 ends", 480, 0, 0},
        {"negative side", 480, -1, 0},
        {"65535 frames", 65535, 1, 65535},
        {"more than 65535 frames is capped", 100000, 1, 65535},
        {"widest strip", 0x7FFFFFFF, 0x7FFFFFFF, 1},
    };
    for (const Row &row : rows)
        EXPECT_EQ(row.expected, FrameCount(row.width, row.side)) << row.label;
}

TEST(AnimationGeometry, NextFrameWraps)
{
    unsigned short frame = 0;
    for (int step = 1; step <= 9; step++)
        EXPECT_EQ(step, frame = NextFrame(frame, 10));
    EXPECT_EQ(0, NextFrame(9, 10)) << "9 wraps to 0";
    EXPECT_EQ(0, NextFrame(0, 1)) << "a single frame stays";
    EXPECT_EQ(0, NextFrame(0, 0)) << "no frames";
    EXPECT_EQ(0, NextFrame(7, 3)) << "an index beyond the count goes back to 0";
    EXPECT_EQ(0, NextFrame(65535, 65535)) << "16-bit step";
    EXPECT_EQ(65534, NextFrame(65533, 65535));
}

TEST(AnimationGeometry, PlaceFrame)
{
    struct Row {
        const char *label;
        int clientWidth, clientHeight, side, stripWidth;
        unsigned short frame;
        FramePlacement expected;
    } rows[] = {
        {"centred", 48, 48, 32, 320, 0, {8, 8, 32, 32, 0}},
        {"odd space: extra pixel right and bottom", 49, 51, 32, 320, 0, {8, 9, 32, 32, 0}},
        {"source of frame 3", 48, 48, 32, 320, 3, {8, 8, 32, 32, 96}},
        {"larger than the client: top-left, cut", 20, 30, 48, 480, 2, {0, 0, 20, 30, 96}},
        {"wider frame only in x", 20, 60, 48, 480, 0, {0, 6, 20, 48, 0}},
        {"equal size", 48, 48, 48, 480, 9, {0, 0, 48, 48, 432}},
        {"partial last frame cut at the strip's edge", 48, 48, 48, 500, 10, {0, 0, 20, 48, 480}},
        {"partial frame stays where whole frames are", 64, 64, 48, 500, 10, {8, 8, 20, 48, 480}},
        {"strip narrower than high", 64, 64, 48, 30, 0, {8, 8, 30, 48, 0}},
    };
    for (const Row &row : rows) {
        FramePlacement placement = {-1, -1, -1, -1, -1};
        ASSERT_TRUE(PlaceFrame(row.clientWidth, row.clientHeight, row.side, row.stripWidth, row.frame, &placement))
            << row.label;
        EXPECT_EQ(row.expected.x, placement.x) << row.label;
        EXPECT_EQ(row.expected.y, placement.y) << row.label;
        EXPECT_EQ(row.expected.width, placement.width) << row.label;
        EXPECT_EQ(row.expected.height, placement.height) << row.label;
        EXPECT_EQ(row.expected.sourceX, placement.sourceX) << row.label;
    }
}

TEST(AnimationGeometry, NothingToPlace)
{
    FramePlacement placement;
    EXPECT_FALSE(PlaceFrame(48, 48, 48, 480, 10, &placement)) << "frame beyond the strip";
    EXPECT_FALSE(PlaceFrame(48, 48, 0, 480, 0, &placement)) << "no side";
    EXPECT_FALSE(PlaceFrame(0, 48, 48, 480, 0, &placement)) << "empty client area";
    EXPECT_FALSE(PlaceFrame(48, 48, 48, 0, 0, &placement)) << "empty strip";
    EXPECT_TRUE(PlaceFrame(48, 48, 0x7FFFFFFF, 0x7FFFFFFF, 0, &placement)) << "huge side";
    EXPECT_FALSE(PlaceFrame(48, 48, 0x7FFFFFFF, 0x7FFFFFFF, 1, &placement)) << "no overflow past the strip";
}
