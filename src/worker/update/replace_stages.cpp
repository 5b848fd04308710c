// The last stages: the user closes the application, and the unpacked files replace its own.
#include "update_run.h"
#include <shlobj.h>
#include "../download/download_progress.h"
#include "../files/replacement.h"
#include "../run/run_log.h"
#include "../run/worker_resources.h"
#include "../run/worker_settings.h"
#include "../ui/worker_message.h"
#include "../../common/path_exists.h"
#include "../../common/wide_path.h"

// How long a silent run waits for the application's files to be free before it gives up.
static const DWORD IN_USE_WAIT_MS = 30000;
static const DWORD IN_USE_POLL_MS = 1000;

// A replacement that a crash, a kill or a power cut interrupted is undone first, before anything of the network
// is touched, so the application is whole again whatever else fails. One that cannot be completely undone ends
// the run: no update may go over a mixed application, and the journal stays for the next start.
// A journal that is not this application's is never acted on. It is kept beside the run logs for inspection
// (an earlier one there is replaced), or deleted when it cannot be moved, so that it cannot come back.
static void SetForeignJournalAside(UpdateRun &run)
{
    wchar_t aside[MAX_PATH];
    bool moved = SUCCEEDED(SHGetFolderPathW(0, CSIDL_LOCAL_APPDATA, 0, 0, aside)) &&
                 ComposeWidePath(aside, aside, L"\\Kovrel\\") && (CreateDirectoryW(aside, 0) || true) &&
                 ComposeWidePath(aside, aside, L"refused.journal") && SetJournalAside(run.folders.journal, aside);
    if (!moved)
        DeleteFileA(run.folders.journal);
    LogRun("a journal that is not this application's was %s, not undone: %s",
           moved ? "set aside as refused.journal" : "deleted", run.folders.journal);
}

bool UndoInterruptedUpdate(UpdateRun &run)
{
    if (!run.folders.haveWork)
        return true;
    // An undo writes into the application folder too: never through a link that took its place.
    if (PathExists(run.folders.journal, true) && !IsStillHeldFolder(run.application, run.folders.application)) {
        LogRun("the application folder %s could not be held, or is a link: the interrupted update was not undone",
               run.folders.application);
        FailWith(run, IDS_FAILED_REPLACE);
        return false;
    }
    unsigned restored = 0;
    UndoOutcome outcome = UndoJournal(run.folders.journal, run.folders.haveApplication ? run.folders.application : "",
                                      &restored);
    if (outcome == UNDO_FOREIGN) {
        SetForeignJournalAside(run);
        return true;
    }
    if (outcome != UNDO_NOTHING)
        LogRun("interrupted update undone: %u files put back or removed%s", restored,
               outcome == UNDO_INCOMPLETE ? ", some left for the next start" : "");
    if (outcome == UNDO_INCOMPLETE) {
        FailWith(run, IDS_FAILED_RESTORE);
        return false;
    }
    if (outcome == UNDO_COMPLETE)
        ShowResourceMessage(run.block->dialogWindow, IDS_INTERRUPTED_UPDATE_UNDONE, IDS_WORKER_CAPTION,
                            MB_OK | MB_ICONINFORMATION, false);
    return true;
}

void ConfirmClose(UpdateRun &run)
{
    EnterStage(run, STAGE_CONFIRM_CLOSE);
    // The apply step's user has answered in the run that started it.
    if (run.applyStep)
        return;
    // Shown in silent mode too: this box is the whole wait for the application to close.
    if (ShowResourceMessage(run.block->dialogWindow, IDS_CONFIRM_CLOSE_APP, IDS_WORKER_CAPTION,
                            MB_OKCANCEL | MB_ICONINFORMATION, false) != IDOK)
        run.block->state = STATE_ABORTED;
}

struct InUseWait {
    UpdateRun *run;
    DWORD started;
};

// A file still in use is named and the user asked to close it (OK checks again, Cancel ends the run); a silent
// run waits for it a while.
static InUseAnswer AskAboutFileInUse(void *context, const char *blocked)
{
    InUseWait &wait = *static_cast<InUseWait *>(context);
    if (wait.run->silent) {
        if (GetTickCount() - wait.started >= IN_USE_WAIT_MS)
            return IN_USE_GIVE_UP;
        Sleep(IN_USE_POLL_MS);
        return IN_USE_CHECK_AGAIN;
    }
    return AskToCloseFile(wait.run->block->dialogWindow, blocked) ? IN_USE_CHECK_AGAIN : IN_USE_ABORT;
}

// The bar moves from the stage's position in proportion to the files placed; only a change of position goes to
// the dialog, as thousands of small files would otherwise each cost a round trip to its thread.
static int CopyProgress(void *context, unsigned placed, unsigned planned)
{
    StatusBlock *block = static_cast<StatusBlock *>(context);
    const short base = StageEntryOf(STAGE_REPLACE_FILES).position, span = static_cast<short>(100 - base);
    int before = RoundedMulDiv(span, placed - 1, planned);
    int now = RoundedMulDiv(span, placed, planned);
    if (now != before)
        SendStatus(block, STATUS_PROGRESS, base + now);
    return ShouldStop(block);
}

void Replace(UpdateRun &run)
{
    EnterStage(run, STAGE_REPLACE_FILES);
    if (run.elevate) {
        ApplyElevated(run);
        return;
    }
    const RunFolders &folders = run.folders;
    if (!IsStillHeldFolder(run.application, folders.application)) {
        LogRun("the application folder %s is no longer the folder the run began with; nothing was written",
               folders.application);
        Fail(run);
        return;
    }
    bool haveBackup = (workerSettings.options & OPT_BACKUP) != 0;
    InUseWait wait = {&run, GetTickCount()};
    ReplaceJob job = {folders.unpacked, folders.application, haveBackup ? folders.backup : 0, folders.journal,
                      run.moveFiles, CopyProgress, run.block, AskAboutFileInUse, &wait};
    ReplaceReport report;
    ReplaceOutcome outcome = ReplaceApplication(job, &report);
    if (outcome == REPLACE_DONE || outcome == REPLACE_UNDONE || outcome == REPLACE_UNDO_INCOMPLETE)
        LogRun("%u of %u files placed in %s (%s)", report.placed, report.planned, folders.application,
               run.moveFiles ? "moved where the drive allows" : "copied");
    if (outcome == REPLACE_UNDONE || outcome == REPLACE_UNDO_INCOMPLETE)
        LogRun("replacement undone: %u files put back or removed%s", report.restored,
               outcome == REPLACE_UNDO_INCOMPLETE ? ", some left for the next start" : "");
    switch (outcome) {
    case REPLACE_DONE:
        // Nothing of an archive is kept once its update is done.
        if (run.cached)
            ClearArchiveCache(run.cache);
        break;
    case REPLACE_DENIED:
        FailWith(run, IDS_FAILED_NO_PERMISSION);
        break;
    case REPLACE_FILES_IN_USE:
        FailWith(run, IDS_FAILED_FILES_IN_USE);
        break;
    case REPLACE_ABORTED:
        run.block->state = STATE_ABORTED;
        break;
    case REPLACE_UNDONE:
    case REPLACE_UNDO_INCOMPLETE:
        run.block->state = ShouldStop(run.block) ? STATE_ABORTED : STATE_FAILED;
        if (outcome == REPLACE_UNDO_INCOMPLETE)
            FailWith(run, IDS_FAILED_RESTORE);
        break;
    default:
        Fail(run);
        break;
    }
}
