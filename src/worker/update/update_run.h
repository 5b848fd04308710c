// What the stages of one run share: its status block, its network, its folders and what it has learnt.
#pragma once
#include <windows.h>
#include "update_stages.h"
#include "../download/fetch.h"
#include "../files/folder_identity.h"
#include "../feed/update_feed.h"
#include "../run/archive_cache.h"
#include "../run/run_folders.h"
#include "../run/status_channel.h"
#include "../verify/publisher_keys.h"
#include "../verify/sha256.h"

struct UpdateRun {
    StatusBlock *block;
    bool silent;
    bool check;            // only the information file is fetched: the run ends at what it announces
    DownloadSession session;
    RunFolders folders;
    FolderIdentity application; // the application folder, held from the start
    PublisherKeys keys;
    char *info;            // the information file's bytes as downloaded, at most INFO_FILE_LIMIT
    unsigned infoLength;
    UpdateFeed feed;       // read from those bytes once they are verified
    HANDLE file;           // the file that a download writes; INVALID_HANDLE_VALUE when none
    char archive[MAX_PATH]; // the downloaded archive
    Sha256 archiveHash;
    bool moveFiles;        // the unpacked files carry the application folder's permissions: they may be moved
    bool applyStep;        // this run is the elevated apply step of another (elevated_stages.cpp)
    bool elevate;          // this run may not write the application folder: the apply step replaces
    bool cached;           // the archive is in the application's archive cache
    ArchiveCache cache;
};

// Opens the stage: its position and status text go to the dialog, and the stage counter moves on.
void EnterStage(UpdateRun &run, UpdateStage stage);

// The run fails with its stage's message, or with one of its own that says more.
void Fail(UpdateRun &run);
void FailWith(UpdateRun &run, unsigned short message);

// The hidden file that a download writes: created (replacing any), written, closed. Creating fails the run.
bool CreateDownloadFile(UpdateRun &run, const char *path);
bool WriteDownloadFile(UpdateRun &run, const char *data, unsigned size);
void CloseDownloadFile(UpdateRun &run);

// Hashes the first `count` bytes of the download file (WHOLE_FILE: all of it) into archiveHash, from its start
// on; false when the file is shorter or cannot be read.
const unsigned long long WHOLE_FILE = ~0ull;
bool HashDownloadFile(UpdateRun &run, unsigned long long count);

// The progress of a download: the meter for its fetch (none in a silent run, which reports nothing), switched
// on from `base` over `span` positions once its body begins, and off again when the download ends.
DownloadMeter *DownloadMeterOf(UpdateRun &run);
void StartDownloadMeter(short base, short span);
void StopDownloadMeter();

// Undoes a replacement that a crash interrupted; false, with the run failed, when it could not be undone whole.
bool UndoInterruptedUpdate(UpdateRun &run);

// A run that may not write the application folder (elevated_stages.cpp): known at the start, where it fails
// when no apply step can help; an interrupted apply step undone by one of its own first; the replacement
// done by the apply step.
bool CheckWriteAccess(UpdateRun &run);
bool UndoElevatedUpdate(UpdateRun &run);
void ApplyElevated(UpdateRun &run);

// With publisher keys (info_freshness.cpp): the installed version must be given (false: the start fails the
// run); the verified file must be fresh and its serial not lower than the one recorded, which it then
// replaces (false, with the run failed).
bool InstalledVersionKnown(UpdateRun &run);
bool CheckInfoFreshness(UpdateRun &run);

// The stages, in the files that hold them.
void StartRun(UpdateRun &run);     // STAGE_CONNECT
void FetchInfo(UpdateRun &run);    // STAGE_OPEN_INFO to STAGE_DOWNLOAD_INFO
void CheckInfo(UpdateRun &run);    // STAGE_CHECK_INFO
void FetchArchive(UpdateRun &run); // STAGE_OPEN_ARCHIVE to STAGE_DOWNLOAD_ARCHIVE
void Unpack(UpdateRun &run);       // STAGE_EXTRACT
void ConfirmClose(UpdateRun &run); // STAGE_CONFIRM_CLOSE
void Replace(UpdateRun &run);      // STAGE_REPLACE_FILES
