// The replacement journal as text. It survives a crash of the worker, so it is plain lines that are only
// ever appended; a last line without its line ending was cut by the crash and is not read.
//
//     KOVREL-JOURNAL 2
//     A <application folder>\        where the files are replaced
//     B <backup folder>\             where the replaced originals go
//     D <relative folder>\           a folder the update is about to create
//     C <relative file>              a file the update is about to create
//     R <relative file>              a file the update is about to replace (its original goes to the backup)
//     K                              every file is in place: nothing to undo
//
// Every text is a path in UTF-8, so that any name the file system holds can be journalled. Version 1, which
// the worker wrote before, held them in the system's ANSI code page; such a journal is still undone, since a
// worker may undo what the one before it left.
//
// Each record is written and flushed before the change it announces, so undoing every record (newest first)
// puts the application back whatever point a crash came at. The records of a whole replacement are written
// together before its first change: undoing a record whose change was never made does nothing.
#pragma once

// The journal's first line, which says what the file is and which version of this format it holds.
const char JOURNAL_MARK[] = "KOVREL-JOURNAL 2";
const char JOURNAL_MARK_ANSI[] = "KOVREL-JOURNAL 1";

// A journal holds a header and one line per file or folder; this is far more than any update writes.
const unsigned JOURNAL_READ_LIMIT = 64u << 20;

// Bytes that hold any line: a path of up to 260 UTF-16 units takes at most three bytes for each in UTF-8.
const unsigned JOURNAL_LINE_CAPACITY = 3 * 260 + 8;

const char JOURNAL_APPLICATION_FOLDER = 'A';
const char JOURNAL_BACKUP_FOLDER = 'B';
const char JOURNAL_CREATED_FOLDER = 'D';
const char JOURNAL_CREATED_FILE = 'C';
const char JOURNAL_REPLACED_FILE = 'R';
const char JOURNAL_COMMITTED = 'K';

// Composes "<kind> <text>\r\n" (or "<kind>\r\n" without text). False when it would not fit.
bool FormatJournalLine(char *buffer, unsigned capacity, char kind, const char *text);

// Splits the complete lines of a journal in place (the line endings of the stored lines become zeros).
// Stores at most `capacity` line starts in `lines` and returns how many complete lines there are; with
// lines 0 it only counts, leaving the text as it is.
unsigned SplitJournalLines(char *text, unsigned length, char **lines, unsigned capacity);

struct JournalHeader {
    const char *applicationFolder;
    const char *backupFolder;
    unsigned firstRecord; // index of the first record line
    bool committed;
    bool utf8;            // the texts are UTF-8 (version 2), not ANSI (version 1)
};

// Reads the header lines and looks for the commit record. False when the header is not complete: then the
// update had not touched anything yet.
bool ReadJournalHeader(char **lines, unsigned count, JournalHeader *header);

// The kind and text of a record line; false for a line that is not a record.
bool ReadJournalRecord(const char *line, char *kind, const char **text);

// True when a record's name can only name something below its root: relative, without a drive, a stream (':')
// or a ".." component. Checked byte by byte, which is safe in any code page: none of these bytes is ever the
// second byte of a double-byte character except '\', and a '\' taken for a separator only refuses more.
bool IsJournalNameInside(const char *name);
