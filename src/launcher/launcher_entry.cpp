// The launcher's entry: the named mutex, the command line, and the choice between normal, check and cleanup
// mode.
//
// There is no run-time start-up code: the entry reads the command line itself and ends the process with
// exit code 0 on every path but the apply step's and a check's. The mutex handle is never closed; its ownership
// ends with the process, which is what lets the worker (waiting on the same mutex) proceed once the launcher
// has gone. A check lets it go before it waits for its worker.
#include <windows.h>
#include "launcher_command_line.h"
#include "launcher_log.h"
#include "launcher_resources.h"
#include "worker_handoff.h"
#include "../common/cleanup_argument.h"
#include "../common/resource_message.h"
#include "../common/system_library.h"

// A check shows nothing: its caller learns of the failure from the exit code.
static DWORD LauncherError(bool check, UINT textId)
{
    LogRefusal(textId == IDS_LAUNCHER_ALREADY_RUNNING ? "another Kovrel is running"
               : textId == IDS_LAUNCHER_MUTEX_FAILED ? "the mutex could not be created" : "the command line is not valid");
    if (check)
        return CHECK_FAILED;
    ShowResourceMessage(0, textId, IDS_LAUNCHER_CAPTION, MB_ICONHAND);
    return 0;
}

static DWORD RunLauncher()
{
    RestrictLibrarySearch();
    const char *arguments = 0;
    bool found = FindLauncherArguments(GetCommandLineA(), &arguments);
    bool check = found && IsCheckRun(arguments);
    HANDLE mutex = CreateMutexA(0, FALSE, KOVREL_MUTEX_NAME);
    DWORD mutexError = GetLastError();
    if (!mutex)
        return LauncherError(check, IDS_LAUNCHER_MUTEX_FAILED);
    if (!found)
        return LauncherError(false, IDS_LAUNCHER_BAD_COMMAND_LINE);
    // The apply step runs while the worker that started it holds the mutex and waits for it.
    if (IsApplyStep(arguments))
        return RunApplyStep(GetModuleHandleA(0), arguments);
    bool cleanup = IsCleanupArgument(arguments);
    // In cleanup mode the worker is expected to hold the mutex; in normal mode it means another run.
    if (!cleanup && mutexError == ERROR_ALREADY_EXISTS)
        return LauncherError(check, IDS_LAUNCHER_ALREADY_RUNNING);
    // An abandoned mutex (a worker that was killed) counts as acquired.
    WaitForSingleObject(mutex, INFINITE);
    if (cleanup)
        RunCleanupMode();
    else if (check)
        return RunCheckMode(GetModuleHandleA(0), arguments, mutex);
    else
        RunNormalMode(GetModuleHandleA(0), arguments);
    return 0;
}

extern "C" void LauncherEntry()
{
    ExitProcess(RunLauncher());
}
