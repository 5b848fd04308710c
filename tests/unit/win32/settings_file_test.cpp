// The settings file next to the launcher.
#include <gtest/gtest.h>
#include "test_folder.h"
#include "../../../src/worker/run/worker_command_line.h"
#include "../../../src/worker/run/worker_settings.h"

namespace {

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override { saved = workerSettings; }
    void TearDown() override
    {
        FreeWorkerArgs();
        workerSettings = saved;
    }
    void Launcher(const std::string &path)
    {
        std::string line = "\"" + path + "\" u a s";
        ASSERT_TRUE(ParseWorkerCommandLine(line.c_str()));
    }
    WorkerSettings saved;
    TestFolder folder;
};

TEST_F(SettingsFile, DefaultsWithoutAFile)
{
    Launcher(folder / "Kovrel.exe");
    workerSettings.animationInterval = 1;
    workerSettings.transColor = NO_COLOR;
    LoadSettings();
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), workerSettings.colorBkgnd);
    EXPECT_EQ(GetSysColor(COLOR_WINDOWTEXT), workerSettings.colorInfoText);
    EXPECT_EQ(GetSysColor(COLOR_WINDOW), workerSettings.colorInfoBkgnd);
    EXPECT_EQ(NO_COLOR, workerSettings.colorAniBkgnd);
    EXPECT_EQ(GetSysColor(COLOR_WINDOWTEXT), workerSettings.colorBtnText);
    EXPECT_EQ(GetSysColor(COLOR_BTNTEXT), workerSettings.colorRebootText);
    EXPECT_EQ(NO_COLOR, workerSettings.colorRebootBkgnd);
    EXPECT_EQ(256u, workerSettings.animationInterval) << "a missing INTERVAL reads as 256";
    EXPECT_EQ(NO_COLOR, workerSettings.transColor);
}

TEST_F(SettingsFile, ValuesFromTheFileNamedAfterTheLauncher)
{
    ASSERT_TRUE(WriteTestFile(folder / "Kovrel.ini", "[DRAWCOLOR]\r\nBKGND=#C0C0C0\r\nINFOBKGND=FF000000\r\n"
                                                     "REBOOTTEXT=0x000000FF\r\nINFOTEXT=\r\n"
                                                     "BTNTEXT=0x1234567890\r\n"
                                                     "[ANIMATION]\r\nINTERVAL=100\r\nTRANSCOLOR=80000000\r\n"));
    Launcher(folder / "Kovrel.exe");
    LoadSettings();
    EXPECT_EQ(0xC0C0C0u, workerSettings.colorBkgnd);
    EXPECT_EQ(NO_COLOR, workerSettings.colorInfoBkgnd);
    EXPECT_EQ(0x0000FFu, workerSettings.colorRebootText);
    EXPECT_EQ(GetSysColor(COLOR_WINDOWTEXT), workerSettings.colorInfoText) << "an empty value keeps the default";
    EXPECT_EQ(0x12345678u, workerSettings.colorBtnText) << "only the first ten characters are read";
    EXPECT_EQ(100u, workerSettings.animationInterval);
    EXPECT_EQ(NO_TRANSPARENCY, workerSettings.transColor);
}

// Values followed by comments, as a person writes them (and as the README's sample shows them).
TEST_F(SettingsFile, CommentsAfterValuesAreNotPartOfThem)
{
    ASSERT_TRUE(WriteTestFile(folder / "Kovrel.ini",
                              "[DRAWCOLOR]\r\n"
                              "BKGND=C0C0C0        ; dialog background where no picture covers it\r\n"
                              "INFOTEXT=000000     ; status text\r\n"
                              "INFOBKGND=FF000000  ; not filled\r\n"
                              "ANIBKGND=#FFFFFF;white\r\n"
                              "BTNTEXT=\t; only a comment\r\n"
                              "REBOOTTEXT=  ; only a comment\r\n"
                              "[ANIMATION]\r\n"
                              "INTERVAL=100        ; milliseconds per frame\r\n"
                              "TRANSCOLOR=FF00FF   ; magenta\r\n"));
    Launcher(folder / "Kovrel.exe");
    workerSettings.transColor = NO_COLOR;
    LoadSettings();
    EXPECT_EQ(0xC0C0C0u, workerSettings.colorBkgnd);
    EXPECT_EQ(0x000000u, workerSettings.colorInfoText);
    EXPECT_EQ(NO_COLOR, workerSettings.colorInfoBkgnd) << "a padded FF000000 still means not set";
    EXPECT_EQ(0xFFFFFFu, workerSettings.colorAniBkgnd);
    EXPECT_EQ(GetSysColor(COLOR_WINDOWTEXT), workerSettings.colorBtnText) << "a comment alone keeps the default";
    EXPECT_EQ(GetSysColor(COLOR_BTNTEXT), workerSettings.colorRebootText) << "a comment alone keeps the default";
    EXPECT_EQ(100u, workerSettings.animationInterval);
    EXPECT_EQ(0xFF00FFu, workerSettings.transColor);
}

TEST_F(SettingsFile, OnlyTheLaunchersOwnExtensionIsReplaced)
{
    std::string dotted = folder / "my.app\\";
    ASSERT_TRUE(CreateDirectoryA(dotted.c_str(), 0));
    ASSERT_TRUE(WriteTestFile(folder / "my.ini", "[DRAWCOLOR]\r\nBKGND=123456\r\n"));
    Launcher(dotted + "Kovrel");
    LoadSettings();
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), workerSettings.colorBkgnd) << "a launcher without extension has no file";
}
}  // namespace
