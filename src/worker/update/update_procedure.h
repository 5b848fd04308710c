// One update, from the first connection to the final result, as a numbered sequence of stages.
#pragma once
#include "update_stages.h"
#include "../run/status_channel.h"

// Runs the update on the calling thread and leaves the outcome in the block: `state` says how the run ended,
// `result` holds the final stage value and `finalMessage` the final message. The caller sets `state` to
// STATE_RUNNING first. Returns -1 without a block, otherwise 0.
int RunUpdate(StatusBlock *block);
