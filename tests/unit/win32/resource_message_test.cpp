// Both forms of ShowResourceMessage, with real message boxes answered by a thread of the test.
#include <gtest/gtest.h>
#include "test_folder.h"
#include "test_resources.h"
#include "../../../src/common/resource_message.h"
#include "../../../src/worker/startup/worker_entry.h"
#include "../../../src/worker/run/module_instance.h"
#include "../../../src/worker/ui/worker_message.h"
#include "../../../src/worker/run/worker_settings.h"

TEST(ShowResourceMessage, LauncherFormShowsTextAndCaption)
{
    BoxAnswerer answerer(L"Kovrel", IDOK);
    EXPECT_EQ(IDOK, ShowResourceMessage(0, TEST_STRING_SHORT, 30050, MB_ICONHAND));
    ASSERT_TRUE(answerer.Finish());
    EXPECT_EQ(L"short text", answerer.Text());
}

TEST(ShowResourceMessage, LauncherFormFallsBackToAFixedText)
{
    BoxAnswerer answerer(L"Kovrel", IDOK);
    ShowResourceMessage(0, TEST_STRING_MISSING, 30050, MB_ICONHAND);
    ASSERT_TRUE(answerer.Finish());
    EXPECT_EQ(L"An error occurred.", answerer.Text());
}

TEST(ShowResourceMessage, ReturnsTheAnswer)
{
    BoxAnswerer answerer(L"確認", IDNO);
    EXPECT_EQ(IDNO, ShowResourceMessage(0, TEST_STRING_SHORT, 30051, MB_YESNO));
    ASSERT_TRUE(answerer.Finish());
}

class WorkerMessage : public ::testing::Test {
protected:
    void SetUp() override { moduleInstance = GetModuleHandleA(0); }
    void TearDown() override { workerSettings.options = OPT_DEFAULTS; }
};

TEST_F(WorkerMessage, FallsBackToTheWorkerErrorText)
{
    BoxAnswerer answerer(L"Kovrel", IDOK);
    EXPECT_EQ(IDOK, ShowResourceMessage(0, TEST_STRING_MISSING, 30050, MB_ICONHAND, false));
    ASSERT_TRUE(answerer.Finish());
    EXPECT_EQ(L"Kovrel でエラーが発生しました。", answerer.Text());
}

TEST_F(WorkerMessage, QuietCapableBoxIsSuppressedInSilentMode)
{
    workerSettings.options = OPT_DEFAULTS | OPT_SILENT;
    // Were a box shown, the answerer would close it and the assertion below would fail.
    BoxAnswerer answerer(L"確認", IDNO, 1500);
    EXPECT_EQ(IDOK, ShowResourceMessage(0, TEST_STRING_SHORT, 30051, MB_YESNO, true));
    EXPECT_FALSE(answerer.Finish());
}

TEST_F(WorkerMessage, BoxWithoutTheQuietFlagShowsInSilentMode)
{
    workerSettings.options = OPT_DEFAULTS | OPT_SILENT;
    BoxAnswerer answerer(L"確認", IDNO);
    EXPECT_EQ(IDNO, ShowResourceMessage(0, TEST_STRING_SHORT, 30051, MB_YESNO, false));
    ASSERT_TRUE(answerer.Finish());
    EXPECT_EQ(L"short text", answerer.Text());
}
