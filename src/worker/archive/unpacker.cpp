#include "unpacker.h"

const Unpacker *FindUnpacker(const char *archive)
{
    return archiverLibraryUnpacker.handles(archive) ? &archiverLibraryUnpacker : 0;
}
