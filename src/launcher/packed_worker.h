#pragma once
#include <windows.h>

// The embedded worker as scripts/pack_worker.py writes it: a 12-byte header (the mark, then the unpacked
// size and the FNV-1a hash of the unpacked bytes, little-endian), then the program in LZNT1, which ntdll
// unpacks on every Windows.
#define PACKED_WORKER_MARK "KvZ1"
#define PACKED_WORKER_HEADER_SIZE 12

// Unpacks the packed worker `packed` of `size` bytes into `destination`; true when the whole worker, of the
// recorded size and hash, was written. Anything else writes nothing.
bool WritePackedWorker(const void *packed, DWORD size, const char *destination);
