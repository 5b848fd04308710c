// The archive: downloaded and checked while it arrives, then unpacked, all before the user is disturbed.
#include "update_run.h"
#include "../archive/archive_name.h"
#include "../archive/unpacker.h"
#include "../files/folder_security.h"
#include "../files/tree_placement.h"
#include "../run/run_log.h"
#include "../run/worker_command_line.h"
#include "../run/worker_resources.h"
#include "../verify/archive_digest.h"
#include "../../common/heap.h"
#include "../../common/path_compose.h"
#include "../../common/path_exists.h"
#include "../../common/text.h"

// Two of the largest reads: a checked archive is hashed up to two reads behind its download.
static const unsigned ARCHIVE_BUFFER_CAP = 2 * 4 * 409600;
// An archive whose size the information file does not promise may not grow past this.
static const unsigned long long ARCHIVE_LIMIT = 2ull << 30;

// APP_SIZE and APP_SHA256 are checked whenever given; a signed update must give both.
static bool ArchiveValuesGood(UpdateRun &run)
{
    const UpdateFeed &feed = run.feed;
    bool good = (!feed.haveSize || feed.sizeValid) && (!feed.haveSha256 || feed.sha256Valid) &&
                (run.keys.count == 0 || (feed.haveSize && feed.haveSha256));
    if (!good)
        FailWith(run, IDS_FAILED_VERIFY);
    return good;
}

// The archive's name comes from the network: only a plain file name that fits the work folder is used. When
// the length is known, a drive without room for it fails before a byte is written.
static bool NameArchiveFile(UpdateRun &run)
{
    char name[MAX_PATH];
    bool named = ArchiveFileName(run.feed.archiveUrl, name, sizeof name) && IsPlainFileName(name);
    // A server may name the archive after the work folder's own files, the journal above all.
    if (named && IsWorkFolderName(name)) {
        LogRun("the archive's name %s is the work folder's own; stored as %s", name, FALLBACK_ARCHIVE_NAME);
        CopyText(name, sizeof name, FALLBACK_ARCHIVE_NAME);
    }
    return named && ComposePath(run.archive, run.folders.work, name);
}

static bool BeginArchive(void *context, const FetchResponse &response)
{
    UpdateRun &run = *static_cast<UpdateRun *>(context);
    EnterStage(run, STAGE_CREATE_ARCHIVE_FILE);
    if (!NameArchiveFile(run)) {
        Fail(run);
        return false;
    }
    unsigned long long needed = run.feed.haveSize ? run.feed.size : response.announced;
    ULARGE_INTEGER available;
    if (needed && GetDiskFreeSpaceExA(run.folders.work, &available, 0, 0) && available.QuadPart < needed) {
        FailWith(run, IDS_FAILED_DISK_SPACE);
        return false;
    }
    if (!CreateDownloadFile(run, run.archive) || ShouldStop(run.block))
        return false;
    EnterStage(run, STAGE_ALLOC_ARCHIVE_BUFFER);
    if (ShouldStop(run.block))
        return false;
    EnterStage(run, STAGE_DOWNLOAD_ARCHIVE);
    StartDownloadMeter(StageEntryOf(STAGE_DOWNLOAD_ARCHIVE).position, 26);
    return true;
}

static bool WriteArchive(void *context, const char *data, unsigned size)
{
    return WriteDownloadFile(*static_cast<UpdateRun *>(context), data, size);
}

static void HashArchive(void *context, const char *data, unsigned size)
{
    Sha256Update(&static_cast<UpdateRun *>(context)->archiveHash, data, size);
}

// The apply step takes the archive that the run which started it downloaded only when it is the one that the
// information file, read and verified by the step itself, names: copied into the step's own folder and hashed
// as it is copied, then held like a download. Anything else, and the step downloads the archive itself.
static bool AdoptStagedArchive(UpdateRun &run)
{
    const UpdateFeed &feed = run.feed;
    if (!run.applyStep || !feed.haveSize || !feed.haveSha256 || !NameArchiveFile(run))
        return false;
    HANDLE source = CreateFileA(workerArgs.stagedArchive, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, 0);
    const DWORD BLOCK = 256 * 1024;
    char *block = static_cast<char *>(AllocateBytes(BLOCK));
    run.file = CreateFileA(run.archive, GENERIC_READ | GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN, 0);
    bool copied = source != INVALID_HANDLE_VALUE && block && run.file != INVALID_HANDLE_VALUE;
    unsigned long long total = 0;
    DWORD got = 0;
    Sha256Init(&run.archiveHash);
    while (copied && (copied = ReadFile(source, block, BLOCK, &got, 0) != 0) && got) {
        total += got;
        copied = total <= feed.size && WriteDownloadFile(run, block, got);
        Sha256Update(&run.archiveHash, block, got);
    }
    copied = copied && total == feed.size && ArchiveDigestMatches(&run.archiveHash, feed.sha256);
    FreeBytes(block);
    if (source != INVALID_HANDLE_VALUE)
        CloseHandle(source);
    LogRun(copied ? "the archive of the run that started this step is the one named: %s"
                  : "the archive of the run that started this step is not the one named, or unreadable: %s",
           workerArgs.stagedArchive);
    if (!copied) {
        CloseDownloadFile(run);
        DeleteFileA(run.archive);
        return false;
    }
    EnterStage(run, STAGE_CREATE_ARCHIVE_FILE);
    EnterStage(run, STAGE_ALLOC_ARCHIVE_BUFFER);
    EnterStage(run, STAGE_DOWNLOAD_ARCHIVE);
    return true;
}

// The archive is checked while it arrives: never longer than promised, and its digest compared at the end,
// before any unpacker sees it. An archive that is not complete and right is deleted.
void FetchArchive(UpdateRun &run)
{
    EnterStage(run, STAGE_OPEN_ARCHIVE);
    const UpdateFeed &feed = run.feed;
    if (!ArchiveValuesGood(run))
        return;
    LogRun("archive size %s, sha256 %s%s", feed.haveSize ? "given" : "not given", feed.haveSha256 ? "given" : "not given",
           run.keys.count ? ", feed signature verified" : "");
    if (!feed.archiveUrl[0]) {
        Fail(run);
        return;
    }
    LogRun("archive %s", feed.archiveUrl);
    if (AdoptStagedArchive(run))
        return;
    Sha256Init(&run.archiveHash);
    DownloadSink sink = {&run, BeginArchive, WriteArchive, feed.haveSha256 ? HashArchive : 0, DownloadMeterOf(run)};
    FetchStart whole = {0, 0};
    FetchLimits limits = {feed.haveSize ? feed.size : ARCHIVE_LIMIT, feed.haveSize, ARCHIVE_BUFFER_CAP, false};
    FetchOutcome outcome = FetchUrl(&run.session, feed.archiveUrl, whole, limits, &sink, &run.block->state);
    StopDownloadMeter();
    bool intact = outcome == FETCH_COMPLETE;
    if (outcome == FETCH_TOO_LONG && feed.haveSize)
        FailWith(run, IDS_FAILED_VERIFY);
    if (intact && feed.haveSha256 && !ArchiveDigestMatches(&run.archiveHash, feed.sha256)) {
        intact = false;
        FailWith(run, IDS_FAILED_VERIFY);
    }
    if (!intact && !ShouldStop(run.block))
        Fail(run);
    if (!intact && run.file != INVALID_HANDLE_VALUE) {
        CloseDownloadFile(run);
        DeleteFileA(run.archive);
    }
}

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
    Sha256Init(&run.archiveHash);
    const DWORD BLOCK = 256 * 1024;
    char *block = static_cast<char *>(AllocateBytes(BLOCK));
    DWORD got = 0;
    bool read = block != 0;
    while (read && ReadFile(run.file, block, BLOCK, &got, 0) && got)
        Sha256Update(&run.archiveHash, block, got);
    read = read && got == 0;
    FreeBytes(block);
    if (read && ArchiveDigestMatches(&run.archiveHash, run.feed.sha256))
        return true;
    LogRun("the archive changed after it was checked");
    FailWith(run, IDS_FAILED_VERIFY);
    return false;
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
        if (!ShouldStop(run.block))
            Fail(run);
    } else if (CountFiles(run.folders.unpacked) == 0) {
        // An unpacker that reports success but unpacked nothing has not unpacked the update.
        Fail(run);
    }
}
