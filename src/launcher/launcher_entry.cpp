// The launcher's entry: the named mutex, the command line, and the choice between normal and cleanup mode.
//
// There is no run-time start-up code: the entry reads the command line itself and ends the process with
// exit code 0 on every path but the apply step's. The mutex handle is never closed; its ownership ends with the process, which is
// what lets the worker (waiting on the same mutex) proceed once the launcher has gone.
#include <windows.h>
#include "launcher_command_line.h"
#include "launcher_resources.h"
#include "worker_handoff.h"
#include "../common/cleanup_argument.h"
#include "../common/resource_message.h"
#include "../common/system_library.h"

static void ShowLauncherError(UINT textId)
{
    ShowResourceMessage(0, textId, IDS_LAUNCHER_CAPTION, MB_ICONHAND);
}

static void RunLauncher()
{
    RestrictLibrarySearch();
    HANDLE mutex = CreateMutexA(0, FALSE, KOVREL_MUTEX_NAME);
    DWORD mutexError = GetLastError();
    if (!mutex) {
        ShowLauncherError(IDS_LAUNCHER_MUTEX_FAILED);
        return;
    }
    const char *arguments = 0;
    if (!FindLauncherArguments(GetCommandLineA(), &arguments)) {
        ShowLauncherError(IDS_LAUNCHER_BAD_COMMAND_LINE);
        return;
    }
    // The apply step runs while the worker that started it holds the mutex and waits for it.
    if (IsApplyStep(arguments))
        ExitProcess(RunApplyStep(GetModuleHandleA(0), arguments));
    bool cleanup = IsCleanupArgument(arguments);
    // In cleanup mode the worker is expected to hold the mutex; in normal mode it means another run.
    if (!cleanup && mutexError == ERROR_ALREADY_EXISTS) {
        ShowLauncherError(IDS_LAUNCHER_ALREADY_RUNNING);
        return;
    }
    // An abandoned mutex (a worker that was killed) counts as acquired.
    WaitForSingleObject(mutex, INFINITE);
    if (cleanup)
        RunCleanupMode();
    else
        RunNormalMode(GetModuleHandleA(0), arguments);
}

extern "C" void LauncherEntry()
{
    RunLauncher();
    ExitProcess(0);
}
