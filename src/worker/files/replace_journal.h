// The journal of one replacement: what it is about to change, written and flushed before the changes, so
// that a replacement cut short by a crash, a kill or a power cut can be undone at the next start.
#pragma once
#include <windows.h>

struct ReplaceJournal {
    HANDLE file;
    unsigned flushes; // flushes that reached the disk, so that a test can see when the records were made durable
};

// Creates the journal with its header, which goes to the disk with the first records. The path and the folders
// are in the ANSI code page; the folders end in a backslash.
bool BeginJournal(ReplaceJournal *journal, const char *path, const char *applicationFolder, const char *backupFolder);

// Appends one record (see journal_format.h), its path in UTF-8, and flushes it to the disk.
bool RecordInJournal(ReplaceJournal *journal, char kind, const char *relativePath);

// Appends complete records (each ending in "\r\n") with one write and flushes the journal to the disk.
bool WriteJournalRecords(ReplaceJournal *journal, const char *records, unsigned length);

// Closes the journal; the file stays.
void CloseJournal(ReplaceJournal *journal);

// Records that every file is in place, then deletes the journal: the replacement is over.
bool CommitJournal(ReplaceJournal *journal, const char *path);

enum UndoOutcome {
    UNDO_NOTHING,    // no journal, or one that had nothing to undo (not begun, or committed)
    UNDO_COMPLETE,   // the application is as it was before the replacement
    UNDO_INCOMPLETE, // something could not be put back: the journal stays for the next try
    UNDO_FOREIGN,    // not this application's journal, or not one this worker wrote: nothing was touched
};

// Undoes the replacement that the journal describes, newest change first, when it is the journal of
// `applicationFolder` (ANSI, ending in a backslash) with its backup in the journal's own folder and only
// names inside both. It goes on past a file it cannot put back, so that every other one is restored; the
// journal is deleted once nothing is left to undo. `restored` (may be 0) counts the files put back or removed.
UndoOutcome UndoJournal(const char *path, const char *applicationFolder, unsigned *restored);

// Moves a journal that is not acted on out of the work folder, to `aside`, replacing an earlier one there.
bool SetJournalAside(const char *path, const wchar_t *aside);
