// The request headers that ask for the rest of a file from an offset on.
#pragma once

// "Range: bytes=<offset>-\r\n", and "If-Range: <validator>\r\n" when a validator (an ETag or a Last-Modified
// date, as the server sent it) is given, so that a file changed since is sent whole. Empty for offset 0.
// False when they would not fit in `capacity` bytes, or the validator holds a character that could end its line
// (a control character): a value from the network never writes a header of its own.
bool ComposeRangeHeaders(unsigned long long offset, const char *validator, char *headers, unsigned capacity);

// Reads a Content-Range value "bytes <first>-<last>/<total>"; true only when it is well formed, first <= last <
// total, and the part runs to the file's end (last = total - 1): a resumed download appends nothing else.
bool ParseContentRange(const char *value, unsigned long long *first, unsigned long long *total);
