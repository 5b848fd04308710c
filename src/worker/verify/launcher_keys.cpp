// The keys live in the launcher, so the application's own code signature covers them and one file ships.
// The worker was written out of that launcher moments ago and reads the block from its file, as data.
#include "launcher_keys.h"
#include <windows.h>
#include "../../common/key_block.h"

bool LoadPublisherKeys(const char *launcherPath, PublisherKeys *keys)
{
    ParsePublisherKeys(0, 0, keys);
    if (!launcherPath || !launcherPath[0])
        return false;
    HMODULE launcher = LoadLibraryExA(launcherPath, 0, LOAD_LIBRARY_AS_DATAFILE);
    if (!launcher)
        return false;
    // Every launcher carries a block, empty when it has no keys. One that cannot be found or read may have
    // been taken out to pass for keyless: the worker then goes on as if keys existed and none matched.
    bool read = false;
    HRSRC found = FindResourceA(launcher, MAKEINTRESOURCEA(KEY_BLOCK_ID), MAKEINTRESOURCEA(10)); // RT_RCDATA
    if (found) {
        HGLOBAL loaded = LoadResource(launcher, found);
        const void *block = loaded ? LockResource(loaded) : 0;
        read = block && ParsePublisherKeys(static_cast<const unsigned char *>(block), SizeofResource(launcher, found),
                                           keys);
    }
    FreeLibrary(launcher);
    return read;
}
