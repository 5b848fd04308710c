// The redirect rule of the downloads.
#include "redirect_rule.h"

static bool StartsWithNoCase(const char *text, const char *prefix)
{
    if (!text)
        return false;
    for (; *prefix; text++, prefix++) {
        char c = *text >= 'A' && *text <= 'Z' ? static_cast<char>(*text + ('a' - 'A')) : *text;
        if (c != *prefix)
            return false;
    }
    return true;
}

bool IsRedirectStatus(unsigned status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool IsSecureUrl(const char *url)
{
    return StartsWithNoCase(url, "https://");
}

bool IsWebUrl(const char *url)
{
    return IsSecureUrl(url) || StartsWithNoCase(url, "http://");
}

bool RedirectAllowed(const char *from, const char *to)
{
    return IsWebUrl(to) && (!IsSecureUrl(from) || IsSecureUrl(to));
}
