// CompareVersions: only the sign of the result has a meaning.
#include <gtest/gtest.h>
#include "../../../src/worker/feed/version_compare.h"

static int Sign(int value)
{
    return (value > 0) - (value < 0);
}

TEST(CompareVersions, Table)
{
    struct Row {
        const char *label;
        const char *installed;
        const char *announced;
        int sign;
    } rows[] = {
        {"third field 3 < 10", "1.2.3", "1.2.10", -1},
        {"first field 2 < 10", "2.0", "10.0", -1},
        {"leading zero ignored", "1.02", "1.2", 0},
        {"trailing zero field", "1.0", "1", 0},
        {"trailing zero field announced", "1", "1.0", 0},
        {"announced has a further field", "1", "1.1", -1},
        {"installed has a further field", "1.1", "1", 0},
        {"suffix is older than the bare number", "1.0b", "1.0", -1},
        {"bare number is newer than the suffix", "1.0", "1.0b", 1},
        {"suffixes by character", "1.0a", "1.0b", -1},
        {"case is ignored", "1.0A", "1.0a", 0},
        {"digits in a suffix read with a leading one", "1.2a5", "1.2a05", -1},
        {"equal", "3.4.5", "3.4.5", 0},
        {"newer installed", "2.1", "2.0.9", 1},
        {"installed further fields after announced ended", "1.5.1", "1.5", 0},
        {"announced further non-zero field", "1.5", "1.5.1", -1},
        {"announced further zero fields", "1.5", "1.5.0.0", 0},
        {"blanks are skipped", " 1. 2", "1.2", 0},
        {"leading zeros everywhere", "001.000.010", "1.0.10", 0},
        {"empty installed", "", "1.0", -1},
        {"both empty", "", "", 0},
        {"empty announced: current", "1.0", "", 1},
        {"letters only", "beta", "alpha", 1},
        {"suffix after digits", "1.0rc1", "1.0rc2", -1},
        {"full-width capital equals full-width small", "1.0\x82\x60", "1.0\x82\x81", 0},
        {"double-byte suffixes compare by bytes", "1.0\x95\x5C", "1.0\x95\x5D", -1},
        {"absent installed version is older", nullptr, "1.0", -1},
        {"absent announced version", "1.0", nullptr, 1},
        {"both absent", nullptr, nullptr, 0},
        // Long digit runs compare without overflow: 4294967296 would wrap to 0 in 32-bit arithmetic,
        // 4294967297 to 1.
        {"past 32 bits", "4294967296", "1", 1},
        {"past 32 bits, one apart", "4294967296", "4294967297", -1},
        {"twenty digits", "12345678901234567890", "12345678901234567891", -1},
        {"longer run is larger", "99999999999", "100000000000", -1},
        {"date-like build numbers", "1.20261208", "1.20261209", -1},
        {"equal long runs", "1.123456789012", "1.123456789012", 0},
        {"leading zeros before a long run", "1.0000012345678901", "1.12345678901", 0},
        {"long digits inside a suffix", "1.0a99999999999", "1.0a100000000000", -1},
    };
    for (const Row &row : rows)
        EXPECT_EQ(row.sign, Sign(CompareVersions(row.installed, row.announced))) << row.label;
}

TEST(CompareVersions, InputsAreNotChanged)
{
    char installed[] = "1.0A";
    char announced[] = "1.0B";
    EXPECT_LT(CompareVersions(installed, announced), 0);
    EXPECT_STREQ("1.0A", installed);
    EXPECT_STREQ("1.0B", announced);
}
