#include "application_identity.h"

static char Upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

static bool IsNameByte(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == '.' || c == '_' || c == '-';
}

static unsigned HashText(unsigned hash, const char *text)
{
    for (const char *c = text; c && *c; c++)
        hash = (hash ^ static_cast<unsigned char>(Upper(*c))) * 0x01000193;
    return hash;
}

void ComposeApplicationIdentity(const char *section, const char *applicationFolder, char (&identity)[IDENTITY_BYTES])
{
    unsigned length = 0;
    for (const char *c = section; c && *c && length < IDENTITY_SECTION_BYTES; c++) {
        char lower = *c >= 'A' && *c <= 'Z' ? static_cast<char>(*c + 32) : *c;
        identity[length++] = IsNameByte(lower) ? lower : '_';
    }
    identity[length++] = '-';
    // The separator keeps "C:\A\" + "B" apart from "C:\A\B" + "".
    unsigned hash = HashText(HashText(HashText(0x811C9DC5, applicationFolder), "|"), section);
    static const char HEX[] = "0123456789abcdef";
    for (int shift = 28; shift >= 0; shift -= 4)
        identity[length++] = HEX[(hash >> shift) & 15];
    identity[length] = 0;
}

bool IsApplicationIdentity(const char *text)
{
    if (!text)
        return false;
    unsigned length = 0;
    while (text[length] && IsNameByte(text[length]))
        length++;
    if (text[length] || length < 9 || length > IDENTITY_BYTES - 1 || text[length - 9] != '-')
        return false;
    for (unsigned i = length - 8; i < length; i++)
        if (!((text[i] >= '0' && text[i] <= '9') || (text[i] >= 'a' && text[i] <= 'f')))
            return false;
    return true;
}
