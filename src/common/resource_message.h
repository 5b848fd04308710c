#pragma once
#include <windows.h>
#include "text_buffer.h"

// Message box whose text and caption come from the string table of `module`. When the text is missing,
// fallbackTextId (if not 0) is tried, then the fixed text "An error occurred.".
int ShowModuleMessage(HINSTANCE module, HWND owner, UINT textId, UINT fallbackTextId, UINT captionId, UINT style);

// The launcher's form: the launcher's own string table.
int ShowResourceMessage(HWND owner, UINT textId, UINT captionId, UINT style);

// A caption that titles every box of this process instead of the one from the string table: the application's
// own, when it gives one. Empty or null restores the table's.
void SetMessageCaption(const char *caption);
// The caption of a box: the one set above, else `captionId` of the module's table loaded into `loaded`; null
// (the platform's default) when neither exists.
const char *MessageCaption(HINSTANCE module, UINT captionId, TextBuffer &loaded);
