// The worker's command-line contract: positional tokens, quoting and option letters.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "../../../src/worker/run/worker_command_line.h"
#include "../../../src/worker/run/worker_settings.h"

namespace {

class WorkerCommandLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        FreeWorkerArgs();
        workerSettings.options = OPT_DEFAULTS;
    }
    void TearDown() override
    {
        FreeWorkerArgs();
        workerSettings.options = OPT_DEFAULTS;
    }

    // The eight slots, with "<none>" for an empty one.
    static std::vector<std::string> Slots()
    {
        const char *slots[] = {workerArgs.launcherPath,   workerArgs.infoUrl,  workerArgs.appPath,
                               workerArgs.infoSection,    workerArgs.installedVersion,
                               workerArgs.caption,        workerArgs.restartProgram,
                               workerArgs.restartParams};
        std::vector<std::string> result;
        for (const char *slot : slots)
            result.push_back(slot ? slot : "<none>");
        return result;
    }
};

const char *const NONE = "<none>";

TEST_F(WorkerCommandLine, LauncherPathAndThreeTokensSucceed)
{
    ASSERT_TRUE(ParseWorkerCommandLine("\"C:\\My App\\Kovrel.exe\" http://h/u.ini C:\\App\\a.exe SECTION"));
    std::vector<std::string> expected = {"C:\\My App\\Kovrel.exe", "http://h/u.ini", "C:\\App\\a.exe", "SECTION",
                                         NONE, NONE, NONE, NONE};
    EXPECT_EQ(expected, Slots());
    EXPECT_EQ(OPT_DEFAULTS, workerSettings.options);
}

TEST_F(WorkerCommandLine, TooFewTokensFail)
{
    EXPECT_FALSE(ParseWorkerCommandLine("\"C:\\Kovrel.exe\" http://h/u.ini C:\\App\\a.exe"));
    FreeWorkerArgs();
    EXPECT_FALSE(ParseWorkerCommandLine("\"C:\\Kovrel.exe\" ")) << "launcher started without arguments";
    FreeWorkerArgs();
    EXPECT_FALSE(ParseWorkerCommandLine(""));
    EXPECT_FALSE(ParseWorkerCommandLine(nullptr));
}

TEST_F(WorkerCommandLine, OptionTokensTakeNoPosition)
{
    ASSERT_TRUE(ParseWorkerCommandLine("\"C:\\K.exe\" -s1 x y z"));
    EXPECT_STREQ("x", workerArgs.infoUrl);
    EXPECT_STREQ("y", workerArgs.appPath);
    EXPECT_STREQ("z", workerArgs.infoSection);
    EXPECT_EQ(OPT_DEFAULTS | OPT_SILENT, workerSettings.options);
}

TEST_F(WorkerCommandLine, OptionLetters)
{
    struct Row {
        const char *label;
        const char *options;
        unsigned expected;
    } rows[] = {
        {"-r alone leaves restart off", "-r", OPT_DEFAULTS},
        {"-r1 sets restart", "-r1", OPT_DEFAULTS | OPT_RESTART},
        {"-r1 then -r0 ends off", "-r1 -r0", OPT_DEFAULTS},
        {"-s alone leaves silent off", "-s", OPT_DEFAULTS},
        {"-s1 sets silent", "-s1", OPT_DEFAULTS | OPT_SILENT},
        {"-b0 clears backup", "-b0", OPT_CAPTION},
        {"-c0 clears the caption", "-c0", OPT_BACKUP},
        {"-b0 then -b alone sets backup again", "-b0 -b", OPT_DEFAULTS},
        {"several letters in one token", "-b0c0r1", OPT_RESTART},
        {"upper case and other characters are ignored", "-S1R1xyz9", OPT_DEFAULTS},
        {"the last of repeated letters counts", "-s1s0s1", OPT_DEFAULTS | OPT_SILENT},
        {"a lone dash changes nothing", "-", OPT_DEFAULTS},
        {"letter followed by another digit is the letter alone", "-r2 -b2", OPT_DEFAULTS},
    };
    for (const Row &row : rows) {
        FreeWorkerArgs();
        workerSettings.options = OPT_DEFAULTS;
        std::string line = std::string("\"C:\\K.exe\" a ") + row.options + " b c";
        EXPECT_TRUE(ParseWorkerCommandLine(line.c_str())) << row.label;
        EXPECT_EQ(row.expected, workerSettings.options) << row.label;
        EXPECT_STREQ("c", workerArgs.infoSection) << row.label;
    }
}

TEST_F(WorkerCommandLine, OptionsAtTheEndOfTheLine)
{
    ASSERT_TRUE(ParseWorkerCommandLine("\"C:\\K.exe\" a b c -r1"));
    EXPECT_EQ(OPT_DEFAULTS | OPT_RESTART, workerSettings.options);
    EXPECT_EQ(NONE, Slots()[4]);
}

TEST_F(WorkerCommandLine, EmptyQuotedTokenKeepsItsPosition)
{
    ASSERT_TRUE(ParseWorkerCommandLine("\"C:\\K.exe\" u p s 1.0 \"\" C:\\App\\a.exe \"-x y\""));
    std::vector<std::string> expected = {"C:\\K.exe", "u", "p", "s", "1.0", "", "C:\\App\\a.exe", "-x y"};
    EXPECT_EQ(expected, Slots());
}

TEST_F(WorkerCommandLine, QuotedTokensHoldBlanksAndDashes)
{
    ASSERT_TRUE(ParseWorkerCommandLine("\"C:\\K.exe\" \"-s1\" \"C:\\My App\\a.exe\" s 1.0"));
    EXPECT_STREQ("-s1", workerArgs.infoUrl) << "a quoted token is never an option token";
    EXPECT_STREQ("C:\\My App\\a.exe", workerArgs.appPath);
    EXPECT_EQ(OPT_DEFAULTS, workerSettings.options);
}

TEST_F(WorkerCommandLine, TextAroundQuotesIsDroppedOrSkipped)
{
    // Text before the opening quote is dropped; text after the closing quote up to the blank is skipped.
    ASSERT_TRUE(ParseWorkerCommandLine("\"C:\\K.exe\" ab\"cd ef\"gh x y"));
    EXPECT_STREQ("cd ef", workerArgs.infoUrl);
    EXPECT_STREQ("x", workerArgs.appPath);
    EXPECT_STREQ("y", workerArgs.infoSection);
}

TEST_F(WorkerCommandLine, MissingClosingQuoteFailsAfterFourTokens)
{
    EXPECT_FALSE(ParseWorkerCommandLine("\"C:\\K.exe\" a b c \"unclosed"));
    EXPECT_STREQ("c", workerArgs.infoSection) << "the slots filled before the failure stay filled";
}

TEST_F(WorkerCommandLine, OptionsBeforeAFailureStay)
{
    EXPECT_FALSE(ParseWorkerCommandLine("\"C:\\K.exe\" -s1 a \"b"));
    EXPECT_EQ(OPT_DEFAULTS | OPT_SILENT, workerSettings.options);
}

TEST_F(WorkerCommandLine, TenTokensStoreEight)
{
    ASSERT_TRUE(ParseWorkerCommandLine("\"L\" 1 2 3 4 5 6 7 8 9"));
    std::vector<std::string> expected = {"L", "1", "2", "3", "4", "5", "6", "7"};
    EXPECT_EQ(expected, Slots());
}

TEST_F(WorkerCommandLine, BlanksAndTabs)
{
    ASSERT_TRUE(ParseWorkerCommandLine("  \"L\"   a\tb   c  d   "));
    std::vector<std::string> expected = {"L", "a\tb", "c", "d", NONE, NONE, NONE, NONE};
    EXPECT_EQ(expected, Slots()) << "trailing blanks make no empty token; a tab is no separator";
}

TEST_F(WorkerCommandLine, DoubleByteText)
{
    // "表" (0x95 0x5C) and a character with the trail byte 0x20 after the lead byte 0x81.
    ASSERT_TRUE(ParseWorkerCommandLine("\"C:\\\x95\x5C\\K.exe\" u C:\\\x81\x20\\a.exe \x95\x5C 1"));
    EXPECT_STREQ("C:\\\x95\x5C\\K.exe", workerArgs.launcherPath);
    EXPECT_STREQ("C:\\\x81\x20\\a.exe", workerArgs.appPath);
    EXPECT_STREQ("\x95\x5C", workerArgs.infoSection);
    EXPECT_STREQ("1", workerArgs.installedVersion);
}

TEST_F(WorkerCommandLine, OptionTokenStepsOverDoubleByteCharacters)
{
    // 0x83 0x72 is a katakana whose trail byte is "r": it must not switch restart on.
    ASSERT_TRUE(ParseWorkerCommandLine("\"L\" -\x83\x72\x31 a b c"));
    EXPECT_EQ(OPT_DEFAULTS, workerSettings.options);
}

TEST(WorkerProgramName, SkipsTheProgramNameAndWhiteSpace)
{
    EXPECT_STREQ("a b", SkipWorkerProgramName("\"C:\\My Temp\\Kovrelw.exe\" a b"));
    EXPECT_STREQ("a b", SkipWorkerProgramName("C:\\Temp\\Kovrelw.exe \t a b"));
    EXPECT_STREQ("\"L\" x", SkipWorkerProgramName("Kovrelw.exe  \"L\" x"));
    EXPECT_STREQ("", SkipWorkerProgramName("Kovrelw.exe"));
    EXPECT_STREQ("", SkipWorkerProgramName("\"unclosed name"));
    EXPECT_EQ(nullptr, SkipWorkerProgramName(nullptr));
}

} // namespace
