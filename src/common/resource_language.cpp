#include "resource_language.h"

// The primary language is the low 10 bits of a language identifier; the rest is the sublanguage.
static const unsigned PRIMARY_LANGUAGE_MASK = 0x3FF;
static const unsigned PRIMARY_JAPANESE = 0x11;
static const unsigned CODE_PAGE_JAPANESE = 932;

unsigned ChooseResourceLanguage(unsigned userInterfaceLanguage, unsigned ansiCodePage)
{
    if ((userInterfaceLanguage & PRIMARY_LANGUAGE_MASK) == PRIMARY_JAPANESE && ansiCodePage == CODE_PAGE_JAPANESE)
        return RESOURCE_LANGUAGE_JAPANESE;
    return RESOURCE_LANGUAGE_ENGLISH;
}
