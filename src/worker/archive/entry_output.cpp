#include "entry_output.h"
#include <zlib.h>
#include "../../common/heap.h"

static const unsigned OUTPUT_SIZE = 256 * 1024;

bool EntryNameToUtf8(const char *name, unsigned length, unsigned codePage, char *utf8, unsigned capacity,
                     unsigned *utf8Length)
{
    wchar_t wide[ENTRY_NAME_LIMIT];
    if (length == 0 || length > ENTRY_NAME_LIMIT)
        return false;
    int units = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, name, static_cast<int>(length), wide, ENTRY_NAME_LIMIT);
    if (units <= 0)
        return false;
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, units, utf8, static_cast<int>(capacity) - 1, 0, 0);
    if (bytes <= 0)
        return false;
    utf8[bytes] = 0;
    *utf8Length = static_cast<unsigned>(bytes);
    return true;
}

bool ComposeEntryPath(wchar_t *path, const wchar_t *root, const char *relative)
{
    int rootLength = lstrlenW(root);
    if (rootLength >= MAX_PATH)
        return false;
    lstrcpyW(path, root);
    int room = MAX_PATH - rootLength;
    int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, relative, -1, path + rootLength, room);
    return units > 0;
}

static bool MakeFolder(const wchar_t *path)
{
    if (CreateDirectoryW(path, 0))
        return true;
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool CreateEntryFolders(wchar_t *path, unsigned rootLength, bool lastToo)
{
    for (unsigned i = rootLength; path[i]; i++) {
        if (path[i] != L'\\')
            continue;
        path[i] = 0;
        bool made = MakeFolder(path);
        path[i] = L'\\';
        if (!made)
            return false;
    }
    return !lastToo || MakeFolder(path);
}

bool AllocateEntryOutput(EntryOutput &output, const volatile unsigned short *stop)
{
    output.file = INVALID_HANDLE_VALUE;
    output.stop = stop;
    output.filled = 0;
    output.buffer = static_cast<unsigned char *>(AllocateBytes(OUTPUT_SIZE));
    return output.buffer != 0;
}

void FreeEntryOutput(EntryOutput &output)
{
    AbandonEntryFile(output);
    FreeBytes(output.buffer);
    output.buffer = 0;
}

bool OpenEntryFile(EntryOutput &output, const wchar_t *path, unsigned long long declared, bool countCrc)
{
    output.file = CreateFileW(path, GENERIC_WRITE, 0, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, 0);
    output.error = GetLastError();
    output.filled = 0;
    output.countCrc = countCrc;
    output.crc = crc32(0, 0, 0);
    output.written = 0;
    output.declared = declared;
    return output.file != INVALID_HANDLE_VALUE;
}

unsigned char *EntrySpace(EntryOutput &output, unsigned *room)
{
    *room = OUTPUT_SIZE - output.filled;
    return output.buffer + output.filled;
}

static EntryWrite Flush(EntryOutput &output)
{
    DWORD done = 0;
    if (output.filled && (!WriteFile(output.file, output.buffer, output.filled, &done, 0) || done != output.filled)) {
        output.error = GetLastError();
        return ENTRY_WRITE_FAILED;
    }
    output.filled = 0;
    return *output.stop ? ENTRY_STOPPED : ENTRY_WRITTEN;
}

// Bytes past the declared size are never written: a lying entry ends the unpacking there.
EntryWrite CommitEntryBytes(EntryOutput &output, unsigned count)
{
    if (count > output.declared - output.written)
        return ENTRY_TOO_LONG;
    if (output.countCrc)
        output.crc = crc32(output.crc, output.buffer + output.filled, count);
    output.filled += count;
    output.written += count;
    return output.filled == OUTPUT_SIZE ? Flush(output) : ENTRY_WRITTEN;
}

EntryWrite CloseEntryFile(EntryOutput &output)
{
    EntryWrite result = Flush(output);
    if (!CloseHandle(output.file) && result == ENTRY_WRITTEN) {
        output.error = GetLastError();
        result = ENTRY_WRITE_FAILED;
    }
    output.file = INVALID_HANDLE_VALUE;
    return result;
}

void AbandonEntryFile(EntryOutput &output)
{
    if (output.file != INVALID_HANDLE_VALUE)
        CloseHandle(output.file);
    output.file = INVALID_HANDLE_VALUE;
}
