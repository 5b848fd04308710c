// Composing wide paths within MAX_PATH characters.
#include <windows.h>
#include "wide_path.h"

// Vista's flag, which the headers offer only to programs that require Vista.
#ifndef WC_ERR_INVALID_CHARS
#define WC_ERR_INVALID_CHARS 0x80
#endif

bool WidenPath(wchar_t *buffer, const char *path, unsigned codePage)
{
    return path && MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, path, -1, buffer, WIDE_PATH_CHARS) > 0;
}

bool PathToUtf8(char *buffer, unsigned capacity, const wchar_t *path)
{
    int length = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, path, -1, buffer, capacity, 0, 0);
    // Systems before Vista know no such flag: there the conversion is taken as it comes.
    if (length <= 0 && GetLastError() == ERROR_INVALID_FLAGS)
        length = WideCharToMultiByte(CP_UTF8, 0, path, -1, buffer, capacity, 0, 0);
    return length > 0;
}

unsigned WideLength(const wchar_t *text)
{
    unsigned length = 0;
    while (text[length])
        length++;
    return length;
}

bool ComposeWidePath(wchar_t *buffer, const wchar_t *a, const wchar_t *b, const wchar_t *c)
{
    const wchar_t *parts[3] = {a, b, c};
    unsigned at = 0;
    for (const wchar_t *part : parts) {
        for (unsigned i = 0; part[i]; i++) {
            if (at + 1 >= WIDE_PATH_CHARS)
                return false;
            buffer[at++] = part[i];
        }
    }
    buffer[at] = 0;
    return true;
}

bool IsWideDotEntry(const wchar_t *name)
{
    return name[0] == L'.' && (!name[1] || (name[1] == L'.' && !name[2]));
}
