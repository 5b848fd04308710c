// Worker extraction and hand-off.
//
// The worker runs from a private folder under the user's temporary directory (or, elevated, the per-machine
// staging folder), so that nothing in the application folder is in use while the worker replaces it. A folder that holds the journal of an
// interrupted replacement of this application is kept whole (its backup is what the worker puts back), and so
// is one with another application's, which is that application's to undo; a journal that belongs to no
// application is never kept, since any program of the user could have put it there. A folder that cannot be
// emptied or created is reported, and the next of a few fresh names is used, so that a leftover never stops
// updates for good. Other failures are silent: the folder is removed again and the launcher ends.
//
// The apply step (an elevated launcher, started by a worker that may not write the application folder) runs
// its worker the same way from the per-machine staging folder, waits for it and cleans up after it itself, as
// does a check, which shows nothing and ends with its worker's code.
#include "worker_handoff.h"
#include "launcher_command_line.h"
#include "launcher_log.h"
#include "launcher_resources.h"
#include "packed_worker.h"
#include "../common/cleanup_argument.h"
#include "../common/command_tokens.h"
#include "../common/formatted_message.h"
#include "../common/journal_owner.h"
#include "../common/multibyte_path.h"
#include "../common/path_exists.h"
#include "../common/text.h"
#include "../common/text_buffer.h"
#include "../common/tree_removal.h"
#include "../common/path_compose.h"
#include "../common/staging_root.h"
#include "../common/work_layout.h"

static const char WORKER_FILE_NAME[] = "Kovrelw.exe";

// What one launcher run knows of its application: its identity, and what it may show: a silent run only what
// stops it, a quiet one (a check) nothing at all.
struct LauncherRun {
    HMODULE module;
    const char *arguments;
    char identity[IDENTITY_BYTES];
    bool silent;
    bool quiet;
};

static bool GetCandidateFolder(const LauncherRun &run, unsigned candidate, char folder[MAX_PATH])
{
    return GetRunFolder(candidate, IsElevatedRun(), run.identity, folder);
}

bool GetKovrelTempFolder(const char *identity, char folder[MAX_PATH])
{
    return GetRunFolder(0, IsElevatedRun(), identity, folder);
}

static bool HoldsJournal(const char *folder)
{
    char journal[MAX_PATH];
    return ComposeJournalPath(journal, folder) && PathExists(journal, true);
}

bool ExtractWorker(HMODULE module, const char *destination)
{
    if (!destination)
        return false;
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(EMBEDDED_WORKER_ID), EMBEDDED_WORKER_TYPE);
    if (!resource)
        return false;
    HGLOBAL loaded = LoadResource(module, resource);
    if (!loaded)
        return false;
    const void *packed = LockResource(loaded);
    bool written = packed && WritePackedWorker(packed, SizeofResource(module, resource), destination);
    FreeResource(loaded);
    return written;
}

// Starts the worker from `folder`; its process handle goes to `process` when asked for. The worker is given a
// handle to the lock, so that the lock outlives this launcher even before the worker opens it itself: a second
// start of the same application in that moment finds the lock taken.
static bool StartWorker(HMODULE module, const char *folder, const char *arguments, HANDLE *process, HANDLE lock)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    TextBuffer workerArguments = {}, commandLine = {};
    if (!ComposeWorkerCommandLine(workerArguments, path, arguments))
        return false;
    bool started = false;
    // The launcher path has been copied into the arguments; its buffer now holds the worker's file name. The
    // worker's own command line is its quoted path, then those arguments.
    if (CopyText(path, MAX_PATH, folder) && AppendText(path, MAX_PATH, WORKER_FILE_NAME) &&
        ExtractWorker(module, path) && ComposeWorkerCommandLine(commandLine, path, workerArguments.text)) {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION worker = {};
        started = CreateProcessA(path, commandLine.text, 0, 0, FALSE, 0, 0, 0, &startup, &worker);
        if (started) {
            CloseHandle(worker.hThread);
            HANDLE given = 0;
            if (lock)
                DuplicateHandle(GetCurrentProcess(), lock, worker.hProcess, &given, 0, FALSE, DUPLICATE_SAME_ACCESS);
            if (process)
                *process = worker.hProcess;
            else
                CloseHandle(worker.hProcess);
        }
    }
    workerArguments.Free();
    commandLine.Free();
    return started;
}

// The application folder that the arguments name (the positional token `index`, up to its last separator);
// empty when they name none.
static void FindApplicationFolder(const char *arguments, unsigned index, char folder[MAX_PATH])
{
    const char *separator = 0;
    if (FindPositionalToken(arguments, index, folder, MAX_PATH))
        separator = FindLastSeparator(folder);
    if (separator)
        folder[separator - folder + 1] = 0;
    else
        folder[0] = 0;
}

static JournalOwner JournalOwnerOf(const char *folder, const char *applicationFolder)
{
    char journal[MAX_PATH];
    return ComposeJournalPath(journal, folder) ? ReadJournalOwner(journal, applicationFolder) : JOURNAL_UNSOUND;
}

// Chooses the run's folder and starts the worker there: the folder of this application's interrupted
// replacement first (the worker undoes it), else the first that can be emptied or made. The first folder that
// cannot be used is told of (to the log only in a silent run), and the next is tried; when none can be used the
// run stops, which even a silent run shows.
static bool HandOff(const LauncherRun &run, unsigned applicationToken, HANDLE *process, HANDLE lock,
                    char folder[MAX_PATH])
{
    char application[MAX_PATH];
    FindApplicationFolder(run.arguments, applicationToken, application);
    for (unsigned candidate = 0; candidate < RUN_FOLDER_CANDIDATES; candidate++)
        if (GetCandidateFolder(run, candidate, folder) && JournalOwnerOf(folder, application) == JOURNAL_OURS)
            return StartWorker(run.module, folder, run.arguments, process, lock);
    char failed[MAX_PATH] = "";
    bool told = false;
    for (unsigned candidate = 0; candidate < RUN_FOLDER_CANDIDATES; candidate++) {
        if (GetCandidateFolder(run, candidate, folder) && JournalOwnerOf(folder, application) == JOURNAL_ANOTHERS)
            continue;
        // Nothing of an earlier run may survive, least of all a stale worker.
        if (GetCandidateFolder(run, candidate, folder) && (!PathExists(folder, true) || RemoveTree(folder, true)) &&
            CreateDirectoryA(folder, 0)) {
            if (StartWorker(run.module, folder, run.arguments, process, lock))
                return true; // the worker runs from the folder, which stays until the cleanup
            RemoveTree(folder, true);
            LogRefusal("the worker could not be started", folder);
            return false;
        }
        if (told)
            continue;
        told = true;
        if (!GetCandidateFolder(run, candidate, failed))
            failed[0] = 0;
        if (run.silent || run.quiet)
            LogNotice("a run folder could not be emptied or made", failed[0] ? failed : 0);
        else
            ShowFormattedMessage(run.module, 0, IDS_LAUNCHER_TEMP_FOLDER_FAILED, IDS_LAUNCHER_CAPTION,
                                 failed[0] ? failed : "%TEMP%", MB_ICONEXCLAMATION);
    }
    LogRefusal("no run folder could be used", failed[0] ? failed : 0);
    if (!run.quiet)
        ShowFormattedMessage(run.module, 0, IDS_LAUNCHER_NO_RUN_FOLDER, IDS_LAUNCHER_CAPTION,
                             failed[0] ? failed : "%TEMP%", MB_ICONHAND);
    return false;
}

static bool PrepareStaging(const LauncherRun &run)
{
    char root[MAX_PATH];
    if (!IsElevatedRun() || PrepareMachineStaging(root))
        return true;
    if (!run.quiet)
        ShowFormattedMessage(run.module, 0, IDS_LAUNCHER_STAGING_FAILED, IDS_LAUNCHER_CAPTION, root, MB_ICONHAND);
    LogRefusal("the staging folder could not be prepared", root);
    return false;
}

static LauncherRun MakeRun(HMODULE module, const char *arguments, const char *identity)
{
    LauncherRun run = {module, arguments, {}, IsOptionOn(arguments, 's'), false};
    CopyText(run.identity, IDENTITY_BYTES, identity);
    return run;
}

void RunNormalMode(HMODULE module, const char *arguments, const char *identity, HANDLE lock)
{
    LauncherRun run = MakeRun(module, arguments, identity);
    char folder[MAX_PATH];
    if (PrepareStaging(run))
        HandOff(run, 1, 0, lock, folder);
}

// Waits for the worker to end and removes its folder, unless a journal is left in it; with `mutex`, only once
// it holds the mutex again, so that no other run's worker is in the folder. Returns the worker's exit code.
static DWORD WaitAndCleanUp(HANDLE process, const char *folder, DWORD failed, HANDLE mutex = 0)
{
    WaitForSingleObject(process, INFINITE);
    DWORD code = failed;
    if (!GetExitCodeProcess(process, &code))
        code = failed;
    CloseHandle(process);
    if (mutex)
        WaitForSingleObject(mutex, INFINITE);
    if (!HoldsJournal(folder))
        RemoveTree(folder, true);
    return code;
}

DWORD RunApplyStep(HMODULE module, const char *arguments)
{
    // Only an elevated step has anything to add to the run that started it.
    if (!IsElevatedRun())
        return APPLY_NOT_ALLOWED;
    // The apply step's arguments: its own, the archive's path, then the run's.
    char identity[IDENTITY_BYTES];
    FindApplicationIdentity(arguments, 3, identity);
    LauncherRun run = MakeRun(module, arguments, identity);
    char folder[MAX_PATH];
    HANDLE process = 0;
    if (!PrepareStaging(run) || !HandOff(run, 3, &process, 0, folder))
        return APPLY_NOT_STARTED;
    return WaitAndCleanUp(process, folder, APPLY_NOT_STARTED);
}

DWORD RunCheckMode(HMODULE module, const char *arguments, const char *identity, HANDLE mutex)
{
    LauncherRun run = MakeRun(module, arguments, identity);
    run.quiet = true;
    char folder[MAX_PATH];
    HANDLE process = 0;
    if (!PrepareStaging(run) || !HandOff(run, 1, &process, mutex, folder))
        return CHECK_FAILED;
    // The worker waits for the mutex before it starts; waiting for the worker while holding it waits for ever.
    ReleaseMutex(mutex);
    DWORD code = WaitAndCleanUp(process, folder, CHECK_FAILED, mutex);
    return code < CHECK_FAILED ? code : CHECK_FAILED;
}

void RunCleanupMode(const char *identity)
{
    char folder[MAX_PATH];
    for (unsigned candidate = 0; candidate < RUN_FOLDER_CANDIDATES; candidate++)
        if (GetRunFolder(candidate, IsElevatedRun(), identity, folder) && PathExists(folder, false) &&
            !HoldsJournal(folder))
            RemoveTree(folder, true);
}
