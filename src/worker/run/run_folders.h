// The folders and files of one run, derived once at its start.
#pragma once
#include <windows.h>

struct RunFolders {
    bool haveApplication;         // the application path names a folder
    char application[MAX_PATH];   // the application folder, ending in a backslash
    bool haveWork;                // every path below fits
    char work[MAX_PATH];          // the work folder beside the worker, ending in a backslash
    char journal[MAX_PATH];       // the replacement journal
    char infoFile[MAX_PATH];      // the stored update information file
    char unpacked[MAX_PATH];      // the unpacked archive, "Src\"
    char backup[MAX_PATH];        // the replaced originals, "Bup\"
};

// Derives the folders from the application path (everything up to its last separator) and the worker's own
// location.
void DeriveRunFolders(const char *applicationPath, RunFolders *folders);
