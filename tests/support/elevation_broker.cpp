// Stands where the worker's ShellExecuteExW finds the apply step's launcher in the tests of protected folders,
// since under Wine the verb "runas" elevates nothing and no folder's rights can be granted from Windows:
//
//   1. records its arguments (UTF-8) in "request.txt" of the folder KOVREL_BROKER_FOLDER names;
//   2. waits until "granted" appears there: the harness has given the rights that elevation would;
//   3. runs the real launcher beside it, KovrelApply.exe, with the same arguments and the full token that an
//      elevated process has (this one inherits the limited token of the run that started it);
//   4. writes "exit N" to "done.txt" and ends with N.
#include <windows.h>
#include <string>
#include "linked_token.h"

static std::wstring folder;

static void WriteUtf8(const wchar_t *name, const std::wstring &text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, 0, 0, 0, 0);
    std::string bytes(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &bytes[0], size, 0, 0);
    std::wstring partial = folder + L"\\" + name + L".part";
    HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
    DWORD done = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &done, 0);
    CloseHandle(file);
    MoveFileExW(partial.c_str(), (folder + L"\\" + name).c_str(), MOVEFILE_REPLACE_EXISTING);
}

int main()
{
    wchar_t value[MAX_PATH];
    if (!GetEnvironmentVariableW(L"KOVREL_BROKER_FOLDER", value, MAX_PATH))
        return 2;
    folder = value;
    // The arguments: the command line after the program's own (quoted) name.
    const wchar_t *line = GetCommandLineW();
    const wchar_t *arguments = line;
    if (*arguments == L'"')
        arguments = wcschr(arguments + 1, L'"') ? wcschr(arguments + 1, L'"') + 1 : arguments + wcslen(arguments);
    else
        while (*arguments && *arguments != L' ')
            arguments++;
    while (*arguments == L' ')
        arguments++;
    WriteUtf8(L"request.txt", arguments);
    std::wstring granted = folder + L"\\granted";
    for (int waited = 0; GetFileAttributesW(granted.c_str()) == INVALID_FILE_ATTRIBUTES; waited++) {
        if (waited > 6000) // ten minutes
            return 3;
        Sleep(100);
    }
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(0, self, MAX_PATH);
    std::wstring launcher = self;
    launcher = launcher.substr(0, launcher.rfind(L'\\') + 1) + L"KovrelApply.exe";
    std::wstring commandLine = L"\"" + launcher + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // The broker has the limited token of the run that started it; the linked one is the full token.
    HANDLE token = LinkedToken();
    DWORD code = 4;
    if (token && CreateProcessAsUserW(token, launcher.c_str(), &commandLine[0], 0, 0, FALSE, 0, 0, 0, &startup,
                                      &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    WriteUtf8(L"done.txt", L"exit " + std::to_wstring(code));
    return static_cast<int>(code);
}
