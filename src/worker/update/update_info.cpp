// The update information file is read back from its stored copy with the platform's profile-file rules.
#include "update_info.h"

DWORD ReadUpdateInfoValue(const char *storedFile, const char *section, const char *key, char *buffer, DWORD size)
{
    // A missing section or key name would make the platform list names instead of reading a value.
    if (!storedFile || !section || !key || !buffer || size == 0)
        return 0;
    return GetPrivateProfileStringA(section, key, "", buffer, size, storedFile);
}
