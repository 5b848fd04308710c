// Reads a key block from standard input through the worker's own reader and prints each key it finds as
// "<slot number> <hex>", or "not a key block" (exit 1), so that the publishing tool's writer is checked
// against it.
#include <cstdio>
#include "../../src/worker/verify/publisher_keys.h"

int main()
{
    unsigned char block[4096];
    unsigned size = static_cast<unsigned>(std::fread(block, 1, sizeof block, stdin));
    PublisherKeys keys;
    if (!ParsePublisherKeys(block, size, &keys)) {
        std::printf("not a key block\n");
        return 1;
    }
    for (unsigned slot = 0; slot < PUBLISHER_KEY_SLOTS; slot++) {
        if (!keys.used[slot])
            continue;
        std::printf("%u ", slot + 1);
        for (unsigned i = 0; i < PUBLISHER_KEY_BYTES; i++)
            std::printf("%02x", keys.key[slot][i]);
        std::printf("\n");
    }
    return 0;
}
