#include "on_demand.h"
#include "system_library.h"

typedef HRESULT(WINAPI *FolderPathA)(HWND, int, HANDLE, DWORD, char *);
typedef HRESULT(WINAPI *FolderPathW)(HWND, int, HANDLE, DWORD, wchar_t *);
typedef int(WINAPI *MessageBoxFunction)(HWND, const char *, const char *, UINT);

bool GetShellFolderA(int csidl, char path[MAX_PATH])
{
    FolderPathA get = reinterpret_cast<FolderPathA>(SystemFunction("shell32.dll", "SHGetFolderPathA"));
    path[0] = 0;
    return get && SUCCEEDED(get(0, csidl, 0, 0, path));
}

bool GetShellFolderW(int csidl, wchar_t path[MAX_PATH])
{
    FolderPathW get = reinterpret_cast<FolderPathW>(SystemFunction("shell32.dll", "SHGetFolderPathW"));
    path[0] = 0;
    return get && SUCCEEDED(get(0, csidl, 0, 0, path));
}

int ShowMessageBox(HWND owner, const char *text, const char *caption, UINT style)
{
    MessageBoxFunction show = reinterpret_cast<MessageBoxFunction>(SystemFunction("user32.dll", "MessageBoxA"));
    return show ? show(owner, text, caption, style) : 0;
}
