// The checks work on UTF-8, where no byte of a multi-byte character is below 0x80: a '/', '\', '.' or ':' byte
// is always that character. Names in another code page are converted to UTF-8 before they come here.
#include "entry_name.h"

static char Upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c;
}

static bool SameUpper(const char *text, unsigned length, const char *upper)
{
    unsigned i = 0;
    for (; i < length && upper[i]; i++) {
        if (Upper(text[i]) != upper[i])
            return false;
    }
    return i == length && !upper[i];
}

bool IsDeviceName(const char *component, unsigned length)
{
    unsigned base = 0;
    while (base < length && component[base] != '.')
        base++;
    while (base > 0 && component[base - 1] == ' ')
        base--;
    static const char *const DEVICES[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char *device : DEVICES) {
        if (SameUpper(component, base, device))
            return true;
    }
    return base == 4 && component[3] >= '1' && component[3] <= '9' &&
           (SameUpper(component, 3, "COM") || SameUpper(component, 3, "LPT"));
}

static bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

static bool IsForbidden(unsigned char c)
{
    return c < 0x20 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '?' || c == '*';
}

// Windows drops a final dot or blank from a component, so "x." would become "x" and ". ." would become "..".
static bool IsSafeComponent(const char *component, unsigned length)
{
    if (length == 2 && component[0] == '.' && component[1] == '.')
        return false;
    for (unsigned i = 0; i < length; i++) {
        if (IsForbidden(static_cast<unsigned char>(component[i])))
            return false;
    }
    char last = component[length - 1];
    return last != '.' && last != ' ' && !IsDeviceName(component, length);
}

EntryNameVerdict CheckEntryName(const char *name, unsigned length, char *relative, unsigned capacity, bool *folder)
{
    if (!name || length == 0 || capacity == 0 || IsSeparator(name[0]))
        return ENTRY_NAME_REFUSED;
    *folder = IsSeparator(name[length - 1]);
    unsigned written = 0;
    for (unsigned start = 0; start < length;) {
        unsigned end = start;
        while (end < length && !IsSeparator(name[end]))
            end++;
        unsigned size = end - start;
        bool skipped = size == 0 || (size == 1 && name[start] == '.');
        if (!skipped) {
            if (!IsSafeComponent(name + start, size))
                return ENTRY_NAME_REFUSED;
            unsigned needed = written + (written ? 1 : 0) + size;
            if (needed >= capacity)
                return ENTRY_NAME_REFUSED;
            if (written)
                relative[written++] = '\\';
            for (unsigned i = 0; i < size; i++)
                relative[written++] = name[start + i];
        }
        start = end + 1;
    }
    relative[written] = 0;
    if (written == 0)
        return *folder ? ENTRY_NAME_ROOT : ENTRY_NAME_REFUSED;
    return ENTRY_NAME_GOOD;
}
