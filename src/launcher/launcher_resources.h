// Resource identifiers of the launcher, shared by its code and launcher.rc.
#pragma once

#define IDS_LAUNCHER_MUTEX_FAILED 30000
#define IDS_LAUNCHER_BAD_COMMAND_LINE 30001
#define IDS_LAUNCHER_ALREADY_RUNNING 30002
#define IDS_LAUNCHER_TEMP_FOLDER_FAILED 30003
#define IDS_LAUNCHER_STAGING_FAILED 30004
#define IDS_LAUNCHER_NO_RUN_FOLDER 30005
#define IDS_LAUNCHER_CAPTION 30050

// The embedded worker: type "RT_BINARY" (a name, not the integer type), identifier 101, Japanese, packed as
// packed_worker.h describes.
#define EMBEDDED_WORKER_ID 101
#define EMBEDDED_WORKER_TYPE "RT_BINARY"

// The publisher's key block (KEY_BLOCK_ID) is shared with the worker: ../common/key_block.h.
