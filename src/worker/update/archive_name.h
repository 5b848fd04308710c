#pragma once

// The archive's file name in an archive URL: the part after its last '/' or '\', or the whole URL.
const char *ArchiveFileName(const char *url);

// True when the name can be used as a file in the work folder: not empty, not "." or "..", no ':' or other
// character that Windows refuses in a name, no trailing dot or blank, and not a reserved device name.
bool IsPlainFileName(const char *name);
