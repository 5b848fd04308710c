// Whose journal is this? A journal in the temporary folder may have been left there by any program of the
// user, or sent by a server as an archive; only one that a worker wrote for this application is acted on.
#pragma once
#include <windows.h>
#include "journal_format.h"

// True when the journal, whose lines are split and header read, is one a worker wrote for `applicationFolder`
// (ANSI, ending in a backslash): its application line names that folder, its backup line the "Bup\" folder
// beside the journal itself (`journalPath`), and every record names something inside them.
bool JournalBelongsTo(char **lines, unsigned count, const JournalHeader &header, const wchar_t *journalPath,
                      const char *applicationFolder);

enum JournalOwner {
    JOURNAL_NONE,        // no journal, or one with nothing to undo (cut before its header, or committed)
    JOURNAL_OURS,        // this application's, as JournalBelongsTo says
    JOURNAL_ANOTHERS,    // sound, and for another application folder that exists: that application's to undo
    JOURNAL_UNSOUND,     // anything else: never acted on, never kept
};

// Reads the journal file (ANSI path) and says whose it is.
JournalOwner ReadJournalOwner(const char *journalPath, const char *applicationFolder);
