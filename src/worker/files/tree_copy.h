// Copying an unpacked tree over the application folder, with a backup of every file it replaces.
#pragma once
#include <windows.h>
#include "../../common/text_buffer.h"

// Called after each copied file; a non-zero result stops the copy.
typedef int(WINAPI *CopyProgressFunction)(void *context);

struct ReplaceJournal;

// The platform also has a function named CopyContext, which hides this type's plain name after windows.h:
// declare variables with the elaborated name, `struct CopyContext copy;`.
struct CopyContext {
    TextBuffer sourcePath;
    TextBuffer destinationPath;
    TextBuffer backupPath;
    TextBuffer partPath;
    TextBuffer relativeName;
    CopyProgressFunction progressCallback;
    void *progressContext;
    // When given, every folder and file the copy creates and every file it replaces is recorded here
    // before the change, so that UndoJournal can put the destination back.
    ReplaceJournal *journal;

    // Zeroes the context and reserves its scratch paths.
    bool Init();
    void Free();
    // Copies everything below sourceRoot + relativePath into destinationRoot + relativePath. A file that is
    // overwritten is first moved below backupRoot (copied when it lies on another drive; none or empty:
    // no backup). Each new file is written beside its target and renamed over it, so no file is ever left
    // half-written. False at the first failure.
    bool CopyTree(const char *sourceRoot, const char *destinationRoot, const char *relativePath,
                  const char *backupRoot);
};

// True when every path that CopyTree(sourceRoot, destinationRoot, "", backupRoot) would compose, the
// temporary names beside the targets included, fits in 260 bytes; checked before anything is copied.
bool TreeFits(const char *sourceRoot, const char *destinationRoot, const char *backupRoot);

// The number of files in the folder (a path ending in a backslash) and all folders below it.
int CountFiles(const char *folder);
