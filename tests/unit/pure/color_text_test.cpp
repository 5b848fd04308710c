// Colour texts of the settings file.
#include <gtest/gtest.h>
#include "../../../src/worker/startup/worker_settings.h"

TEST(ParseColor, Table)
{
    struct Row {
        const char *text;
        unsigned value;
    } rows[] = {
        {"FF0000", 0xFF0000u},        // blue: colours are written blue-green-red
        {"0000FF", 0x0000FFu},        // red
        {"#C0C0C0", 0xC0C0C0u},
        {"0x000000FF", 0x000000FFu},
        {"FF000000", NO_COLOR},
        {"0xFF000000", NO_COLOR},
        {"80000000", NO_TRANSPARENCY},
        {"abcdef", 0xABCDEFu},
        {"0X12", 0u},                 // upper-case X is no prefix: it ends the number after "0"
        {"0x", 0u},
        {"#", 0u},
        {"", 0u},
        {"12G", 0x120u},              // the shift for the first non-digit has been made
        {"0x1234567890", 0x34567890u}, // bits beyond 32 are lost
        {"123456789", 0x23456789u},
    };
    for (const Row &row : rows)
        EXPECT_EQ(row.value, ParseColor(row.text)) << "'" << row.text << "'";
    EXPECT_EQ(0u, ParseColor(nullptr));
}
