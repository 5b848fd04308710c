// Whether the application's files can be replaced, checked before the first one is touched, so that a file
// still in use is reported while the application is whole rather than after a partial copy.
#pragma once

enum ReplaceCheck {
    REPLACE_READY,
    REPLACE_IN_USE,        // a file to be replaced is open in another process (`blocked` names it)
    REPLACE_NO_PERMISSION, // the folder or a file cannot be written by this user (`blocked` names it)
};

struct PlacementPlan;

// Checks every file that the plan replaces (opened for writing, with no sharing, and closed again), and that
// the plan's destination folder takes a new file. `blocked` is a buffer of MAX_PATH characters.
ReplaceCheck CheckReplaceable(const PlacementPlan &plan, wchar_t *blocked);

// Creates a probe file in the folder (ending in a backslash) and deletes it again at once: ERROR_SUCCESS
// when the folder takes a new file, the error otherwise.
unsigned long ProbeFolder(const wchar_t *folder);
