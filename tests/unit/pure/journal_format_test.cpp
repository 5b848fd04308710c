// The replacement journal's lines: composed, split and read back, torn last lines included.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "../../../src/common/journal_format.h"

static std::vector<std::string> Split(std::string text)
{
    std::vector<char *> lines(16);
    unsigned count = SplitJournalLines(&text[0], static_cast<unsigned>(text.size()), lines.data(), 16);
    std::vector<std::string> result;
    for (unsigned i = 0; i < count && i < 16; i++)
        result.push_back(lines[i]);
    return result;
}

TEST(JournalFormat, LinesAreComposedOrRefused)
{
    char line[32];
    ASSERT_TRUE(FormatJournalLine(line, sizeof line, 'R', "bin\\a.dll"));
    EXPECT_STREQ("R bin\\a.dll\r\n", line);
    ASSERT_TRUE(FormatJournalLine(line, sizeof line, 'K', ""));
    EXPECT_STREQ("K\r\n", line);
    EXPECT_FALSE(FormatJournalLine(line, 8, 'C', "toolong.txt")) << "never cut short";
}

TEST(JournalFormat, OnlyCompleteLinesAreRead)
{
    struct {
        const char *label;
        std::string text;
        std::vector<std::string> lines;
    } cases[] = {
        {"CRLF", "a\r\nb\r\n", {"a", "b"}},
        {"LF", "a\nb\n", {"a", "b"}},
        {"torn last line", "a\r\nC par", {"a"}},
        {"torn inside the line ending", "a\r\nb\r", {"a"}},
        {"empty", "", {}},
        {"an empty line", "\r\nx\r\n", {"", "x"}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.lines, Split(c.text)) << c.label;
}

TEST(JournalFormat, HeaderAndRecords)
{
    // Version 1 held names in the ANSI code page (here code page 932), version 2 in UTF-8; both are read.
    struct {
        const char *label;
        std::string mark;
        std::string name;
        bool utf8;
    } versions[] = {
        {"version 1", "KOVREL-JOURNAL 1", "\x95\x5C\x8e\xa6\\", false},
        {"version 2, Japanese", "KOVREL-JOURNAL 2", "日本語\\", true},
        {"version 2, Greek", "KOVREL-JOURNAL 2", "Ελληνικά\\", true},
        {"version 2, outside the basic plane", "KOVREL-JOURNAL 2", "😀 smile\\", true},
    };
    std::vector<char *> lines(8);
    JournalHeader header;
    for (const auto &v : versions) {
        char record[64];
        ASSERT_TRUE(FormatJournalLine(record, sizeof record, 'D', v.name.c_str())) << v.label;
        std::string text = v.mark + "\r\nA C:\\App\\\r\nB C:\\T\\Bup\\\r\nR a.dll\r\n" + record;
        unsigned count = SplitJournalLines(&text[0], static_cast<unsigned>(text.size()), lines.data(), 8);
        ASSERT_TRUE(ReadJournalHeader(lines.data(), count, &header)) << v.label;
        EXPECT_EQ(v.utf8, header.utf8) << v.label;
        EXPECT_STREQ("C:\\App\\", header.applicationFolder) << v.label;
        EXPECT_STREQ("C:\\T\\Bup\\", header.backupFolder) << v.label;
        EXPECT_EQ(3u, header.firstRecord) << v.label;
        EXPECT_FALSE(header.committed) << v.label;
        char kind = 0;
        const char *path = nullptr;
        ASSERT_TRUE(ReadJournalRecord(lines[4], &kind, &path)) << v.label;
        EXPECT_EQ('D', kind) << v.label;
        EXPECT_EQ(v.name, path) << v.label << ": the name's bytes come back as they were written";
    }
    char kind = 0;
    const char *path = nullptr;
    EXPECT_FALSE(ReadJournalRecord("Rx", &kind, &path)) << "no blank after the kind";

    std::string committed = "KOVREL-JOURNAL 2\r\nA C:\\App\\\r\nB C:\\Bup\\\r\nK\r\n";
    unsigned count = SplitJournalLines(&committed[0], static_cast<unsigned>(committed.size()), lines.data(), 8);
    ASSERT_TRUE(ReadJournalHeader(lines.data(), count, &header));
    EXPECT_TRUE(header.committed);

    // A row for each check of the header, so that leaving any one check out lets a row through.
    struct {
        const char *label;
        std::string text;
    } bad[] = {
        {"another mark", "KOVREL-JOURNAL 3\r\nA x\r\nB y\r\n"},
        {"no backup line", "KOVREL-JOURNAL 1\r\nA x\r\n"},
        {"backup line first", "KOVREL-JOURNAL 1\r\nB y\r\nA x\r\n"},
        {"another kind before the backup line", "KOVREL-JOURNAL 1\r\nX x\r\nB y\r\n"},
        {"no blank after A", "KOVREL-JOURNAL 1\r\nAx\r\nB y\r\n"},
        {"empty application folder", "KOVREL-JOURNAL 1\r\nA \r\nB y\r\n"},
        {"another kind after the application line", "KOVREL-JOURNAL 1\r\nA x\r\nX y\r\n"},
        {"empty backup folder", "KOVREL-JOURNAL 1\r\nA x\r\nB\r\n"},
    };
    for (auto &row : bad) {
        count = SplitJournalLines(&row.text[0], static_cast<unsigned>(row.text.size()), lines.data(), 8);
        EXPECT_FALSE(ReadJournalHeader(lines.data(), count, &header)) << row.label;
    }
}

TEST(JournalFormat, OnlyNamesInsideTheirRootAreActedOn)
{
    // "\x95\x5C" is a double-byte character whose second byte is '\': taken for a separator, it refuses nothing.
    for (const char *inside : {"a.txt", "sub\\", "sub\\a..b\\.x", "\x95\x5C.txt", "\xE6\x97\xA5\\a"})
        EXPECT_TRUE(IsJournalNameInside(inside)) << inside;
    for (const char *outside : {"", "..", "..\\x", "a\\..\\..\\x", "a/../x", "\\x", "/x", "C:x", "C:\\x", "x:stream"})
        EXPECT_FALSE(IsJournalNameInside(outside)) << outside;
}
