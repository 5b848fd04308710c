// Tree placement with backup.
//
// The placement only creates and replaces, file by file; it never deletes. A file of the application may
// still be locked for a moment by the application that is closing, so every move and copy gets four tries, a
// little over a second apart (file_placement). Every path is checked against its 260-byte buffer while
// planning: one that does not fit fails the plan instead of being cut.
#include "tree_placement.h"
#include "file_placement.h"
#include "journal_format.h"
#include "../../common/heap.h"
#include "../../common/multibyte_path.h"
#include "../../common/path_compose.h"
#include "../../common/path_exists.h"
#include "../../common/text.h"

static const unsigned RECORD_CAPACITY = MAX_PATH + 8;
static const unsigned FIRST_PLAN_BYTES = 16384;
static const unsigned LARGEST_PLAN_BYTES = 1u << 30;

// What is at the path: false when that cannot be told (nothing there is told: attributes INVALID).
static bool LookAt(const char *path, DWORD *attributes)
{
    *attributes = GetFileAttributesA(path);
    if (*attributes != INVALID_FILE_ATTRIBUTES)
        return true;
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

static bool AddRecord(PlacementPlan &plan, char kind, const char *relative)
{
    char line[RECORD_CAPACITY];
    if (!FormatJournalLine(line, sizeof line, kind, relative))
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

static bool PlanFile(PlacementPlan &plan, const char *relative, const char *name)
{
    char relativeName[MAX_PATH];
    char path[MAX_PATH];
    // The source, and the target and its backup each with the temporary suffix of a copy, must fit.
    if (!ComposePath(relativeName, relative, name, "") || !ComposePath(path, plan.sourceRoot, relativeName, "") ||
        (plan.backupRoot && !ComposePath(path, plan.backupRoot, relativeName, PART_SUFFIX)) ||
        !ComposePath(path, plan.destinationRoot, relativeName, PART_SUFFIX))
        return false;
    path[TextLength(path) - PART_SUFFIX_LENGTH] = 0;
    DWORD attributes;
    if (!LookAt(path, &attributes))
        return false;
    char kind = JOURNAL_CREATED_FILE;
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            return false; // a folder stands where the update has a file
        kind = JOURNAL_REPLACED_FILE;
        // A backup file that is there already is not this original: the undo would put it back.
        if (plan.backupRootExists && (!ComposePath(path, plan.backupRoot, relativeName, "") || !LookAt(path, &attributes) ||
                                      attributes != INVALID_FILE_ATTRIBUTES))
            return false;
    }
    plan.files++;
    return AddRecord(plan, kind, relativeName);
}

// relative (MAX_PATH bytes) is the folder's path below the roots, empty or ending in a backslash; it is
// used as scratch space and left as it was.
static bool PlanFolder(PlacementPlan &plan, char *relative)
{
    char path[MAX_PATH];
    if (relative[0]) {
        // Looked at without its final separator, which would hide a file of the same name.
        DWORD attributes;
        if (!ComposePath(path, plan.destinationRoot, relative, "") ||
            (path[TextLength(path) - 1] = 0, !LookAt(path, &attributes)) ||
            (plan.backupRoot && !ComposePath(path, plan.backupRoot, relative, "")))
            return false;
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            if (!AddRecord(plan, JOURNAL_CREATED_FOLDER, relative))
                return false;
        } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            return false; // a file stands where the update has a folder
        }
    }
    if (!ComposePath(path, plan.sourceRoot, relative, "*.*"))
        return false;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(path, &entry);
    if (search == INVALID_HANDLE_VALUE)
        return true;
    unsigned relativeLength = TextLength(relative);
    bool planned = true;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            planned = PlanFile(plan, relative, entry.cFileName);
        } else if (!IsDotEntry(entry.cFileName)) {
            planned = AppendText(relative, MAX_PATH, entry.cFileName) && AppendText(relative, MAX_PATH, "\\") &&
                      PlanFolder(plan, relative);
            relative[relativeLength] = 0;
        }
    } while (planned && FindNextFileA(search, &entry));
    FindClose(search);
    return planned;
}

bool PlacementPlan::Make(const char *source, const char *destination, const char *backup)
{
    records = 0;
    length = 0;
    capacity = 0;
    files = 0;
    sourceRoot = source;
    destinationRoot = destination;
    backupRoot = backup && backup[0] ? backup : 0;
    // Each look at a name that is not there costs a scan of its folder under Wine: with no backup folder
    // yet, no backup can be in the way, and none is looked for.
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    backupRootExists = backupRoot && (!LookAt(backupRoot, &attributes) || attributes != INVALID_FILE_ATTRIBUTES);
    char relative[MAX_PATH];
    relative[0] = 0;
    if (!source || !source[0] || !destination || !destination[0] || !PlanFolder(*this, relative)) {
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

static bool SameBytes(const char *a, const char *b, unsigned count)
{
    for (unsigned i = 0; i < count; i++)
        if (a[i] != b[i])
            return false;
    return true;
}

static bool EnsureFolder(const char *folder)
{
    return CreateDirectoryA(folder, 0) || (GetLastError() == ERROR_ALREADY_EXISTS && PathExists(folder, false));
}

// Creates the folders of a relative file path below root, level by level. `made` (MAX_PATH bytes) holds the
// relative folder made last: the files of one folder come together, so most calls have nothing to do.
static bool EnsureFoldersOf(const char *root, const char *relativeFile, char *made)
{
    const char *last = FindLastSeparator(relativeFile);
    unsigned folderLength = last ? static_cast<unsigned>(last - relativeFile) + 1 : 0;
    if (TextLength(made) == folderLength && SameBytes(made, relativeFile, folderLength))
        return true;
    char folder[MAX_PATH];
    for (const char *separator = FindCharMultibyte(relativeFile, '\\'); separator && separator <= last;
         separator = FindCharMultibyte(separator + 1, '\\')) {
        unsigned size = static_cast<unsigned>(separator - relativeFile) + 1;
        if (!CopyText(folder, MAX_PATH, root) || TextLength(folder) + size >= MAX_PATH)
            return false;
        CopyBytes(folder + TextLength(folder), relativeFile, size);
        folder[TextLength(root) + size] = 0;
        if (!EnsureFolder(folder))
            return false;
    }
    CopyBytes(made, relativeFile, folderLength);
    made[folderLength] = 0;
    return true;
}

bool PlacementPlan::NextRecord(unsigned *at, char *kind, char *relative) const
{
    unsigned start = *at;
    unsigned end = start;
    while (end < length && records[end] != '\r' && records[end] != '\n')
        end++;
    char line[RECORD_CAPACITY];
    if (start >= length || end - start >= sizeof line)
        return false;
    CopyBytes(line, records + start, end - start);
    line[end - start] = 0;
    end = end < length && records[end] == '\r' ? end + 1 : end;
    *at = end < length && records[end] == '\n' ? end + 1 : end;
    const char *text = 0;
    return ReadJournalRecord(line, kind, &text) && CopyText(relative, MAX_PATH, text);
}

bool PlacementPlan::Apply(bool moveFiles, PlacementProgress progress, void *context) const
{
    char relative[MAX_PATH];
    char source[MAX_PATH];
    char target[MAX_PATH];
    char backup[MAX_PATH];
    char part[MAX_PATH];
    char backupFolder[MAX_PATH];
    backupFolder[0] = 0;
    if (!destinationRoot || !EnsureFolder(destinationRoot) || (backupRoot && !EnsureFolder(backupRoot)))
        return false;
    // Moves stop at the first refusal for another drive; everything after it is copied.
    bool backupMoves = true;
    bool newMoves = moveFiles;
    for (unsigned at = 0; at < length;) {
        char kind = 0;
        if (!NextRecord(&at, &kind, relative) || !ComposePath(target, destinationRoot, relative, ""))
            return false;
        if (kind == JOURNAL_CREATED_FOLDER) {
            if (!EnsureFolder(target))
                return false;
            continue;
        }
        bool replaced = kind == JOURNAL_REPLACED_FILE;
        bool placed = ComposePath(source, sourceRoot, relative, "");
        if (placed && replaced && backupRoot)
            placed = ComposePath(backup, backupRoot, relative, "") && EnsureFoldersOf(backupRoot, relative, backupFolder) &&
                     BackUp(target, backup, part, &backupMoves);
        // A failed backup has left the original where it was; the new file is not placed then. A backup moved
        // away leaves no target: a file found there now is not replaced, as no backup holds it. A backup
        // copied leaves the original, which the new file replaces.
        if (placed)
            placed = PlaceNew(source, target, part, &newMoves, replaced && (!backupRoot || !backupMoves));
        if (progress && progress(context))
            return false;
        if (!placed)
            return false;
    }
    return true;
}

int CountFiles(const char *folder)
{
    if (!folder)
        return 0;
    char path[MAX_PATH];
    int count = 0;
    WIN32_FIND_DATAA entry;
    HANDLE search = ComposePath(path, folder, "*.*", "") ? FindFirstFileA(path, &entry) : INVALID_HANDLE_VALUE;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                count++;
            else if (!IsDotEntry(entry.cFileName) && ComposePath(path, folder, entry.cFileName, "\\"))
                count += CountFiles(path);
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    return count;
}
