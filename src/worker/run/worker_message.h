#pragma once
#include <windows.h>

// The worker's message box from its own string table. A quiet-capable message is not shown in silent mode;
// the result is then IDOK. A missing text falls back to string 30000, then to a fixed text.
int ShowResourceMessage(HWND owner, UINT textId, UINT captionId, UINT style, bool quietCapable);
