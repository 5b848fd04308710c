// Worker extraction and hand-off.
//
// The worker runs from a private folder under the user's temporary directory (or, elevated, the per-machine
// staging folder), so that nothing in the application folder is in use while the worker replaces it. A folder that holds the journal of an
// interrupted replacement of this application is kept whole (its backup is what the worker puts back), and so
// is one with another application's, which is that application's to undo; a journal that belongs to no
// application is never kept, since any program of the user could have put it there. A folder that cannot be
// emptied or created is reported, and the next of a few fresh names is used, so that a leftover never stops
// updates for good. Other failures are silent: the folder is removed again and the launcher ends.
#include "worker_handoff.h"
#include <shellapi.h>
#include "launcher_command_line.h"
#include "launcher_resources.h"
#include "packed_worker.h"
#include "staging_root.h"
#include "../common/command_tokens.h"
#include "../common/formatted_message.h"
#include "../common/journal_owner.h"
#include "../common/multibyte_path.h"
#include "../common/path_exists.h"
#include "../common/text.h"
#include "../common/text_buffer.h"
#include "../common/tree_removal.h"
#include "../common/path_compose.h"
#include "../common/work_layout.h"

static const char WORKER_FILE_NAME[] = "Kovrelw.exe";
// "Kovrel\", then "Kovrel1\" to "Kovrel9\" (elevated: "Staging\" to "Staging9\").
static const unsigned FOLDER_CANDIDATES = 10;

static bool GetCandidateFolder(unsigned candidate, char folder[MAX_PATH])
{
    const char *name = 0;
    char digit[2] = {static_cast<char>('0' + candidate), 0};
    return GetStagingRoot(folder, &name, false) && AppendText(folder, MAX_PATH, name) &&
           (candidate == 0 || AppendText(folder, MAX_PATH, digit)) && AppendText(folder, MAX_PATH, "\\");
}

bool GetKovrelTempFolder(char folder[MAX_PATH])
{
    return GetCandidateFolder(0, folder);
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

static bool StartWorker(HMODULE module, const char *folder, const char *arguments)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    TextBuffer commandLine = {};
    if (!ComposeWorkerCommandLine(commandLine, path, arguments))
        return false;
    bool started = false;
    // The launcher path has been copied into the command line; its buffer now holds the worker's file name.
    if (CopyText(path, MAX_PATH, folder) && AppendText(path, MAX_PATH, WORKER_FILE_NAME) &&
        ExtractWorker(module, path)) {
        HINSTANCE result = ShellExecuteA(0, "open", path, commandLine.text, 0, SW_SHOWNORMAL);
        started = reinterpret_cast<INT_PTR>(result) > 32;
    }
    commandLine.Free();
    return started;
}

// The application folder that the arguments name (the second positional token, up to its last separator);
// empty when they name none.
static void FindApplicationFolder(const char *arguments, char folder[MAX_PATH])
{
    const char *separator = 0;
    if (FindPositionalToken(arguments, 1, folder, MAX_PATH))
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

void RunNormalMode(HMODULE module, const char *arguments)
{
    char folder[MAX_PATH];
    char application[MAX_PATH];
    const char *name = 0;
    if (!GetStagingRoot(folder, &name, true)) {
        ShowFormattedMessage(module, 0, IDS_LAUNCHER_STAGING_FAILED, IDS_LAUNCHER_CAPTION, folder, MB_ICONHAND);
        return;
    }
    FindApplicationFolder(arguments, application);
    // The worker undoes an interrupted replacement first, from the folder that holds its journal.
    for (unsigned candidate = 0; candidate < FOLDER_CANDIDATES; candidate++)
        if (GetCandidateFolder(candidate, folder) && JournalOwnerOf(folder, application) == JOURNAL_OURS) {
            StartWorker(module, folder, arguments);
            return;
        }
    bool told = false;
    for (unsigned candidate = 0; candidate < FOLDER_CANDIDATES; candidate++) {
        if (GetCandidateFolder(candidate, folder) && JournalOwnerOf(folder, application) == JOURNAL_ANOTHERS)
            continue;
        // Nothing of an earlier run may survive, least of all a stale worker.
        if (GetCandidateFolder(candidate, folder) && (!PathExists(folder, true) || RemoveTree(folder, true)) &&
            CreateDirectoryA(folder, 0)) {
            if (!StartWorker(module, folder, arguments))
                RemoveTree(folder, true);
            return; // the worker runs from the folder, which stays until the cleanup run
        }
        if (!told)
            ShowFormattedMessage(module, 0, IDS_LAUNCHER_TEMP_FOLDER_FAILED, IDS_LAUNCHER_CAPTION,
                                 GetCandidateFolder(candidate, folder) ? folder : "%TEMP%\\Kovrel\\", MB_ICONEXCLAMATION);
        told = true;
    }
}

void RunCleanupMode()
{
    char folder[MAX_PATH];
    for (unsigned candidate = 0; candidate < FOLDER_CANDIDATES; candidate++)
        if (GetCandidateFolder(candidate, folder) && PathExists(folder, false) && !HoldsJournal(folder))
            RemoveTree(folder, true);
}
