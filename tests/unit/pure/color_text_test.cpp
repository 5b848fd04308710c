// Colour texts of the settings file.
#include <gtest/gtest.h>
#include "../../../src/worker/run/worker_settings.h"

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
        {"C0C0C0    ", 0xC0C0C0u},    // ten characters of "C0C0C0        ; comment", as the profile reader cuts it
        {"FF000000  ", NO_COLOR},     // a padded "not set" still means not set
        {"FF00FF\t; key", 0xFF00FFu},
        {"#C0C0C0;grey", 0xC0C0C0u},
        {"0x80000000 ", NO_TRANSPARENCY},
        {"12 34", 0x12u},             // the first blank ends the value, whatever follows
    };
    for (const Row &row : rows)
        EXPECT_EQ(row.value, ParseColor(row.text)) << "'" << row.text << "'";
    EXPECT_EQ(0u, ParseColor(nullptr));
}

TEST(HasColorValue, Table)
{
    struct Row {
        const char *label;
        const char *text;
        bool has;
    } rows[] = {
        {"digits", "C0C0C0", true},
        {"digits then a comment", "C0C0C0 ; grey", true},
        {"a prefix alone is a value (of 0)", "#", true},
        {"empty", "", false},
        {"only a comment", "; not set", false},
        {"a blank before the comment", " ; not set", false},
        {"a tab", "\tFF", false},
        {"none", nullptr, false},
    };
    for (const Row &row : rows)
        EXPECT_EQ(row.has, HasColorValue(row.text)) << row.label;
}
