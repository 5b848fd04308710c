// The archive's name from its URL, archiver selection by extension and the extraction command lines, byte for
// byte.
#include <gtest/gtest.h>
#include <string>
#include "../../../src/worker/archive/archive_name.h"
#include "../../../src/worker/archive/archiver_kind.h"

static const unsigned MAX_NAME = 260;

TEST(FindArchiverKind, ByExtension)
{
    struct Row {
        const char *label;
        const char *path;
        int kind;
    } rows[] = {
        {"upper-case zip", "C:\\w\\APP.ZIP", ARCHIVER_ZIP},
        {"jar", "a.jar", ARCHIVER_ZIP},
        {"only the last extension counts", "C:\\w\\pkg.tar.gz", ARCHIVER_TAR},
        {".Z through the entry z", "C:\\w\\old.Z", ARCHIVER_TAR},
        {"every tar extension: tar", "x.tar", ARCHIVER_TAR},
        {"tgz", "x.tgz", ARCHIVER_TAR},
        {"taz", "x.taz", ARCHIVER_TAR},
        {"bz2", "x.bz2", ARCHIVER_TAR},
        {"cpio", "x.cpio", ARCHIVER_TAR},
        {"rpm", "x.rpm", ARCHIVER_TAR},
        {"deb", "x.deb", ARCHIVER_TAR},
        {"lzh", "x.lzh", ARCHIVER_LHA},
        {"lha", "x.LHA", ARCHIVER_LHA},
        {"lzs", "x.lzs", ARCHIVER_LHA},
        {"cab", "x.cab", ARCHIVER_CAB},
        {"rar", "x.Rar", ARCHIVER_RAR},
        {"7z", "x.7z", ARCHIVER_SEVEN_ZIP},
        {"exe selects nothing", "setup.exe", ARCHIVER_NONE},
        {"7zip selects nothing", "data.7zip", ARCHIVER_NONE},
        {"no dot: the whole path is compared", "zip", ARCHIVER_ZIP},
        {"no dot in a longer path", "C:\\w\\archive", ARCHIVER_NONE},
        {"dot only in a folder", "C:\\w.zip\\archive", ARCHIVER_NONE},
        {"trailing dot", "archive.", ARCHIVER_NONE},
        {"empty", "", ARCHIVER_NONE},
    };
    for (const Row &row : rows)
        EXPECT_EQ(row.kind, FindArchiverKind(row.path)) << row.label;
    EXPECT_EQ(ARCHIVER_NONE, FindArchiverKind(nullptr));
}

TEST(FindArchiverKind, DoubleByteCharacterBeforeTheExtension)
{
    // 0x81 0x2E would be a dot if the trail byte were taken alone; it is not a valid pair in code page 932
    // but a lead byte is always stepped over with its follower.
    EXPECT_EQ(ARCHIVER_ZIP, FindArchiverKind("\x95\x5C.zip"));
    EXPECT_EQ(ARCHIVER_NONE, FindArchiverKind("x.zip\x81\x2Etar"));
}

static std::string Command(int kind, const char *archive, const char *destination, bool quiet)
{
    TextBuffer buffer = {};
    bool ok = ComposeExtractCommand(buffer, kind, archive, destination, quiet);
    std::string result = ok ? buffer.text : "<failed>";
    buffer.Free();
    return result;
}

TEST(ComposeExtractCommand, EveryKindQuietAndNot)
{
    const char *a = "C:\\T\\Work\\app.x";
    const char *d = "C:\\T\\Work\\Src\\";
    struct Row {
        int kind;
        const char *loud;
        const char *quiet;
    } rows[] = {
        {ARCHIVER_LHA, "x -c1ga1 C:\\T\\Work\\app.x C:\\T\\Work\\Src\\ *.*",
         "x -c1ga1n1 C:\\T\\Work\\app.x C:\\T\\Work\\Src\\ *.*"},
        {ARCHIVER_ZIP, "-x -o C:\\T\\Work\\app.x C:\\T\\Work\\Src\\ *.*",
         "-x -o --i C:\\T\\Work\\app.x C:\\T\\Work\\Src\\ *.*"},
        {ARCHIVER_TAR, "-x C:\\T\\Work\\app.x C:\\T\\Work\\Src\\ *.*",
         "-x --display-dialog=0 C:\\T\\Work\\app.x C:\\T\\Work\\Src\\ *.*"},
        {ARCHIVER_CAB, "-x -o C:\\T\\Work\\app.x C:\\T\\Work\\Src\\ *.*",
         "-x -o -i C:\\T\\Work\\app.x C:\\T\\Work\\Src\\ *.*"},
        {ARCHIVER_RAR, "-x -o C:\\T\\Work\\app.x C:\\T\\Work\\Src\\ *", "-x -o C:\\T\\Work\\app.x C:\\T\\Work\\Src\\ *"},
        {ARCHIVER_SEVEN_ZIP, "x -aoa C:\\T\\Work\\app.x C:\\T\\Work\\Src\\",
         "x -aoa -hide C:\\T\\Work\\app.x C:\\T\\Work\\Src\\"},
    };
    for (const Row &row : rows) {
        EXPECT_EQ(row.loud, Command(row.kind, a, d, false)) << "kind " << row.kind;
        EXPECT_EQ(row.quiet, Command(row.kind, a, d, true)) << "kind " << row.kind << " quiet";
    }
    EXPECT_EQ(Command(ARCHIVER_ZIP, a, d, false), Command(ARCHIVER_CAB, a, d, false));
}

TEST(ComposeExtractCommand, PathsWithBlanksAreQuoted)
{
    EXPECT_EQ("-x -o --i \"C:\\Documents and Settings\\u\\Temp\\Kovrel\\Work\\app.zip\" "
              "\"C:\\Documents and Settings\\u\\Temp\\Kovrel\\Work\\Src\\\" *.*",
              Command(ARCHIVER_ZIP, "C:\\Documents and Settings\\u\\Temp\\Kovrel\\Work\\app.zip",
                      "C:\\Documents and Settings\\u\\Temp\\Kovrel\\Work\\Src\\", true));
    EXPECT_EQ("x -aoa C:\\W\\a.7z \"C:\\W W\\Src\\\"", Command(ARCHIVER_SEVEN_ZIP, "C:\\W\\a.7z", "C:\\W W\\Src\\", false));
    // A double-byte character whose trail byte is not a blank does not cause quoting.
    EXPECT_EQ("-x C:\\\x95\x5C\\a.tar C:\\\x95\x5C\\Src\\ *.*",
              Command(ARCHIVER_TAR, "C:\\\x95\x5C\\a.tar", "C:\\\x95\x5C\\Src\\", false));
}

TEST(ComposeExtractCommand, RefusesMissingArguments)
{
    EXPECT_EQ("<failed>", Command(ARCHIVER_ZIP, "", "C:\\d\\", false));
    EXPECT_EQ("<failed>", Command(ARCHIVER_ZIP, "C:\\a.zip", "", false));
    EXPECT_EQ("<failed>", Command(ARCHIVER_ZIP, nullptr, "C:\\d\\", false));
    EXPECT_EQ("<failed>", Command(ARCHIVER_NONE, "C:\\a.zip", "C:\\d\\", false));
    EXPECT_EQ("<failed>", Command(6, "C:\\a.zip", "C:\\d\\", false));
}

TEST(ComposeExtractCommand, LongPathsFitTheBuffer)
{
    std::string archive = "C:\\" + std::string(250, 'a') + " b.tar";
    std::string destination = "C:\\" + std::string(250, 'd') + " e\\";
    std::string expected = "-x --display-dialog=0 \"" + archive + "\" \"" + destination + "\" *.*";
    EXPECT_EQ(expected, Command(ARCHIVER_TAR, archive.c_str(), destination.c_str(), true));
}

TEST(ArchiveName, LastSegmentOfTheUrl)
{
    struct {
        const char *url;
        const char *name;
    } cases[] = {
        {"http://host/files/app.lzh", "app.lzh"},
        {"http://host/get/app.zip?v=2", "app.zip"},
        {"http://host/get/app.zip?path=a/b.zip", "app.zip"},
        {"http://host/get/app.zip#part", "app.zip"},
        {"http://host/files/", ""},
        {"plain.zip", "plain.zip"},
        {"http://host\\a\\b.zip", "b.zip"},
    };
    char name[MAX_NAME];
    for (const auto &c : cases) {
        ASSERT_TRUE(ArchiveFileName(c.url, name, sizeof name)) << c.url;
        EXPECT_STREQ(c.name, name) << c.url;
    }
    EXPECT_FALSE(ArchiveFileName("http://host/a-name-too-long-for-eight.zip", name, 8)) << "never cut short";
}

TEST(ArchiveName, OnlyPlainFileNamesAreUsed)
{
    struct Row {
        const char *name;
        bool plain;
    } rows[] = {
        {"app.zip", true},         {"\x95\x5C\x8e\xa6.zip", true}, {"a b.zip", true},
        {"", false},               {".", false},                   {"..", false},
        {"c:evil.zip", false},     {"app.zip.", false},            {"app.zip ", false},
        {"CON", false},            {"con.zip", false},             {"NUL.tar.gz", false},
        {"COM1", false},           {"lpt9.zip", false},            {"COM0.zip", true},
        {"CONSOLE.zip", true},     {"a?b.zip", false},             {"a*b.zip", false},
        {"a|b.zip", false},        {"a\"b.zip", false},            {"a<b>.zip", false},
        {"a\tb.zip", false},
    };
    for (const Row &row : rows)
        EXPECT_EQ(row.plain, IsPlainFileName(row.name)) << "'" << row.name << "'";
    EXPECT_FALSE(IsPlainFileName(nullptr));
}

TEST(ArchiveName, TheWorkFolderKeepsItsOwnNames)
{
    for (const char *own : {"Kovrel.journal", "KOVREL.JOURNAL", "kovrel.ini", "Src", "bup"})
        EXPECT_TRUE(IsWorkFolderName(own)) << own;
    for (const char *other : {"Kovrel.journal.zip", "Src.zip", "update.zip", "Bu", ""})
        EXPECT_FALSE(IsWorkFolderName(other)) << other;
}
