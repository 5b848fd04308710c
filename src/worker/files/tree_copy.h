// Copying an unpacked tree over the application folder, with a backup of every file it replaces.
#pragma once
#include <windows.h>
#include "../../common/text_buffer.h"

// Called after each copied file; a non-zero result stops the copy.
typedef int(WINAPI *CopyProgressFunction)(void *context);

// The destination files and folders that a copy created, in the order it created them: the entries that
// did not exist before the update, which a restore removes again. Paths are stored one after the other,
// each with its terminating zero.
struct CreatedEntries {
    char *paths;
    unsigned used;
    unsigned capacity;
};

// The platform also has a function named CopyContext, which hides this type's plain name after windows.h:
// declare variables with the elaborated name, `struct CopyContext copy;`.
struct CopyContext {
    TextBuffer sourcePath;
    TextBuffer destinationPath;
    TextBuffer backupPath;
    CopyProgressFunction progressCallback;
    void *progressContext;
    CreatedEntries created;

    // Zeroes the context and reserves its three scratch paths.
    bool Init();
    void Free();
    // Copies everything below sourceRoot + relativePath into destinationRoot + relativePath. Before a file
    // is overwritten it is copied below backupRoot (none or empty: no backup). False at the first failure.
    bool CopyTree(const char *sourceRoot, const char *destinationRoot, const char *relativePath,
                  const char *backupRoot);
    // Deletes the entries that the copy created, newest first; true when all of them are gone.
    bool RemoveCreated();
};

// True when every path that CopyTree(sourceRoot, destinationRoot, "", backupRoot) would compose fits in
// 260 bytes, checked before anything is copied.
bool TreeFits(const char *sourceRoot, const char *destinationRoot, const char *backupRoot);

// The number of files in the folder (a path ending in a backslash) and all folders below it.
int CountFiles(const char *folder);
