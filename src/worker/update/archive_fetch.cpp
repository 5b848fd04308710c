// The archive: downloaded and checked while it arrives, before the user is disturbed.
//
// When the information file gives the archive's SHA-256 and size, its bytes go to the application's archive
// cache rather than the work folder. A download cut short is then resumed at the next run, asking only for
// the rest, and only while the server's file is still the one begun (If-Range); an archive whose update did
// not happen (the box declined, a file in use, rights not allowed) is used again without a request. Whatever
// is kept is only a guess until its SHA-256 says otherwise: an archive is always hashed whole before use, and
// kept bytes that do not make the right archive are discarded and the archive downloaded whole once more.
#include "update_run.h"
#include "../archive/archive_name.h"
#include "../run/run_log.h"
#include "../run/worker_command_line.h"
#include "../run/worker_resources.h"
#include "../verify/archive_digest.h"
#include "../../common/heap.h"
#include "../../common/multibyte_path.h"
#include "../../common/path_compose.h"
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

// The archive's name comes from the network: only a plain file name is used, and never one of the work
// folder's own (a server may name the archive after the journal).
static bool NameArchive(UpdateRun &run, char name[MAX_PATH])
{
    bool named = ArchiveFileName(run.feed.archiveUrl, name, MAX_PATH) && IsPlainFileName(name);
    if (named && IsWorkFolderName(name)) {
        LogRun("the archive's name %s is the work folder's own; stored as %s", name, FALLBACK_ARCHIVE_NAME);
        CopyText(name, MAX_PATH, FALLBACK_ARCHIVE_NAME);
    }
    return named;
}

// A second try of the download passes the stages that the first one opened.
static void EnterArchiveStage(UpdateRun &run, UpdateStage stage)
{
    if (run.block->result == stage)
        EnterStage(run, stage);
}

// One try of the download: from the start, or after the `kept` bytes already in the cache.
struct ArchiveTry {
    UpdateRun *run;
    unsigned long long kept;
    bool appended; // the server sent the rest, which went after the kept bytes
};

static bool FileLength(HANDLE file, unsigned long long *length)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size))
        return false;
    *length = static_cast<unsigned long long>(size.QuadPart);
    return true;
}

// The kept bytes are hashed first, so that the hash of the rest as it arrives is the whole archive's.
static bool OpenArchiveFile(ArchiveTry &attempt)
{
    UpdateRun &run = *attempt.run;
    run.file = CreateFileA(run.archive, GENERIC_READ | GENERIC_WRITE, 0, 0, attempt.appended ? OPEN_EXISTING : CREATE_ALWAYS,
                           FILE_ATTRIBUTE_HIDDEN, 0);
    unsigned long long length = 0;
    if (run.file != INVALID_HANDLE_VALUE && !attempt.appended)
        Sha256Init(&run.archiveHash);
    return run.file != INVALID_HANDLE_VALUE &&
           (!attempt.appended || (FileLength(run.file, &length) && length == attempt.kept &&
                                  HashDownloadFile(run, attempt.kept)));
}

// A part is appended only where it continues the kept bytes and ends where the whole archive does; a whole
// body starts the file again. When the length is known, a drive without room for it fails before a byte is
// written.
static bool BeginArchive(void *context, const FetchResponse &response)
{
    ArchiveTry &attempt = *static_cast<ArchiveTry *>(context);
    UpdateRun &run = *attempt.run;
    EnterArchiveStage(run, STAGE_CREATE_ARCHIVE_FILE);
    const UpdateFeed &feed = run.feed;
    attempt.appended = attempt.kept && response.tail && response.rangeFirst == attempt.kept &&
                       response.rangeTotal == feed.size;
    if (attempt.kept && !attempt.appended && response.status != 200) {
        LogRun("the answer to the resumed request (status %u) does not continue the kept bytes", response.status);
        return false;
    }
    if (attempt.kept)
        LogRun(attempt.appended ? "resuming after %lu kept bytes" : "the server sent the whole archive again (of %lu kept)",
               static_cast<unsigned long>(attempt.kept));
    unsigned long long needed = feed.haveSize ? feed.size - (attempt.appended ? attempt.kept : 0) : response.announced;
    char folder[MAX_PATH];
    const char *separator = FindLastSeparator(run.archive);
    ULARGE_INTEGER available;
    if (separator && CopyText(folder, MAX_PATH, run.archive)) {
        folder[separator - run.archive + 1] = 0;
        if (needed && GetDiskFreeSpaceExA(folder, &available, 0, 0) && available.QuadPart < needed) {
            FailWith(run, IDS_FAILED_DISK_SPACE);
            return false;
        }
    }
    if (!OpenArchiveFile(attempt)) {
        CloseDownloadFile(run);
        Fail(run);
        return false;
    }
    // The record tells the next run what it may resume, and from which file on the server.
    if (run.cached && !attempt.appended) {
        CacheRecord record = {};
        record.size = feed.size;
        if (!CopyText(record.url, sizeof record.url, feed.archiveUrl) ||
            !CopyText(record.validator, sizeof record.validator, response.validator) || !WriteArchiveRecord(run.cache, record))
            DeleteFileA(run.cache.record);
    }
    if (ShouldStop(run.block))
        return false;
    EnterArchiveStage(run, STAGE_ALLOC_ARCHIVE_BUFFER);
    if (ShouldStop(run.block))
        return false;
    EnterArchiveStage(run, STAGE_DOWNLOAD_ARCHIVE);
    StartDownloadMeter(StageEntryOf(STAGE_DOWNLOAD_ARCHIVE).position, 26);
    return true;
}

static bool WriteArchive(void *context, const char *data, unsigned size)
{
    return WriteDownloadFile(*static_cast<ArchiveTry *>(context)->run, data, size);
}

static void HashArchive(void *context, const char *data, unsigned size)
{
    Sha256Update(&static_cast<ArchiveTry *>(context)->run->archiveHash, data, size);
}

static FetchOutcome DownloadArchive(UpdateRun &run, ArchiveTry &attempt, const char *validator)
{
    const UpdateFeed &feed = run.feed;
    DownloadSink sink = {&attempt, BeginArchive, WriteArchive, feed.haveSha256 ? HashArchive : 0, DownloadMeterOf(run)};
    FetchStart start = {attempt.kept, validator};
    // A resumed request may be answered with the rest or with the whole archive: its length is checked after.
    FetchLimits limits = {feed.haveSize ? feed.size : ARCHIVE_LIMIT, feed.haveSize && !attempt.kept, ARCHIVE_BUFFER_CAP,
                          false};
    FetchOutcome outcome = FetchUrl(&run.session, feed.archiveUrl, start, limits, &sink, &run.block->state);
    StopDownloadMeter();
    return outcome;
}

// The downloaded archive is the promised one: its length, when a part was appended, and its digest.
static bool ArchiveIntact(UpdateRun &run, const ArchiveTry &attempt)
{
    unsigned long long length = 0;
    return (!attempt.appended || (FileLength(run.file, &length) && length == run.feed.size)) &&
           (!run.feed.haveSha256 || ArchiveDigestMatches(&run.archiveHash, run.feed.sha256));
}

// A whole archive kept from an earlier run is used when its SHA-256 is still the one named, held from its hash
// on like a download.
static bool ReuseCachedArchive(UpdateRun &run)
{
    run.file = CreateFileA(run.archive, GENERIC_READ | GENERIC_WRITE, 0, 0, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, 0);
    unsigned long long length = 0;
    if (run.file == INVALID_HANDLE_VALUE || !FileLength(run.file, &length) || length != run.feed.size) {
        CloseDownloadFile(run);
        return false;
    }
    if (!HashDownloadFile(run, WHOLE_FILE) || !ArchiveDigestMatches(&run.archiveHash, run.feed.sha256)) {
        LogRun("the kept archive is not the one named; discarded");
        CloseDownloadFile(run);
        DeleteFileA(run.archive);
        return false;
    }
    LogRun("the archive kept from an earlier run is the one named: nothing to download");
    EnterStage(run, STAGE_CREATE_ARCHIVE_FILE);
    EnterStage(run, STAGE_ALLOC_ARCHIVE_BUFFER);
    EnterStage(run, STAGE_DOWNLOAD_ARCHIVE);
    return true;
}

// The bytes kept from a download cut short, when the record says they are of this archive at this URL.
static unsigned long long KeptBytes(UpdateRun &run, CacheRecord *record)
{
    HANDLE kept = CreateFileA(run.archive, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    unsigned long long length = 0;
    if (kept == INVALID_HANDLE_VALUE)
        return 0;
    bool measured = FileLength(kept, &length);
    CloseHandle(kept);
    if (measured && length && length < run.feed.size && ReadArchiveRecord(run.cache, record) &&
        record->size == run.feed.size && TextEquals(record->url, run.feed.archiveUrl))
        return length;
    LogRun("%lu bytes kept, not resumable: no record of them for this URL", static_cast<unsigned long>(length));
    return 0;
}

// The apply step takes the archive that the run which started it downloaded only when it is the one that the
// information file, read and verified by the step itself, names: copied into the step's own folder and hashed
// as it is copied, then held like a download. Anything else, and the step downloads the archive itself.
static bool AdoptStagedArchive(UpdateRun &run)
{
    const UpdateFeed &feed = run.feed;
    if (!run.applyStep || !feed.haveSize || !feed.haveSha256 || !workerArgs.stagedArchive[0])
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

// Where the archive goes: the cache when its digest and size are given (never for the apply step, whose
// archive is the run's that started it), the work folder otherwise. "" when it has no usable name.
static void PlaceArchive(UpdateRun &run)
{
    const UpdateFeed &feed = run.feed;
    char name[MAX_PATH];
    run.archive[0] = 0;
    if (!NameArchive(run, name))
        return;
    char identity[IDENTITY_BYTES];
    ComposeWorkerIdentity(identity);
    run.cached = !run.applyStep && feed.haveSha256 && feed.sha256Valid && feed.haveSize && feed.sizeValid &&
                 OpenArchiveCache(&run.cache, identity, feed.sha256, name, feed.size);
    if (run.cached) {
        CopyText(run.archive, MAX_PATH, run.cache.archive);
        LogRun("the archive goes to the cache %s", run.cache.folder);
    } else if (!ComposePath(run.archive, run.folders.work, name))
        run.archive[0] = 0;
}

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
    PlaceArchive(run);
    if (!run.archive[0]) {
        // As before: the name is refused where the file would be made.
        EnterStage(run, STAGE_CREATE_ARCHIVE_FILE);
        Fail(run);
        return;
    }
    if (AdoptStagedArchive(run) || (run.cached && ReuseCachedArchive(run)))
        return;
    CacheRecord record = {};
    ArchiveTry attempt = {&run, run.cached ? KeptBytes(run, &record) : 0, false};
    FetchOutcome outcome = DownloadArchive(run, attempt, record.validator);
    bool intact = outcome == FETCH_COMPLETE && ArchiveIntact(run, attempt);
    // Kept bytes that lead to no archive are discarded, and the archive downloaded whole once more.
    if (attempt.kept && !intact && !ShouldStop(run.block) && outcome != FETCH_FAILED) {
        LogRun("the kept bytes did not make the archive; downloading it whole");
        CloseDownloadFile(run);
        DeleteFileA(run.archive);
        ArchiveTry whole = {&run, 0, false};
        outcome = DownloadArchive(run, whole, 0);
        intact = outcome == FETCH_COMPLETE && ArchiveIntact(run, whole);
        attempt = whole;
    }
    if (outcome == FETCH_TOO_LONG && feed.haveSize)
        FailWith(run, IDS_FAILED_VERIFY);
    else if (outcome == FETCH_COMPLETE && !intact)
        FailWith(run, IDS_FAILED_VERIFY);
    if (!intact && !ShouldStop(run.block))
        Fail(run);
    // A download cut short keeps its bytes in the cache for the next run; anything else that failed goes.
    if (!intact && run.file != INVALID_HANDLE_VALUE) {
        CloseDownloadFile(run);
        if (!run.cached || (outcome != FETCH_FAILED && outcome != FETCH_STOPPED))
            DeleteFileA(run.archive);
    }
}
