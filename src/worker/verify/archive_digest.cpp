// Comparing the archive's digest with the promised one. Both are public, so the comparison need not hide
// where the first difference lies; it only has to look at every byte.
#include "archive_digest.h"

bool ArchiveDigestMatches(Sha256 *hash, const unsigned char expected[32])
{
    unsigned char digest[32];
    Sha256Final(hash, digest);
    bool same = true;
    for (unsigned i = 0; i < sizeof digest; i++)
        if (digest[i] != expected[i])
            same = false;
    return same;
}
