// A run that may not write the application folder (one installed for every user, such as in Program Files)
// does all that needs no rights itself: download, verify, unpack and the "close the application" box. Then it
// asks once for administrator rights, for the apply step of the launcher in the application folder, which
// only administrators can write. That step trusts nothing this run prepared: it reads and verifies the
// information file itself, uses this run's archive only when it is the one named there, and replaces with its
// own journal in the per-machine staging folder. This run waits for it, shows its outcome and restarts the
// application, which so never runs with the step's rights.
#include "update_run.h"
#include "../files/write_probe.h"
#include "../run/elevation.h"
#include "../run/run_log.h"
#include "../run/worker_command_line.h"
#include "../run/worker_resources.h"
#include "../verify/launcher_keys.h"
#include "../../common/cleanup_argument.h"
#include "../../common/journal_owner.h"
#include "../../common/multibyte_path.h"
#include "../../common/path_compose.h"
#include "../../common/staging_root.h"
#include "../../common/text.h"
#include "../../common/text_buffer.h"

bool CheckWriteAccess(UpdateRun &run)
{
    bool writable = MayWriteFolder(run.folders.application);
    DWORD error = GetLastError();
    if (writable && !run.applyStep)
        return true;
    // Rights are asked for once, and only by a launcher with keys: the apply step acts only on what it can verify.
    bool keys = LoadPublisherKeys(workerArgs.launcherPath, &run.keys) && run.keys.count > 0;
    if (!keys)
        LogRun("the launcher %s holds no publisher key", workerArgs.launcherPath);
    if (writable && keys)
        return true;
    run.elevate = keys && !run.applyStep && !IsElevatedRun();
    if (!writable)
        LogRun("the application folder %s may not be written (error %lu)%s", run.folders.application, error,
               run.elevate ? ": the replacement will ask for administrator rights" : "");
    if (!run.elevate)
        FailWith(run, IDS_FAILED_NO_PERMISSION);
    return run.elevate;
}

// Starts the apply step for `archive` ("" to undo alone) and waits for it; false, with the run failed, when it
// did not run. Only the launcher in the application folder is started, never the one that started this run.
static bool RunApplyStepFor(UpdateRun &run, const char *archive, DWORD *code)
{
    const char *name = FindLastSeparator(workerArgs.launcherPath);
    char launcher[MAX_PATH];
    TextBuffer parameters = {};
    unsigned size = sizeof APPLY_ARGUMENT + TextLength(archive) + TextLength(workerArgs.runArguments) + 4;
    ElevatedOutcome outcome = ELEVATED_NOT_STARTED;
    if (name && ComposePath(launcher, run.folders.application, name + 1) && parameters.Reserve(size) &&
        CopyText(parameters.text, size, APPLY_ARGUMENT " \"") && AppendText(parameters.text, size, archive) &&
        AppendText(parameters.text, size, "\" ") && AppendText(parameters.text, size, workerArgs.runArguments)) {
        LogRun("asking for administrator rights for %s", launcher);
        outcome = RunElevated(launcher, parameters.text, run.block->dialogWindow, code);
    }
    parameters.Free();
    if (outcome == ELEVATED_RAN)
        LogRun("the apply step ended with message %lu", *code);
    else
        LogRun(outcome == ELEVATED_DECLINED ? "administrator rights were not allowed"
                                            : "the apply step could not be started");
    if (outcome != ELEVATED_RAN)
        FailWith(run, outcome == ELEVATED_DECLINED ? IDS_ELEVATION_DECLINED : IDS_FAILED_NO_PERMISSION);
    return outcome == ELEVATED_RAN;
}

// The failure that the step's exit code names, when it names one of the run's messages.
static void FailAsTheStep(UpdateRun &run, DWORD code)
{
    bool known = code >= IDS_ABORTED_BY_USER && code <= IDS_FAILED_STALE_INFO && code != IDS_UPDATED;
    FailWith(run, known ? static_cast<unsigned short>(code) : IDS_FAILED_REPLACE);
}

// A journal in the per-machine staging is another user's secret on Windows: a standard user may not read
// it, only learn that it is there (access denied rather than not found). One that can be read must be this
// application's.
static bool MachineJournalWaits(UpdateRun &run)
{
    char folder[MAX_PATH], journal[MAX_PATH], identity[IDENTITY_BYTES];
    ComposeWorkerIdentity(identity);
    for (unsigned candidate = 0; candidate < RUN_FOLDER_CANDIDATES; candidate++) {
        if (!GetRunFolder(candidate, true, identity, folder) || !ComposeJournalPath(journal, folder))
            continue;
        if (GetFileAttributesA(journal) == INVALID_FILE_ATTRIBUTES ? GetLastError() == ERROR_ACCESS_DENIED
                                                                 : ReadJournalOwner(journal, run.folders.application) ==
                                                                       JOURNAL_OURS)
            return true;
    }
    return false;
}

bool UndoElevatedUpdate(UpdateRun &run)
{
    if (run.applyStep || IsElevatedRun() || !run.folders.haveApplication || !MachineJournalWaits(run))
        return true;
    LogRun("an interrupted replacement waits in the per-machine staging folder");
    DWORD code = 0;
    if (!RunApplyStepFor(run, "", &code))
        return false;
    // An undo step ends as an update with nothing to do; anything else is its failure.
    if (code == IDS_UP_TO_DATE)
        return true;
    FailAsTheStep(run, code);
    return false;
}

void ApplyElevated(UpdateRun &run)
{
    DWORD code = 0;
    if (!RunApplyStepFor(run, run.archive, &code))
        return;
    if (code == IDS_UPDATED && run.cached)
        ClearArchiveCache(run.cache);
    if (code == IDS_UPDATED)
        return;
    if (code == IDS_UP_TO_DATE)
        run.block->result = RESULT_UP_TO_DATE;
    else if (code == IDS_ABORTED_BY_USER)
        run.block->state = STATE_ABORTED;
    else
        FailAsTheStep(run, code);
}
