#pragma once
#include <windows.h>

// Whether this process runs with administrator rights: an elevated token, or on Windows before elevation
// existed, a member of the Administrators group.
bool IsElevatedRun();

// The folder under which the runs' own folders are made, with a separator at its end, and the name that they
// start with. An ordinary run uses the user's temporary directory ("Kovrel"). An elevated run never does, as
// any program of the user can write there: it uses "%ProgramData%\Kovrel\" ("Staging"), which only
// SYSTEM and the administrators can write. With `prepare`, that folder is made so (or made so again) first;
// false when the folder cannot be named or prepared.
bool GetStagingRoot(char root[MAX_PATH], const char **runFolderName, bool prepare);

// The security that the per-machine folder is made with: owned by the administrators, full control for SYSTEM
// and the administrators, inherited by all it holds, nothing inherited from above. Free with LocalFree.
PSECURITY_DESCRIPTOR MakeStagingSecurity();
