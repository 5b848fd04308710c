// SHA-512 (FIPS 180-4) of a byte stream fed in pieces, for Ed25519 signatures over short messages.
#pragma once

struct Sha512 {
    unsigned long long state[8];
    unsigned long long length; // bytes fed so far
    unsigned char block[128];  // the partial block not yet compressed
    unsigned used;             // bytes held in `block`
};

void Sha512Init(Sha512 *context);
void Sha512Update(Sha512 *context, const void *data, unsigned size);
// Pads, writes the digest and leaves the context to be initialised again before reuse.
void Sha512Final(Sha512 *context, unsigned char digest[64]);
