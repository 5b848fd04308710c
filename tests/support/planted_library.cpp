// A library planted where Kovrel must never look for one. Loaded into a process, it appends that process's
// program path to the file that KOVREL_PLANTED_MARKER names, so that a test sees who loaded it.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    char marker[MAX_PATH], program[MAX_PATH + 2];
    DWORD length = GetEnvironmentVariableA("KOVREL_PLANTED_MARKER", marker, MAX_PATH);
    if (reason != DLL_PROCESS_ATTACH || length == 0 || length >= MAX_PATH)
        return TRUE;
    DWORD programLength = GetModuleFileNameA(0, program, MAX_PATH);
    program[programLength++] = '\r';
    program[programLength++] = '\n';
    HANDLE file = CreateFileA(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_ALWAYS, 0, 0);
    DWORD written = 0;
    if (file != INVALID_HANDLE_VALUE) {
        WriteFile(file, program, programLength, &written, 0);
        CloseHandle(file);
    }
    return TRUE;
}
