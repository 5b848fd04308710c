#pragma once
#include <windows.h>

// Runs the worker once: waits for the launcher to end, reads the command line, and in every case after the
// wait starts the launcher again for cleanup (but for a check). Returns the process exit code: a check's
// outcome (common/cleanup_argument.h), otherwise 0 (CHECK_FAILED when the mutex cannot be had).
int RunWorker(HINSTANCE instance, const char *commandText);
