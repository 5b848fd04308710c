#pragma once

// Reads a file whole into a block from the process heap, with a zero after its last byte; the caller frees
// it. None when the file cannot be opened or read, or is longer than `limit` bytes.
char *ReadWholeFile(const char *path, unsigned limit, unsigned *length);

// Writes a file whole under a temporary name beside it ("<path>.part") and renames that over `path`, so that
// no reader ever finds half a file. False, with no temporary file left, when that fails.
bool WriteWholeFile(const char *path, const char *data, unsigned length);
