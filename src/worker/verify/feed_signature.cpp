// Checks the signature line of an update information file against the publisher's keys.
#include "feed_signature.h"
#include "ed25519_verify.h"
#include "../../common/text.h"

static const char SIGNATURE_MARK[] = ";ed25519=";
static const unsigned MARK_LENGTH = sizeof SIGNATURE_MARK - 1;

bool SplitSignedFile(const unsigned char *file, unsigned length, unsigned char signature[SIGNATURE_BYTES],
                     unsigned *bodyOffset)
{
    const unsigned digits = 2 * SIGNATURE_BYTES;
    if (!file || length < MARK_LENGTH + digits + 1)
        return false;
    for (unsigned i = 0; i < MARK_LENGTH; i++)
        if (file[i] != static_cast<unsigned char>(SIGNATURE_MARK[i]))
            return false;
    const char *hex = reinterpret_cast<const char *>(file + MARK_LENGTH);
    if (!DecodeHex(hex, SIGNATURE_BYTES, signature))
        return false;
    unsigned end = MARK_LENGTH + digits;
    if (file[end] == '\r' && end + 1 < length && file[end + 1] == '\n')
        end++;
    else if (file[end] != '\n')
        return false; // a longer line, or a line ended some other way, is not the signature line
    *bodyOffset = end + 1;
    return true;
}

bool VerifySignedFile(const unsigned char *file, unsigned length, const PublisherKeys *keys)
{
    unsigned char signature[SIGNATURE_BYTES];
    unsigned body = 0;
    if (!keys || !SplitSignedFile(file, length, signature, &body))
        return false;
    for (unsigned slot = 0; slot < PUBLISHER_KEY_SLOTS; slot++)
        if (keys->used[slot] && Ed25519Verify(signature, keys->key[slot], file + body, length - body))
            return true;
    return false;
}
