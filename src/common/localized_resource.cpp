#include "localized_resource.h"
#include "resource_language.h"

HRSRC FindLocalizedResource(HMODULE module, const char *name, const char *type)
{
    WORD language = static_cast<WORD>(ChooseResourceLanguage(GetUserDefaultUILanguage(), GetACP()));
    HRSRC found = FindResourceExA(module, type, name, language);
    return found ? found : FindResourceA(module, name, type);
}

int LoadLocalizedString(HMODULE module, unsigned id, char *buffer, int size)
{
    if (!buffer || size <= 0)
        return 0;
    buffer[0] = 0;
    // A string table block holds 16 strings, each a length in UTF-16 units followed by that many units.
    HRSRC found = FindLocalizedResource(module, MAKEINTRESOURCEA((id >> 4) + 1), MAKEINTRESOURCEA(6)); // RT_STRING
    HGLOBAL loaded = found ? LoadResource(module, found) : 0;
    const WCHAR *entry = loaded ? static_cast<const WCHAR *>(LockResource(loaded)) : 0;
    if (!entry)
        return 0;
    const WCHAR *end = entry + SizeofResource(module, found) / sizeof(WCHAR);
    for (unsigned skip = id & 15; skip; skip--) {
        if (entry >= end)
            return 0;
        entry += 1 + *entry;
    }
    if (entry >= end || *entry > end - entry - 1)
        return 0;
    int length = *entry++;
    // Character by character, so that a double-byte character that does not fit is left out whole.
    int used = 0;
    for (int i = 0; i < length; i++) {
        char bytes[8];
        int count = WideCharToMultiByte(CP_ACP, 0, entry + i, 1, bytes, sizeof bytes, 0, 0);
        if (count <= 0 || used + count > size - 1)
            break;
        for (int b = 0; b < count; b++)
            buffer[used++] = bytes[b];
    }
    buffer[used] = 0;
    return used;
}
