// The check before the replacement. A file that another process holds open without sharing (a running
// program, an open document) cannot be opened exclusively; one this user may not write gives access denied.
#include "replace_check.h"
#include <windows.h>
#include "../../common/journal_format.h"
#include "tree_placement.h"
#include "../../common/wide_path.h"

static const wchar_t PROBE_NAME[] = L"~kovrel.probe";

static ReplaceCheck CheckFile(const wchar_t *path)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, 0, OPEN_EXISTING, 0, 0);
    // A read-only file is replaced by a rename, which needs no write access to it: only its use is checked.
    // Its attributes are looked at only after a refusal, which most files never meet.
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
        DWORD attributes = GetFileAttributesW(path);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
            file = CreateFileW(path, GENERIC_READ, 0, 0, OPEN_EXISTING, 0, 0);
        else
            SetLastError(ERROR_ACCESS_DENIED);
    }
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return REPLACE_READY;
    }
    DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT)
        return REPLACE_NO_PERMISSION;
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? REPLACE_READY : REPLACE_IN_USE;
}

unsigned long ProbeFolder(const wchar_t *folder)
{
    wchar_t probe[MAX_PATH];
    if (!ComposeWidePath(probe, folder, PROBE_NAME))
        return ERROR_FILENAME_EXCED_RANGE;
    HANDLE file = CreateFileW(probe, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, 0);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    CloseHandle(file);
    return ERROR_SUCCESS;
}

ReplaceCheck CheckReplaceable(const PlacementPlan &plan, wchar_t *blocked)
{
    // The folder must take a new file.
    DWORD error = ProbeFolder(plan.destinationRoot);
    if (error == ERROR_FILENAME_EXCED_RANGE || error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT) {
        ComposeWidePath(blocked, plan.destinationRoot, L"");
        return REPLACE_NO_PERMISSION;
    }
    // Only the files the plan replaces exist: those it creates were not there when it was made.
    wchar_t relative[MAX_PATH];
    char kind = 0;
    ReplaceCheck result = REPLACE_READY;
    for (unsigned at = 0; result == REPLACE_READY && plan.NextRecord(&at, &kind, relative);)
        if (kind == JOURNAL_REPLACED_FILE && ComposeWidePath(blocked, plan.destinationRoot, relative))
            result = CheckFile(blocked);
    return result;
}
