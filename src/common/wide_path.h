// Paths in UTF-16 for the wide file calls, in fixed buffers of MAX_PATH characters. Roots arrive in the ANSI
// code page (command line, temporary folder) and are converted once; names found below them stay wide, so a
// name outside the ANSI code page is handled as it is. A path that would not fit is refused, never cut short.
#pragma once

const unsigned WIDE_PATH_CHARS = 260;

// buffer (WIDE_PATH_CHARS) = the path, in the code page given, as UTF-16; false when it does not fit or is not
// valid text of that code page.
bool WidenPathFrom(unsigned codePage, wchar_t *buffer, const char *path);

// The same for a path in the ANSI code page.
bool WidenPath(wchar_t *buffer, const char *path);

// The wide path in UTF-8 in `buffer` (3 * WIDE_PATH_CHARS bytes hold any path); false when it does not fit or
// holds half of a surrogate pair, which UTF-8 cannot carry.
bool PathToUtf8(char *buffer, unsigned capacity, const wchar_t *path);

// buffer (WIDE_PATH_CHARS) = a + b + c, where a may be the buffer itself; false, with nothing promised of the
// buffer beyond a, when it would not fit.
bool ComposeWidePath(wchar_t *buffer, const wchar_t *a, const wchar_t *b, const wchar_t *c = L"");

// True for the "." and ".." entries of a folder listing.
bool IsWideDotEntry(const wchar_t *name);
