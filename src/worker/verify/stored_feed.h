// The stored update information file, checked against the publisher's keys before any value of it is read.
#pragma once
#include "publisher_keys.h"

// The largest information file that is downloaded or read.
const unsigned INFO_FILE_LIMIT = 64 * 1024;

// True when the stored file is at most INFO_FILE_LIMIT bytes and carries a signature that one of the keys
// verifies.
bool VerifyStoredFeed(const char *path, const PublisherKeys *keys);
