// Searches over ANSI text that step over double-byte characters whole. In code page 932 the second byte
// of a double-byte character can equal a blank, a double quote, a backslash or a slash; these searches never
// take such a trail byte for a separator.
#pragma once

// True when the byte starts a double-byte character in the system's ANSI code page.
bool IsLeadByte(unsigned char byte);

// First occurrence of a single-byte character, or none (0).
const char *FindCharMultibyte(const char *text, char character);
// True when the last character is a single-byte backslash or slash.
bool EndsWithSeparator(const char *path);
// Last single-byte backslash or slash, or none (0).
const char *FindLastSeparator(const char *path);
