// One update, from the first connection to the final result, as a numbered sequence of stages.
#pragma once
#include "status_channel.h"
#include "update_stages.h"

// Runs the update on the calling thread and leaves the outcome in the block: `state` says how the run
// ended, `result` holds the final stage value. The caller sets `state` to STATE_RUNNING first. Returns -1
// without a block, otherwise 0.
int RunUpdate(StatusBlock *block);

// The copy's progress callback: moves the bar from the record's base in proportion to the files copied,
// then asks the stop test. Non-zero stops the copy.
int WINAPI CopyProgressCallback(void *record);
