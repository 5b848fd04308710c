// The publisher's public keys, carried by the launcher. With no key, updates are taken unsigned as they
// always were; with one, nothing unsigned is installed. Two slots let a publisher rotate keys: a signature
// is good when either key verifies it.
#pragma once

const unsigned PUBLISHER_KEY_SLOTS = 2;
const unsigned PUBLISHER_KEY_BYTES = 32;
// The block as stored: a 16-byte mark, then the slots; an all-zero slot is empty.
const unsigned PUBLISHER_KEY_BLOCK_BYTES = 16 + PUBLISHER_KEY_SLOTS * PUBLISHER_KEY_BYTES;

struct PublisherKeys {
    unsigned char key[PUBLISHER_KEY_SLOTS][PUBLISHER_KEY_BYTES];
    bool used[PUBLISHER_KEY_SLOTS];
    unsigned count;
};

// Reads a stored key block. False when it is not one (wrong size or mark); `keys` is then empty.
bool ParsePublisherKeys(const unsigned char *block, unsigned size, PublisherKeys *keys);
