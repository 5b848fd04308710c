// The worker's boxes: every question and message that the worker puts to the user goes through here.
#pragma once
#include <windows.h>

// The worker's message box from its own string table. A quiet-capable message is not shown in silent mode;
// the result is then IDOK. A missing text falls back to string 30000, then to a fixed text.
int ShowResourceMessage(HWND owner, UINT textId, UINT captionId, UINT style, bool quietCapable);

// Names a file that is still in use and asks the user to close it: true for OK (look again), false for Cancel.
bool AskToCloseFile(HWND owner, const char *blocked);

struct StatusBlock;

// The user's Cancel: asks whether to abort the update and, when the answer is yes and the run still goes on,
// stops it (STATE_ABORTED). In silent mode the question is suppressed and counts as a refusal. True when the
// run was stopped.
bool ConfirmAbort(StatusBlock *block);
