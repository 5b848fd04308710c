#include "folder_identity.h"

// The folder itself, not what a link in its place leads to; reading its attributes needs no more rights.
static HANDLE OpenFolder(const char *folder, DWORD share)
{
    return CreateFileA(folder, FILE_READ_ATTRIBUTES, share, 0, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, 0);
}

static bool IsPlainFolder(const BY_HANDLE_FILE_INFORMATION &information)
{
    return (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool HoldFolder(FolderIdentity *identity, const char *folder)
{
    identity->handle = OpenFolder(folder, FILE_SHARE_READ | FILE_SHARE_WRITE);
    BY_HANDLE_FILE_INFORMATION information;
    if (identity->handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(identity->handle, &information) ||
        !IsPlainFolder(information)) {
        ReleaseFolder(identity);
        return false;
    }
    identity->volume = information.dwVolumeSerialNumber;
    identity->indexHigh = information.nFileIndexHigh;
    identity->indexLow = information.nFileIndexLow;
    return true;
}

bool IsStillHeldFolder(const FolderIdentity &identity, const char *folder)
{
    if (identity.handle == INVALID_HANDLE_VALUE)
        return false;
    HANDLE again = OpenFolder(folder, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    BY_HANDLE_FILE_INFORMATION information;
    bool same = again != INVALID_HANDLE_VALUE && GetFileInformationByHandle(again, &information) &&
                IsPlainFolder(information) && information.dwVolumeSerialNumber == identity.volume &&
                information.nFileIndexHigh == identity.indexHigh && information.nFileIndexLow == identity.indexLow;
    if (again != INVALID_HANDLE_VALUE)
        CloseHandle(again);
    return same;
}

void ReleaseFolder(FolderIdentity *identity)
{
    if (identity->handle != INVALID_HANDLE_VALUE)
        CloseHandle(identity->handle);
    identity->handle = INVALID_HANDLE_VALUE;
}
