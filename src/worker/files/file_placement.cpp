// One file put in place, moved or deleted, with the retries that a file still held for a moment by a
// closing application needs.
#include "file_placement.h"
#include "../../common/heap.h"
#include "../../common/retry_policy.h"
#include "../../common/wide_path.h"


// A read-only, hidden or system target could not be replaced otherwise. True when it had to be changed.
static bool MakeReplaceable(const wchar_t *path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) &&
           SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
}

bool PlaceCopy(const wchar_t *from, const wchar_t *to, wchar_t *part)
{
    if (!ComposeWidePath(part, to, PART_SUFFIX))
        return false;
    // Attributes are looked at only after a refusal: a look at a name that is not there costs a scan of its
    // folder under Wine, and most copies need none.
    for (int attempt = 0; attempt < RETRY_TRIES; attempt++) {
        if (CopyFileW(from, part, FALSE) || (MakeReplaceable(part) && CopyFileW(from, part, FALSE))) {
            if (MoveFileExW(part, to, MOVEFILE_REPLACE_EXISTING) ||
                (MakeReplaceable(to) && MoveFileExW(part, to, MOVEFILE_REPLACE_EXISTING)))
                return true;
        }
        Sleep(RETRY_SLEEP_MS);
    }
    DWORD error = GetLastError();
    DeleteWithRetries(part);
    SetLastError(error);
    return false;
}

// A target that refuses to be replaced only for its attributes is tried again at once.
static bool MoveWithRetries(const wchar_t *from, const wchar_t *to, DWORD flags)
{
    for (int attempt = 0; attempt < RETRY_TRIES; attempt++) {
        if (MoveFileExW(from, to, flags))
            return true;
        if (GetLastError() == ERROR_NOT_SAME_DEVICE)
            return false;
        if (!(flags & MOVEFILE_REPLACE_EXISTING) || !MakeReplaceable(to))
            Sleep(RETRY_SLEEP_MS);
    }
    return false;
}

bool MoveOver(const wchar_t *from, const wchar_t *to)
{
    return MoveWithRetries(from, to, MOVEFILE_REPLACE_EXISTING);
}

// A move that another drive refuses turns `moves` off for good: under Wine each refusal costs calls to its
// server.
static bool MoveUnlessAnotherDrive(const wchar_t *from, const wchar_t *to, DWORD flags, bool *moves)
{
    if (!*moves || MoveWithRetries(from, to, flags))
        return *moves;
    if (GetLastError() == ERROR_NOT_SAME_DEVICE)
        *moves = false;
    return false;
}

bool BackUp(const wchar_t *original, const wchar_t *backup, wchar_t *part, bool *moves)
{
    if (MoveUnlessAnotherDrive(original, backup, 0, moves))
        return true;
    return !*moves && PlaceCopy(original, backup, part);
}

bool PlaceNew(const wchar_t *from, const wchar_t *to, wchar_t *part, bool *move, bool replace)
{
    if (MoveUnlessAnotherDrive(from, to, replace ? MOVEFILE_REPLACE_EXISTING : 0, move))
        return true;
    return !*move && PlaceCopy(from, to, part);
}

bool DeleteWithRetries(const wchar_t *path)
{
    for (int attempt = 0; attempt < RETRY_TRIES; attempt++) {
        DWORD attributes = GetFileAttributesW(path);
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            DWORD error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                return true;
        } else {
            if (attributes & FILE_ATTRIBUTE_READONLY)
                SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
            if (DeleteFileW(path))
                return true;
        }
        Sleep(RETRY_SLEEP_MS);
    }
    return false;
}

bool SameContent(const wchar_t *a, const wchar_t *b)
{
    const DWORD CHUNK = 65536;
    HANDLE first = CreateFileW(a, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    HANDLE second = CreateFileW(b, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    unsigned char *buffers = static_cast<unsigned char *>(AllocateBytes(2 * CHUNK));
    bool same = first != INVALID_HANDLE_VALUE && second != INVALID_HANDLE_VALUE && buffers;
    while (same) {
        DWORD gotFirst = 0;
        DWORD gotSecond = 0;
        same = ReadFile(first, buffers, CHUNK, &gotFirst, 0) && ReadFile(second, buffers + CHUNK, CHUNK, &gotSecond, 0) &&
               gotFirst == gotSecond;
        for (DWORD i = 0; same && i < gotFirst; i++)
            same = buffers[i] == buffers[CHUNK + i];
        if (gotFirst == 0)
            break;
    }
    FreeBytes(buffers);
    if (first != INVALID_HANDLE_VALUE)
        CloseHandle(first);
    if (second != INVALID_HANDLE_VALUE)
        CloseHandle(second);
    return same;
}
