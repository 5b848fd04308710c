#pragma once
#include <windows.h>

// Message box whose text and caption come from the string table of `module`. When the text is missing,
// fallbackTextId (if not 0) is tried, then the fixed text "An error occurred.".
int ShowModuleMessage(HINSTANCE module, HWND owner, UINT textId, UINT fallbackTextId, UINT captionId, UINT style);

// The launcher's form: the launcher's own string table.
int ShowResourceMessage(HWND owner, UINT textId, UINT captionId, UINT style);
