// Which of the two languages of the string tables and the dialog a user sees.
#pragma once

#define RESOURCE_LANGUAGE_ENGLISH 0x0409u  // English (United States)
#define RESOURCE_LANGUAGE_JAPANESE 0x0411u // Japanese

// Japanese where the user's interface language is Japanese and ANSI text is code page 932; English
// everywhere else. The texts reach the ANSI calls converted to the ANSI code page, and Japanese text in
// any other code page would read as question marks; the English texts are plain ASCII and read anywhere.
unsigned ChooseResourceLanguage(unsigned userInterfaceLanguage, unsigned ansiCodePage);
