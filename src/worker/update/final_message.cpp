// The final message of a run, chosen from its state and the stage that ended it.
#include "update_stages.h"

static const unsigned MESSAGE_UP_TO_DATE = 30002;
static const unsigned MESSAGE_ABORTED = 30100;
static const unsigned MESSAGE_INTERNAL = 30111;
static const unsigned MESSAGE_UPDATED = 30112;

// Failure messages of stages 0 to 13. Stage 12, the close confirmation, only ends by a cancel, which is
// reported as an abort.
static const unsigned FAILURE_MESSAGES[] = {30101, 30102, 30103, 30104, 30105, 30105, 30106,
                                            30107, 30108, 30103, 30108, 30109, 30111, 30110};

unsigned FinalMessageId(int lastStage, unsigned short state, unsigned failureMessage)
{
    if (state == 1) // done
        return lastStage == 15 ? MESSAGE_UP_TO_DATE : MESSAGE_UPDATED;
    if (state >= 3) // aborted, or an abort request confirmed
        return MESSAGE_ABORTED;
    if (failureMessage)
        return failureMessage;
    // Compared unsigned, so that -1 (a run that never started a stage) counts as large.
    unsigned stage = static_cast<unsigned>(lastStage);
    return stage < sizeof FAILURE_MESSAGES / sizeof FAILURE_MESSAGES[0] ? FAILURE_MESSAGES[stage] : MESSAGE_INTERNAL;
}
