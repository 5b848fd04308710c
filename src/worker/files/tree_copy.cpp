// Tree copy with backup.
//
// The copy only creates and replaces, file by file. A replaced original is moved into the backup folder
// (a rename on the same drive, so the backup is complete the moment it exists; a copy under a temporary name
// otherwise), and the new file is written beside its target and renamed over it. With a journal, each
// change is recorded before it is made. A file of the application may still be locked for a moment by the
// application that is closing, so every step gets four tries, a little over a second apart. Every composed
// path is checked against its 260-byte buffer: one that does not fit fails the copy instead of being cut.
#include "tree_copy.h"
#include "file_placement.h"
#include "journal_format.h"
#include "replace_journal.h"
#include "../../common/path_exists.h"
#include "../../common/text.h"

static bool IsDotEntry(const char *name)
{
    return TextEquals(name, ".") || TextEquals(name, "..");
}

// buffer = a + b + c, refused when it would not fit.
static bool Compose(TextBuffer &buffer, const char *a, const char *b, const char *c)
{
    return CopyText(buffer.text, buffer.capacity, a) && AppendText(buffer.text, buffer.capacity, b) &&
           AppendText(buffer.text, buffer.capacity, c);
}

static bool Record(ReplaceJournal *journal, char kind, const char *relative)
{
    return !journal || RecordInJournal(journal, kind, relative);
}

// Creates the folder unless a folder is there already; a folder it creates is recorded first.
static bool EnsureFolder(const char *folder, ReplaceJournal *journal, const char *relative)
{
    if (PathExists(folder, false))
        return true;
    return Record(journal, JOURNAL_CREATED_FOLDER, relative) && CreateDirectoryA(folder, 0);
}

// Moves the original into the backup; on another drive it is copied under a temporary name and renamed,
// so a backup file that exists is always complete.
static bool BackUp(const char *original, const char *backup, char *part)
{
    return MoveOver(original, backup) || (GetLastError() == ERROR_NOT_SAME_DEVICE && PlaceCopy(original, backup, part));
}

bool CopyContext::Init()
{
    sourcePath = TextBuffer();
    destinationPath = TextBuffer();
    backupPath = TextBuffer();
    partPath = TextBuffer();
    relativeName = TextBuffer();
    progressCallback = 0;
    progressContext = 0;
    journal = 0;
    return sourcePath.Reserve(MAX_PATH) && destinationPath.Reserve(MAX_PATH) && backupPath.Reserve(MAX_PATH) &&
           partPath.Reserve(MAX_PATH) && relativeName.Reserve(MAX_PATH);
}

void CopyContext::Free()
{
    sourcePath.Free();
    destinationPath.Free();
    backupPath.Free();
    partPath.Free();
    relativeName.Free();
}

bool CopyContext::CopyTree(const char *sourceRoot, const char *destinationRoot, const char *relativePath,
                           const char *backupRoot)
{
    if (!sourceRoot || !sourceRoot[0] || !destinationRoot || !destinationRoot[0] || !relativePath)
        return false;
    TextBuffer nextRelative = {};
    if (!nextRelative.Reserve(MAX_PATH))
        return false;
    bool result = false;
    HANDLE search = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAA entry;

    if (!Compose(destinationPath, destinationRoot, relativePath, "") ||
        !EnsureFolder(destinationPath.text, relativePath[0] ? journal : 0, relativePath))
        goto done;
    if (backupRoot && !backupRoot[0])
        backupRoot = 0;
    if (backupRoot && (!Compose(backupPath, backupRoot, relativePath, "") || !EnsureFolder(backupPath.text, 0, 0)))
        goto done;
    if (!Compose(sourcePath, sourceRoot, relativePath, "*.*"))
        goto done;

    result = true;
    search = FindFirstFileA(sourcePath.text, &entry);
    if (search == INVALID_HANDLE_VALUE)
        goto done;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (IsDotEntry(entry.cFileName))
                continue;
            if (!Compose(nextRelative, relativePath, entry.cFileName, "\\") ||
                !CopyTree(sourceRoot, destinationRoot, nextRelative.text, backupRoot)) {
                result = false;
                break;
            }
            continue;
        }
        if (!Compose(destinationPath, destinationRoot, relativePath, entry.cFileName) ||
            !Compose(sourcePath, sourceRoot, relativePath, entry.cFileName) ||
            !Compose(relativeName, relativePath, entry.cFileName, "")) {
            result = false;
            break;
        }
        bool existed = PathExists(destinationPath.text, true);
        bool placed = false;
        if (!existed)
            placed = Record(journal, JOURNAL_CREATED_FILE, relativeName.text);
        else if (!backupRoot)
            placed = true;
        else
            // A backup file that is there already is not this original: the undo would put it back.
            placed = Compose(backupPath, backupRoot, relativePath, entry.cFileName) &&
                     !PathExists(backupPath.text, true) && Record(journal, JOURNAL_REPLACED_FILE, relativeName.text) &&
                     BackUp(destinationPath.text, backupPath.text, partPath.text);
        // A failed backup has left the original where it was; the new file is not copied then.
        if (!placed) {
            result = false;
            break;
        }
        bool copied = PlaceCopy(sourcePath.text, destinationPath.text, partPath.text);
        if (progressCallback && progressCallback(progressContext)) {
            result = false;
            break;
        }
        if (!copied) {
            result = false;
            break;
        }
    } while (FindNextFileA(search, &entry));

done:
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    nextRelative.Free();
    return result;
}

static bool RelativeTreeFits(const char *sourceRoot, unsigned destinationLength, unsigned backupLength,
                             TextBuffer &relative)
{
    unsigned relativeLength = TextLength(relative.text);
    TextBuffer pattern = {};
    if (!pattern.Reserve(MAX_PATH) || !Compose(pattern, sourceRoot, relative.text, "*.*")) {
        pattern.Free();
        return false;
    }
    bool fits = true;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern.text, &entry);
    pattern.Free();
    if (search == INVALID_HANDLE_VALUE)
        return true;
    do {
        bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (isFolder && IsDotEntry(entry.cFileName))
            continue;
        // The longest composed path of the entry: a folder with its search pattern, a file with the
        // temporary suffix of its copy.
        unsigned name = TextLength(entry.cFileName) + (isFolder ? 4 : PART_SUFFIX_LENGTH);
        unsigned longest = destinationLength > backupLength ? destinationLength : backupLength;
        if (longest + relativeLength + name >= MAX_PATH ||
            TextLength(sourceRoot) + relativeLength + name >= MAX_PATH) {
            fits = false;
            break;
        }
        if (isFolder) {
            relative.text[relativeLength] = 0;
            if (!AppendText(relative.text, relative.capacity, entry.cFileName) ||
                !AppendText(relative.text, relative.capacity, "\\") ||
                !RelativeTreeFits(sourceRoot, destinationLength, backupLength, relative)) {
                fits = false;
                break;
            }
            relative.text[relativeLength] = 0;
        }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return fits;
}

bool TreeFits(const char *sourceRoot, const char *destinationRoot, const char *backupRoot)
{
    if (!sourceRoot || !destinationRoot)
        return false;
    TextBuffer relative = {};
    if (!relative.Reserve(MAX_PATH))
        return false;
    relative.text[0] = 0;
    bool fits = RelativeTreeFits(sourceRoot, TextLength(destinationRoot), TextLength(backupRoot), relative);
    relative.Free();
    return fits;
}

int CountFiles(const char *folder)
{
    if (!folder)
        return 0;
    TextBuffer path = {};
    if (!path.Reserve(MAX_PATH))
        return 0;
    int count = 0;
    WIN32_FIND_DATAA entry;
    HANDLE search = Compose(path, folder, "*.*", "") ? FindFirstFileA(path.text, &entry) : INVALID_HANDLE_VALUE;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                count++;
            else if (!IsDotEntry(entry.cFileName) && Compose(path, folder, entry.cFileName, "\\"))
                count += CountFiles(path.text);
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    path.Free();
    return count;
}
