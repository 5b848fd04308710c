// What the information file promises about the archive: its exact size (APP_SIZE, decimal bytes) and its
// SHA-256 (APP_SHA256, 64 hex digits). Each is checked while the archive arrives, whenever it is given.
#pragma once
#include "../feed/feed_values.h"

struct ArchiveExpectation {
    bool haveSize;
    bool haveHash;
    unsigned long long size;
    unsigned char sha256[32];
};
