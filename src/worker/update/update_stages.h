// The stages of one update, in the order of their numbers. The stage counter of the status block names the
// stage that runs next; after a run it holds the stage that ended it plus one. The archive is downloaded,
// checked and unpacked before the user is asked to close the application: a bad download never disturbs
// them, and no request stays open while the question waits.
#pragma once

enum UpdateStage {
    STAGE_CONNECT = 0,
    STAGE_OPEN_INFO = 1,
    STAGE_ALLOC_INFO_BUFFER = 2,
    STAGE_PREPARE_WORK_FOLDER = 3,
    STAGE_CREATE_INFO_FILE = 4,
    STAGE_DOWNLOAD_INFO = 5,
    STAGE_CHECK_INFO = 6,
    STAGE_OPEN_ARCHIVE = 7,
    STAGE_CREATE_ARCHIVE_FILE = 8,
    STAGE_ALLOC_ARCHIVE_BUFFER = 9,
    STAGE_DOWNLOAD_ARCHIVE = 10,
    STAGE_EXTRACT = 11,
    STAGE_CONFIRM_CLOSE = 12,
    STAGE_REPLACE_FILES = 13,
    STAGE_FINISH = 14,
};

const int STAGE_COUNT = 14; // the stages that can fail; STAGE_FINISH only ends the run

// One stage: the progress bar's position when it opens, the status text it shows (0: the text stays) and the
// message of its failure.
struct StageEntry {
    short position;
    unsigned short statusText;
    unsigned short failureMessage;
};

// The stage's entry; `stage` is 0 to STAGE_COUNT - 1.
const StageEntry &StageEntryOf(int stage);

// The stage's name in the run log, a word or two; `stage` is 0 to STAGE_FINISH.
const char *StageNameOf(int stage);

// The string id of the final message for the stage that ended the run and the run's state. A failure that
// carries a message of its own (`failureMessage`, not 0) shows that message instead of its stage's.
unsigned FinalMessageId(int lastStage, unsigned short state, unsigned failureMessage = 0);
