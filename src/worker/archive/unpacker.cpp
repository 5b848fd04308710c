#include "unpacker.h"

const Unpacker *FindUnpacker(const char *archive)
{
    if (builtinUnpacker.handles(archive))
        return &builtinUnpacker;
    return archiverLibraryUnpacker.handles(archive) ? &archiverLibraryUnpacker : 0;
}
