#pragma once

// A decoder of raw LZMA streams that end in the end marker, as scripts/pack_worker.py writes the worker:
// the whole output stays in memory and serves as the dictionary, so the stream's dictionary size is not needed.
// The properties are the one byte LZMA writes for them: lc + 9 * (lp + 5 * pb).

// The bytes of work memory that LzmaDecode needs for these properties; 0 when it does not take them
// (lc + lp above 4, as LZMA2 also bounds them, keeps the work memory under 30 KB).
unsigned LzmaWorkSize(unsigned properties);

// Decodes `packed` into `out`; true, with the bytes written in *written, when the stream ends in its end
// marker exactly at its last byte and the output fits in `capacity`. A damaged or cut stream fails without
// reading past `packed` or writing past `capacity`. `work` holds LzmaWorkSize(properties) bytes, 2-aligned.
bool LzmaDecode(unsigned properties, const unsigned char *packed, unsigned packedSize, void *work,
                unsigned char *out, unsigned capacity, unsigned *written);
