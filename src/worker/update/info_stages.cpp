// The first stages: the network, the update information file and what it announces.
#include "update_run.h"
#include "../feed/version_compare.h"
#include "../run/run_log.h"
#include "../run/worker_command_line.h"
#include "../run/worker_resources.h"
#include "../verify/feed_signature.h"
#include "../verify/launcher_keys.h"
#include "../../common/heap.h"
#include "../../common/path_exists.h"
#include "../../common/text.h"
#include "../../common/tree_removal.h"

// The information file is small: its transfer buffer is sized from what the server has ready, up to this.
static const unsigned INFO_BUFFER_CAP = 4096;

void StartRun(UpdateRun &run)
{
    EnterStage(run, STAGE_CONNECT);
    // The network thread starts while this stage's other work goes on; one that cannot start now may later.
    StartNetworkThread(&run.session.network);
    // A check replaces nothing, so it holds no folder.
    if (!run.check && run.folders.haveApplication && !HoldFolder(&run.application, run.folders.application))
        LogRun("the application folder %s could not be opened (error %lu), or is a link", run.folders.application,
               GetLastError());
    // A check only reads: journals wait for the next update, and the folder's rights do not matter.
    if (!run.check && (!UndoInterruptedUpdate(run) || !UndoElevatedUpdate(run)))
        return;
    // An apply step with no archive came for the undo alone, and ends as a run with nothing to do.
    if (run.applyStep && !workerArgs.stagedArchive[0])
        run.block->result = RESULT_UP_TO_DATE;
    else if (!run.folders.haveApplication || !InstalledVersionKnown(run))
        FailWith(run, IDS_WORKER_INIT_FAILED);
    else if ((run.check || CheckWriteAccess(run)) && !BeginDownloadSession(&run.session, !run.silent))
        Fail(run);
}

// A journal here belongs to a replacement that is still to be undone (the worker's start undoes it first): its
// backup must not be deleted. Leftovers that cannot be removed would be installed with the update, so they fail
// the run.
static bool PrepareWorkFolder(UpdateRun &run)
{
    EnterStage(run, STAGE_PREPARE_WORK_FOLDER);
    const RunFolders &folders = run.folders;
    bool journalLeft = folders.haveWork && PathExists(folders.journal, true);
    if (!folders.haveWork || journalLeft ||
        (PathExists(folders.work, false) ? !RemoveTree(folders.work, false) : !CreateDirectoryA(folders.work, 0))) {
        NoteFailure(!folders.haveWork ? ERROR_BAD_PATHNAME : journalLeft ? ERROR_ALREADY_EXISTS : GetLastError(),
                    journalLeft ? folders.journal : folders.work);
        Fail(run);
        return false;
    }
    return true;
}

// The body goes to the stored file and to memory, where it is verified and read.
static bool BeginInfo(void *context, const FetchResponse &)
{
    UpdateRun &run = *static_cast<UpdateRun *>(context);
    EnterStage(run, STAGE_ALLOC_INFO_BUFFER);
    run.info = static_cast<char *>(AllocateBytes(INFO_FILE_LIMIT));
    if (!run.info) {
        Fail(run);
        return false;
    }
    if (ShouldStop(run.block) || !PrepareWorkFolder(run) || ShouldStop(run.block))
        return false;
    EnterStage(run, STAGE_CREATE_INFO_FILE);
    if (!CreateDownloadFile(run, run.folders.infoFile) || ShouldStop(run.block))
        return false;
    EnterStage(run, STAGE_DOWNLOAD_INFO);
    StartDownloadMeter(StageEntryOf(STAGE_DOWNLOAD_INFO).position, 8);
    return true;
}

static bool WriteInfo(void *context, const char *data, unsigned size)
{
    UpdateRun &run = *static_cast<UpdateRun *>(context);
    if (size > INFO_FILE_LIMIT - run.infoLength || !WriteDownloadFile(run, data, size))
        return false;
    CopyBytes(run.info + run.infoLength, data, size);
    run.infoLength += size;
    return true;
}

void FetchInfo(UpdateRun &run)
{
    EnterStage(run, STAGE_OPEN_INFO);
    DownloadSink sink = {&run, BeginInfo, WriteInfo, 0, DownloadMeterOf(run)};
    FetchStart whole = {0, 0};
    FetchLimits limits = {INFO_FILE_LIMIT, false, INFO_BUFFER_CAP, true};
    FetchOutcome outcome = FetchUrl(&run.session, workerArgs.infoUrl, whole, limits, &sink, &run.block->state);
    StopDownloadMeter();
    if (outcome != FETCH_COMPLETE && !ShouldStop(run.block))
        Fail(run);
}

// With a publisher key in the launcher, nothing of the file is used before its signature is verified; an
// unreadable launcher counts as one with a key, so that a failure never falls back to unsigned.
static bool VerifyInfo(UpdateRun &run)
{
    if (LoadPublisherKeys(workerArgs.launcherPath, &run.keys) &&
        (run.keys.count == 0 || VerifySignedFile(reinterpret_cast<unsigned char *>(run.info), run.infoLength, &run.keys)))
        return true;
    FailWith(run, IDS_FAILED_VERIFY);
    return false;
}

void CheckInfo(UpdateRun &run)
{
    EnterStage(run, STAGE_CHECK_INFO);
    CloseDownloadFile(run);
    if (!VerifyInfo(run))
        return;
    if (!ReadUpdateFeed(run.info, run.infoLength, workerArgs.infoSection, &run.feed) || !run.feed.version[0]) {
        Fail(run);
        return;
    }
    LogRun("announced version %s", run.feed.version);
    if (!CheckInfoFreshness(run))
        return;
    if (CompareVersions(workerArgs.installedVersion, run.feed.version) >= 0)
        run.block->result = RESULT_UP_TO_DATE;
}
