#include "application_identity.h"
#include "multibyte_path.h"
#include "text.h"

static char Upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

static bool IsNameByte(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == '.' || c == '_' || c == '-';
}

static unsigned HashText(unsigned hash, const char *text, const char *end = 0)
{
    for (const char *c = text; c && *c && c != end; c++)
        hash = (hash ^ static_cast<unsigned char>(Upper(*c))) * 0x01000193;
    return hash;
}

void ComposeApplicationIdentity(const char *section, const char *applicationPath, char (&identity)[IDENTITY_BYTES])
{
    const char *separator = applicationPath ? FindLastSeparator(applicationPath) : 0;
    const char *folderEnd = separator ? separator + 1 : applicationPath;
    unsigned length = 0;
    for (const char *c = section; c && *c && length < IDENTITY_SECTION_BYTES; c++) {
        char lower = *c >= 'A' && *c <= 'Z' ? static_cast<char>(*c + 32) : *c;
        identity[length++] = IsNameByte(lower) ? lower : '_';
    }
    identity[length++] = '-';
    // The separator keeps "C:\A\" + "B" apart from "C:\A\B" + "".
    unsigned hash = HashText(HashText(HashText(0x811C9DC5, applicationPath, folderEnd), "|"), section);
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

void ComposeLockName(const char *identity, char (&name)[LOCK_NAME_BYTES])
{
    if (!CopyText(name, LOCK_NAME_BYTES, LOCK_NAME_PREFIX) || !AppendText(name, LOCK_NAME_BYTES, identity))
        name[0] = 0;
}
