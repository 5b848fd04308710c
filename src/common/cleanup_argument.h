#pragma once

// The argument with which the worker starts the launcher at its end, followed by the application's identity:
// the launcher then waits for the worker to be gone and deletes the application's run folders.
#define CLEANUP_ARGUMENT "<:rokuta!velmoranpisuCLOSE!!:>"

// The first argument of the launcher's apply step, started elevated by a worker that may not write the
// application folder: then the path of the archive that worker downloaded, then the run's own arguments. The
// launcher runs its worker for the replacement alone, waits for it and ends with its final message's id.
#define APPLY_ARGUMENT "<:kovrel!APPLY!!:>"
// The apply step's own exit codes, message ids of the worker's: not elevated (no permission), and a worker
// that could not be started (its work folder).
#define APPLY_NOT_ALLOWED 30118
#define APPLY_NOT_STARTED 30104

// The exit codes of a check (option -k1): the launcher waits for its worker and ends with the worker's code.
#define CHECK_UP_TO_DATE 0
#define CHECK_NEWER 1
#define CHECK_FAILED 2
