// The replacement as one unit. With a backup, the journal records every change before the first one is made;
// a replacement that fails is undone from it at once. The undo cannot be stopped: stopping it half-way would
// leave the application mixed, and one that cannot put everything back leaves the journal for the next start.
#include "replacement.h"
#include "replace_check.h"
#include "../run/run_log.h"

struct Counted {
    const ReplaceJob *job;
    unsigned placed;
    unsigned planned;
};

static int WINAPI CountPlaced(void *context)
{
    Counted *counted = static_cast<Counted *>(context);
    counted->placed++;
    const ReplaceJob &job = *counted->job;
    return job.progress ? job.progress(job.progressContext, counted->placed, counted->planned) : 0;
}

// Every file to be replaced must be free before the first one is touched; the job's question decides how long
// a file in use is waited for.
static ReplaceOutcome WaitUntilReplaceable(const ReplaceJob &job, const PlacementPlan &plan)
{
    wchar_t blocked[MAX_PATH];
    // Named in the ANSI code page, as the question shows it: a character outside it shows as a question mark.
    // Three bytes for each character hold the name in any code page.
    char shown[3 * MAX_PATH];
    for (;;) {
        ReplaceCheck check = CheckReplaceable(plan, blocked);
        if (check == REPLACE_READY)
            return REPLACE_DONE;
        NoteFailureWide(check == REPLACE_NO_PERMISSION ? ERROR_ACCESS_DENIED : GetLastError(), blocked);
        if (check == REPLACE_NO_PERMISSION)
            return REPLACE_DENIED;
        WideCharToMultiByte(CP_ACP, 0, blocked, -1, shown, sizeof shown, 0, 0);
        InUseAnswer answer = job.inUse(job.inUseContext, shown);
        if (answer == IN_USE_ABORT)
            return REPLACE_ABORTED;
        if (answer == IN_USE_GIVE_UP)
            return REPLACE_FILES_IN_USE;
    }
}

ReplaceOutcome ReplaceApplication(const ReplaceJob &job, ReplaceReport *report)
{
    report->placed = report->planned = report->restored = 0;
    bool haveBackup = job.backupFolder != 0;
    // The plan checks every path before the first file is touched, so a tree that cannot be placed leaves the
    // application as it was.
    PlacementPlan plan;
    if (!plan.Make(job.unpackedTree, job.applicationFolder, haveBackup ? job.backupFolder : ""))
        return REPLACE_NOT_PLANNED;
    report->planned = plan.files;
    ReplaceOutcome ready = WaitUntilReplaceable(job, plan);
    if (ready != REPLACE_DONE) {
        plan.Free();
        return ready;
    }
    ReplaceJournal journal = {INVALID_HANDLE_VALUE, 0};
    Counted counted = {&job, 0, plan.files};
    bool begun = !haveBackup || (BeginJournal(&journal, job.journalPath, job.applicationFolder, job.backupFolder) &&
                                 WriteJournalRecords(&journal, plan.records, plan.length));
    bool placed = begun && plan.Apply(job.moveFiles, CountPlaced, &counted);
    report->placed = counted.placed;
    plan.Free();
    // Files that are new while the journal that says so could not be closed are undone too.
    if (placed && (!haveBackup || CommitJournal(&journal, job.journalPath)))
        return REPLACE_DONE;
    CloseJournal(&journal);
    UndoOutcome undo = haveBackup ? UndoJournal(job.journalPath, job.applicationFolder, &report->restored) : UNDO_NOTHING;
    return undo == UNDO_INCOMPLETE ? REPLACE_UNDO_INCOMPLETE : REPLACE_UNDONE;
}
