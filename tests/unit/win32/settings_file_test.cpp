// The settings file next to the launcher.
#include <gtest/gtest.h>
#include "test_folder.h"
#include "../../../src/worker/startup/worker_command_line.h"
#include "../../../src/worker/startup/worker_settings.h"

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
