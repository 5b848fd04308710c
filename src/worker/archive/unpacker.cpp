#include "unpacker.h"

static const Unpacker *const unpackers[] = {&archiverLibraryUnpacker};

const Unpacker *FindUnpacker(const char *archive)
{
    for (unsigned i = 0; i < sizeof unpackers / sizeof unpackers[0]; i++)
        if (unpackers[i]->handles(archive))
            return unpackers[i];
    return 0;
}
