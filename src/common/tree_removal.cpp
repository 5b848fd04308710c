// Recursive folder removal with retries.
//
// The launcher clears its temporary folder right after the worker has ended, when the worker's executable
// may still be locked for a moment: every file gets four tries, a little over a second apart. A locked file
// makes the result false but does not stop the walk.
//
// Directory junctions and symbolic links are never entered: only the link itself is removed, and a link's
// target never has its attributes changed. Otherwise a link planted in the temporary folder could make the
// launcher delete or alter files anywhere else on the disk.
//
// Some platforms show a symbolic link to a file as a plain file, without the reparse attribute, and delete
// its target when asked to delete it. Such a link is recognised by where it really leads: the final path of
// the opened entry is not the final path of its folder followed by its name. It is left alone (the folder
// then cannot be emptied, which the caller reports), never followed.
//
// The walk uses the wide calls, so that names outside the ANSI code page (an archive may unpack any name) are
// removed like the others. An entry whose path passes MAX_PATH characters is removed through the "\\?\"
// form of its path, which has no such limit, so that no leftover stops later runs.
#include <windows.h>
#include "tree_removal.h"
#include "heap.h"
#include "retry_policy.h"
#include "wide_path.h"

static bool IsLink(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

static bool DeleteFileWithRetries(const wchar_t *path, DWORD attributes)
{
    // Only the read-only bit stops a deletion; a link is left as it is, since the call would reach its target.
    if ((attributes & FILE_ATTRIBUTE_READONLY) && !IsLink(attributes))
        SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    for (int attempt = 0; attempt < RETRY_TRIES; attempt++) {
        if (DeleteFileW(path))
            return true;
        Sleep(RETRY_SLEEP_MS);
    }
    return false;
}

// A wide path block: "\\?\" + base (+ "\" + name), from the process heap; 0 when it cannot be had.
static wchar_t *LongPath(const wchar_t *base, const wchar_t *name)
{
    unsigned baseLength = lstrlenW(base);
    unsigned nameLength = name ? lstrlenW(name) : 0;
    wchar_t *path = static_cast<wchar_t *>(AllocateBytes((baseLength + nameLength + 8) * sizeof(wchar_t)));
    if (!path)
        return 0;
    path[0] = 0;
    if (base[0] != L'\\' || base[1] != L'\\' || base[2] != L'?')
        lstrcatW(path, L"\\\\?\\");
    lstrcatW(path, base);
    if (name) {
        if (baseLength && base[baseLength - 1] != L'\\')
            lstrcatW(path, L"\\");
        lstrcatW(path, name);
    }
    return path;
}

// Removes a file or a folder tree by its wide long path (no trailing separator); links are removed, never
// entered. No retries: such entries come from an unpacked archive, not from a program that is closing.
static bool RemoveLongEntry(const wchar_t *path)
{
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return true;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        if ((attributes & FILE_ATTRIBUTE_READONLY) && !IsLink(attributes))
            SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
        return DeleteFileW(path) != FALSE;
    }
    bool result = true;
    if (!IsLink(attributes)) {
        wchar_t *pattern = LongPath(path, L"*");
        WIN32_FIND_DATAW entry;
        HANDLE search = pattern ? FindFirstFileW(pattern, &entry) : INVALID_HANDLE_VALUE;
        FreeBytes(pattern);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if (IsWideDotEntry(entry.cFileName))
                    continue;
                wchar_t *child = LongPath(path, entry.cFileName);
                if (!child || !RemoveLongEntry(child))
                    result = false;
                FreeBytes(child);
            } while (FindNextFileW(search, &entry));
            FindClose(search);
        }
    }
    return RemoveDirectoryW(path) && result;
}

// The entry `name` of `folder`, removed through its long path.
static bool RemoveTooLongEntry(const wchar_t *folder, const wchar_t *name)
{
    wchar_t *path = LongPath(folder, name);
    bool removed = path && RemoveLongEntry(path);
    FreeBytes(path);
    return removed;
}

typedef DWORD(WINAPI *FinalPathFunction)(HANDLE, LPWSTR, DWORD, DWORD);

// The final path of a file or folder, as the platform resolves it; false when it cannot be had (the
// function is missing on systems without file links, or the entry cannot be opened).
static bool FinalPath(const wchar_t *path, wchar_t *buffer, DWORD size)
{
    FinalPathFunction getFinalPath = reinterpret_cast<FinalPathFunction>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleW")));
    if (!getFinalPath)
        return false;
    HANDLE handle = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, 0);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    DWORD length = getFinalPath(handle, buffer, size, 0);
    CloseHandle(handle);
    return length > 0 && length < size;
}

// A final path holds a "\\?\" prefix before a path of up to MAX_PATH characters.
static const unsigned FINAL_PATH_CHARS = 2 * WIDE_PATH_CHARS;

// True when the file `name` of the folder resolves somewhere else than into the folder: a hidden file link.
static bool LeadsElsewhere(const wchar_t *folderFinal, const wchar_t *path, const wchar_t *name)
{
    wchar_t final[FINAL_PATH_CHARS];
    wchar_t expected[FINAL_PATH_CHARS];
    if (!folderFinal[0] || !FinalPath(path, final, FINAL_PATH_CHARS))
        return false;
    unsigned length = lstrlenW(folderFinal);
    unsigned nameLength = lstrlenW(name);
    bool separated = length && folderFinal[length - 1] == L'\\';
    if (length + nameLength + 2 > FINAL_PATH_CHARS)
        return true;
    lstrcpyW(expected, folderFinal);
    if (!separated)
        lstrcatW(expected, L"\\");
    lstrcatW(expected, name);
    return lstrcmpiW(expected, final) != 0;
}

static bool RemoveWideTree(const wchar_t *folder, bool removeSelf);

static bool RemoveEntries(const wchar_t *folder)
{
    wchar_t folderFinal[FINAL_PATH_CHARS];
    if (!FinalPath(folder, folderFinal, FINAL_PATH_CHARS))
        folderFinal[0] = 0;
    wchar_t path[WIDE_PATH_CHARS];
    if (!ComposeWidePath(path, folder, L"*"))
        return false;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(path, &entry);
    if (search == INVALID_HANDLE_VALUE)
        return true;
    bool result = true;
    do {
        bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (isFolder && IsWideDotEntry(entry.cFileName))
            continue;
        // The longest path composed for the entry: a folder's search pattern below it.
        if (!ComposeWidePath(path, folder, entry.cFileName, isFolder ? L"\\*" : L"")) {
            if (!RemoveTooLongEntry(folder, entry.cFileName))
                result = false;
        } else if (isFolder && IsLink(entry.dwFileAttributes)) {
            if (!ComposeWidePath(path, folder, entry.cFileName) || !RemoveDirectoryW(path))
                result = false;
        } else if (isFolder) {
            if (!ComposeWidePath(path, folder, entry.cFileName, L"\\") || !RemoveWideTree(path, true))
                result = false;
        } else {
            if (!ComposeWidePath(path, folder, entry.cFileName) || LeadsElsewhere(folderFinal, path, entry.cFileName) ||
                !DeleteFileWithRetries(path, entry.dwFileAttributes))
                result = false;
        }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return result;
}

static bool RemoveWideTree(const wchar_t *folder, bool removeSelf)
{
    // The folder itself may be a link. The test looks at the path without its trailing separator: with the
    // separator, the platform may answer for the link's target instead of the link.
    wchar_t self[WIDE_PATH_CHARS];
    if (!ComposeWidePath(self, folder, L""))
        return false;
    unsigned length = lstrlenW(self);
    if (length && (self[length - 1] == L'\\' || self[length - 1] == L'/'))
        self[length - 1] = 0;
    if (IsLink(GetFileAttributesW(self)))
        return removeSelf && RemoveDirectoryW(self);
    bool result = RemoveEntries(folder);
    if (removeSelf && !RemoveDirectoryW(folder))
        return false;
    return result;
}

bool RemoveTree(const char *folder, bool removeSelf)
{
    wchar_t wide[WIDE_PATH_CHARS];
    return WidenPath(wide, folder) && RemoveWideTree(wide, removeSelf);
}
