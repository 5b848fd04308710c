// The replacement transaction: the unpacked tree put over the application folder as one unit. It checks that
// every file to be replaced is free, plans every change, journals the plan, applies it, and commits; a failure
// or a stop undoes it from the journal. One that a crash cut short is undone by UndoJournal at the next start.
#pragma once
#include "replace_journal.h"
#include "tree_placement.h"

enum InUseAnswer {
    IN_USE_CHECK_AGAIN,
    IN_USE_ABORT,   // the user gave up: the run ends as aborted
    IN_USE_GIVE_UP, // waited long enough: the run fails
};

struct ReplaceJob {
    const char *unpackedTree;      // the source, ending in a backslash
    const char *applicationFolder; // the destination, ending in a backslash
    const char *backupFolder;      // where replaced originals go, ending in a backslash; none: no backup
    const char *journalPath;       // the journal, used with a backup only
    bool moveFiles;                // the unpacked files may be moved rather than copied
    // After every file, with the files placed so far and the files planned; non-zero stops the replacement.
    int (*progress)(void *context, unsigned placed, unsigned planned);
    void *progressContext;
    // Asked while a file to be replaced is in use (`blocked` names it, in the ANSI code page, for display).
    InUseAnswer (*inUse)(void *context, const char *blocked);
    void *inUseContext;
};

enum ReplaceOutcome {
    REPLACE_DONE,
    REPLACE_NOT_PLANNED,   // a path did not fit, a folder of the tree is a file there, or memory ran out
    REPLACE_DENIED,        // this user may not write the folder or a file
    REPLACE_FILES_IN_USE,  // the wait for a file in use was given up
    REPLACE_ABORTED,       // the user gave up while a file was in use, or the progress function stopped it
    REPLACE_UNDONE,        // it failed, and everything was put back
    REPLACE_UNDO_INCOMPLETE, // it failed, and something could not be put back: the journal stays
};

struct ReplaceReport {
    unsigned placed;   // files placed
    unsigned planned;  // files to place
    unsigned restored; // files put back or removed by an undo
};

ReplaceOutcome ReplaceApplication(const ReplaceJob &job, ReplaceReport *report);
