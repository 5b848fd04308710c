// The run log's file, shared by the worker (a run's lines, at its end) and the launcher (a run it refused):
// "%LOCALAPPDATA%\Kovrel\<identity>.log", one per application, capped at LOG_CAP with its oldest lines dropped.
#pragma once
#include <windows.h>

// "%LOCALAPPDATA%\Kovrel\", created when missing; false when it cannot be named.
bool UserKovrelFolder(char (&path)[MAX_PATH]);

// The log of the application `applicationPath` (its folder, or a path in it) updated from `section`, named by
// its identity; false for an empty section, or when the path cannot be named.
bool ApplicationLogPath(const char *section, const char *applicationPath, char (&path)[MAX_PATH]);

// Appends whole lines (`length` bytes) to the log: the file is read whole, the lines appended, the oldest whole
// lines dropped beyond LOG_CAP, and the result written under a temporary name and renamed over the log, so
// that a log is never left half-written. A file too long to have been written this way is replaced.
bool AppendToLog(const char *path, const char *lines, unsigned length);

// The start of a run's first line (log_text.h) at this moment.
bool ComposeLogStartNow(char *buffer, unsigned capacity, const char *launcherPath);
