#pragma once
#include <windows.h>

// The embedded worker as scripts/pack_worker.py writes it: a 13-byte header (the mark, the unpacked size and
// the FNV-1a hash of the unpacked bytes, little-endian, then LZMA's properties byte), then the program in raw
// LZMA with its calls transformed (call_transform.h).
#define PACKED_WORKER_MARK "KvZ2"
#define PACKED_WORKER_HEADER_SIZE 13

// Unpacks the packed worker `packed` of `size` bytes into `destination`; true when the whole worker, of the
// recorded size and hash, was written. Anything else writes nothing.
bool WritePackedWorker(const void *packed, DWORD size, const char *destination);
