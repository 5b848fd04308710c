// The one rule for naming a wide path in the ANSI code page (see ansi_path.h).
#include "ansi_path.h"
#include <shlobj.h>
#include "on_demand.h"
#include "text.h"
#include "wide_path.h"

// Without WC_NO_BEST_FIT_CHARS "Ł" would come out as "L", a path to another folder; the used-default flag
// tells of any character the code page lacks.
static bool ExactInAnsi(const wchar_t *path, char *buffer, unsigned capacity)
{
    // Code page UTF-8 holds every path, and refuses both the flag and the question.
    if (GetACP() == CP_UTF8)
        return PathToUtf8(buffer, capacity, path);
    BOOL defaulted = FALSE;
    return WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path, -1, buffer, static_cast<int>(capacity), 0,
                               &defaulted) > 0 &&
           !defaulted;
}

bool NameInAnsi(const wchar_t *path, char *buffer, unsigned capacity)
{
    if (ExactInAnsi(path, buffer, capacity))
        return true;
    // Only an existing path has a short name; a volume may have none at all.
    wchar_t shortPath[WIDE_PATH_CHARS];
    DWORD length = GetShortPathNameW(path, shortPath, WIDE_PATH_CHARS);
    return length != 0 && length < WIDE_PATH_CHARS && ExactInAnsi(shortPath, buffer, capacity);
}

DWORD GetAnsiTempPath(DWORD capacity, char *buffer)
{
    wchar_t folder[WIDE_PATH_CHARS];
    DWORD length = GetTempPathW(WIDE_PATH_CHARS, folder);
    if (length != 0 && length < WIDE_PATH_CHARS && NameInAnsi(folder, buffer, capacity))
        return TextLength(buffer);
    // The fallback lies in the user's profile, which only the user and the system can write: never a shared
    // folder such as the Windows or the drive's Temp, where another user could place a file before the worker.
    if (GetShellFolderW(CSIDL_LOCAL_APPDATA, folder) &&
        ComposeWidePath(folder, folder, L"\\Temp\\") &&
        (CreateDirectoryW(folder, 0) || GetLastError() == ERROR_ALREADY_EXISTS) &&
        NameInAnsi(folder, buffer, capacity))
        return TextLength(buffer);
    return 0;
}

DWORD GetAnsiModuleFileName(HMODULE module, char *buffer, DWORD capacity)
{
    wchar_t path[WIDE_PATH_CHARS];
    DWORD length = GetModuleFileNameW(module, path, WIDE_PATH_CHARS);
    if (length == 0 || length >= WIDE_PATH_CHARS || !NameInAnsi(path, buffer, capacity))
        return 0;
    return TextLength(buffer);
}
