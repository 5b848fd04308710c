#pragma once
#include <windows.h>

// Reads `key` of `section` from the stored update information file into buffer (size bytes, a longer value
// is cut). Returns the number of characters read; 0 for a missing section or key or an empty value.
DWORD ReadUpdateInfoValue(const char *storedFile, const char *section, const char *key, char *buffer, DWORD size);
