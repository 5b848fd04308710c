// The worker's work folder: beside the worker's own executable, in the launcher's temporary folder.
#pragma once

// Composes the work folder (ending in a backslash) followed by `name` (may be empty) into a MAX_PATH buffer.
bool ComposeWorkPath(char *buffer, const char *name);
