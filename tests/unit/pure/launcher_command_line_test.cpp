// Splitting the launcher's command line and composing the worker's.
#include <gtest/gtest.h>
#include <string>
#include "../../../src/common/cleanup_argument.h"
#include "../../../src/common/command_tokens.h"
#include "../../../src/launcher/launcher_command_line.h"
#include "../../../src/worker/run/worker_command_line.h"
#include "../../../src/worker/run/worker_settings.h"

TEST(LauncherCommandLine, FindsTheArguments)
{
    struct Row {
        const char *label;
        const char *commandLine;
        const char *expected; // null: refused
    } rows[] = {
        {"quoted program name with a blank", "\"C:\\My App\\Kovrel.exe\" a b", "a b"},
        {"unquoted program name", "C:\\App\\Kovrel.exe a b", "a b"},
        {"quoted program name alone", "\"C:\\My App\\Kovrel.exe\"", ""},
        {"unquoted program name alone", "Kovrel.exe", ""},
        {"leading blanks before the program name", "   Kovrel.exe x", "x"},
        {"several blanks before the arguments", "\"K.exe\"    x  y ", "x  y "},
        {"text glued to the closing quote", "\"K.exe\"tail x", "x"},
        {"quote after the first blank belongs to the arguments", "K.exe \"a b\" c", "\"a b\" c"},
        {"trail byte 0x20 inside an unquoted name", "C:\\\x81\x20\\K.exe x", "x"},
        {"trail byte 0x22 inside a quoted name", "\"C:\\\x81\x22\\K.exe\" x", "x"},
        {"tab is not a separator", "K.exe\tx y", "y"},
        {"cleanup argument", "K.exe " CLEANUP_ARGUMENT, CLEANUP_ARGUMENT},
        {"unclosed quoted program name", "\"C:\\My App\\Kovrel.exe a b", nullptr},
        {"a lone quote", "\"", nullptr},
        {"absent command line", nullptr, nullptr},
    };
    for (const Row &row : rows) {
        const char *arguments = nullptr;
        bool found = FindLauncherArguments(row.commandLine, &arguments);
        EXPECT_EQ(row.expected != nullptr, found) << row.label;
        if (found && row.expected)
            EXPECT_STREQ(row.expected, arguments) << row.label;
    }
}

// The cleanup request names the application whose folders go; nothing else may follow.
TEST(LauncherCommandLine, CleanupArgumentIsExactAndNamesAnApplication)
{
    EXPECT_EQ(30u, sizeof(CLEANUP_ARGUMENT) - 1);
    struct Row {
        const char *arguments;
        bool cleanup;
        const char *identity;
    } rows[] = {
        {CLEANUP_ARGUMENT " app-0123abcd", true, "app-0123abcd"},
        {CLEANUP_ARGUMENT "  \"app-0123abcd\" ", true, "app-0123abcd"},
        {CLEANUP_ARGUMENT, true, ""},
        {CLEANUP_ARGUMENT " ..\\x-0123abcd", true, ""},
        {CLEANUP_ARGUMENT " app-0123abcd more", true, ""},
        {"<:rokuta!velmoranpisuclose!!:> app-0123abcd", false, ""}, // case-sensitive
        {"url " CLEANUP_ARGUMENT " app-0123abcd", false, ""},
        {"", false, ""},
    };
    for (const Row &row : rows) {
        char identity[IDENTITY_BYTES] = "x";
        EXPECT_EQ(row.cleanup, IsCleanupArgument(row.arguments, identity)) << row.arguments;
        EXPECT_STREQ(row.identity, identity) << row.arguments;
    }
}

// Launcher and worker name the same application, so that they meet at the same lock.
TEST(LauncherCommandLine, FindsTheApplicationIdentityAsTheWorkerDoes)
{
    const char *lines[] = {"url \"C:\\My App\\a.exe\" Section 1.0", "-s1 url C:\\App\\a.exe -k1 \"My Section\" 1.0",
                           "url C:\\\x95\x5c\\a.exe sec 1.0 caption"};
    for (const char *line : lines) {
        char launcher[IDENTITY_BYTES], worker[IDENTITY_BYTES];
        FindApplicationIdentity(line, 1, launcher);
        ASSERT_TRUE(ParseWorkerCommandLine((std::string("\"C:\\K.exe\" ") + line).c_str())) << line;
        ComposeWorkerIdentity(worker);
        EXPECT_STREQ(launcher, worker) << line;
        FreeWorkerArgs();
    }
}

TEST(LauncherCommandLine, ComposesTheWorkerCommandLine)
{
    std::string longArguments = std::string(5000, 'x') + " end";
    struct Row {
        const char *label;
        const char *launcherPath;
        std::string arguments;
        std::string expected;
    } rows[] = {
        {"path quoted, arguments unchanged", "C:\\My App\\Kovrel.exe", "http://h/u.ini C:\\App\\a.exe S 1.0",
         "\"C:\\My App\\Kovrel.exe\" http://h/u.ini C:\\App\\a.exe S 1.0"},
        {"empty arguments leave one blank after the path", "C:\\K.exe", "", "\"C:\\K.exe\" "},
        {"long arguments are not cut", "C:\\K.exe", longArguments, "\"C:\\K.exe\" " + longArguments},
    };
    TextBuffer commandLine = {};
    for (const Row &row : rows) {
        EXPECT_TRUE(ComposeWorkerCommandLine(commandLine, row.launcherPath, row.arguments.c_str())) << row.label;
        EXPECT_EQ(row.expected, std::string(commandLine.text ? commandLine.text : "<none>")) << row.label;
        EXPECT_GE(commandLine.capacity, row.expected.size() + 1) << row.label;
    }
    commandLine.Free();
}

// The launcher finds the application path among its arguments as the worker reads them.
TEST(FindPositionalToken, SkipsOptionsAndReadsQuotes)
{
    char token[16];
    ASSERT_TRUE(FindPositionalToken("url -s1 \"C:\\A B\\a.exe\" sec 1.0", 1, token, sizeof token));
    EXPECT_STREQ("C:\\A B\\a.exe", token);
    ASSERT_TRUE(FindPositionalToken("-b0 url \"\" sec", 1, token, sizeof token));
    EXPECT_STREQ("", token);
    EXPECT_FALSE(FindPositionalToken("url", 1, token, sizeof token)) << "no such token";
    EXPECT_FALSE(FindPositionalToken("url \"C:\\open", 1, token, sizeof token)) << "an unclosed quote";
    EXPECT_FALSE(FindPositionalToken("url C:\\a-very-long-path.exe", 1, token, sizeof token)) << "never cut short";
}

// The launcher waits for a check's worker: both must read -k1 from the same line alike, or one waits for ever.
TEST(LauncherCommandLine, ReadsTheCheckOptionAsTheWorkerDoes)
{
    struct Row {
        const char *label;
        const char *arguments;
        bool check;
    } rows[] = {
        {"no options", "url C:\\a.exe sec 1.0", false},
        {"-k1 among the tokens", "url C:\\a.exe -s1 -k1 sec 1.0", true},
        {"-k alone", "url C:\\a.exe sec 1.0 -k", false},
        {"the last letter counts", "-k1 url C:\\a.exe sec 1.0 -s1k0", false},
        {"in a token with other letters", "url C:\\a.exe sec 1.0 -b0k1", true},
        {"quoted, it is a positional token", "url \"-k1\" C:\\a.exe sec 1.0", false},
        {"a trail byte 'k' is no letter", "-\x83k1 url C:\\a.exe sec 1.0", false},
        {"after an unclosed quote nothing is read", "url C:\\a.exe sec \"1.0 -k1", false},
        {"before an unclosed quote it stays", "-k1 url C:\\a.exe sec \"1.0", true},
    };
    for (const Row &row : rows) {
        EXPECT_EQ(row.check, IsOptionOn(row.arguments, 'k')) << row.label;
        workerSettings.options = OPT_DEFAULTS;
        ParseWorkerCommandLine((std::string("\"C:\\K.exe\" ") + row.arguments).c_str());
        EXPECT_EQ(row.check, (workerSettings.options & OPT_CHECK) != 0) << row.label;
        FreeWorkerArgs();
    }
}
