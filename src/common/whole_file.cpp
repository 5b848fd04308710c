// Small files read or written whole: the stored information file, the replacement journal, the run log, the
// serial record.
#include "whole_file.h"
#include <windows.h>
#include "heap.h"
#include "text.h"

char *ReadWholeFile(const char *path, unsigned limit, unsigned *length)
{
    *length = 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    LARGE_INTEGER fileSize;
    bool fits = GetFileSizeEx(file, &fileSize) && fileSize.QuadPart <= limit;
    DWORD size = fits ? fileSize.LowPart : 0;
    char *text = fits ? static_cast<char *>(AllocateBytes(size + 1)) : 0;
    DWORD got = 0;
    if (text && ReadFile(file, text, size, &got, 0) && got == size) {
        text[size] = 0;
        *length = size;
    } else {
        FreeBytes(text);
        text = 0;
    }
    CloseHandle(file);
    return text;
}

bool WriteWholeFile(const char *path, const char *data, unsigned length)
{
    char part[MAX_PATH];
    if (!CopyText(part, MAX_PATH, path) || !AppendText(part, MAX_PATH, ".part"))
        return false;
    HANDLE file = CreateFileA(part, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    DWORD written = 0;
    bool complete = file != INVALID_HANDLE_VALUE && WriteFile(file, data, length, &written, 0) && written == length;
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (complete && MoveFileExA(part, path, MOVEFILE_REPLACE_EXISTING))
        return true;
    DeleteFileA(part);
    return false;
}
