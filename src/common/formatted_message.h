#pragma once
#include <windows.h>

// Message box whose text comes from the string table of `module` and holds one "%s", replaced by `insert`
// (a path, say; any length). The caption comes from the table too.
int ShowFormattedMessage(HINSTANCE module, HWND owner, UINT textId, UINT captionId, const char *insert, UINT style);
