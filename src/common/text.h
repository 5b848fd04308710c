// Byte-string helpers for code that must not depend on the platform. Texts are in the ANSI code page;
// these helpers only count and copy bytes, so they are safe for double-byte text too.
#pragma once

unsigned TextLength(const char *text);
bool TextEquals(const char *a, const char *b);
// Equal when ASCII letters are compared without regard to case; other bytes must match exactly.
bool TextEqualsIgnoringCase(const char *a, const char *b);
// Whether `text` begins with `start`, ASCII letters compared without regard to case.
bool TextStartsWithIgnoringCase(const char *text, const char *start);
void CopyBytes(void *to, const void *from, unsigned count);

// Copies or appends text into a fixed buffer of `capacity` bytes. When the result with its terminating zero
// would not fit, nothing is written and the result is false: a composed path is never cut short.
bool CopyText(char *buffer, unsigned capacity, const char *text);
bool AppendText(char *buffer, unsigned capacity, const char *text);

// The value of a hexadecimal digit of either case, or -1 for any other character.
int HexDigitValue(char c);

// Decodes exactly `count` bytes from 2 * count hex digits of either case. False on any other character, which
// ends the reading there: a zero byte is never read past.
bool DecodeHex(const char *text, unsigned count, unsigned char *bytes);

// Replaces in `name` every character that no file name may hold (\ / : * ? " < > | and control characters)
// with "_": names made from the command line's text, such as a section's.
void MakeFileNameSafe(char *name);
