#pragma once
#include <windows.h>

// Whether this process runs with administrator rights: an elevated token, or on Windows before elevation
// existed, a member of the Administrators group.
bool IsElevatedRun();

// A run's own folder, named after its application's identity (application_identity.h): "Kovrel-<identity>\",
// then "Kovrel-<identity>.1\" to ".9\" in the user's temporary directory, or for an elevated run
// "Staging-<identity>\" to ".9\" in "%ProgramData%\Kovrel\", which only SYSTEM and the administrators can write
// (an elevated run never stages where any program of the user can write).
const unsigned RUN_FOLDER_CANDIDATES = 10;
bool GetRunFolder(unsigned candidate, bool perMachine, const char *identity, char folder[MAX_PATH]);

// ProgramData as the system names it in its profile list, which only administrators can write; false when the
// list does not name it plainly (then the shell is asked).
bool ReadProgramData(char folder[MAX_PATH]);

// "%ProgramData%\Kovrel", the per-machine folder (without a separator at its end).
bool GetMachineRoot(char root[MAX_PATH]);

// Makes "%ProgramData%\Kovrel" (into `root`) so that only SYSTEM and the administrators can write it, or
// makes it so again; false when that cannot be done.
bool PrepareMachineStaging(char root[MAX_PATH]);

// The security that the per-machine folder is made with: owned by the administrators, full control for SYSTEM
// and the administrators, inherited by all it holds, nothing inherited from above. Free with LocalFree.
PSECURITY_DESCRIPTOR MakeStagingSecurity();
