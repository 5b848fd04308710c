// The launcher's entry: the command line, the application's lock (a named mutex per application), and the
// choice between normal, check and cleanup mode.
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
#include "../common/text_buffer.h"

// A check shows nothing: its caller learns of the failure from the exit code.
static DWORD LauncherError(bool check, UINT textId)
{
    LogRefusal(textId == IDS_LAUNCHER_ALREADY_RUNNING ? "another run of this application is going on"
               : textId == IDS_LAUNCHER_MUTEX_FAILED ? "the mutex could not be created" : "the command line is not valid");
    if (check)
        return CHECK_FAILED;
    ShowResourceMessage(0, textId, IDS_LAUNCHER_CAPTION, MB_ICONHAND);
    return 0;
}

// The application's caption, when the arguments give one (the positional token after the installed version),
// titles every box instead of "Kovrel".
static void UseApplicationCaption(const char *arguments, unsigned captionToken)
{
    static TextBuffer caption;
    if (CopyPositionalToken(arguments, captionToken, caption))
        SetMessageCaption(caption.text);
}

static DWORD RunLauncher()
{
    RestrictLibrarySearch();
    HMODULE module = GetModuleHandleA(0);
    const char *arguments = 0;
    if (!FindLauncherArguments(GetCommandLineA(), &arguments))
        return LauncherError(false, IDS_LAUNCHER_BAD_COMMAND_LINE);
    // The apply step runs while the worker that started it holds the lock and waits for it.
    if (IsApplyStep(arguments)) {
        UseApplicationCaption(arguments, 6);
        return RunApplyStep(module, arguments);
    }
    char identity[IDENTITY_BYTES];
    bool cleanup = IsCleanupArgument(arguments, identity);
    // A cleanup request that names no application has nothing to remove.
    if (cleanup && !identity[0])
        return 0;
    if (!cleanup) {
        FindApplicationIdentity(arguments, 1, identity);
        UseApplicationCaption(arguments, 4);
    }
    bool check = !cleanup && IsOptionOn(arguments, 'k');
    char lockName[LOCK_NAME_BYTES];
    ComposeLockName(identity, lockName);
    HANDLE mutex = CreateMutexA(0, FALSE, lockName);
    DWORD mutexError = GetLastError();
    if (!mutex)
        return LauncherError(check, IDS_LAUNCHER_MUTEX_FAILED);
    // In cleanup mode the worker is expected to hold the lock; in normal mode it means another run of the same
    // application. The lock is taken before any folder is chosen.
    if (!cleanup && mutexError == ERROR_ALREADY_EXISTS)
        return LauncherError(check, IDS_LAUNCHER_ALREADY_RUNNING);
    // An abandoned mutex (a worker that was killed) counts as acquired.
    WaitForSingleObject(mutex, INFINITE);
    if (cleanup)
        RunCleanupMode(identity);
    else if (check)
        return RunCheckMode(module, arguments, identity, mutex);
    else
        RunNormalMode(module, arguments, identity, mutex);
    return 0;
}

extern "C" void LauncherEntry()
{
    ExitProcess(RunLauncher());
}
