#include "system_library.h"
#include "path_compose.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x800
#endif

typedef BOOL(WINAPI *SetDefaultDllDirectoriesFunction)(DWORD directoryFlags);

// Whether this Windows searches the system folder alone: from Windows 8 on, and on Windows 7 with its update.
static bool searchRestricted;

void RestrictLibrarySearch()
{
    SetDefaultDllDirectoriesFunction restrict = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
    searchRestricted = restrict && restrict(LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!searchRestricted)
        SetDllDirectoryA("");
}

HMODULE LoadSystemLibrary(const char *name)
{
    if (searchRestricted)
        return LoadLibraryExA(name, 0, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // A full path is searched nowhere else; the library's own imports are still found as Windows finds them.
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || !ComposePath(path, path, "\\", name))
        return 0;
    return LoadLibraryA(path);
}

void *SystemFunction(const char *library, const char *name)
{
    HMODULE module = LoadSystemLibrary(library);
    return module ? reinterpret_cast<void *>(GetProcAddress(module, name)) : 0;
}
