// What the information file promises about the archive: its exact size (APP_SIZE, decimal bytes) and its
// SHA-256 (APP_SHA256, 64 hex digits). Each is checked while the archive arrives, whenever it is given.
#pragma once

struct ArchiveExpectation {
    bool haveSize;
    bool haveHash;
    unsigned long long size;
    unsigned char sha256[32];
};

// A size is decimal digits only, at most 18 of them. False for anything else, the empty text included.
bool ParseArchiveSize(const char *text, unsigned long long *size);

// A digest is exactly 64 hex digits of either case.
bool ParseSha256Text(const char *text, unsigned char digest[32]);
