// The archive, downloaded and checked (archive_fetch.cpp), is unpacked before the user is disturbed.
#include "update_run.h"
#include "../archive/unpacker.h"
#include "../files/folder_security.h"
#include "../files/tree_placement.h"
#include "../run/run_log.h"
#include "../run/worker_resources.h"
#include "../verify/archive_digest.h"
#include "../../common/path_exists.h"

// The unpacked folder takes the application folder's permissions, so that its files can later be moved into
// place rather than copied.
static bool TakeApplicationPermissions(UpdateRun &run)
{
    bool taken = TakeFolderPermissions(run.folders.unpacked, run.folders.application);
    if (!taken)
        LogRun("the unpacked files will be copied: the permissions of %s could not be taken (error %lu)",
               run.folders.application, GetLastError());
    return taken;
}

// The bar moves through the unpacking stage as the unpacker reads the archive.
struct UnpackMeter {
    StatusBlock *block;
    int lastPosition;
};

static void TellUnpackProgress(void *context, unsigned done, unsigned total)
{
    UnpackMeter &meter = *static_cast<UnpackMeter *>(context);
    if (total == 0)
        return;
    int base = StageEntryOf(STAGE_EXTRACT).position;
    int span = StageEntryOf(STAGE_CONFIRM_CLOSE).position - base;
    int position = base + MulDiv(static_cast<int>(done), span, static_cast<int>(total));
    if (position > meter.lastPosition && position < base + span) {
        meter.lastPosition = position;
        SendStatus(meter.block, STATUS_PROGRESS, position);
    }
}

// An archiver library opens the archive by its path, so the download's own handle, which shares with no one,
// gives way to one that still keeps writers out; the archive is hashed again through it when it was checked.
static bool HoldForLibrary(UpdateRun &run)
{
    CloseDownloadFile(run);
    run.file = CreateFileA(run.archive, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, 0);
    if (run.file == INVALID_HANDLE_VALUE)
        return false;
    if (!run.feed.haveSha256)
        return true;
    bool read = HashDownloadFile(run, WHOLE_FILE);
    if (read && ArchiveDigestMatches(&run.archiveHash, run.feed.sha256))
        return true;
    LogRun("the archive changed after it was checked");
    FailWith(run, IDS_FAILED_VERIFY);
    return false;
}

// The Win32 error that stands for an unpacking failure of the archive itself.
static unsigned long ArchiveError(const UnpackResult &result)
{
    switch (result.cause) {
    case UNPACK_CAUSE_READ_FAILED:
        return static_cast<unsigned long>(result.code);
    case UNPACK_CAUSE_DISK_SPACE:
        return ERROR_DISK_FULL;
    case UNPACK_CAUSE_UNKNOWN_KIND:
    case UNPACK_CAUSE_NO_LIBRARY:
        return ERROR_NOT_SUPPORTED;
    default:
        return ERROR_INVALID_DATA;
    }
}

void Unpack(UpdateRun &run)
{
    EnterStage(run, STAGE_EXTRACT);
    const Unpacker *unpacker = FindUnpacker(run.archive);
    // The worker's own unpacker reads through the handle that wrote and checked the archive.
    if (unpacker && unpacker != &builtinUnpacker && !HoldForLibrary(run)) {
        if (!ShouldStop(run.block))
            Fail(run);
        CloseDownloadFile(run);
        return;
    }
    UnpackResult result = {UNPACK_FAILED, UNPACK_CAUSE_UNKNOWN_KIND, 0};
    if (unpacker) {
        const char *unpacked = run.folders.unpacked;
        if (PathExists(unpacked, false) || CreateDirectoryA(unpacked, 0)) {
            run.moveFiles = TakeApplicationPermissions(run);
            UnpackMeter meter = {run.block, StageEntryOf(STAGE_EXTRACT).position};
            UnpackJob job = {run.archive, run.file, unpacked, run.block->dialogWindow, run.silent, &run.block->state,
                             run.silent ? 0 : TellUnpackProgress, &meter};
            result = unpacker->unpack(job);
        } else {
            result.cause = UNPACK_CAUSE_NONE;
        }
    }
    CloseDownloadFile(run);
    if (result.outcome == UNPACK_CANCELLED) {
        run.block->state = STATE_ABORTED;
    } else if (result.outcome != UNPACK_DONE) {
        LogRun("unpacking failed: cause %d, code %d", result.cause, result.code);
        // A write names its own file; any other cause is the archive's (the line above says more).
        if (result.cause != UNPACK_CAUSE_WRITE_FAILED)
            NoteFailure(ArchiveError(result), run.archive);
        if (!ShouldStop(run.block))
            Fail(run);
    } else if (CountFiles(run.folders.unpacked) == 0) {
        // An unpacker that reports success but unpacked nothing has not unpacked the update.
        Fail(run);
    }
}
