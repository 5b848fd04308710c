// The record kept beside a cached archive: where its bytes came from, how long it is, and the server's
// validator (an ETag, or a Last-Modified date) that a resumed request must still match. Three lines of text.
// It only ever steers a request: what is used of the archive is what its SHA-256 confirms.
#pragma once

const unsigned CACHE_RECORD_URL_CAP = 2084;
const unsigned CACHE_RECORD_VALIDATOR_CAP = 256;
const unsigned CACHE_RECORD_CAP = CACHE_RECORD_URL_CAP + CACHE_RECORD_VALIDATOR_CAP + 32;

struct CacheRecord {
    char url[CACHE_RECORD_URL_CAP];
    unsigned long long size;
    char validator[CACHE_RECORD_VALIDATOR_CAP];
};

// "<url>\r\n<size>\r\n<validator>\r\n" into `text` (CACHE_RECORD_CAP bytes); false when a value does not fit
// or holds a line break.
bool FormatCacheRecord(const CacheRecord &record, char *text, unsigned capacity);

// Reads `length` bytes of such a record; false for anything else.
bool ParseCacheRecord(const char *text, unsigned length, CacheRecord *record);
