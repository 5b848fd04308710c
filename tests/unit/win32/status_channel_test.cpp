// The status channel with a real window that receives the reports of another thread.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "test_folder.h"
#include "../../../src/worker/startup/worker_entry.h"
#include "../../../src/worker/run/module_instance.h"
#include "../../../src/worker/run/worker_settings.h"
#include "../../../src/worker/run/worker_resources.h"
#include "../../../src/worker/run/status_channel.h"
#include "../../../src/worker/ui/worker_message.h"

namespace {

struct Report {
    WPARAM kind;
    LPARAM value;
    std::string text;
};

std::vector<Report> reports;
DWORD receivingThread;

LRESULT CALLBACK RecorderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_APP_STATUS) {
        Report report = {wParam, lParam, ""};
        if (wParam == STATUS_TEXT)
            report.text = reinterpret_cast<const char *>(lParam);
        reports.push_back(report);
        receivingThread = GetCurrentThreadId();
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateRecorder()
{
    static bool registered = false;
    if (!registered) {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = RecorderProc;
        windowClass.hInstance = GetModuleHandleA(0);
        windowClass.lpszClassName = "KovrelStatusRecorder";
        RegisterClassA(&windowClass);
        registered = true;
    }
    return CreateWindowA("KovrelStatusRecorder", "recorder", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, 0, 0,
                         GetModuleHandleA(0), 0);
}

// Runs `work` on a thread of its own while this thread dispatches the window's messages.
template <typename Work> void RunOnUpdateThread(Work work)
{
    struct Context {
        Work *work;
        static DWORD WINAPI Run(void *parameter)
        {
            (*static_cast<Context *>(parameter)->work)();
            return 0;
        }
    } context = {&work};
    HANDLE thread = CreateThread(0, 0, Context::Run, &context, 0, 0);
    ASSERT_NE(nullptr, thread);
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, 30000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG message;
        while (PeekMessageA(&message, 0, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
    }
    CloseHandle(thread);
}

class StatusChannel : public ::testing::Test {
protected:
    void SetUp() override
    {
        moduleInstance = GetModuleHandleA(0);
        reports.clear();
        receivingThread = 0;
        window = CreateRecorder();
        ASSERT_NE(nullptr, window);
    }
    void TearDown() override
    {
        DestroyWindow(window);
        workerSettings.options = OPT_DEFAULTS;
    }
    HWND window = 0;
};

TEST_F(StatusChannel, ReportsArriveInOrderOnTheWindowsThread)
{
    StatusBlock block = {window, STATE_RUNNING, 0};
    RunOnUpdateThread([&] {
        AdvanceStage(&block, 0, IDS_STATUS_CONNECTING);
        AdvanceStage(&block, 4, 0);
        SendStatus(&block, STATUS_PROGRESS, 100);
        SendStatus(&block, STATUS_FINISHED, 0);
    });
    ASSERT_EQ(5u, reports.size());
    EXPECT_EQ(STATUS_PROGRESS, reports[0].kind);
    EXPECT_EQ(0, reports[0].value);
    EXPECT_EQ(STATUS_TEXT, reports[1].kind);
    EXPECT_EQ("\x83\x43\x83\x93\x83\x5e\x81\x5b\x83\x6c\x83\x62\x83\x67\x82\xc9\x90\xda\x91\xb1\x92\x86...",
              reports[1].text)
        << "the status text in code page 932";
    EXPECT_EQ(STATUS_PROGRESS, reports[2].kind) << "text id 0 sends only the position";
    EXPECT_EQ(4, reports[2].value);
    EXPECT_EQ(STATUS_PROGRESS, reports[3].kind);
    EXPECT_EQ(100, reports[3].value);
    EXPECT_EQ(STATUS_FINISHED, reports[4].kind);
    EXPECT_EQ(2, block.result) << "each stage counts";
    EXPECT_EQ(GetCurrentThreadId(), receivingThread);
}

TEST_F(StatusChannel, MissingTextIsNotSentButTheStageCounts)
{
    StatusBlock block = {window, STATE_RUNNING, 5};
    RunOnUpdateThread([&] { AdvanceStage(&block, 12, 40999); });
    ASSERT_EQ(1u, reports.size());
    EXPECT_EQ(12, reports[0].value);
    EXPECT_EQ(6, block.result);
}

TEST_F(StatusChannel, WithoutDialogWindowNothingIsSent)
{
    StatusBlock block = {0, STATE_RUNNING, 0};
    RunOnUpdateThread([&] {
        AdvanceStage(&block, 0, IDS_STATUS_CONNECTING);
        EXPECT_EQ(0, SendStatus(&block, STATUS_FINISHED, 0));
    });
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(1, block.result);
}

TEST(ShouldStop, OnlyARunningStateGoesOn)
{
    StatusBlock block = {0, STATE_RUNNING, 0};
    EXPECT_FALSE(ShouldStop(&block));
    for (unsigned short state : {STATE_DONE, STATE_FAILED, STATE_ABORTED}) {
        block.state = state;
        EXPECT_TRUE(ShouldStop(&block)) << state;
    }
}

// The dialog's Cancel: the question is put on the caller's thread, and only a yes stops a run that still goes on.
TEST(ConfirmAbort, Answers)
{
    struct {
        const char *label;
        unsigned short state;
        bool silent;
        int answer;
        bool asked;
        unsigned short after;
    } cases[] = {
        {"confirmed", STATE_RUNNING, false, IDYES, true, STATE_ABORTED},
        {"declined", STATE_RUNNING, false, IDNO, true, STATE_RUNNING},
        {"the run ended while the question was open", STATE_DONE, false, IDYES, true, STATE_DONE},
        {"silent mode counts as a refusal", STATE_RUNNING, true, IDYES, false, STATE_RUNNING},
    };
    moduleInstance = GetModuleHandleA(0);
    for (const auto &c : cases) {
        workerSettings.options = OPT_DEFAULTS | (c.silent ? OPT_SILENT : 0);
        StatusBlock block = {0, c.state, 0};
        BoxAnswerer answerer(L"確認", c.answer, c.asked ? 10000 : 1500);
        EXPECT_EQ(c.after == STATE_ABORTED, ConfirmAbort(&block)) << c.label;
        EXPECT_EQ(c.asked, answerer.Finish()) << c.label;
        if (c.asked)
            EXPECT_EQ(L"アップデートを中断してもよろしいですか？", answerer.Text()) << c.label;
        EXPECT_EQ(c.after, block.state) << c.label;
    }
    workerSettings.options = OPT_DEFAULTS;
}

} // namespace
