// Tree placement with backup.
//
// The placement only creates and replaces, file by file; it never deletes. A file of the application may
// still be locked for a moment by the application that is closing, so every move and copy gets four tries, a
// little over a second apart (file_placement). Every path is checked against its MAX_PATH buffer while
// planning: one that does not fit fails the plan instead of being cut.
#include "tree_placement.h"
#include "file_placement.h"
#include "../run/run_log.h"
#include "../../common/journal_format.h"
#include "../../common/heap.h"
#include "../../common/text.h"
#include "../../common/wide_path.h"

static const unsigned FIRST_PLAN_BYTES = 16384;
static const unsigned LARGEST_PLAN_BYTES = 1u << 30;

// What is at the path: false when that cannot be told (nothing there is told: attributes INVALID).
static bool LookAt(const wchar_t *path, DWORD *attributes)
{
    *attributes = GetFileAttributesW(path);
    if (*attributes != INVALID_FILE_ATTRIBUTES)
        return true;
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

static bool AddRecord(PlacementPlan &plan, char kind, const wchar_t *relative)
{
    char text[JOURNAL_LINE_CAPACITY];
    char line[JOURNAL_LINE_CAPACITY];
    if (!PathToUtf8(text, sizeof text, relative) || !FormatJournalLine(line, sizeof line, kind, text))
        return false;
    unsigned size = TextLength(line);
    if (plan.length + size > plan.capacity) {
        unsigned capacity = plan.capacity ? plan.capacity : FIRST_PLAN_BYTES;
        while (capacity < plan.length + size && capacity < LARGEST_PLAN_BYTES)
            capacity *= 2;
        char *grown = capacity >= plan.length + size ? static_cast<char *>(AllocateBytes(capacity)) : 0;
        if (!grown)
            return false;
        if (plan.length)
            CopyBytes(grown, plan.records, plan.length);
        FreeBytes(plan.records);
        plan.records = grown;
        plan.capacity = capacity;
    }
    CopyBytes(plan.records + plan.length, line, size);
    plan.length += size;
    return true;
}

static bool PlanFile(PlacementPlan &plan, const wchar_t *relative, const wchar_t *name)
{
    wchar_t relativeName[MAX_PATH];
    wchar_t path[MAX_PATH];
    // The source, and the target and its backup each with the temporary suffix of a copy, must fit.
    if (!ComposeWidePath(relativeName, relative, name) || !ComposeWidePath(path, plan.sourceRoot, relativeName) ||
        (plan.backupRoot[0] && !ComposeWidePath(path, plan.backupRoot, relativeName, PART_SUFFIX)) ||
        !ComposeWidePath(path, plan.destinationRoot, relativeName, PART_SUFFIX))
        return false;
    path[lstrlenW(path) - PART_SUFFIX_LENGTH] = 0;
    DWORD attributes;
    if (!LookAt(path, &attributes))
        return false;
    char kind = JOURNAL_CREATED_FILE;
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            NoteFailureWide(ERROR_ALREADY_EXISTS, path); // a folder stands where the update has a file
            return false;
        }
        kind = JOURNAL_REPLACED_FILE;
        // A backup file that is there already is not this original: the undo would put it back.
        if (plan.backupRootExists && (!ComposeWidePath(path, plan.backupRoot, relativeName) ||
                                      !LookAt(path, &attributes) || attributes != INVALID_FILE_ATTRIBUTES))
            return false;
    }
    plan.files++;
    return AddRecord(plan, kind, relativeName);
}

// relative (MAX_PATH characters) is the folder's path below the roots, empty or ending in a backslash; it is
// used as scratch space and left as it was.
static bool PlanFolder(PlacementPlan &plan, wchar_t *relative)
{
    wchar_t path[MAX_PATH];
    if (relative[0]) {
        // Looked at without its final separator, which would hide a file of the same name.
        DWORD attributes;
        if (!ComposeWidePath(path, plan.destinationRoot, relative) ||
            (path[lstrlenW(path) - 1] = 0, !LookAt(path, &attributes)) ||
            (plan.backupRoot[0] && !ComposeWidePath(path, plan.backupRoot, relative)))
            return false;
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            if (!AddRecord(plan, JOURNAL_CREATED_FOLDER, relative))
                return false;
        } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            NoteFailureWide(ERROR_ALREADY_EXISTS, path); // a file stands where the update has a folder
            return false;
        }
    }
    if (!ComposeWidePath(path, plan.sourceRoot, relative, L"*"))
        return false;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(path, &entry);
    if (search == INVALID_HANDLE_VALUE)
        return true;
    unsigned relativeLength = lstrlenW(relative);
    bool planned = true;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            planned = PlanFile(plan, relative, entry.cFileName);
        } else if (!IsWideDotEntry(entry.cFileName)) {
            planned = ComposeWidePath(relative, relative, entry.cFileName, L"\\") && PlanFolder(plan, relative);
            relative[relativeLength] = 0;
        }
    } while (planned && FindNextFileW(search, &entry));
    FindClose(search);
    return planned;
}

bool PlacementPlan::Make(const char *source, const char *destination, const char *backup)
{
    records = 0;
    length = 0;
    capacity = 0;
    files = 0;
    backupRoot[0] = 0;
    bool rooted = WidenPath(sourceRoot, source) && WidenPath(destinationRoot, destination) && sourceRoot[0] &&
                  destinationRoot[0] && (!backup || WidenPath(backupRoot, backup));
    // Each look at a name that is not there costs a scan of its folder under Wine: with no backup folder
    // yet, no backup can be in the way, and none is looked for.
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    backupRootExists =
        rooted && backupRoot[0] && (!LookAt(backupRoot, &attributes) || attributes != INVALID_FILE_ATTRIBUTES);
    wchar_t relative[MAX_PATH];
    relative[0] = 0;
    if (!rooted || !PlanFolder(*this, relative)) {
        Free();
        return false;
    }
    return true;
}

void PlacementPlan::Free()
{
    FreeBytes(records);
    records = 0;
    length = 0;
    capacity = 0;
    files = 0;
}

static bool EnsureFolder(const wchar_t *folder)
{
    // With its final separator, the path of a file that stands there gives no attributes.
    DWORD attributes;
    return CreateDirectoryW(folder, 0) ||
           (GetLastError() == ERROR_ALREADY_EXISTS &&
            (attributes = GetFileAttributesW(folder)) != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
}

// Creates the folders of a relative file path below root, level by level. `made` (MAX_PATH characters) holds
// the relative folder made last: the files of one folder come together, so most calls have nothing to do.
static bool EnsureFoldersOf(const wchar_t *root, const wchar_t *relativeFile, wchar_t *made)
{
    unsigned folderLength = 0;
    for (unsigned i = 0; relativeFile[i]; i++)
        if (relativeFile[i] == L'\\')
            folderLength = i + 1;
    bool same = static_cast<unsigned>(lstrlenW(made)) == folderLength;
    for (unsigned i = 0; same && i < folderLength; i++)
        same = made[i] == relativeFile[i];
    if (same)
        return true;
    wchar_t folder[MAX_PATH];
    if (!ComposeWidePath(folder, root, relativeFile))
        return false;
    unsigned rootLength = lstrlenW(root);
    for (unsigned i = 0; i < folderLength; i++) {
        if (relativeFile[i] != L'\\')
            continue;
        wchar_t next = folder[rootLength + i + 1];
        folder[rootLength + i + 1] = 0;
        if (!EnsureFolder(folder))
            return false;
        folder[rootLength + i + 1] = next;
    }
    for (unsigned i = 0; i < folderLength; i++)
        made[i] = relativeFile[i];
    made[folderLength] = 0;
    return true;
}

bool PlacementPlan::NextRecord(unsigned *at, char *kind, wchar_t *relative) const
{
    unsigned start = *at;
    unsigned end = start;
    while (end < length && records[end] != '\r' && records[end] != '\n')
        end++;
    char line[JOURNAL_LINE_CAPACITY];
    if (start >= length || end - start >= sizeof line)
        return false;
    CopyBytes(line, records + start, end - start);
    line[end - start] = 0;
    end = end < length && records[end] == '\r' ? end + 1 : end;
    *at = end < length && records[end] == '\n' ? end + 1 : end;
    const char *text = 0;
    return ReadJournalRecord(line, kind, &text) && WidenPathFrom(CP_UTF8, relative, text);
}

bool PlacementPlan::Apply(bool moveFiles, PlacementProgress progress, void *context) const
{
    wchar_t relative[MAX_PATH];
    wchar_t source[MAX_PATH];
    wchar_t target[MAX_PATH];
    wchar_t backup[MAX_PATH];
    wchar_t part[MAX_PATH];
    wchar_t backupFolder[MAX_PATH];
    backupFolder[0] = 0;
    bool haveBackup = backupRoot[0] != 0;
    if (!destinationRoot[0] || !EnsureFolder(destinationRoot) || (haveBackup && !EnsureFolder(backupRoot)))
        return false;
    // Moves stop at the first refusal for another drive; everything after it is copied.
    bool backupMoves = true;
    bool newMoves = moveFiles;
    for (unsigned at = 0; at < length;) {
        char kind = 0;
        if (!NextRecord(&at, &kind, relative) || !ComposeWidePath(target, destinationRoot, relative))
            return false;
        if (kind == JOURNAL_CREATED_FOLDER) {
            if (!EnsureFolder(target)) {
                NoteFailureWide(GetLastError(), target);
                return false;
            }
            continue;
        }
        bool replaced = kind == JOURNAL_REPLACED_FILE;
        bool placed = ComposeWidePath(source, sourceRoot, relative);
        if (placed && replaced && haveBackup)
            placed = ComposeWidePath(backup, backupRoot, relative) && EnsureFoldersOf(backupRoot, relative, backupFolder) &&
                     BackUp(target, backup, part, &backupMoves);
        // A failed backup has left the original where it was; the new file is not placed then. A backup moved
        // away leaves no target: a file found there now is not replaced, as no backup holds it. A backup
        // copied leaves the original, which the new file replaces.
        if (placed)
            placed = PlaceNew(source, target, part, &newMoves, replaced && (!haveBackup || !backupMoves));
        if (!placed)
            NoteFailureWide(GetLastError(), target);
        if (progress && progress(context))
            return false;
        if (!placed)
            return false;
    }
    return true;
}

// folder (MAX_PATH characters, ending in a backslash) is used as scratch space and left as it was.
static int CountFilesBelow(wchar_t *folder)
{
    wchar_t pattern[MAX_PATH];
    int count = 0;
    WIN32_FIND_DATAW entry;
    HANDLE search = ComposeWidePath(pattern, folder, L"*") ? FindFirstFileW(pattern, &entry) : INVALID_HANDLE_VALUE;
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    unsigned folderLength = lstrlenW(folder);
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            count++;
        else if (!IsWideDotEntry(entry.cFileName) && ComposeWidePath(folder, folder, entry.cFileName, L"\\"))
            count += CountFilesBelow(folder);
        folder[folderLength] = 0;
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return count;
}

int CountFiles(const char *folder)
{
    wchar_t wide[MAX_PATH];
    return WidenPath(wide, folder) ? CountFilesBelow(wide) : 0;
}
