#include "worker_settings.h"

WorkerSettings workerSettings = {OPT_DEFAULTS};
