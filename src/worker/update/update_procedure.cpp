// The update procedure.
//
// Each pass of the loop runs the stage that the block's counter names; AdvanceStage opens a stage and moves
// the counter on, so a stage that fails only has to set STATE_FAILED. After every stage the stop test runs;
// the run ends at the first stage that left the running state or at a confirmed abort. Whatever ends it,
// the wind-down releases the handles, the output file and the transfer buffer.
//
// Work folder: the folder of the worker's own executable followed by "Work\". It holds the stored
// information file "Kovrel.ini", the archive, Src\ (extraction) and Bup\ (backup of replaced files).
#include "update_procedure.h"
#include "archive_name.h"
#include "download_progress.h"
#include "http_download.h"
#include "update_info.h"
#include "version_compare.h"
#include "../archive/archiver_binding.h"
#include "../files/folder_security.h"
#include "../files/replace_check.h"
#include "../files/replace_journal.h"
#include "../files/tree_copy.h"
#include "../verify/archive_expectation.h"
#include "../verify/launcher_keys.h"
#include "../verify/stored_feed.h"
#include "../run/worker_command_line.h"
#include "../run/module_instance.h"
#include "../run/worker_message.h"
#include "../run/worker_settings.h"
#include "../run/run_log.h"
#include "../run/work_folder.h"
#include "../run/worker_resources.h"
#include "../../common/formatted_message.h"
#include "../../common/heap.h"
#include "../../common/multibyte_path.h"
#include "../../common/path_exists.h"
#include "../../common/text.h"
#include "../../common/tree_removal.h"
#include "../../common/work_layout.h"

static const unsigned INFO_BUFFER_CAP = 4096;
// Two of the largest reads: a hashed archive is hashed up to two reads behind its download. Larger buffers
// were measured slower, as they no longer stay in the processor's cache.
static const unsigned ARCHIVE_BUFFER_CAP = 2 * 4 * 409600;
// How long a silent run waits for the application's files to be free before it gives up.
static const DWORD IN_USE_WAIT_MS = 30000;
// An archive whose size the information file does not promise may not grow past this.
static const unsigned long long ARCHIVE_LIMIT = 2ull << 30;

struct UpdateRun {
    StatusBlock *block;
    bool silent;
    HINTERNET internet;
    NetworkThread *network; // makes the blocking network calls; started by the first
    HINTERNET request;
    HANDLE file;
    char *transfer;
    unsigned transferSize;
    char filePath[MAX_PATH];
    char workPath[MAX_PATH];
    char extractPath[MAX_PATH];
    PublisherKeys keys;
    ArchiveExpectation expected;
    Sha256 archiveHash;
    bool moveFiles; // the unpacked files carry the application folder's permissions: they may be moved
};

// The download's progress record is read by the platform's notifications, which may still arrive from a
// reader left behind in the network after the run has ended; so it lives as long as the process.
static ProgressRecord downloadRecord;

static void Fail(UpdateRun &run)
{
    run.block->state = STATE_FAILED;
}

// A failure whose words say more than its stage's message would.
static void FailWith(UpdateRun &run, unsigned short message)
{
    run.block->state = STATE_FAILED;
    run.block->failureMessage = message;
}

static void CloseRequest(UpdateRun &run)
{
    if (run.request)
        CloseUrl(&run.network, run.request);
    run.request = 0;
}

static void CloseOutputFile(UpdateRun &run)
{
    if (run.file != INVALID_HANDLE_VALUE)
        CloseHandle(run.file);
    run.file = INVALID_HANDLE_VALUE;
}

static void FreeTransfer(UpdateRun &run)
{
    FreeBytes(run.transfer);
    run.transfer = 0;
}

static bool ComposeInWork(UpdateRun &run, char *buffer, const char *name)
{
    return CopyText(buffer, MAX_PATH, run.workPath) && AppendText(buffer, MAX_PATH, name);
}

static ProgressRecord *RequestContext(UpdateRun &run)
{
    return run.silent ? 0 : &downloadRecord;
}

static void OpenRequest(UpdateRun &run, const char *url)
{
    downloadRecord.block = run.block;
    downloadRecord.counter = DOWNLOAD_TAG;
    downloadRecord.span = 0;
    run.request = url && url[0] ? OpenUrl(&run.network, run.internet, url, RequestContext(run), run.block) : 0;
    if (!run.request && run.block->state == STATE_RUNNING)
        Fail(run);
}

static void AllocateStageBuffer(UpdateRun &run, int position, unsigned cap, bool fromReady)
{
    AdvanceStage(run.block, position, 0);
    FreeTransfer(run);
    if (!run.request || !AllocateTransferBuffer(run.request, cap, fromReady, &run.transfer, &run.transferSize))
        Fail(run);
}

static void CreateStageFile(UpdateRun &run)
{
    run.file = CreateOutputFile(run.filePath);
    if (run.file == INVALID_HANDLE_VALUE)
        Fail(run);
}

static DownloadOutcome Download(UpdateRun &run, short base, short span, const DownloadRules &rules)
{
    AdvanceStage(run.block, base, 0);
    downloadRecord.base = base;
    downloadRecord.span = span;
    return DownloadToFile(&run.network, run.request, run.file, &run.transfer, run.transferSize, &rules,
                          &downloadRecord, run.block);
}

static void DownloadInfo(UpdateRun &run)
{
    DownloadRules rules = {INFO_FILE_LIMIT, false, 0};
    Download(run, 16, 8, rules);
}

// The archive is checked while it arrives: never longer than promised, and its digest compared at the end,
// before the archiver sees it. An archive that is not complete and right is deleted.
static void DownloadArchive(UpdateRun &run)
{
    const ArchiveExpectation &expected = run.expected;
    Sha256Init(&run.archiveHash);
    DownloadRules rules = {expected.haveSize ? expected.size : ARCHIVE_LIMIT, expected.haveSize,
                           expected.haveHash ? &run.archiveHash : 0};
    DownloadOutcome outcome = Download(run, 38, 26, rules);
    bool intact = outcome == DOWNLOAD_COMPLETE;
    if (outcome == DOWNLOAD_TOO_LONG && expected.haveSize)
        FailWith(run, IDS_FAILED_VERIFY);
    if (intact && expected.haveHash) {
        unsigned char digest[32];
        Sha256Final(&run.archiveHash, digest);
        for (unsigned i = 0; i < sizeof digest; i++)
            if (digest[i] != expected.sha256[i])
                intact = false;
        if (!intact)
            FailWith(run, IDS_FAILED_VERIFY);
    }
    if (!intact) {
        CloseOutputFile(run);
        DeleteFileA(run.filePath);
    }
}

// A replacement that a crash, a kill or a power cut interrupted is undone first, before anything of the
// network is touched, so the application is whole again whatever else fails. One that cannot be completely
// undone ends the run: no update may go over a mixed application, and the journal stays for the next start.
static bool UndoInterruptedUpdate(UpdateRun &run)
{
    char journal[MAX_PATH];
    if (!ComposeWorkPath(journal, JOURNAL_FILE_NAME))
        return true;
    unsigned restored = 0;
    UndoOutcome outcome = UndoJournal(journal, &restored);
    if (outcome != UNDO_NOTHING)
        LogRun("interrupted update undone: %u files put back or removed%s", restored,
               outcome == UNDO_INCOMPLETE ? ", some left for the next start" : "");
    if (outcome == UNDO_INCOMPLETE) {
        FailWith(run, IDS_FAILED_RESTORE);
        return false;
    }
    if (outcome == UNDO_COMPLETE)
        ShowResourceMessage(run.block->dialogWindow, IDS_INTERRUPTED_UPDATE_UNDONE, IDS_WORKER_CAPTION,
                            MB_OK | MB_ICONINFORMATION, false);
    return true;
}

static void PrepareWorkFolder(UpdateRun &run)
{
    AdvanceStage(run.block, 12, IDS_STATUS_INITIALISING);
    if (!ComposeWorkPath(run.workPath, "")) {
        Fail(run);
        return;
    }
    // A journal here belongs to a replacement that is still to be undone (the worker's start undoes it
    // first): its backup must not be deleted. Leftovers that cannot be removed would be installed with the
    // update, so they fail the run.
    char journal[MAX_PATH];
    if (!ComposeInWork(run, journal, JOURNAL_FILE_NAME) || PathExists(journal, true))
        Fail(run);
    else if (PathExists(run.workPath, false) ? !RemoveTree(run.workPath, false) : !CreateDirectoryA(run.workPath, 0))
        Fail(run);
}

// With a publisher key in the launcher, nothing of the file is used before its signature is verified; an
// unreadable launcher counts as one with a key, so that a failure never falls back to unsigned.
static bool VerifyInfo(UpdateRun &run)
{
    if (LoadPublisherKeys(workerArgs.launcherPath, &run.keys) &&
        (run.keys.count == 0 || VerifyStoredFeed(run.filePath, &run.keys)))
        return true;
    FailWith(run, IDS_FAILED_VERIFY);
    return false;
}

static void CheckInfo(UpdateRun &run)
{
    AdvanceStage(run.block, 24, IDS_STATUS_CHECKING_INFO);
    CloseRequest(run);
    CloseOutputFile(run);
    if (!VerifyInfo(run))
        return;
    if (!ReadUpdateInfoValue(run.filePath, workerArgs.infoSection, "APP_VER", run.transfer, run.transferSize)) {
        Fail(run);
        return;
    }
    LogRun("announced version %s", run.transfer);
    if (CompareVersions(workerArgs.installedVersion, run.transfer) >= 0)
        run.block->result = RESULT_UP_TO_DATE;
}

// APP_SIZE and APP_SHA256 are checked whenever given; a signed update must give both.
static bool ReadArchiveExpectation(UpdateRun &run)
{
    ArchiveExpectation &expected = run.expected;
    const char *section = workerArgs.infoSection;
    expected.haveSize = ReadUpdateInfoValue(run.filePath, section, "APP_SIZE", run.transfer, run.transferSize) != 0;
    bool good = !expected.haveSize || ParseArchiveSize(run.transfer, &expected.size);
    expected.haveHash = ReadUpdateInfoValue(run.filePath, section, "APP_SHA256", run.transfer, run.transferSize) != 0;
    good = good && (!expected.haveHash || ParseSha256Text(run.transfer, expected.sha256));
    if (run.keys.count && !(expected.haveSize && expected.haveHash))
        good = false;
    if (!good)
        FailWith(run, IDS_FAILED_VERIFY);
    return good;
}

static void OpenArchive(UpdateRun &run)
{
    AdvanceStage(run.block, 28, 0);
    if (!ReadArchiveExpectation(run))
        return;
    LogRun("archive size %s, sha256 %s%s", run.expected.haveSize ? "given" : "not given",
           run.expected.haveHash ? "given" : "not given", run.keys.count ? ", feed signature verified" : "");
    if (!ReadUpdateInfoValue(run.filePath, workerArgs.infoSection, "APP_URL", run.transfer, run.transferSize)) {
        Fail(run);
        return;
    }
    LogRun("archive %s", run.transfer);
    OpenRequest(run, run.transfer);
}

// The archive's name comes from the network: only a plain file name that fits the work folder is used.
static void CreateArchiveFile(UpdateRun &run)
{
    AdvanceStage(run.block, 32, 0);
    char name[MAX_PATH];
    if (!ArchiveFileName(run.transfer, name, sizeof name) || !IsPlainFileName(name) ||
        !ComposeInWork(run, run.filePath, name)) {
        Fail(run);
        return;
    }
    // When the length is known, a drive without room for it fails before a byte is written.
    unsigned long long needed = run.expected.haveSize ? run.expected.size : AnnouncedLength(run.request);
    ULARGE_INTEGER available;
    if (needed && GetDiskFreeSpaceExA(run.workPath, &available, 0, 0) && available.QuadPart < needed) {
        FailWith(run, IDS_FAILED_DISK_SPACE);
        return;
    }
    CreateStageFile(run);
}

static void ConfirmClose(UpdateRun &run)
{
    AdvanceStage(run.block, 70, IDS_STATUS_WAITING_FOR_APP);
    // Shown in silent mode too: this box is the whole wait for the application to close.
    if (ShowResourceMessage(run.block->dialogWindow, IDS_CONFIRM_CLOSE_APP, IDS_WORKER_CAPTION,
                            MB_OKCANCEL | MB_ICONINFORMATION, false) != IDOK)
        run.block->state = STATE_ABORTED;
}

// Cuts an application path after its last separator, in place: what is left is the application folder.
static void CutToFolder(char *path)
{
    const char *separator = FindLastSeparator(path);
    if (separator)
        path[separator - path + 1] = 0;
}

// The unpacked folder takes the application folder's permissions, so that its files can later be moved into
// place rather than copied.
static bool TakeApplicationPermissions(UpdateRun &run)
{
    char folder[MAX_PATH];
    if (!CopyText(folder, sizeof folder, workerArgs.appPath))
        return false;
    CutToFolder(folder);
    bool taken = TakeFolderPermissions(run.extractPath, folder);
    if (!taken)
        LogRun("the unpacked files will be copied: the permissions of %s could not be taken (error %lu)", folder,
               GetLastError());
    return taken;
}

static void Extract(UpdateRun &run)
{
    AdvanceStage(run.block, 66, IDS_STATUS_EXTRACTING);
    // Nothing of the network stays open while the user is asked to close the application.
    CloseOutputFile(run);
    CloseRequest(run);
    ArchiverBinding binding;
    binding.Reset();
    int extracted = -1;
    if (binding.SelectByExtension(run.filePath)) {
        bool ready = ComposeInWork(run, run.extractPath, "Src\\") &&
                     (PathExists(run.extractPath, false) || CreateDirectoryA(run.extractPath, 0));
        run.moveFiles = ready && TakeApplicationPermissions(run);
        // A stop while the archiver is busy ends the run as failed, without a question.
        if (ready && WaitForArchiverIdle(binding, run.block))
            extracted = binding.Extract(run.block->dialogWindow, run.filePath, run.extractPath, run.silent);
        binding.Unbind();
    }
    if (extracted != 0)
        run.block->state = extracted == ARCHIVER_CANCELLED ? STATE_ABORTED : STATE_FAILED;
    // An archiver that reports success but unpacked nothing has not unpacked the update.
    else if (CountFiles(run.extractPath) == 0)
        Fail(run);
}

// Every file to be replaced must be free before the first one is touched. A file still in use is named and
// the user asked to close it (OK checks again, Cancel ends the run); a silent run waits for it a while. A
// folder this user may not write fails at once: running as administrator is the remedy.
static bool WaitUntilReplaceable(UpdateRun &run, const ReplacePlan &plan)
{
    char blocked[MAX_PATH];
    DWORD started = GetTickCount();
    for (;;) {
        ReplaceCheck check = CheckReplaceable(plan, blocked);
        if (check == REPLACE_READY)
            return true;
        if (check == REPLACE_NO_PERMISSION) {
            FailWith(run, IDS_FAILED_NO_PERMISSION);
            return false;
        }
        if (run.silent) {
            if (GetTickCount() - started >= IN_USE_WAIT_MS) {
                FailWith(run, IDS_FAILED_FILES_IN_USE);
                return false;
            }
            Sleep(1000);
        } else if (ShowFormattedMessage(moduleInstance, run.block->dialogWindow, IDS_FILE_IN_USE, IDS_WORKER_CAPTION,
                                        blocked, MB_OKCANCEL | MB_ICONEXCLAMATION) != IDOK) {
            run.block->state = STATE_ABORTED;
            return false;
        }
    }
}

// Replaces the application's files. With a backup, a journal in the work folder records every change
// before the first one is made; a replacement that fails is undone from it at once, and one cut short by a
// crash is undone at the worker's next start. The undo cannot be stopped: stopping it half-way would leave
// the application mixed, and one that cannot put everything back leaves the journal for the next start.
static void ReplaceFiles(UpdateRun &run)
{
    AdvanceStage(run.block, 72, IDS_STATUS_UPDATING);
    char journalPath[MAX_PATH];
    ReplaceJournal journal = {INVALID_HANDLE_VALUE};
    CutToFolder(workerArgs.appPath);
    bool haveBackup = (workerSettings.options & OPT_BACKUP) != 0;
    ReplacePlan plan;
    // The plan checks every path before the first file is touched, so a tree that cannot be placed leaves
    // the application as it was.
    if (!ComposeInWork(run, journalPath, JOURNAL_FILE_NAME) ||
        !(haveBackup ? ComposeInWork(run, run.filePath, "Bup\\") : CopyText(run.filePath, MAX_PATH, "")) ||
        !plan.Make(run.extractPath, workerArgs.appPath, run.filePath)) {
        Fail(run);
        return;
    }
    if (!WaitUntilReplaceable(run, plan)) {
        plan.Free();
        return;
    }
    ProgressRecord record = {run.block, 0, plan.files, 72, 28};
    bool ready = !haveBackup || (BeginJournal(&journal, journalPath, workerArgs.appPath, run.filePath) &&
                                 WriteJournalRecords(&journal, plan.records, plan.length));
    bool copied = ready && plan.Apply(run.moveFiles, CopyProgressCallback, &record);
    LogRun("%u of %u files placed in %s (%s)", record.counter, record.total, workerArgs.appPath,
           run.moveFiles ? "moved where the drive allows" : "copied");
    plan.Free();
    if (copied && haveBackup && !CommitJournal(&journal, journalPath))
        copied = false; // the files are new, but the journal that says so could not be closed: undo them
    if (!copied) {
        bool stopped = run.block->state != STATE_RUNNING;
        run.block->state = stopped ? STATE_ABORTED : STATE_FAILED;
        CloseJournal(&journal);
        unsigned restored = 0;
        UndoOutcome undo = haveBackup ? UndoJournal(journalPath, &restored) : UNDO_NOTHING;
        LogRun("replacement undone: %u files put back or removed%s", restored,
               undo == UNDO_INCOMPLETE ? ", some left for the next start" : "");
        if (undo == UNDO_INCOMPLETE)
            FailWith(run, IDS_FAILED_RESTORE);
    }
}

static void Finish(UpdateRun &run, short finalResult)
{
    run.block->result = finalResult;
    SendStatus(run.block, STATUS_PROGRESS, 100);
    run.block->state = STATE_DONE;
}

static void RunStage(UpdateRun &run)
{
    StatusBlock *block = run.block;
    switch (block->result) {
    case STAGE_CONNECT:
        AdvanceStage(block, 0, IDS_STATUS_CONNECTING);
        if (!UndoInterruptedUpdate(run))
            break;
        // The application folder is the path up to its last separator: a path without one names no folder,
        // and its files would land wherever the current folder happens to be.
        if (!FindLastSeparator(workerArgs.appPath)) {
            FailWith(run, IDS_WORKER_INIT_FAILED);
            break;
        }
        run.internet = OpenInternet();
        if (!run.internet)
            Fail(run);
        else if (!run.silent)
            InternetSetStatusCallback(run.internet, DownloadStatusCallback);
        break;
    case STAGE_OPEN_INFO:
        AdvanceStage(block, 4, 0);
        OpenRequest(run, workerArgs.infoUrl);
        break;
    case STAGE_ALLOC_INFO_BUFFER:
        AllocateStageBuffer(run, 8, INFO_BUFFER_CAP, true);
        break;
    case STAGE_PREPARE_WORK_FOLDER:
        PrepareWorkFolder(run);
        break;
    case STAGE_CREATE_INFO_FILE:
        AdvanceStage(block, 14, IDS_STATUS_GETTING_INFO);
        if (ComposeInWork(run, run.filePath, "Kovrel.ini"))
            CreateStageFile(run);
        else
            Fail(run);
        break;
    case STAGE_DOWNLOAD_INFO:
        DownloadInfo(run);
        break;
    case STAGE_CHECK_INFO:
        CheckInfo(run);
        break;
    case STAGE_OPEN_ARCHIVE:
        OpenArchive(run);
        break;
    case STAGE_CREATE_ARCHIVE_FILE:
        CreateArchiveFile(run);
        break;
    case STAGE_CONFIRM_CLOSE:
        ConfirmClose(run);
        break;
    case STAGE_ALLOC_ARCHIVE_BUFFER:
        // The archive's buffer takes the largest size at once: its body is mostly still on its way, so what has
        // arrived says nothing of what reads it needs.
        AllocateStageBuffer(run, 36, ARCHIVE_BUFFER_CAP, false);
        break;
    case STAGE_DOWNLOAD_ARCHIVE:
        DownloadArchive(run);
        break;
    case STAGE_EXTRACT:
        Extract(run);
        break;
    case STAGE_REPLACE_FILES:
        ReplaceFiles(run);
        break;
    case STAGE_FINISH:
        Finish(run, RESULT_UPDATED);
        break;
    case RESULT_UP_TO_DATE:
        Finish(run, RESULT_UP_TO_DATE);
        break;
    default: // 15 is a final value, never a stage
        Fail(run);
        break;
    }
}

int RunUpdate(StatusBlock *block)
{
    if (!block)
        return -1;
    UpdateRun run = {};
    run.block = block;
    run.silent = (workerSettings.options & OPT_SILENT) != 0;
    run.file = INVALID_HANDLE_VALUE;
    run.transferSize = 1024;
    block->result = 0;
    block->failureMessage = 0;
    BeginRunLog(workerArgs.infoSection);
    LogRun("start: information %s, application %s, installed version %s%s", workerArgs.infoUrl ? workerArgs.infoUrl : "",
           workerArgs.appPath ? workerArgs.appPath : "", workerArgs.installedVersion ? workerArgs.installedVersion : "(none)",
           run.silent ? ", silent" : "");

    while (!ShouldStop(block))
        RunStage(run);

    LogRun("end: message %u", FinalMessageId(block->result - 1, block->state, block->failureMessage));
    EndRunLog();
    CloseRequest(run);
    EndNetworkThread(&run.network);
    if (run.internet)
        InternetCloseHandle(run.internet);
    FreeTransfer(run);
    CloseOutputFile(run);
    if (!run.silent) {
        SendStatus(block, STATUS_FINISHED, 0);
        if (block->dialogWindow)
            SetForegroundWindow(block->dialogWindow);
    }
    return 0;
}

int WINAPI CopyProgressCallback(void *context)
{
    ProgressRecord *record = static_cast<ProgressRecord *>(context);
    if (!record)
        return 0;
    // Only a change of position goes to the dialog: thousands of small files would otherwise each cost a
    // round trip to its thread.
    int before = RoundedMulDiv(record->span, record->counter, record->total);
    record->counter++;
    int now = RoundedMulDiv(record->span, record->counter, record->total);
    if (now != before)
        SendStatus(record->block, STATUS_PROGRESS, record->base + now);
    return ShouldStop(record->block);
}
