// The cache of one application's archive: where its bytes go when the information file gives its SHA-256, so
// that a download cut short is resumed and a verified archive whose update did not happen is used again.
//
// It lives in "%LOCALAPPDATA%\Kovrel\Cache\" (for an elevated run, in the per-machine folder that only
// administrators can write), in a folder per application, named by its identity (application_identity.h). That
// folder holds one archive at most, named by its SHA-256, with its record beside it.
#pragma once
#include <windows.h>
#include "../download/cache_record.h"

struct ArchiveCache {
    char folder[MAX_PATH];  // ending in a backslash
    char archive[MAX_PATH]; // "<SHA-256 in hex>_<archive name>"
    char record[MAX_PATH];  // "<SHA-256 in hex>.txt"
};

// A partial archive untouched this long is removed rather than resumed.
const unsigned CACHE_PARTIAL_DAYS = 30;

// Opens the cache of the application for the archive `name` with SHA-256 `digest`: makes its folder, and removes
// from it every file of another archive, and a partial archive older than CACHE_PARTIAL_DAYS (one shorter than
// `size`). False when there can be no cache: the download then goes to the work folder, as without a digest.
bool OpenArchiveCache(ArchiveCache *cache, const char *identity, const unsigned char digest[32], const char *name,
                      unsigned long long size);

// Removes every file of the application's cache: after its update, nothing is kept.
void ClearArchiveCache(const ArchiveCache &cache);

// The record beside the archive; false when there is none or it cannot be read.
bool ReadArchiveRecord(const ArchiveCache &cache, CacheRecord *record);
bool WriteArchiveRecord(const ArchiveCache &cache, const CacheRecord &record);
