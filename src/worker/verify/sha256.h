// SHA-256 (FIPS 180-4) of a byte stream fed in pieces of any size, for the downloaded archive's checksum.
#pragma once

struct Sha256 {
    unsigned state[8];
    unsigned long long length; // bytes fed so far
    unsigned char block[64];   // the partial block not yet compressed
    unsigned used;             // bytes held in `block`
};

void Sha256Init(Sha256 *context);
void Sha256Update(Sha256 *context, const void *data, unsigned size);
// Pads, writes the digest and leaves the context to be initialised again before reuse.
void Sha256Final(Sha256 *context, unsigned char digest[32]);
