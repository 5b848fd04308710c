// Resources in the language the user sees (ChooseResourceLanguage), for the string tables and the dialog.
//
// The platform's loader picks a resource's language by the thread's interface language alone; on a system
// whose interface is Japanese but whose ANSI code page is not 932 it would hand out Japanese text that the
// ANSI calls turn into question marks. Both executables therefore choose the language themselves.
#pragma once
#include <windows.h>

// The resource in the chosen language; when it has none in that language, the one the loader picks.
HRSRC FindLocalizedResource(HMODULE module, const char *name, const char *type);

// LoadStringA in the chosen language: at most size - 1 bytes of the text, cut before a character that would
// not fit whole, and a terminating zero. The number of bytes copied; 0 for a missing or empty string.
int LoadLocalizedString(HMODULE module, unsigned id, char *buffer, int size);
