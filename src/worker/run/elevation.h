// Starting the launcher's apply step with administrator rights, and waiting for it.
#pragma once
#include <windows.h>
#include <shellapi.h>

enum ElevatedOutcome {
    ELEVATED_RAN,         // the step ran and ended; its exit code is known
    ELEVATED_DECLINED,    // the user did not allow it (ERROR_CANCELLED)
    ELEVATED_NOT_STARTED, // it could not be started for another reason
};

// The one call that asks Windows for the rights: ShellExecuteExW. Only a test program replaces it.
typedef BOOL(WINAPI *ElevatedStart)(SHELLEXECUTEINFOW *start);
extern ElevatedStart elevatedStart;

// Starts `program` with `parameters` (both in the ANSI code page) with the verb "runas", its prompt owned by
// `owner`, and waits for it without a limit; its exit code goes to `exitCode`.
ElevatedOutcome RunElevated(const char *program, const char *parameters, HWND owner, DWORD *exitCode);
