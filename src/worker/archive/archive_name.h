#pragma once

// The archive's file name in an archive URL: the part of its path after the last '/' or '\' (or the whole
// path), without the query or fragment. False when it does not fit in `capacity` bytes.
bool ArchiveFileName(const char *url, char *name, unsigned capacity);

// True when the name can be used as a file in the work folder: not empty, not "." or "..", no ':' or other
// character that Windows refuses in a name, no trailing dot or blank, and not a reserved device name.
bool IsPlainFileName(const char *name);

// True when the name is, in any letter case, one that the work folder uses for itself: the journal, the stored
// information file, the unpacked tree or the backup. An archive never takes such a name.
bool IsWorkFolderName(const char *name);

// The name an archive is stored under when its own name cannot be used.
#define FALLBACK_ARCHIVE_NAME "Kovrel.download"
