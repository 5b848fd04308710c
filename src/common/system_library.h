// Libraries come from the system folder only. Both executables run from the temporary folder, which any
// program of the user may write, and Windows looks for a library named bare in a program's own folder first:
// a library planted there would run inside Kovrel.
#pragma once
#include <windows.h>

// Makes the system folder the only place searched for libraries loaded later, and for their own imports,
// where Windows can be told so (SetDefaultDllDirectories); elsewhere the current folder is at least left out.
void RestrictLibrarySearch();

// Loads a library of the system folder (SysWOW64 for the 32-bit build on 64-bit Windows) by its bare name;
// 0 when it is not there.
HMODULE LoadSystemLibrary(const char *name);

// The function `name` of the system library `library`, which stays loaded for the life of the process; 0 when
// either is missing.
void *SystemFunction(const char *library, const char *name);
