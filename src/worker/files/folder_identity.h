// The application folder as it was when the run began. The "close the application" box may wait for as long
// as the user likes; in that time another program could put a link or junction, or another folder, in the
// folder's place, and the new version would be written wherever that leads. The folder is held open from the
// start, and before anything is written the path must still lead to that very folder.
#pragma once
#include <windows.h>

struct FolderIdentity {
    HANDLE handle; // held for the run: without delete sharing, so the folder cannot be renamed meanwhile
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
};

// Opens the folder without following a link in its place and records which folder it is. False, with
// nothing held, when it cannot be opened or is itself a link or junction.
bool HoldFolder(FolderIdentity *identity, const char *folder);

// True when the path, opened again without following a link, is still the folder that is held.
bool IsStillHeldFolder(const FolderIdentity &identity, const char *folder);

void ReleaseFolder(FolderIdentity *identity);
