// The two ways SHA-256 compresses whole 64-byte blocks; sha256.cpp chooses, the tests compare them.
#pragma once

void Sha256CompressPortable(unsigned state[8], const unsigned char *blocks, unsigned count);

// With the processor's SHA instructions; false (and nothing done) where the processor has none.
bool Sha256CompressHardware(unsigned state[8], const unsigned char *blocks, unsigned count);
