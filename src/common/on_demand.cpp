#include "on_demand.h"
#include "system_library.h"

typedef HRESULT(WINAPI *FolderPathA)(HWND, int, HANDLE, DWORD, char *);
typedef HRESULT(WINAPI *FolderPathW)(HWND, int, HANDLE, DWORD, wchar_t *);
typedef int(WINAPI *MessageBoxFunction)(HWND, const char *, const char *, UINT);

// A library once loaded stays for the life of the process.
static void *Function(const char *library, const char *name)
{
    HMODULE module = LoadSystemLibrary(library);
    return module ? reinterpret_cast<void *>(GetProcAddress(module, name)) : 0;
}

bool GetShellFolderA(int csidl, char path[MAX_PATH])
{
    FolderPathA get = reinterpret_cast<FolderPathA>(Function("shell32.dll", "SHGetFolderPathA"));
    path[0] = 0;
    return get && SUCCEEDED(get(0, csidl, 0, 0, path));
}

bool GetShellFolderW(int csidl, wchar_t path[MAX_PATH])
{
    FolderPathW get = reinterpret_cast<FolderPathW>(Function("shell32.dll", "SHGetFolderPathW"));
    path[0] = 0;
    return get && SUCCEEDED(get(0, csidl, 0, 0, path));
}

int ShowMessageBox(HWND owner, const char *text, const char *caption, UINT style)
{
    MessageBoxFunction show = reinterpret_cast<MessageBoxFunction>(Function("user32.dll", "MessageBoxA"));
    return show ? show(owner, text, caption, style) : 0;
}
