#include "archive_cache.h"
#include "section_files.h"
#include "../../common/heap.h"
#include "../../common/path_compose.h"
#include "../../common/staging_root.h"
#include "../../common/text.h"
#include "../../common/tree_removal.h"
#include "../../common/whole_file.h"

static const char HEX[] = "0123456789abcdef";

static bool CacheBase(char (&folder)[MAX_PATH])
{
    // An elevated run's files are trusted only where no program of the user can write.
    if (IsElevatedRun())
        return PrepareMachineStaging(folder) && AppendText(folder, MAX_PATH, "\\Cache\\");
    return UserKovrelFolder(folder) && AppendText(folder, MAX_PATH, "Cache\\");
}

// Whether the file `name` of the cache folder belongs to the archive `digestHex`, and is kept.
static bool KeepsFile(const ArchiveCache &cache, const char *name, const char *digestHex, unsigned long long size,
                      const WIN32_FIND_DATAA &found)
{
    for (unsigned i = 0; i < 64; i++)
        if (name[i] != digestHex[i])
            return false;
    char path[MAX_PATH];
    if (!ComposePath(path, cache.folder, name) || (!TextEquals(path, cache.archive) && !TextEquals(path, cache.record)))
        return false;
    ULARGE_INTEGER length = {{found.nFileSizeLow, found.nFileSizeHigh}};
    if (!TextEquals(path, cache.archive) || length.QuadPart >= size)
        return true;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER written = {{found.ftLastWriteTime.dwLowDateTime, found.ftLastWriteTime.dwHighDateTime}};
    ULARGE_INTEGER current = {{now.dwLowDateTime, now.dwHighDateTime}};
    const unsigned long long DAY = 24ull * 60 * 60 * 10000000;
    return current.QuadPart - written.QuadPart < CACHE_PARTIAL_DAYS * DAY;
}

bool OpenArchiveCache(ArchiveCache *cache, const char *identity, const unsigned char digest[32], const char *name,
                      unsigned long long size)
{
    char digestHex[65];
    for (unsigned i = 0; i < 32; i++) {
        digestHex[2 * i] = HEX[digest[i] >> 4];
        digestHex[2 * i + 1] = HEX[digest[i] & 15];
    }
    digestHex[64] = 0;
    if (!CacheBase(cache->folder))
        return false;
    CreateDirectoryA(cache->folder, 0);
    if (!AppendText(cache->folder, MAX_PATH, identity) || !AppendText(cache->folder, MAX_PATH, "\\") ||
        !ComposePath(cache->archive, cache->folder, digestHex, "_") ||
        !AppendText(cache->archive, MAX_PATH, name) || !ComposePath(cache->record, cache->folder, digestHex, ".txt"))
        return false;
    if (!CreateDirectoryA(cache->folder, 0) && GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    char pattern[MAX_PATH], path[MAX_PATH];
    WIN32_FIND_DATAA found;
    HANDLE search = ComposePath(pattern, cache->folder, "*") ? FindFirstFileA(pattern, &found) : INVALID_HANDLE_VALUE;
    if (search == INVALID_HANDLE_VALUE)
        return true;
    do {
        if (IsDotEntry(found.cFileName) || KeepsFile(*cache, found.cFileName, digestHex, size, found) ||
            !ComposePath(path, cache->folder, found.cFileName))
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            RemoveTree(path, true);
        else
            DeleteFileA(path);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return true;
}

void ClearArchiveCache(const ArchiveCache &cache)
{
    RemoveTree(cache.folder, true);
}

bool ReadArchiveRecord(const ArchiveCache &cache, CacheRecord *record)
{
    unsigned length = 0;
    char *text = ReadWholeFile(cache.record, CACHE_RECORD_CAP, &length);
    bool read = text && ParseCacheRecord(text, length, record);
    FreeBytes(text);
    return read;
}

bool WriteArchiveRecord(const ArchiveCache &cache, const CacheRecord &record)
{
    char text[CACHE_RECORD_CAP];
    if (!FormatCacheRecord(record, text, sizeof text))
        return false;
    HANDLE file = CreateFileA(cache.record, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    DWORD length = TextLength(text), done = 0;
    bool written = file != INVALID_HANDLE_VALUE && WriteFile(file, text, length, &done, 0) && done == length;
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return written;
}
