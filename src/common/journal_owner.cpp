#include "journal_owner.h"
#include "heap.h"
#include "whole_file.h"
#include "wide_path.h"
#include "work_layout.h"

static bool NamesFolder(const JournalHeader &header, const char *applicationFolder)
{
    wchar_t named[MAX_PATH], expected[MAX_PATH];
    return WidenPathFrom(header.utf8 ? CP_UTF8 : CP_ACP, named, header.applicationFolder) &&
           WidenPath(expected, applicationFolder) && lstrcmpiW(named, expected) == 0;
}

// Its backup line names the "Bup\" folder beside the journal, and every record names something inside.
static bool IsSound(char **lines, unsigned count, const JournalHeader &header, const wchar_t *journalPath)
{
    wchar_t named[MAX_PATH], expected[MAX_PATH];
    lstrcpynW(expected, journalPath, MAX_PATH);
    int folderEnd = lstrlenW(expected);
    while (folderEnd > 0 && expected[folderEnd - 1] != L'\\')
        folderEnd--;
    expected[folderEnd] = 0;
    if (!WidenPathFrom(header.utf8 ? CP_UTF8 : CP_ACP, named, header.backupFolder) ||
        !ComposeWidePath(expected, expected, BACKUP_FOLDER_NAME_WIDE) || lstrcmpiW(named, expected) != 0)
        return false;
    for (unsigned i = header.firstRecord; i < count; i++) {
        char kind = 0;
        const char *relative = 0;
        if (ReadJournalRecord(lines[i], &kind, &relative) && kind != JOURNAL_COMMITTED && !IsJournalNameInside(relative))
            return false;
    }
    return true;
}

bool JournalBelongsTo(char **lines, unsigned count, const JournalHeader &header, const wchar_t *journalPath,
                      const char *applicationFolder)
{
    return NamesFolder(header, applicationFolder) && IsSound(lines, count, header, journalPath);
}

// A sound journal for a folder that exists may be another application's interrupted update, whose only way
// back is that journal and its backup.
static JournalOwner OwnerOf(char **lines, unsigned count, const wchar_t *journalPath, const char *applicationFolder)
{
    JournalHeader header;
    if (!ReadJournalHeader(lines, count, &header) || header.committed)
        return JOURNAL_NONE;
    if (!IsSound(lines, count, header, journalPath))
        return JOURNAL_UNSOUND;
    if (NamesFolder(header, applicationFolder))
        return JOURNAL_OURS;
    wchar_t named[MAX_PATH];
    DWORD attributes = WidenPathFrom(header.utf8 ? CP_UTF8 : CP_ACP, named, header.applicationFolder)
                           ? GetFileAttributesW(named)
                           : INVALID_FILE_ATTRIBUTES;
    bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    return folder ? JOURNAL_ANOTHERS : JOURNAL_UNSOUND;
}

JournalOwner ReadJournalOwner(const char *journalPath, const char *applicationFolder)
{
    wchar_t widePath[MAX_PATH];
    if (!WidenPath(widePath, journalPath) || GetFileAttributesW(widePath) == INVALID_FILE_ATTRIBUTES)
        return JOURNAL_NONE;
    unsigned length = 0;
    char *text = ReadWholeFile(journalPath, JOURNAL_READ_LIMIT, &length);
    if (!text)
        return JOURNAL_UNSOUND;
    unsigned count = SplitJournalLines(text, length, 0, 0);
    char **lines = static_cast<char **>(AllocateBytes((count + 1) * sizeof(char *)));
    JournalOwner owner = JOURNAL_UNSOUND;
    if (lines) {
        SplitJournalLines(text, length, lines, count);
        owner = OwnerOf(lines, count, widePath, applicationFolder);
    }
    FreeBytes(lines);
    FreeBytes(text);
    return owner;
}
