// Existence test through the directory search, so that a folder given with a trailing separator is found.
#include <windows.h>
#include "path_exists.h"
#include "multibyte_path.h"
#include "text.h"
#include "text_buffer.h"

bool PathExists(const char *path, bool acceptFiles)
{
    if (!path || !path[0])
        return false;
    TextBuffer copy = {};
    const char *searched = path;
    if (EndsWithSeparator(path)) {
        unsigned length = TextLength(path);
        if (!copy.Reserve(length + 4))
            return false;
        CopyBytes(copy.text, path, length - 1);
        copy.text[length - 1] = 0;
        searched = copy.text;
    }
    bool found = false;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(searched, &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (acceptFiles || (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                found = true;
        } while (!found && FindNextFileA(search, &entry));
        FindClose(search);
    }
    copy.Free();
    return found;
}
