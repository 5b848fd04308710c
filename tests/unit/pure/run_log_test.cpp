// The run log's text: its time stamp, the start of a run's first line, and the newest whole lines kept
// within its cap.
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include "../../../src/common/kovrel_version.h"
#include "../../../src/common/log_text.h"

TEST(RunLog, FormatsTheTimeAsIsoUtc)
{
    struct {
        const char *label;
        LogTime time;
        const char *text;
    } cases[] = {
        {"single digits are padded", {2026, 1, 2, 3, 4, 5}, "2026-01-02T03:04:05Z"},
        {"the last second of a year", {2026, 12, 31, 23, 59, 59}, "2026-12-31T23:59:59Z"},
        {"a year before 1000", {999, 10, 10, 10, 10, 10}, "0999-10-10T10:10:10Z"},
    };
    for (const auto &c : cases) {
        char text[ISO_TIME_BYTES];
        FormatIsoTime(c.time, text);
        EXPECT_STREQ(c.text, text) << c.label;
    }
}

TEST(RunLog, StartNamesTimeVersionAndLauncher)
{
    const LogTime time = {2026, 12, 10, 12, 34, 56};
    char start[200];
    ASSERT_TRUE(ComposeLogStart(start, sizeof start, time, "C:\\a b\\Kovrel.exe"));
    EXPECT_STREQ("start: 2026-12-10T12:34:56Z, Kovrel " KOVREL_VERSION_TEXT ", launcher C:\\a b\\Kovrel.exe; ", start);
    EXPECT_TRUE(std::regex_match(KOVREL_VERSION_TEXT, std::regex("[0-9]+\\.[0-9]+\\.[0-9]+")));
    const size_t length = std::string(start).size();
    EXPECT_FALSE(ComposeLogStart(start, static_cast<unsigned>(length), time, "C:\\a b\\Kovrel.exe")) << "no room for the zero";
    EXPECT_STREQ("", start) << "nothing is left half-written";
    EXPECT_TRUE(ComposeLogStart(start, static_cast<unsigned>(length + 1), time, "C:\\a b\\Kovrel.exe"));
}

TEST(RunLog, KeepsTheNewestWholeLines)
{
    struct {
        const char *label;
        std::string text;
        unsigned cap;
        std::string kept;
    } cases[] = {
        {"within the cap", "a\r\nb\r\n", 100, "a\r\nb\r\n"},
        {"exactly the cap", "a\r\nb\r\n", 6, "a\r\nb\r\n"},
        {"oldest line dropped", "first\r\nsecond\r\n", 10, "second\r\n"},
        {"a line that no longer fits is dropped whole", "first\r\nsecond\r\n", 7, ""},
        {"many lines", "1\r\n2\r\n3\r\n4\r\n", 7, "3\r\n4\r\n"},
        {"a cut that falls on a line start keeps that line", "ab\r\ncd\r\n", 4, "cd\r\n"},
    };
    for (const auto &c : cases) {
        unsigned start = KeptLogTail(c.text.data(), static_cast<unsigned>(c.text.size()), c.cap);
        EXPECT_EQ(c.kept, c.text.substr(start)) << c.label;
        EXPECT_LE(c.text.size() - start, c.cap) << c.label;
    }
}
