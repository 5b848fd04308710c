// The publisher's public keys, carried by the launcher. With no key, updates are taken unsigned as they
// always were; with one, nothing unsigned is installed. Two slots let a publisher rotate keys: a signature
// is good when either key verifies it.
#pragma once
#include "../../common/key_block.h"

const unsigned PUBLISHER_KEY_SLOTS = KEY_BLOCK_SLOTS;
const unsigned PUBLISHER_KEY_BYTES = KEY_BLOCK_KEY_BYTES;

struct PublisherKeys {
    unsigned char key[PUBLISHER_KEY_SLOTS][PUBLISHER_KEY_BYTES];
    bool used[PUBLISHER_KEY_SLOTS];
    unsigned count;
};

// Reads a stored key block. False when it is not one (wrong size or mark); `keys` is then empty.
bool ParsePublisherKeys(const unsigned char *block, unsigned size, PublisherKeys *keys);
