// Composing paths in fixed buffers of the platform's MAX_PATH bytes. A path that would not fit is refused,
// never cut short.
#pragma once

const unsigned PATH_BYTES = 260;

// buffer (PATH_BYTES) = a + b + c; false, with nothing promised of the buffer, when it would not fit.
bool ComposePath(char *buffer, const char *a, const char *b, const char *c = "");

// True for the "." and ".." entries of a folder listing.
bool IsDotEntry(const char *name);

// The replacement journal's path inside the temporary folder `tempFolder` (ending in a backslash).
bool ComposeJournalPath(char *buffer, const char *tempFolder);

// A folder as the registry may give it, with "%SystemDrive%" at its start as the only variable, made whole with
// the drive of the Windows folder (its "C:"); false for any other variable or a result that is not an absolute
// path on a drive.
bool ExpandSystemDrive(char *buffer, const char *value, const char *windowsFolder);
