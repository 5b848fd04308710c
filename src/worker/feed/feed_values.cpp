// A value that is present but malformed is an error for the caller, never taken as absent: these only say
// whether the text is well formed.
#include "feed_values.h"
#include "../../common/text.h"

bool ParseArchiveSize(const char *text, unsigned long long *size)
{
    unsigned length = TextLength(text);
    if (length == 0 || length > 18)
        return false;
    unsigned long long value = 0;
    for (unsigned i = 0; i < length; i++) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    *size = value;
    return true;
}

bool ParseSha256Text(const char *text, unsigned char digest[32])
{
    return TextLength(text) == 64 && DecodeHex(text, 32, digest);
}
