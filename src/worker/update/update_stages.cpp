// The table of stages, and the final message of a run chosen from its state and the stage that ended it.
#include "update_stages.h"
#include "../run/worker_resources.h"

// Stage 12, the close confirmation, only ends by a cancel, which is reported as an abort.
static const StageEntry STAGES[STAGE_COUNT] = {
    {0, IDS_STATUS_CONNECTING, IDS_FAILED_CONNECT},             // STAGE_CONNECT
    {4, 0, IDS_FAILED_OPEN_INFO},                               // STAGE_OPEN_INFO
    {8, 0, IDS_FAILED_MEMORY},                                  // STAGE_ALLOC_INFO_BUFFER
    {12, IDS_STATUS_INITIALISING, IDS_FAILED_WORK_FOLDER},      // STAGE_PREPARE_WORK_FOLDER
    {14, IDS_STATUS_GETTING_INFO, IDS_FAILED_DOWNLOAD_INFO},    // STAGE_CREATE_INFO_FILE
    {16, 0, IDS_FAILED_DOWNLOAD_INFO},                          // STAGE_DOWNLOAD_INFO
    {24, IDS_STATUS_CHECKING_INFO, IDS_FAILED_READ_INFO},       // STAGE_CHECK_INFO
    {28, 0, IDS_FAILED_OPEN_ARCHIVE},                           // STAGE_OPEN_ARCHIVE
    {32, 0, IDS_FAILED_DOWNLOAD_ARCHIVE},                       // STAGE_CREATE_ARCHIVE_FILE
    {36, 0, IDS_FAILED_MEMORY},                                 // STAGE_ALLOC_ARCHIVE_BUFFER
    {38, 0, IDS_FAILED_DOWNLOAD_ARCHIVE},                       // STAGE_DOWNLOAD_ARCHIVE
    {66, IDS_STATUS_EXTRACTING, IDS_FAILED_EXTRACT},            // STAGE_EXTRACT
    {70, IDS_STATUS_WAITING_FOR_APP, IDS_FAILED_EXCEPTION},     // STAGE_CONFIRM_CLOSE
    {72, IDS_STATUS_UPDATING, IDS_FAILED_REPLACE},              // STAGE_REPLACE_FILES
};

const StageEntry &StageEntryOf(int stage)
{
    return STAGES[stage];
}

static const char *const STAGE_NAMES[STAGE_FINISH + 1] = {
    "connect", "open information", "information buffer", "work folder", "information file", "download information",
    "check information", "open archive", "archive file", "archive buffer", "download archive", "extract",
    "confirm close", "replace files", "finish",
};

const char *StageNameOf(int stage)
{
    return STAGE_NAMES[stage];
}

unsigned FinalMessageId(int lastStage, unsigned short state, unsigned failureMessage)
{
    if (state == 1) // done
        return lastStage == 15 ? IDS_UP_TO_DATE : IDS_UPDATED;
    if (state >= 3) // aborted
        return IDS_ABORTED_BY_USER;
    if (failureMessage)
        return failureMessage;
    // Compared unsigned, so that -1 (a run that never started a stage) counts as large.
    unsigned stage = static_cast<unsigned>(lastStage);
    return stage < static_cast<unsigned>(STAGE_COUNT) ? STAGES[stage].failureMessage : IDS_FAILED_EXCEPTION;
}
