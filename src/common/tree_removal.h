#pragma once

// Deletes everything below `folder` (a path in the ANSI code page, ending in a backslash), whatever the names
// below it, and, with removeSelf, the folder too. True when all of it is gone. Files still locked by a process
// that is just ending get four tries.
bool RemoveTree(const char *folder, bool removeSelf);
