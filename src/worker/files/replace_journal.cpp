// Writing and undoing the replacement journal.
//
// Undoing a record is safe to repeat, so an undo that is itself cut short can simply run again:
// - a replaced file whose original is in the backup folder gets it back (a backup that is not there was never
//   made, and the original never left);
// - a created file or folder is removed;
// - a temporary ".kvnew" file that a cut-short copy left beside its target is removed.
#include "replace_journal.h"
#include "file_placement.h"
#include "journal_format.h"
#include "../../common/heap.h"
#include "../../common/path_compose.h"
#include "../../common/text.h"
#include "../../common/whole_file.h"

static const unsigned LINE_CAPACITY = MAX_PATH + 8;

static bool WriteAll(ReplaceJournal *journal, const char *text, DWORD length)
{
    DWORD written = 0;
    return journal->file != INVALID_HANDLE_VALUE && WriteFile(journal->file, text, length, &written, 0) &&
           written == length;
}

static bool Flush(ReplaceJournal *journal)
{
    if (journal->file == INVALID_HANDLE_VALUE || !FlushFileBuffers(journal->file))
        return false;
    journal->flushes++;
    return true;
}

static bool WriteFlushed(ReplaceJournal *journal, const char *text, DWORD length)
{
    return WriteAll(journal, text, length) && Flush(journal);
}

// The header is not flushed on its own: a journal without records has nothing to undo, and the flush of
// the records, before the first change, takes the header to the disk with them.
bool BeginJournal(ReplaceJournal *journal, const char *path, const char *applicationFolder, const char *backupFolder)
{
    journal->file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    journal->flushes = 0;
    char line[LINE_CAPACITY];
    bool begun = WriteAll(journal, JOURNAL_MARK, sizeof JOURNAL_MARK - 1) && WriteAll(journal, "\r\n", 2) &&
                 FormatJournalLine(line, sizeof line, JOURNAL_APPLICATION_FOLDER, applicationFolder) &&
                 WriteAll(journal, line, TextLength(line)) &&
                 FormatJournalLine(line, sizeof line, JOURNAL_BACKUP_FOLDER, backupFolder) &&
                 WriteAll(journal, line, TextLength(line));
    if (!begun) {
        CloseJournal(journal);
        DeleteFileA(path);
    }
    return begun;
}

bool RecordInJournal(ReplaceJournal *journal, char kind, const char *relativePath)
{
    char line[LINE_CAPACITY];
    return FormatJournalLine(line, sizeof line, kind, relativePath) && WriteFlushed(journal, line, TextLength(line));
}

bool WriteJournalRecords(ReplaceJournal *journal, const char *records, unsigned length)
{
    return length == 0 ? Flush(journal) : WriteFlushed(journal, records, length);
}

void CloseJournal(ReplaceJournal *journal)
{
    if (journal->file != INVALID_HANDLE_VALUE)
        CloseHandle(journal->file);
    journal->file = INVALID_HANDLE_VALUE;
}

bool CommitJournal(ReplaceJournal *journal, const char *path)
{
    bool committed = RecordInJournal(journal, JOURNAL_COMMITTED, "");
    CloseJournal(journal);
    return committed && DeleteWithRetries(path);
}

// A journal holds a line of at most MAX_PATH + 8 bytes for each file and folder of the update.
static const unsigned JOURNAL_READ_LIMIT = 64u << 20;

static bool Exists(const char *path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// Puts one replaced file back from the backup folder: by a move on the same drive, by a copy otherwise.
static bool RestoreReplaced(const JournalHeader &header, const char *relative, char *target, unsigned *restored)
{
    char backup[MAX_PATH];
    char part[MAX_PATH];
    if (!ComposePath(backup, header.backupFolder, relative, ""))
        return false;
    bool back = true;
    if (Exists(backup)) {
        // Across drives the original was copied, not moved: a target that still holds it needs nothing, and
        // copying it back could fail on the very drive that filled up.
        back = MoveOver(backup, target) ||
               (GetLastError() == ERROR_NOT_SAME_DEVICE && (SameContent(backup, target) || PlaceCopy(backup, target, part)));
        if (back && restored)
            ++*restored;
    }
    return back;
}

static bool UndoRecord(const JournalHeader &header, char kind, const char *relative, unsigned *restored)
{
    if (kind != JOURNAL_CREATED_FOLDER && kind != JOURNAL_CREATED_FILE && kind != JOURNAL_REPLACED_FILE)
        return true;
    char target[MAX_PATH];
    char part[MAX_PATH];
    if (!ComposePath(target, header.applicationFolder, relative, "") ||
        !ComposePath(part, header.applicationFolder, relative, PART_SUFFIX))
        return false;
    if (kind == JOURNAL_CREATED_FOLDER) {
        bool gone = !Exists(target) || RemoveDirectoryA(target);
        if (gone && restored)
            ++*restored;
        return gone;
    }
    bool undone = DeleteWithRetries(part);
    if (kind == JOURNAL_REPLACED_FILE)
        return RestoreReplaced(header, relative, target, restored) && undone;
    bool existed = Exists(target);
    undone = DeleteWithRetries(target) && undone;
    if (existed && undone && restored)
        ++*restored;
    return undone;
}

UndoOutcome UndoJournal(const char *path, unsigned *restored)
{
    unsigned length = 0;
    char *text = ReadWholeFile(path, JOURNAL_READ_LIMIT, &length);
    if (!text)
        return Exists(path) ? UNDO_INCOMPLETE : UNDO_NOTHING;
    unsigned count = SplitJournalLines(text, length, 0, 0);
    char **lines = static_cast<char **>(AllocateBytes((count + 1) * sizeof(char *)));
    if (!lines) {
        FreeBytes(text);
        return UNDO_INCOMPLETE;
    }
    SplitJournalLines(text, length, lines, count);
    JournalHeader header;
    UndoOutcome outcome = UNDO_NOTHING;
    if (ReadJournalHeader(lines, count, &header) && !header.committed) {
        outcome = UNDO_COMPLETE;
        for (unsigned i = count; i > header.firstRecord; i--) {
            char kind = 0;
            const char *relative = 0;
            if (ReadJournalRecord(lines[i - 1], &kind, &relative) && relative[0] &&
                !UndoRecord(header, kind, relative, restored))
                outcome = UNDO_INCOMPLETE;
        }
    }
    FreeBytes(lines);
    FreeBytes(text);
    if (outcome != UNDO_INCOMPLETE && !DeleteWithRetries(path))
        outcome = UNDO_INCOMPLETE;
    return outcome;
}
