// Reads the key block that the publishing tool writes into a built launcher.
#include "publisher_keys.h"
#include "../../common/text.h"

static const char KEY_BLOCK_MARK[] = "KOVREL-PUBKEYS-1";

bool ParsePublisherKeys(const unsigned char *block, unsigned size, PublisherKeys *keys)
{
    keys->count = 0;
    for (unsigned slot = 0; slot < PUBLISHER_KEY_SLOTS; slot++)
        keys->used[slot] = false;
    if (!block || size != PUBLISHER_KEY_BLOCK_BYTES)
        return false;
    for (unsigned i = 0; i < 16; i++)
        if (block[i] != static_cast<unsigned char>(KEY_BLOCK_MARK[i]))
            return false;
    for (unsigned slot = 0; slot < PUBLISHER_KEY_SLOTS; slot++) {
        const unsigned char *key = block + 16 + slot * PUBLISHER_KEY_BYTES;
        unsigned char any = 0;
        for (unsigned i = 0; i < PUBLISHER_KEY_BYTES; i++)
            any |= key[i];
        if (!any)
            continue;
        CopyBytes(keys->key[slot], key, PUBLISHER_KEY_BYTES);
        keys->used[slot] = true;
        keys->count++;
    }
    return true;
}
