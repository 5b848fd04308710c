// Reads the key block that the publishing tool writes into a built launcher.
#include "publisher_keys.h"
#include "../../common/text.h"

static const char MARK[] = KEY_BLOCK_MARK;
static_assert(sizeof MARK - 1 == KEY_BLOCK_MARK_BYTES, "the mark fills its bytes exactly");

bool ParsePublisherKeys(const unsigned char *block, unsigned size, PublisherKeys *keys)
{
    keys->count = 0;
    for (unsigned slot = 0; slot < PUBLISHER_KEY_SLOTS; slot++)
        keys->used[slot] = false;
    if (!block || size != KEY_BLOCK_BYTES)
        return false;
    for (unsigned i = 0; i < KEY_BLOCK_MARK_BYTES; i++)
        if (block[i] != static_cast<unsigned char>(MARK[i]))
            return false;
    for (unsigned slot = 0; slot < PUBLISHER_KEY_SLOTS; slot++) {
        const unsigned char *key = block + KEY_BLOCK_SLOT_OFFSET(slot);
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
