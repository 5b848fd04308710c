#include "builtin_format.h"
#include "../../common/text.h"

static bool EndsWith(const char *text, unsigned length, const char *suffix)
{
    unsigned size = TextLength(suffix);
    if (size > length)
        return false;
    const char *end = text + length - size;
    for (unsigned i = 0; i < size; i++) {
        char c = end[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + ('a' - 'A'));
        if (c != suffix[i])
            return false;
    }
    return true;
}

BuiltinFormat BuiltinFormatOf(const char *archive)
{
    if (!archive)
        return BUILTIN_NONE;
    unsigned length = TextLength(archive);
    if (EndsWith(archive, length, ".zip") || EndsWith(archive, length, ".jar"))
        return BUILTIN_ZIP;
    if (EndsWith(archive, length, ".tar"))
        return BUILTIN_TAR;
    if (EndsWith(archive, length, ".tgz") || EndsWith(archive, length, ".tar.gz"))
        return BUILTIN_TAR_GZ;
    return EndsWith(archive, length, ".gz") ? BUILTIN_GZIP : BUILTIN_NONE;
}
