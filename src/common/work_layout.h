// What the launcher and the worker both know of the temporary folder's layout.
#pragma once

// The worker's work folder inside the temporary folder.
#define WORK_FOLDER_NAME "Work\\"

// The replacement journal in the work folder. While it exists, a replacement is still to be undone: neither
// the launcher nor the worker deletes the work folder (which holds the backup) then.
#define JOURNAL_FILE_NAME "Kovrel.journal"

// In the work folder: the stored update information file, the unpacked archive, the replaced originals.
#define INFO_FILE_NAME "Kovrel.ini"
#define UNPACKED_FOLDER_NAME "Src\\"
#define BACKUP_FOLDER_NAME "Bup\\"
#define BACKUP_FOLDER_NAME_WIDE L"Bup\\"
