// Reads the stored information file whole and checks its signature line.
#include "stored_feed.h"
#include "feed_signature.h"
#include "../../common/heap.h"
#include "../../common/whole_file.h"

bool VerifyStoredFeed(const char *path, const PublisherKeys *keys)
{
    unsigned length = 0;
    char *data = ReadWholeFile(path, INFO_FILE_LIMIT, &length);
    bool verified = data && VerifySignedFile(reinterpret_cast<unsigned char *>(data), length, keys);
    FreeBytes(data);
    return verified;
}
