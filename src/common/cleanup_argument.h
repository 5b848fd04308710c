#pragma once

// The argument with which the worker starts the launcher at its end: the launcher then waits for the
// worker to be gone and deletes the temporary folder.
#define CLEANUP_ARGUMENT "<:rokuta!velmoranpisuCLOSE!!:>"

// The named mutex that orders the launcher, the worker and the cleanup launcher.
#define KOVREL_MUTEX_NAME "Kovrel_check_period_mutex"
