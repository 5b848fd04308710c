// Byte-string helpers shared by both executables and built natively for the tests.
#include "text.h"

unsigned TextLength(const char *text)
{
    unsigned length = 0;
    if (text)
        while (text[length])
            length++;
    return length;
}

static char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

bool TextEqualsIgnoringCase(const char *a, const char *b)
{
    while (*a && LowerAscii(*a) == LowerAscii(*b)) {
        a++;
        b++;
    }
    return LowerAscii(*a) == LowerAscii(*b);
}

// A shorter text differs at its zero, before its end is passed.
bool TextStartsWithIgnoringCase(const char *text, const char *start)
{
    for (; *start; text++, start++)
        if (LowerAscii(*text) != LowerAscii(*start))
            return false;
    return true;
}

bool TextEquals(const char *a, const char *b)
{
    if (!a || !b)
        return a == b;
    while (*a && *a == *b) {
        a++;
        b++;
    }
    return *a == *b;
}

void CopyBytes(void *to, const void *from, unsigned count)
{
    unsigned char *out = static_cast<unsigned char *>(to);
    const unsigned char *in = static_cast<const unsigned char *>(from);
    while (count--)
        *out++ = *in++;
}

bool CopyText(char *buffer, unsigned capacity, const char *text)
{
    if (!buffer || capacity == 0)
        return false;
    unsigned length = TextLength(text);
    if (length >= capacity)
        return false;
    CopyBytes(buffer, text, length);
    buffer[length] = 0;
    return true;
}

bool AppendText(char *buffer, unsigned capacity, const char *text)
{
    if (!buffer)
        return false;
    unsigned used = TextLength(buffer);
    if (used >= capacity)
        return false;
    return CopyText(buffer + used, capacity - used, text);
}

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool DecodeHex(const char *text, unsigned count, unsigned char *bytes)
{
    for (unsigned i = 0; i < count; i++) {
        int high = HexDigitValue(text[2 * i]);
        int low = high < 0 ? -1 : HexDigitValue(text[2 * i + 1]);
        if (low < 0)
            return false;
        bytes[i] = static_cast<unsigned char>(high << 4 | low);
    }
    return true;
}

void MakeFileNameSafe(char *name)
{
    for (char *c = name; *c; c++)
        if (*c == '\\' || *c == '/' || *c == ':' || *c == '*' || *c == '?' || *c == '"' || *c == '<' || *c == '>' ||
            *c == '|' || static_cast<unsigned char>(*c) < 0x20)
            *c = '_';
}
