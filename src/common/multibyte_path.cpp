// Double-byte-aware searches used on command lines and paths.
#include "multibyte_path.h"
#include "text.h"

static bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

const char *FindCharMultibyte(const char *text, char character)
{
    if (!text)
        return 0;
    unsigned length = TextLength(text);
    // The comparison comes first: callers search only for a blank or a quote, which are never lead bytes.
    for (unsigned i = 0; i < length;) {
        if (text[i] == character)
            return text + i;
        i += IsLeadByte(static_cast<unsigned char>(text[i])) ? 2 : 1;
    }
    return 0;
}

bool EndsWithSeparator(const char *path)
{
    unsigned length = TextLength(path);
    for (unsigned i = 0; i < length;) {
        if (IsLeadByte(static_cast<unsigned char>(path[i]))) {
            i += 2;
            if (i >= length)
                return false;
        } else {
            i += 1;
            if (i >= length)
                return IsSeparator(path[i - 1]);
        }
    }
    return false;
}

const char *FindLastSeparator(const char *path)
{
    const char *last = 0;
    unsigned length = TextLength(path);
    for (unsigned i = 0; i < length;) {
        if (IsLeadByte(static_cast<unsigned char>(path[i]))) {
            i += 2;
            continue;
        }
        if (IsSeparator(path[i]))
            last = path + i;
        i += 1;
    }
    return last;
}
