// Paths that the ANSI calls can use. The launcher and the worker name their files in the ANSI code page, but a
// folder's name may hold characters that the code page lacks (a user named "Łukasz" on an English system):
// the ANSI calls then give "?" in their place, a path that names nothing. Both sides name such a folder the same
// way, by one rule: the path itself when the code page holds it exactly, else its short (8.3) name when the code
// page holds that, else nothing, so that a caller fails where it can say so instead of using a wrong path.
#pragma once
#include <windows.h>

// `buffer` (capacity bytes) = the wide path by the rule above; false when neither form can be named or fits.
bool NameInAnsi(const wchar_t *path, char *buffer, unsigned capacity);

// GetTempPathA by the rule: the temporary folder, ending in a backslash, and its length. When it cannot be
// named, the user's own "%LOCALAPPDATA%\Temp\" (made when missing) by the same rule, never a folder that other
// users can write; 0 when neither can be named or fits.
DWORD GetAnsiTempPath(DWORD capacity, char *buffer);

// GetModuleFileNameA by the rule: the module's path and its length; 0 when it cannot be named or does not fit.
DWORD GetAnsiModuleFileName(HMODULE module, char *buffer, DWORD capacity);
