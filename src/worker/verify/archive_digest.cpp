#include "archive_digest.h"

bool ArchiveDigestMatches(Sha256 *hash, const unsigned char expected[32])
{
    unsigned char digest[32];
    Sha256Final(hash, digest);
    unsigned char differences = 0;
    for (unsigned i = 0; i < sizeof digest; i++)
        differences |= static_cast<unsigned char>(digest[i] ^ expected[i]);
    return differences == 0;
}
