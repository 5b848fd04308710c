// The worker's run sequence, in-process: parse failures and the module instance.
#include <gtest/gtest.h>
#include "test_folder.h"
#include "../../../src/worker/run/worker_command_line.h"
#include "../../../src/worker/startup/worker_entry.h"
#include "../../../src/worker/run/module_instance.h"
#include "../../../src/worker/run/worker_settings.h"

TEST(RunWorker, ParseFailureShowsInitFailureAndReturnsZero)
{
    HINSTANCE self = GetModuleHandleA(0);
    BoxAnswerer answerer(L"Kovrel", IDOK);
    // The launcher path names no program, so the cleanup start finds nothing to start.
    EXPECT_EQ(0, RunWorker(self, "\"C:\\no such folder\\Kovrel.exe\" only-two"));
    ASSERT_TRUE(answerer.Finish());
    EXPECT_EQ(L"Kovrel の初期化に失敗しました。", answerer.Text());
    EXPECT_EQ(self, moduleInstance);
    EXPECT_EQ(nullptr, workerArgs.launcherPath) << "the slots are freed at the end";
}

TEST(RunWorker, SilentParseFailureShowsNothing)
{
    BoxAnswerer answerer(L"Kovrel", IDOK, 1500);
    EXPECT_EQ(0, RunWorker(GetModuleHandleA(0), "\"C:\\no such folder\\Kovrel.exe\" -s1 two"));
    EXPECT_FALSE(answerer.Finish());
    workerSettings.options = OPT_DEFAULTS;
}
