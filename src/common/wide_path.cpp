// Composing wide paths within MAX_PATH characters.
#include <windows.h>
#include "wide_path.h"

bool WidenPathFrom(unsigned codePage, wchar_t *buffer, const char *path)
{
    return path && MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, path, -1, buffer, WIDE_PATH_CHARS) > 0;
}

bool WidenPath(wchar_t *buffer, const char *path)
{
    return WidenPathFrom(CP_ACP, buffer, path);
}

bool PathToUtf8(char *buffer, unsigned capacity, const wchar_t *path)
{
    // Half of a surrogate pair is looked for here: the conversion's own check needs Vista.
    for (unsigned i = 0; path[i]; i++) {
        unsigned unit = path[i];
        if (unit >= 0xD800 && unit < 0xDC00 && path[i + 1] >= 0xDC00 && path[i + 1] < 0xE000)
            i++;
        else if (unit >= 0xD800 && unit < 0xE000)
            return false;
    }
    return WideCharToMultiByte(CP_UTF8, 0, path, -1, buffer, capacity, 0, 0) > 0;
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
