// One value of the update information file, found in its bytes in memory by the rules that the platform's
// profile reader (GetPrivateProfileStringA) applies to a real file holding the same bytes.
#pragma once

// Copies the value of `key` in the first section named `section` into value (capacity bytes, with its
// terminating zero) and returns its length. 0 for a missing section or key, a key line without '=', an empty
// value, or bad arguments (an empty or blank name included). Unlike the platform, a value that does not fit
// is never cut: the result is 0, value is empty and *tooLong is set. `text` need not end in a zero; nothing
// at or past text + length is read.
unsigned FindFeedValue(const char *text, unsigned length, const char *section, const char *key, char *value,
                       unsigned capacity, bool *tooLong);
