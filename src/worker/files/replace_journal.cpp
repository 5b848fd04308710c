// Writing and undoing the replacement journal.
//
// Undoing a record is safe to repeat, so an undo that is itself cut short can simply run again:
// - a replaced file whose original is in the backup folder gets it back (a backup that is not there was never
//   made, and the original never left);
// - a created file or folder is removed;
// - a temporary ".kvnew" file that a cut-short copy left beside its target is removed.
#include "replace_journal.h"
#include "file_placement.h"
#include "../../common/journal_owner.h"
#include "../../common/heap.h"
#include "../../common/text.h"
#include "../../common/whole_file.h"
#include "../../common/wide_path.h"

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

// A folder given in the ANSI code page, as the journal's line of that kind.
static bool FormatFolderLine(char *line, char kind, const char *folder)
{
    wchar_t wide[MAX_PATH];
    char text[JOURNAL_LINE_CAPACITY];
    return WidenPath(wide, folder) && PathToUtf8(text, sizeof text, wide) &&
           FormatJournalLine(line, JOURNAL_LINE_CAPACITY, kind, text);
}

// The header is not flushed on its own: a journal without records has nothing to undo, and the flush of
// the records, before the first change, takes the header to the disk with them.
bool BeginJournal(ReplaceJournal *journal, const char *path, const char *applicationFolder, const char *backupFolder)
{
    journal->file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    journal->flushes = 0;
    char line[JOURNAL_LINE_CAPACITY];
    bool begun = WriteAll(journal, JOURNAL_MARK, sizeof JOURNAL_MARK - 1) && WriteAll(journal, "\r\n", 2) &&
                 FormatFolderLine(line, JOURNAL_APPLICATION_FOLDER, applicationFolder) &&
                 WriteAll(journal, line, TextLength(line)) &&
                 FormatFolderLine(line, JOURNAL_BACKUP_FOLDER, backupFolder) &&
                 WriteAll(journal, line, TextLength(line));
    if (!begun) {
        CloseJournal(journal);
        DeleteFileA(path);
    }
    return begun;
}

bool RecordInJournal(ReplaceJournal *journal, char kind, const char *relativePath)
{
    char line[JOURNAL_LINE_CAPACITY];
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
    wchar_t widePath[MAX_PATH];
    bool committed = RecordInJournal(journal, JOURNAL_COMMITTED, "");
    CloseJournal(journal);
    return committed && WidenPath(widePath, path) && DeleteWithRetries(widePath);
}

static bool Exists(const wchar_t *path)
{
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

// The roots of the journal, wide, and the code page of its texts.
struct UndoRoots {
    wchar_t application[MAX_PATH];
    wchar_t backup[MAX_PATH];
    unsigned codePage;
};

// Puts one replaced file back from the backup folder: by a move on the same drive, by a copy otherwise.
static bool RestoreReplaced(const UndoRoots &roots, const wchar_t *relative, const wchar_t *target, unsigned *restored)
{
    wchar_t backup[MAX_PATH];
    wchar_t part[MAX_PATH];
    if (!ComposeWidePath(backup, roots.backup, relative))
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

static bool UndoRecord(const UndoRoots &roots, char kind, const char *text, unsigned *restored)
{
    if (kind != JOURNAL_CREATED_FOLDER && kind != JOURNAL_CREATED_FILE && kind != JOURNAL_REPLACED_FILE)
        return true;
    wchar_t relative[MAX_PATH];
    wchar_t target[MAX_PATH];
    wchar_t part[MAX_PATH];
    if (!WidenPathFrom(roots.codePage, relative, text) || !ComposeWidePath(target, roots.application, relative) ||
        !ComposeWidePath(part, roots.application, relative, PART_SUFFIX))
        return false;
    if (kind == JOURNAL_CREATED_FOLDER) {
        bool gone = !Exists(target) || RemoveDirectoryW(target);
        if (gone && restored)
            ++*restored;
        return gone;
    }
    bool undone = DeleteWithRetries(part);
    if (kind == JOURNAL_REPLACED_FILE)
        return RestoreReplaced(roots, relative, target, restored) && undone;
    bool existed = Exists(target);
    undone = DeleteWithRetries(target) && undone;
    if (existed && undone && restored)
        ++*restored;
    return undone;
}

bool SetJournalAside(const char *path, const wchar_t *aside)
{
    wchar_t widePath[MAX_PATH];
    return WidenPath(widePath, path) &&
           MoveFileExW(widePath, aside, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH);
}

UndoOutcome UndoJournal(const char *path, const char *applicationFolder, unsigned *restored)
{
    wchar_t widePath[MAX_PATH];
    if (!WidenPath(widePath, path))
        return UNDO_INCOMPLETE;
    unsigned length = 0;
    char *text = ReadWholeFile(path, JOURNAL_READ_LIMIT, &length);
    if (!text)
        return Exists(widePath) ? UNDO_INCOMPLETE : UNDO_NOTHING;
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
        UndoRoots roots;
        roots.codePage = header.utf8 ? CP_UTF8 : CP_ACP;
        bool rooted = JournalBelongsTo(lines, count, header, widePath, applicationFolder) &&
                      WidenPathFrom(roots.codePage, roots.application, header.applicationFolder) &&
                      WidenPathFrom(roots.codePage, roots.backup, header.backupFolder);
        outcome = rooted ? UNDO_COMPLETE : UNDO_FOREIGN;
        for (unsigned i = count; rooted && i > header.firstRecord; i--) {
            char kind = 0;
            const char *relative = 0;
            if (ReadJournalRecord(lines[i - 1], &kind, &relative) && relative[0] &&
                !UndoRecord(roots, kind, relative, restored))
                outcome = UNDO_INCOMPLETE;
        }
    }
    FreeBytes(lines);
    FreeBytes(text);
    if (outcome != UNDO_INCOMPLETE && outcome != UNDO_FOREIGN && !DeleteWithRetries(widePath))
        outcome = UNDO_INCOMPLETE;
    return outcome;
}
