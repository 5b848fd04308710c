#include "write_probe.h"
#include <windows.h>
#include "../../common/path_compose.h"

bool MayWriteFolder(const char *folder)
{
    char probe[MAX_PATH];
    if (!ComposePath(probe, folder, "~Kovrel.probe"))
        return true;
    HANDLE file = CreateFileA(probe, GENERIC_WRITE, 0, 0, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, 0);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() != ERROR_ACCESS_DENIED;
    CloseHandle(file);
    return true;
}
