// The one call that asks Windows for administrator rights, replaced here by a fake: what it is asked, and how
// each of its outcomes is told.
#include <gtest/gtest.h>
#include <string>
#include "../../../src/worker/run/elevation.h"

static DWORD fakeError;
static std::wstring askedVerb, askedFile, askedParameters;

static BOOL WINAPI FakeStart(SHELLEXECUTEINFOW *start)
{
    askedVerb = start->lpVerb;
    askedFile = start->lpFile;
    askedParameters = start->lpParameters;
    if (fakeError) {
        SetLastError(fakeError);
        return FALSE;
    }
    // The step that ran: a process that ends with the id of the "updated" message.
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    wchar_t command[] = L"cmd.exe /c exit 30112";
    if (!CreateProcessW(0, command, 0, 0, FALSE, CREATE_NO_WINDOW, 0, 0, &startup, &process))
        return FALSE;
    CloseHandle(process.hThread);
    start->hProcess = process.hProcess;
    return TRUE;
}

TEST(RunElevated, TellsEachOutcomeOfTheOneCall)
{
    struct Row {
        const char *label;
        DWORD error;
        ElevatedOutcome outcome;
        DWORD exitCode;
    } rows[] = {
        {"the user declined the prompt", ERROR_CANCELLED, ELEVATED_DECLINED, 0},
        {"the launcher is not there", ERROR_FILE_NOT_FOUND, ELEVATED_NOT_STARTED, 0},
        {"the step ran and ended", 0, ELEVATED_RAN, 30112},
    };
    elevatedStart = FakeStart;
    for (const Row &row : rows) {
        fakeError = row.error;
        DWORD exitCode = 0;
        // "表" in code page 932: the parameters reach the wide call as the same text.
        EXPECT_EQ(row.outcome, RunElevated("C:\\App\\Kovrel.exe", "\"C:\\\x95\x5C\\u.zip\" u", 0, &exitCode))
            << row.label;
        EXPECT_EQ(row.exitCode, exitCode) << row.label;
        EXPECT_EQ(L"runas", askedVerb) << row.label;
        EXPECT_EQ(L"C:\\App\\Kovrel.exe", askedFile) << row.label;
        EXPECT_EQ(L"\"C:\\\u8868\\u.zip\" u", askedParameters) << row.label;
    }
    elevatedStart = ShellExecuteExW;
}
