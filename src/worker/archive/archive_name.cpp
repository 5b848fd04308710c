// The archive's name comes from the network, so it is checked before a path is built from it.
#include "archive_name.h"
#include "entry_name.h"
#include "../../common/multibyte_path.h"
#include "../../common/text.h"
#include "../../common/work_layout.h"

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
    return last != '.' && last != ' ' && !IsDeviceName(name, length);
}

bool IsWorkFolderName(const char *name)
{
    static const char *const OWN[] = {JOURNAL_FILE_NAME, INFO_FILE_NAME, "Src", "Bup"};
    for (const char *own : OWN) {
        if (TextEqualsIgnoringCase(name, own))
            return true;
    }
    return false;
}
