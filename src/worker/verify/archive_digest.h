// The downloaded archive's SHA-256 against the digest its update information promised.
#pragma once
#include "sha256.h"

// Finishes the running hash of a downloaded archive and compares it with the digest that the information file
// promised. True only when all 32 bytes match.
bool ArchiveDigestMatches(Sha256 *hash, const unsigned char expected[32]);
