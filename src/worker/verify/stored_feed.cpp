// Reads the stored information file whole and checks its signature line.
#include "stored_feed.h"
#include <windows.h>
#include "feed_signature.h"
#include "../../common/heap.h"

bool VerifyStoredFeed(const char *path, const PublisherKeys *keys)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool verified = false;
    DWORD high = 0;
    DWORD size = GetFileSize(file, &high);
    unsigned char *data = 0;
    if (size != INVALID_FILE_SIZE && high == 0 && size <= INFO_FILE_LIMIT)
        data = static_cast<unsigned char *>(AllocateBytes(size + 1));
    DWORD got = 0;
    if (data && ReadFile(file, data, size, &got, 0) && got == size)
        verified = VerifySignedFile(data, size, keys);
    FreeBytes(data);
    CloseHandle(file);
    return verified;
}
