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
// An entry whose path is longer than 260 bytes (an archive may unpack such a path) is removed through the
// wide "\\?\" form of its path, which has no such limit, so that no leftover stops later runs.
#include <windows.h>
#include "tree_removal.h"
#include "multibyte_path.h"
#include "text.h"
#include "text_buffer.h"
#include "heap.h"
#include "path_compose.h"
#include "retry_policy.h"


static bool IsLink(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

static bool DeleteFileWithRetries(const char *path, DWORD attributes)
{
    // Only the read-only bit stops a deletion; a link is left as it is, since the call would reach its target.
    if ((attributes & FILE_ATTRIBUTE_READONLY) && !IsLink(attributes))
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    for (int attempt = 0; attempt < RETRY_TRIES; attempt++) {
        if (DeleteFileA(path))
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
                if (!lstrcmpW(entry.cFileName, L".") || !lstrcmpW(entry.cFileName, L".."))
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

// The entry `name` of `folder` (both in the ANSI code page), removed through its long path.
static bool RemoveTooLongEntry(const char *folder, const char *name)
{
    int folderLength = MultiByteToWideChar(CP_ACP, 0, folder, -1, 0, 0);
    int nameLength = MultiByteToWideChar(CP_ACP, 0, name, -1, 0, 0);
    if (folderLength <= 0 || nameLength <= 0)
        return false;
    wchar_t *wideFolder = static_cast<wchar_t *>(AllocateBytes(folderLength * sizeof(wchar_t)));
    wchar_t *wideName = static_cast<wchar_t *>(AllocateBytes(nameLength * sizeof(wchar_t)));
    bool removed = false;
    if (wideFolder && wideName && MultiByteToWideChar(CP_ACP, 0, folder, -1, wideFolder, folderLength) &&
        MultiByteToWideChar(CP_ACP, 0, name, -1, wideName, nameLength)) {
        wchar_t *path = LongPath(wideFolder, wideName);
        removed = path && RemoveLongEntry(path);
        FreeBytes(path);
    }
    FreeBytes(wideFolder);
    FreeBytes(wideName);
    return removed;
}

// Composes folder + name (+ tail) into the working buffer; false when it would not fit.
static bool ComposeEntryPath(TextBuffer &work, const char *folder, const char *name, const char *tail)
{
    return CopyText(work.text, work.capacity, folder) && AppendText(work.text, work.capacity, name) &&
           AppendText(work.text, work.capacity, tail);
}

typedef DWORD(WINAPI *FinalPathFunction)(HANDLE, LPSTR, DWORD, DWORD);

// The final path of a file or folder, as the platform resolves it; false when it cannot be had (the
// function is missing on systems without file links, or the entry cannot be opened).
static bool FinalPath(const char *path, char *buffer, DWORD size)
{
    FinalPathFunction getFinalPath = reinterpret_cast<FinalPathFunction>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA")));
    if (!getFinalPath)
        return false;
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, 0);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    DWORD length = getFinalPath(handle, buffer, size, 0);
    CloseHandle(handle);
    return length > 0 && length < size;
}

// True when the file `name` of the folder resolves somewhere else than into the folder: a hidden file link.
static bool LeadsElsewhere(const char *folderFinal, const char *path, const char *name)
{
    char final[2 * MAX_PATH];
    char expected[2 * MAX_PATH];
    if (!folderFinal[0] || !FinalPath(path, final, sizeof final))
        return false;
    unsigned length = TextLength(folderFinal);
    return !(CopyText(expected, sizeof expected, folderFinal) &&
             (length && folderFinal[length - 1] == '\\' ? true : AppendText(expected, sizeof expected, "\\")) &&
             AppendText(expected, sizeof expected, name) && lstrcmpiA(expected, final) == 0);
}

static bool RemoveEntries(const char *folder, TextBuffer &work)
{
    char folderFinal[2 * MAX_PATH];
    if (!FinalPath(folder, folderFinal, sizeof folderFinal))
        folderFinal[0] = 0;
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
        // The longest path composed for the entry: a folder's search pattern below it.
        if (!ComposeEntryPath(work, folder, entry.cFileName, isFolder ? "\\*.*" : "")) {
            if (!RemoveTooLongEntry(folder, entry.cFileName))
                result = false;
        } else if (isFolder && IsLink(entry.dwFileAttributes)) {
            if (!ComposeEntryPath(work, folder, entry.cFileName, "") || !RemoveDirectoryA(work.text))
                result = false;
        } else if (isFolder) {
            if (!ComposeEntryPath(work, folder, entry.cFileName, "\\") || !RemoveTree(work.text, true))
                result = false;
        } else {
            if (!ComposeEntryPath(work, folder, entry.cFileName, "") ||
                LeadsElsewhere(folderFinal, work.text, entry.cFileName) ||
                !DeleteFileWithRetries(work.text, entry.dwFileAttributes))
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
