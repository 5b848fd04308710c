// The archive's name comes from the network, so it is checked before a path is built from it.
#include "archive_name.h"
#include "../../common/multibyte_path.h"
#include "../../common/text.h"

bool ArchiveFileName(const char *url, char *name, unsigned capacity)
{
    if (!url || !name || capacity == 0)
        return false;
    // The query and the fragment are for the server; neither byte occurs inside a double-byte character.
    unsigned end = 0;
    while (url[end] && url[end] != '?' && url[end] != '#')
        end++;
    char path[2084];
    if (end >= sizeof path)
        return false;
    CopyBytes(path, url, end);
    path[end] = 0;
    const char *separator = FindLastSeparator(path);
    return CopyText(name, capacity, separator ? separator + 1 : path);
}

static char Upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c;
}

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices, with or without an extension.
static bool IsDeviceName(const char *name)
{
    char base[5] = {0};
    unsigned length = 0;
    while (name[length] && name[length] != '.' && length < 5) {
        base[length] = Upper(name[length]);
        length++;
    }
    if (name[length] && name[length] != '.')
        return false;
    if (length == 3)
        return TextEquals(base, "CON") || TextEquals(base, "PRN") || TextEquals(base, "AUX") ||
               TextEquals(base, "NUL");
    if (length == 4 && base[3] >= '1' && base[3] <= '9') {
        base[3] = 0;
        return TextEquals(base, "COM") || TextEquals(base, "LPT");
    }
    return false;
}

bool IsPlainFileName(const char *name)
{
    if (!name || !name[0] || TextEquals(name, ".") || TextEquals(name, ".."))
        return false;
    unsigned length = TextLength(name);
    char last = 0;
    for (unsigned i = 0; i < length;) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (IsLeadByte(c) && i + 1 < length) {
            last = 'x';
            i += 2;
            continue;
        }
        if (c < 0x20 || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|' ||
            c == '\\' || c == '/')
            return false;
        last = static_cast<char>(c);
        i++;
    }
    return last != '.' && last != ' ' && !IsDeviceName(name);
}
