// The worker's command-line contract: eight positional tokens and the option letters b, c, k, r and s.
#pragma once
#include "../../common/application_identity.h"

struct WorkerArgs {
    char *launcherPath;
    char *infoUrl;
    char *appPath;
    char *infoSection;
    char *installedVersion;
    char *caption;
    char *restartProgram;
    char *restartParams;
    // The apply step only: the archive that the run which started it downloaded ("" when the step only undoes
    // an interrupted replacement); 0 in any other run.
    char *stagedArchive;
    // The launcher's arguments as the run was given them, after the launcher's own path.
    const char *runArguments;
};

const unsigned WORKER_ARG_SLOTS = 8;

extern WorkerArgs workerArgs;

// Fills workerArgs and the option flags of workerSettings from the text after the worker's program name.
// The apply step's two leading tokens (common/cleanup_argument.h) are read into stagedArchive and take no slot.
// True when at least four positional tokens were found and every stored token could be allocated.
bool ParseWorkerCommandLine(const char *text);

// Frees every filled slot and leaves all of them empty.
void FreeWorkerArgs();

// The text after the program name of a process command line and the characters 1 to 0x20 after it.
const char *SkipWorkerProgramName(const char *commandLine);

// The identity of the application that the arguments name (its path and section), as the launcher derived it.
void ComposeWorkerIdentity(char (&identity)[IDENTITY_BYTES]);
