// The language of the texts and the dialog, from the user's interface language and the ANSI code page.
#include <gtest/gtest.h>
#include "../../../src/common/resource_language.h"

TEST(ChooseResourceLanguage, Table)
{
    struct Row {
        const char *label;
        unsigned interfaceLanguage;
        unsigned codePage;
        unsigned expected;
    } rows[] = {
        {"Japanese system", 0x0411, 932, RESOURCE_LANGUAGE_JAPANESE},
        {"Japanese with a neutral sublanguage", 0x0011, 932, RESOURCE_LANGUAGE_JAPANESE},
        {"English system", 0x0409, 1252, RESOURCE_LANGUAGE_ENGLISH},
        {"German system", 0x0407, 1252, RESOURCE_LANGUAGE_ENGLISH},
        {"Chinese system, another double-byte page", 0x0804, 936, RESOURCE_LANGUAGE_ENGLISH},
        {"Japanese interface over a western code page would show question marks", 0x0411, 1252,
         RESOURCE_LANGUAGE_ENGLISH},
        {"Japanese interface over UTF-8 as the ANSI code page", 0x0411, 65001, RESOURCE_LANGUAGE_ENGLISH},
        {"English interface on a Japanese code page", 0x0409, 932, RESOURCE_LANGUAGE_ENGLISH},
        {"Japanese with another sublanguage", 0x0811, 932, RESOURCE_LANGUAGE_JAPANESE},
        {"Korean is not Japanese", 0x0412, 932, RESOURCE_LANGUAGE_ENGLISH},
    };
    for (const Row &row : rows)
        EXPECT_EQ(row.expected, ChooseResourceLanguage(row.interfaceLanguage, row.codePage)) << row.label;
}
