// Worker extraction and hand-off.
//
// The worker runs from a private folder under the user's temporary directory, so that nothing in the
// application folder is in use while the worker replaces it. Every failure here is silent: the folder is
// removed again and the launcher ends.
#include "worker_handoff.h"
#include <shellapi.h>
#include "launcher_command_line.h"
#include "launcher_resources.h"
#include "../common/text.h"
#include "../common/text_buffer.h"
#include "../common/tree_removal.h"

static const char TEMP_FOLDER_NAME[] = "Kovrel\\";
static const char WORKER_FILE_NAME[] = "Kovrelw.exe";

bool GetKovrelTempFolder(char folder[MAX_PATH])
{
    DWORD length = GetTempPathA(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH)
        return false;
    return AppendText(folder, MAX_PATH, TEMP_FOLDER_NAME);
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
    bool written = false;
    const void *bytes = LockResource(loaded);
    DWORD size = SizeofResource(module, resource);
    if (bytes) {
        HANDLE file = CreateFileA(destination, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD done = 0;
            // A short write would leave a truncated program behind; it counts as a failure.
            written = WriteFile(file, bytes, size, &done, 0) && done == size;
            CloseHandle(file);
        }
    }
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

void RunNormalMode(HMODULE module, const char *arguments)
{
    char folder[MAX_PATH];
    if (!GetKovrelTempFolder(folder))
        return;
    // Nothing of an earlier run may survive, least of all a stale worker.
    RemoveTree(folder, true);
    if (CreateDirectoryA(folder, 0) && StartWorker(module, folder, arguments))
        return; // the worker runs from the folder, which stays until the cleanup run
    RemoveTree(folder, true);
}

void RunCleanupMode()
{
    char folder[MAX_PATH];
    if (GetKovrelTempFolder(folder))
        RemoveTree(folder, true);
}
