#pragma once
#include <windows.h>

// Writes the embedded worker of `module` to `destination`; true when the whole worker was written.
bool ExtractWorker(HMODULE module, const char *destination);

// Normal mode: empties and recreates the temporary folder, writes the worker of `module` there and starts it
// with the launcher's path and arguments. On any failure the folder is removed again. Reports nothing.
void RunNormalMode(HMODULE module, const char *arguments);

// Cleanup mode: deletes the temporary folder.
void RunCleanupMode();

// The temporary folder: the user's temporary directory followed by "Kovrel\". False when it cannot be had.
bool GetKovrelTempFolder(char folder[MAX_PATH]);
