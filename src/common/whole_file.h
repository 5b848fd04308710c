#pragma once

// Reads a file whole into a block from the process heap, with a zero after its last byte; the caller frees
// it. None when the file cannot be opened or read, or is longer than `limit` bytes.
char *ReadWholeFile(const char *path, unsigned limit, unsigned *length);
