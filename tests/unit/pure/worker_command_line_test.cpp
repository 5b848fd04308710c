// The worker's command-line contract: positional tokens, quoting and option letters.
#include <gtest/gtest.h>
#include <string>
#include "../../../src/worker/run/worker_command_line.h"
#include "../../../src/worker/run/worker_settings.h"
#include "../../../src/common/cleanup_argument.h"

namespace {

class WorkerCommandLine : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }

    static void Reset()
    {
        FreeWorkerArgs();
        workerSettings.options = OPT_DEFAULTS;
    }

    // The eight slots joined by "|", with "<none>" for an empty one and the empty ones at the end left off.
    static std::string Slots()
    {
        const char *slots[] = {workerArgs.launcherPath,   workerArgs.infoUrl,  workerArgs.appPath,
                               workerArgs.infoSection,    workerArgs.installedVersion,
                               workerArgs.caption,        workerArgs.restartProgram,
                               workerArgs.restartParams};
        unsigned count = WORKER_ARG_SLOTS;
        while (count && !slots[count - 1])
            count--;
        std::string joined;
        for (unsigned i = 0; i < count; i++)
            joined += std::string(i ? "|" : "") + (slots[i] ? slots[i] : "<none>");
        return joined;
    }
};

TEST_F(WorkerCommandLine, Table)
{
    struct Row {
        const char *label;
        const char *line;
        bool parsed;
        const char *slots;
        unsigned options;
    } rows[] = {
        {"launcher path and three tokens", "\"C:\\My App\\Kovrel.exe\" http://h/u.ini C:\\App\\a.exe SECTION", true,
         "C:\\My App\\Kovrel.exe|http://h/u.ini|C:\\App\\a.exe|SECTION", OPT_DEFAULTS},
        {"too few tokens", "\"C:\\Kovrel.exe\" http://h/u.ini C:\\App\\a.exe", false,
         "C:\\Kovrel.exe|http://h/u.ini|C:\\App\\a.exe", OPT_DEFAULTS},
        {"launcher started without arguments", "\"C:\\Kovrel.exe\" ", false, "C:\\Kovrel.exe", OPT_DEFAULTS},
        {"empty line", "", false, "", OPT_DEFAULTS},
        {"absent line", nullptr, false, "", OPT_DEFAULTS},
        {"option tokens take no position", "\"C:\\K.exe\" -s1 x y z", true, "C:\\K.exe|x|y|z",
         OPT_DEFAULTS | OPT_SILENT},
        {"options at the end of the line", "\"C:\\K.exe\" a b c -r1", true, "C:\\K.exe|a|b|c",
         OPT_DEFAULTS | OPT_RESTART},
        {"empty quoted token keeps its position", "\"C:\\K.exe\" u p s 1.0 \"\" C:\\App\\a.exe \"-x y\"", true,
         "C:\\K.exe|u|p|s|1.0||C:\\App\\a.exe|-x y", OPT_DEFAULTS},
        {"quoted tokens hold blanks and dashes and are never options",
         "\"C:\\K.exe\" \"-s1\" \"C:\\My App\\a.exe\" s 1.0", true, "C:\\K.exe|-s1|C:\\My App\\a.exe|s|1.0",
         OPT_DEFAULTS},
        {"text before an opening quote is dropped, after a closing one skipped", "\"C:\\K.exe\" ab\"cd ef\"gh x y",
         true, "C:\\K.exe|cd ef|x|y", OPT_DEFAULTS},
        {"missing closing quote fails; the slots filled before stay", "\"C:\\K.exe\" a b c \"unclosed", false,
         "C:\\K.exe|a|b|c", OPT_DEFAULTS},
        {"options before a failure stay", "\"C:\\K.exe\" -s1 a \"b", false, "C:\\K.exe|a",
         OPT_DEFAULTS | OPT_SILENT},
        {"ten tokens store eight", "\"L\" 1 2 3 4 5 6 7 8 9", true, "L|1|2|3|4|5|6|7", OPT_DEFAULTS},
        {"trailing blanks make no empty token; a tab is no separator", "  \"L\"   a\tb   c  d   ", true,
         "L|a\tb|c|d", OPT_DEFAULTS},
        // "表" (0x95 0x5C) and a character with the trail byte 0x20 after the lead byte 0x81.
        {"double-byte text", "\"C:\\\x95\x5C\\K.exe\" u C:\\\x81\x20\\a.exe \x95\x5C 1", true,
         "C:\\\x95\x5C\\K.exe|u|C:\\\x81\x20\\a.exe|\x95\x5C|1", OPT_DEFAULTS},
        // 0x83 0x72 is a katakana whose trail byte is "r": it must not switch restart on.
        {"option token steps over double-byte characters", "\"L\" -\x83\x72\x31 a b c", true, "L|a|b|c",
         OPT_DEFAULTS},
    };
    for (const Row &row : rows) {
        Reset();
        EXPECT_EQ(row.parsed, ParseWorkerCommandLine(row.line)) << row.label;
        EXPECT_EQ(row.slots, Slots()) << row.label;
        EXPECT_EQ(row.options, workerSettings.options) << row.label;
    }
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
        {"-k alone leaves check off", "-k", OPT_DEFAULTS},
        {"-k1 sets check", "-k1", OPT_DEFAULTS | OPT_CHECK},
    };
    for (const Row &row : rows) {
        Reset();
        std::string line = std::string("\"C:\\K.exe\" a ") + row.options + " b c";
        EXPECT_TRUE(ParseWorkerCommandLine(line.c_str())) << row.label;
        EXPECT_EQ(row.expected, workerSettings.options) << row.label;
        EXPECT_STREQ("c", workerArgs.infoSection) << row.label;
    }
}

// The apply step's leading tokens: its argument and the archive's path take no slot, and the run's own
// arguments are what a worker passes on to such a step.
TEST_F(WorkerCommandLine, ApplyStep)
{
    struct Row {
        const char *label;
        const char *line;
        bool parsed;
        const char *archive; // nullptr: not an apply step
        const char *slots;
        const char *runArguments; // checked where the line was parsed
    } rows[] = {
        {"a run", "\"L\" u C:\\App\\a.exe s 1.0 -s1", true, nullptr, "L|u|C:\\App\\a.exe|s|1.0",
         "u C:\\App\\a.exe s 1.0 -s1"},
        {"an apply step", "\"L\" " APPLY_ARGUMENT " \"C:\\T\\u p.zip\" u C:\\App\\a.exe s 1.0", true,
         "C:\\T\\u p.zip", "L|u|C:\\App\\a.exe|s|1.0", "u C:\\App\\a.exe s 1.0"},
        {"an undo step names no archive", "\"L\" " APPLY_ARGUMENT " \"\" u C:\\App\\a.exe s", true, "",
         "L|u|C:\\App\\a.exe|s", "u C:\\App\\a.exe s"},
        {"the archive's path is missing", "\"L\" " APPLY_ARGUMENT, false, nullptr, "L", nullptr},
        {"anywhere else the argument is a token", "\"L\" u " APPLY_ARGUMENT " s 1.0", true, nullptr,
         "L|u|" APPLY_ARGUMENT "|s|1.0", "u " APPLY_ARGUMENT " s 1.0"},
    };
    for (const Row &row : rows) {
        Reset();
        EXPECT_EQ(row.parsed, ParseWorkerCommandLine(row.line)) << row.label;
        EXPECT_EQ(row.slots, Slots()) << row.label;
        EXPECT_STREQ(row.archive, workerArgs.stagedArchive) << row.label;
        if (row.parsed)
            EXPECT_STREQ(row.runArguments, workerArgs.runArguments) << row.label;
    }
}

TEST(WorkerProgramName, SkipsTheProgramNameAndWhiteSpace)
{
    struct Row {
        const char *label;
        const char *commandLine;
        const char *expected;
    } rows[] = {
        {"quoted name with a blank", "\"C:\\My Temp\\Kovrelw.exe\" a b", "a b"},
        {"unquoted name, then blanks and a tab", "C:\\Temp\\Kovrelw.exe \t a b", "a b"},
        {"a quote after the name belongs to the arguments", "Kovrelw.exe  \"L\" x", "\"L\" x"},
        {"name alone", "Kovrelw.exe", ""},
        {"unclosed quoted name", "\"unclosed name", ""},
        {"absent line", nullptr, nullptr},
    };
    for (const Row &row : rows)
        EXPECT_STREQ(row.expected, SkipWorkerProgramName(row.commandLine)) << row.label;
}

} // namespace
