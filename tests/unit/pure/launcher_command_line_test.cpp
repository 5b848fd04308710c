// Splitting the launcher's command line and composing the worker's.
#include <gtest/gtest.h>
#include <string>
#include "../../../src/common/cleanup_argument.h"
#include "../../../src/launcher/launcher_command_line.h"

TEST(LauncherCommandLine, FindsTheArguments)
{
    struct Row {
        const char *label;
        const char *commandLine;
        const char *expected;
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
    };
    for (const Row &row : rows) {
        const char *arguments = nullptr;
        ASSERT_TRUE(FindLauncherArguments(row.commandLine, &arguments)) << row.label;
        EXPECT_STREQ(row.expected, arguments) << row.label;
    }
}

TEST(LauncherCommandLine, RefusesAnUnclosedQuote)
{
    const char *arguments = nullptr;
    EXPECT_FALSE(FindLauncherArguments("\"C:\\My App\\Kovrel.exe a b", &arguments));
    EXPECT_FALSE(FindLauncherArguments("\"", &arguments));
    EXPECT_FALSE(FindLauncherArguments(nullptr, &arguments));
}

TEST(LauncherCommandLine, CleanupArgumentIsExact)
{
    EXPECT_EQ(30u, sizeof(CLEANUP_ARGUMENT) - 1);
    EXPECT_TRUE(IsCleanupArgument(CLEANUP_ARGUMENT));
    EXPECT_FALSE(IsCleanupArgument(CLEANUP_ARGUMENT " ")) << "a trailing blank makes it differ";
    EXPECT_FALSE(IsCleanupArgument("<:rokuta!velmoranpisuclose!!:>")) << "case-sensitive";
    EXPECT_FALSE(IsCleanupArgument(""));
}

TEST(LauncherCommandLine, ComposesTheWorkerCommandLine)
{
    TextBuffer commandLine = {};
    ASSERT_TRUE(ComposeWorkerCommandLine(commandLine, "C:\\My App\\Kovrel.exe", "http://h/u.ini C:\\App\\a.exe S 1.0"));
    EXPECT_STREQ("\"C:\\My App\\Kovrel.exe\" http://h/u.ini C:\\App\\a.exe S 1.0", commandLine.text);

    ASSERT_TRUE(ComposeWorkerCommandLine(commandLine, "C:\\K.exe", ""));
    EXPECT_STREQ("\"C:\\K.exe\" ", commandLine.text) << "empty arguments leave one blank after the path";
    commandLine.Free();
}

TEST(LauncherCommandLine, LongArgumentsAreNotCut)
{
    std::string arguments(5000, 'x');
    arguments += " end";
    TextBuffer commandLine = {};
    ASSERT_TRUE(ComposeWorkerCommandLine(commandLine, "C:\\K.exe", arguments.c_str()));
    EXPECT_EQ("\"C:\\K.exe\" " + arguments, std::string(commandLine.text));
    EXPECT_GE(commandLine.capacity, arguments.size() + 12);
    commandLine.Free();
}
