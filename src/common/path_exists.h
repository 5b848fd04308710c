#pragma once

// True when a folder exists at the path or, with acceptFiles, when anything exists there.
// A folder path may end in a separator.
bool PathExists(const char *path, bool acceptFiles);
