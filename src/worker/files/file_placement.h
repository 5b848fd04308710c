// Putting one file in place so that it is never seen half-written: it is moved there whole, or its bytes go
// to a temporary name beside the target, which is then renamed over it. A target is its old self or the
// complete new file. Paths are wide (MAX_PATH characters), so that any name the file system holds is handled.
#pragma once
#include <windows.h>

// The suffix of the temporary name: "<target>.kvnew".
#define PART_SUFFIX L".kvnew"
const unsigned PART_SUFFIX_LENGTH = 6;

// Copies `from` to `to` through `to` + PART_SUFFIX (composed in `part`, MAX_PATH characters), four tries a
// little over a second apart. The temporary file is removed again when the copy fails.
bool PlaceCopy(const wchar_t *from, const wchar_t *to, wchar_t *part);

// Moves `from` over `to` on the same drive, four tries a little over a second apart. False with
// ERROR_NOT_SAME_DEVICE from GetLastError when the two lie on different drives.
bool MoveOver(const wchar_t *from, const wchar_t *to);

// Moves an original out of the way into its backup, which must not exist yet. When *moves is false, or the
// backup lies on another drive (*moves is then set to false, so that later calls copy at once), it is
// copied under a temporary name and renamed, so a backup file that exists is always complete; the original
// then stays where it was, to be replaced. The original stays where it was when this fails.
bool BackUp(const wchar_t *original, const wchar_t *backup, wchar_t *part, bool *moves);

// Puts the new file `from` at `to`: by a move when *move allows and both lie on one drive (over an existing
// target only with `replace`), by PlaceCopy otherwise. A move refused for another drive sets *move to false,
// so that later calls copy at once.
bool PlaceNew(const wchar_t *from, const wchar_t *to, wchar_t *part, bool *move, bool replace);

// True when both files can be read and hold the same bytes.
bool SameContent(const wchar_t *a, const wchar_t *b);

// Deletes the file whatever its attributes, with the same tries. True when it is gone (or was never there).
bool DeleteWithRetries(const wchar_t *path);
