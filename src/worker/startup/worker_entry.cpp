// The worker's run sequence.
//
// The worker waits on its application's lock (a named mutex) that the launcher holds, so it proceeds only after
// the launcher has ended;
// it keeps the mutex until its own process ends. Whatever happens after that wait, the worker starts the
// launcher once more with the cleanup argument: that launcher waits on the same mutex, so it deletes the
// temporary folder (and this executable) only when the worker is gone. A check's launcher waits for the worker
// itself and cleans up after it.
#include "worker_entry.h"
#include "../../common/system_library.h"
#include "../run/module_instance.h"
#include <shellapi.h>
#include "../run/worker_command_line.h"
#include "../ui/worker_message.h"
#include "../run/worker_settings.h"
#include "../update/update_procedure.h"
#include "../ui/update_dialog.h"
#include "../run/worker_resources.h"
#include "../../common/cleanup_argument.h"
#include "../../common/resource_message.h"
#include "../../common/text.h"

static void ShowInitFailure()
{
    ShowResourceMessage(0, IDS_WORKER_INIT_FAILED, IDS_WORKER_CAPTION, MB_ICONHAND, true);
}

// The cleanup launcher learns whose run folders to remove from the application's identity, quoted: without a
// section it starts with "-", which would make it an option.
static void StartCleanupLauncher(const char *identity)
{
    char arguments[sizeof CLEANUP_ARGUMENT + IDENTITY_BYTES + 3] = CLEANUP_ARGUMENT " \"";
    if (workerArgs.launcherPath && AppendText(arguments, sizeof arguments, identity) &&
        AppendText(arguments, sizeof arguments, "\""))
        ShellExecuteA(0, "open", workerArgs.launcherPath, arguments, 0, SW_SHOWNORMAL);
}

// Silent mode: the update runs on this thread without any window but the confirmation of its close.
static int RunSilently()
{
    StatusBlock block = {0, STATE_RUNNING, 0, 0, 0};
    RunUpdate(&block);
    return block.result;
}

// The apply step, elevated: the replacement of a run that could not write the application folder. It shows
// only the boxes of the replacement itself; the run that started it shows the outcome, the id of its final
// message, and restarts the application. Its launcher removes its folder.
static int RunApplyStep()
{
    StatusBlock block = {0, STATE_RUNNING, 0, 0, 0};
    RunUpdate(&block);
    FreeWorkerArgs();
    return block.finalMessage;
}

// A check (-k1): the information file alone, nothing shown, no restart and no cleanup launcher, since the
// launcher that waits for this process cleans up itself. The exit code is the check's outcome.
static int RunCheck(bool parsed)
{
    StatusBlock block = {0, STATE_RUNNING, 0, 0, CHECK_FAILED};
    if (parsed)
        RunUpdate(&block);
    FreeWorkerArgs();
    return block.finalMessage;
}

// The normal case: the settings shape the dialog, which runs the update on a thread of its own.
static int RunInDialog()
{
    LoadSettings();
    return ShowUpdateDialog(RunUpdate);
}

// After a run: restart the application when it was updated and asked for it.
static void FinishRun(int runResult)
{
    if (runResult <= 0) {
        ShowInitFailure();
        return;
    }
    if (runResult == RESULT_UPDATED && (workerSettings.options & OPT_RESTART) && workerArgs.restartProgram &&
        workerArgs.restartProgram[0])
        ShellExecuteA(0, "open", workerArgs.restartProgram,
                      workerArgs.restartParams && workerArgs.restartParams[0] ? workerArgs.restartParams : 0, 0,
                      SW_SHOWNORMAL);
}

int RunWorker(HINSTANCE instance, const char *commandText)
{
    // Recorded first, so that even the earliest message comes from the worker's own string table.
    moduleInstance = instance;
    // Libraries (WinINet, the common controls, the archivers) come from the system folder alone.
    RestrictLibrarySearch();
    bool parsed = ParseWorkerCommandLine(commandText);
    SetMessageCaption(workerArgs.caption);
    // The apply step runs while the worker that started it holds the mutex and waits for it.
    if (parsed && workerArgs.stagedArchive)
        return RunApplyStep();
    bool check = (workerSettings.options & OPT_CHECK) != 0;
    char identity[IDENTITY_BYTES], lockName[LOCK_NAME_BYTES];
    ComposeWorkerIdentity(identity);
    ComposeLockName(identity, lockName);
    HANDLE mutex = CreateMutexA(0, FALSE, lockName);
    if (!mutex) {
        if (!check)
            ShowInitFailure();
        return CHECK_FAILED;
    }
    WaitForSingleObject(mutex, INFINITE);
    if (check)
        return RunCheck(parsed);

    if (!parsed)
        ShowInitFailure();
    else if (workerSettings.options & OPT_SILENT)
        FinishRun(RunSilently());
    else
        FinishRun(RunInDialog());

    StartCleanupLauncher(identity);
    FreeWorkerArgs();
    return 0;
}
