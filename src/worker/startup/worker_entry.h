#pragma once
#include <windows.h>

// Runs the worker once: waits for the launcher to end, reads the command line, and in every case after the
// wait starts the launcher again for cleanup. Returns the process exit code, always 0.
int RunWorker(HINSTANCE instance, const char *commandText);
