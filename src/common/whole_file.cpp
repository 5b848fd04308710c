// Small files read whole: the stored information file, the replacement journal, the run log.
#include "whole_file.h"
#include <windows.h>
#include "heap.h"

char *ReadWholeFile(const char *path, unsigned limit, unsigned *length)
{
    *length = 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD high = 0;
    DWORD size = GetFileSize(file, &high);
    char *text = 0;
    if (size != INVALID_FILE_SIZE && high == 0 && size <= limit)
        text = static_cast<char *>(AllocateBytes(size + 1));
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
