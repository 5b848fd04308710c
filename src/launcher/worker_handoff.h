#pragma once
#include <windows.h>

// Unpacks the embedded worker of `module` into `destination`; true when the whole worker was written.
bool ExtractWorker(HMODULE module, const char *destination);

// Normal mode: empties and recreates the temporary folder, writes the worker of `module` there and starts it
// with the launcher's path and arguments. A folder holding a journal of this application's update is used as
// it is; one holding another application's is passed over. A folder that cannot be emptied or created is
// reported once and the next fresh name ("Kovrel-<identity>.1\" ...) is tried.
// Both run with the lock of the application `identity` held, and give the worker a handle to it.
void RunNormalMode(HMODULE module, const char *arguments, const char *identity, HANDLE lock);

// The apply step: elevated, runs the worker from the per-machine staging folder as normal mode would, waits for
// it and removes its folder (unless a journal is left in it). Returns the worker's exit code, the id of its final
// message, or APPLY_NOT_ALLOWED / APPLY_NOT_STARTED.
DWORD RunApplyStep(HMODULE module, const char *arguments);

// Check mode (-k1), with the mutex held: starts the worker as normal mode does but silently, lets the mutex go
// so that the worker can start, waits for it, takes the mutex again and removes its folder. Returns its exit
// code: CHECK_UP_TO_DATE, CHECK_NEWER or CHECK_FAILED (also for any failure here).
DWORD RunCheckMode(HMODULE module, const char *arguments, const char *identity, HANDLE mutex);

// Cleanup mode: deletes the application's run folders, except one whose journal still needs its backup.
void RunCleanupMode(const char *identity);

// The application's first run folder: the user's temporary directory followed by "Kovrel-<identity>\"
// (elevated: the per-machine "Staging-<identity>\"). False when it cannot be had.
bool GetKovrelTempFolder(const char *identity, char folder[MAX_PATH]);
