// Putting one file in place so that it is never seen half-written: it is moved there whole, or its bytes go
// to a temporary name beside the target, which is then renamed over it. A target is its old self or the
// complete new file.
#pragma once
#include <windows.h>

// The suffix of the temporary name: "<target>.kvnew".
#define PART_SUFFIX ".kvnew"
const unsigned PART_SUFFIX_LENGTH = 6;

// Copies `from` to `to` through `to` + PART_SUFFIX (composed in `part`, MAX_PATH bytes), four tries a
// little over a second apart. The temporary file is removed again when the copy fails.
bool PlaceCopy(const char *from, const char *to, char *part);

// Moves `from` over `to` on the same drive, four tries a little over a second apart. False with
// ERROR_NOT_SAME_DEVICE from GetLastError when the two lie on different drives.
bool MoveOver(const char *from, const char *to);

// Moves an original out of the way into its backup, which must not exist yet. When *moves is false, or the
// backup lies on another drive (*moves is then set to false, so that later calls copy at once), it is
// copied under a temporary name and renamed, so a backup file that exists is always complete; the original
// then stays where it was, to be replaced. The original stays where it was when this fails.
bool BackUp(const char *original, const char *backup, char *part, bool *moves);

// Puts the new file `from` at `to`: by a move when *move allows and both lie on one drive (over an existing
// target only with `replace`), by PlaceCopy otherwise. A move refused for another drive sets *move to false,
// so that later calls copy at once.
bool PlaceNew(const char *from, const char *to, char *part, bool *move, bool replace);

// True when both files can be read and hold the same bytes.
bool SameContent(const char *a, const char *b);

// Deletes the file whatever its attributes, with the same tries. True when it is gone (or was never there).
bool DeleteWithRetries(const char *path);
