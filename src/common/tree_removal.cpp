// Recursive folder removal with retries.
//
// The launcher clears its temporary folder right after the worker has ended, when the worker's executable
// may still be locked for a moment: every file gets four tries, a little over a second apart. A locked file
// makes the result false but does not stop the walk.
//
// Directory junctions and symbolic links are never entered: only the link itself is removed. Otherwise a
// link planted in the temporary folder could make the launcher delete files anywhere else on the disk.
#include <windows.h>
#include "tree_removal.h"
#include "multibyte_path.h"
#include "text.h"
#include "text_buffer.h"

static const int DELETE_TRIES = 4;
static const DWORD RETRY_SLEEP_MS = 1024;

static bool IsLink(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

static bool IsDotEntry(const char *name)
{
    return TextEquals(name, ".") || TextEquals(name, "..");
}

static bool DeleteFileWithRetries(const char *path)
{
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    for (int attempt = 0; attempt < DELETE_TRIES; attempt++) {
        if (DeleteFileA(path))
            return true;
        Sleep(RETRY_SLEEP_MS);
    }
    return false;
}

// Composes folder + name (+ tail) into the working buffer; false when it would not fit.
static bool ComposeEntryPath(TextBuffer &work, const char *folder, const char *name, const char *tail)
{
    return CopyText(work.text, work.capacity, folder) && AppendText(work.text, work.capacity, name) &&
           AppendText(work.text, work.capacity, tail);
}

static bool RemoveEntries(const char *folder, TextBuffer &work)
{
    if (!ComposeEntryPath(work, folder, "*.*", ""))
        return false;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(work.text, &entry);
    if (search == INVALID_HANDLE_VALUE)
        return true;
    bool result = true;
    do {
        bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (isFolder && IsDotEntry(entry.cFileName))
            continue;
        if (isFolder && IsLink(entry.dwFileAttributes)) {
            if (!ComposeEntryPath(work, folder, entry.cFileName, "") || !RemoveDirectoryA(work.text))
                result = false;
        } else if (isFolder) {
            if (!ComposeEntryPath(work, folder, entry.cFileName, "\\") || !RemoveTree(work.text, true))
                result = false;
        } else {
            if (!ComposeEntryPath(work, folder, entry.cFileName, "") || !DeleteFileWithRetries(work.text))
                result = false;
        }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return result;
}

bool RemoveTree(const char *folder, bool removeSelf)
{
    // The folder itself may be a link. The test looks at the path without its trailing separator: with the
    // separator, the platform may answer for the link's target instead of the link.
    char self[MAX_PATH];
    if (!folder || !CopyText(self, MAX_PATH, folder))
        return false;
    if (EndsWithSeparator(self))
        self[TextLength(self) - 1] = 0;
    if (IsLink(GetFileAttributesA(self)))
        return removeSelf && RemoveDirectoryA(self);

    TextBuffer work = {};
    if (!work.Reserve(MAX_PATH))
        return false;
    bool result = RemoveEntries(folder, work);
    work.Free();

    if (removeSelf && !RemoveDirectoryA(folder))
        return false;
    return result;
}
