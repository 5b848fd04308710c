// The worker's process-wide settings record: the option flags of the command line, and the display
// settings of the dialog.
#pragma once

#define OPT_BACKUP 0x1u
#define OPT_SILENT 0x2u
#define OPT_RESTART 0x4u
#define OPT_CAPTION 0x10000u
#define OPT_DEFAULTS (OPT_BACKUP | OPT_CAPTION)

struct WorkerSettings {
    unsigned options;
};

extern WorkerSettings workerSettings;
