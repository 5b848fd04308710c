// The update procedure: the stage machine.
//
// Each pass of the loop runs the stage that the block's counter names; EnterStage opens a stage and moves the
// counter on, so a stage that fails only has to set STATE_FAILED, and a stage that runs the next ones itself
// (a download's stages run inside its fetch) leaves the counter at the next one to run. After every stage the
// stop test runs; the run ends at the first stage that left the running state or at a confirmed abort.
// Whatever ends it, the wind-down releases the network, the output file and the downloaded information.
#include "update_procedure.h"
#include "update_run.h"
#include "../download/download_progress.h"
#include "../run/run_log.h"
#include "../run/worker_command_line.h"
#include "../run/worker_settings.h"
#include "../../common/cleanup_argument.h"
#include "../../common/heap.h"
#include "../../common/text_buffer.h"

void EnterStage(UpdateRun &run, UpdateStage stage)
{
    const StageEntry &entry = StageEntryOf(stage);
    LogRun("stage %d %s", stage, StageNameOf(stage));
    AdvanceStage(run.block, entry.position, entry.statusText);
}

void Fail(UpdateRun &run)
{
    run.block->state = STATE_FAILED;
}

void FailWith(UpdateRun &run, unsigned short message)
{
    run.block->state = STATE_FAILED;
    run.block->failureMessage = message;
}

bool CreateDownloadFile(UpdateRun &run, const char *path)
{
    // Readable through the same handle, and shared with no one: what is verified as it arrives is what the
    // unpacker reads, with no moment in between for another program to change it.
    run.file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN, 0);
    if (run.file == INVALID_HANDLE_VALUE) {
        NoteFailure(GetLastError(), path);
        Fail(run);
    }
    return run.file != INVALID_HANDLE_VALUE;
}

bool WriteDownloadFile(UpdateRun &run, const char *data, unsigned size)
{
    DWORD done = 0;
    return WriteFile(run.file, data, size, &done, 0) && done == size;
}

bool HashDownloadFile(UpdateRun &run, unsigned long long count)
{
    const bool whole = count == WHOLE_FILE;
    Sha256Init(&run.archiveHash);
    const DWORD BLOCK = 256 * 1024;
    char *block = static_cast<char *>(AllocateBytes(BLOCK));
    LARGE_INTEGER start = {};
    bool read = block && SetFilePointerEx(run.file, start, 0, FILE_BEGIN);
    DWORD got = 0;
    while (read && count && (read = ReadFile(run.file, block, count < BLOCK ? static_cast<DWORD>(count) : BLOCK, &got,
                                             0) != 0) && got) {
        Sha256Update(&run.archiveHash, block, got);
        count -= got;
    }
    FreeBytes(block);
    return read && (whole ? got == 0 : count == 0);
}

void CloseDownloadFile(UpdateRun &run)
{
    if (run.file != INVALID_HANDLE_VALUE)
        CloseHandle(run.file);
    run.file = INVALID_HANDLE_VALUE;
}

// The download's progress, told by the platform's notifications. They may still arrive from a read left
// behind in the network after its fetch has ended, even after the run, so the meter lives as long as the
// process and is switched off (span 0) between downloads.
struct StageMeter {
    DownloadMeter meter; // first: the request's context points here
    StatusBlock *block;
    short base;
    volatile short span;
    unsigned receivedSoFar;
    DownloadReports reports;
};

static StageMeter stageMeter;

static void MeterReceived(DownloadMeter *meter, unsigned bytes)
{
    StageMeter *stage = reinterpret_cast<StageMeter *>(meter);
    short base = stage->base, span = stage->span;
    int end = base + span;
    int position;
    if (span <= 0 ||
        !NextDownloadPosition(&base, &span, static_cast<unsigned>(meter->total), bytes, &stage->receivedSoFar, &position))
        return;
    stage->base = base;
    stage->span = span;
    DWORD now = GetTickCount();
    if (!DownloadReportDue(position, end, stage->reports, now))
        return;
    stage->reports.lastPosition = position;
    stage->reports.lastAt = now;
    SendStatus(stage->block, STATUS_PROGRESS, position);
}

DownloadMeter *DownloadMeterOf(UpdateRun &run)
{
    if (run.silent)
        return 0;
    stageMeter.span = 0;
    stageMeter.meter.received = MeterReceived;
    stageMeter.block = run.block;
    return &stageMeter.meter;
}

// The fetch has set the announced total by now; the notifications of the request's open are not counted.
void StartDownloadMeter(short base, short span)
{
    stageMeter.base = base;
    stageMeter.receivedSoFar = 0;
    stageMeter.reports.lastPosition = 0;
    stageMeter.span = span;
}

void StopDownloadMeter()
{
    stageMeter.span = 0;
}

static void Finish(UpdateRun &run, short finalResult)
{
    run.block->result = finalResult;
    SendStatus(run.block, STATUS_PROGRESS, 100);
    run.block->state = STATE_DONE;
}

static void RunStage(UpdateRun &run)
{
    switch (run.block->result) {
    case STAGE_CONNECT:
        StartRun(run);
        break;
    case STAGE_OPEN_INFO:
        FetchInfo(run);
        break;
    case STAGE_CHECK_INFO:
        CheckInfo(run);
        break;
    case STAGE_OPEN_ARCHIVE:
        if (run.check)
            run.block->state = STATE_DONE; // a newer version is announced: the stage counter says so
        else
            FetchArchive(run);
        break;
    case STAGE_EXTRACT:
        Unpack(run);
        break;
    case STAGE_CONFIRM_CLOSE:
        ConfirmClose(run);
        break;
    case STAGE_REPLACE_FILES:
        Replace(run);
        break;
    case STAGE_FINISH:
        Finish(run, RESULT_UPDATED);
        break;
    case RESULT_UP_TO_DATE:
        Finish(run, RESULT_UP_TO_DATE);
        break;
    default: // a stage that a fetch runs itself, or 15, a final value: never a stage to start here
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
    run.check = (workerSettings.options & OPT_CHECK) != 0;
    run.silent = (workerSettings.options & (OPT_SILENT | OPT_CHECK)) != 0;
    run.file = INVALID_HANDLE_VALUE;
    run.application.handle = INVALID_HANDLE_VALUE;
    run.applyStep = workerArgs.stagedArchive != 0;
    DeriveRunFolders(workerArgs.appPath, &run.folders);
    block->result = 0;
    block->failureMessage = 0;
    BeginRunLog(workerArgs.infoSection, run.folders.application);
    LogRunStart(workerArgs.launcherPath, "information %s, application %s, installed version %s%s%s",
                workerArgs.infoUrl ? workerArgs.infoUrl : "", workerArgs.appPath ? workerArgs.appPath : "",
                workerArgs.installedVersion ? workerArgs.installedVersion : "(none)",
                run.check ? ", check" : run.silent ? ", silent" : "", run.applyStep ? ", elevated apply step" : "");
    // Said here, since the stage that fails for it shows nothing in a silent run.
    if (!run.folders.haveWork)
        LogRun("no work folder: the worker's own path cannot be named in the ANSI code page, or is too long");

    while (!ShouldStop(block))
        RunStage(run);

    block->finalMessage = static_cast<unsigned short>(FinalMessageId(block->result - 1, block->state, block->failureMessage));
    // A check shows nothing: its outcome is the code that its launcher ends with.
    if (run.check)
        block->finalMessage = block->state != STATE_DONE ? CHECK_FAILED
                              : block->result == RESULT_UP_TO_DATE ? CHECK_UP_TO_DATE : CHECK_NEWER;
    LogRunEnd(block->state == STATE_FAILED, run.check ? "check code %u" : "message %u", block->finalMessage);
    EndRunLog();
    EndDownloadSession(&run.session);
    CloseDownloadFile(run);
    ReleaseFolder(&run.application);
    FreeBytes(run.info);
    if (!run.silent) {
        SendStatus(block, STATUS_FINISHED, 0);
        if (block->dialogWindow)
            SetForegroundWindow(block->dialogWindow);
    }
    return 0;
}
