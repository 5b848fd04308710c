// Tree copy with backup.
//
// The copy only creates and overwrites, file by file. A file of the application may still be locked for a
// moment by the application that is closing, so every copy and backup copy gets four tries, a little over a
// second apart. Every composed path is checked against its 260-byte buffer: one that does not fit fails the
// copy instead of being cut or written past the buffer.
#include "tree_copy.h"
#include "../../common/heap.h"
#include "../../common/path_exists.h"
#include "../../common/text.h"

static const int COPY_TRIES = 4;
static const DWORD RETRY_SLEEP_MS = 1024;

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

// `overwrites`: the destination existed. A new file gets the source's attributes from the copy itself; not
// every implementation carries them over onto an existing file, and a restored read-only file must be
// read-only again.
static bool CopyWithRetries(const char *from, const char *to, bool overwrites)
{
    for (int attempt = 0; attempt < COPY_TRIES; attempt++) {
        if (CopyFileA(from, to, FALSE)) {
            DWORD attributes = overwrites ? GetFileAttributesA(from) : INVALID_FILE_ATTRIBUTES;
            if (attributes != INVALID_FILE_ATTRIBUTES)
                SetFileAttributesA(to, attributes);
            return true;
        }
        Sleep(RETRY_SLEEP_MS);
    }
    return false;
}

static bool RecordCreated(CreatedEntries &list, const char *path)
{
    unsigned length = TextLength(path) + 1;
    if (list.used + length > list.capacity) {
        unsigned capacity = list.capacity ? list.capacity * 2 : 4096;
        while (capacity < list.used + length)
            capacity *= 2;
        char *grown = static_cast<char *>(AllocateBytes(capacity));
        if (!grown)
            return false;
        if (list.paths)
            CopyBytes(grown, list.paths, list.used);
        FreeBytes(list.paths);
        list.paths = grown;
        list.capacity = capacity;
    }
    CopyBytes(list.paths + list.used, path, length);
    list.used += length;
    return true;
}

// Creates the folder unless a folder is there already; a folder it creates is recorded when `list` is given.
static bool EnsureFolder(const char *folder, CreatedEntries *list)
{
    if (PathExists(folder, false))
        return true;
    if (!CreateDirectoryA(folder, 0))
        return false;
    return !list || RecordCreated(*list, folder);
}

bool CopyContext::Init()
{
    sourcePath = TextBuffer();
    destinationPath = TextBuffer();
    backupPath = TextBuffer();
    progressCallback = 0;
    progressContext = 0;
    created = CreatedEntries();
    return sourcePath.Reserve(MAX_PATH) && destinationPath.Reserve(MAX_PATH) && backupPath.Reserve(MAX_PATH);
}

void CopyContext::Free()
{
    sourcePath.Free();
    destinationPath.Free();
    backupPath.Free();
    FreeBytes(created.paths);
    created = CreatedEntries();
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

    if (!Compose(destinationPath, destinationRoot, relativePath, "") || !EnsureFolder(destinationPath.text, &created))
        goto done;
    if (backupRoot && !backupRoot[0])
        backupRoot = 0;
    if (backupRoot && (!Compose(backupPath, backupRoot, relativePath, "") || !EnsureFolder(backupPath.text, 0)))
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
        if (!Compose(destinationPath, destinationRoot, relativePath, entry.cFileName)) {
            result = false;
            break;
        }
        bool existed = PathExists(destinationPath.text, true);
        if (existed && backupRoot &&
            (!Compose(backupPath, backupRoot, relativePath, entry.cFileName) ||
             !CopyWithRetries(destinationPath.text, backupPath.text, false))) {
            result = false;
            break;
        }
        if (!Compose(sourcePath, sourceRoot, relativePath, entry.cFileName) ||
            (!existed && !RecordCreated(created, destinationPath.text))) {
            result = false;
            break;
        }
        // A read-only, hidden or system file could not be overwritten otherwise.
        if (existed)
            SetFileAttributesA(destinationPath.text, FILE_ATTRIBUTE_NORMAL);
        bool copied = CopyWithRetries(sourcePath.text, destinationPath.text, existed);
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

bool CopyContext::RemoveCreated()
{
    bool removed = true;
    // Newest first: a folder's files go before the folder itself.
    unsigned end = created.used;
    while (end > 0) {
        unsigned start = end - 1;
        while (start > 0 && created.paths[start - 1])
            start--;
        const char *path = created.paths + start;
        DWORD attributes = GetFileAttributesA(path);
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            bool gone = (attributes & FILE_ATTRIBUTE_DIRECTORY)
                            ? RemoveDirectoryA(path)
                            : (SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL), DeleteFileA(path));
            if (!gone)
                removed = false;
        }
        end = start;
    }
    created.used = 0;
    return removed;
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
        // The longest composed path of the entry, with its trailing separator or the search pattern.
        unsigned name = TextLength(entry.cFileName) + (isFolder ? 4 : 0);
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
