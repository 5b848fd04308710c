// The channel between the update thread and the update dialog: one shared record, one private message.
//
// The thread reports by synchronous SendMessageA, so a text it sends may live in a local buffer. The dialog
// stops the thread by writing `state`, after the user confirmed; the thread only looks at it, at fixed points
// and while it waits. Without a dialog window (silent mode) every report is dropped.
#pragma once
#include <windows.h>

#define STATE_RUNNING 0
#define STATE_DONE 1
#define STATE_FAILED 2
#define STATE_ABORTED 3

#define RESULT_UPDATED 15
#define RESULT_UP_TO_DATE 16

#define WM_APP_STATUS WM_APP
#define STATUS_PROGRESS 0
#define STATUS_TEXT 1
#define STATUS_FINISHED 2

struct StatusBlock {
    HWND dialogWindow;
    // Each field is written whole by one side and read by the other at its test points; no lock is needed.
    volatile unsigned short state;
    volatile short result; // the stage counter during the run, the final stage value at its end
    // Set with STATE_FAILED when a failure has a message of its own rather than its stage's; 0 otherwise.
    volatile unsigned short failureMessage;
    // The string id of the run's final message (a check: its exit code), set when the run has ended.
    volatile unsigned short finalMessage;
};

LRESULT SendStatus(StatusBlock *block, WPARAM kind, LPARAM value);

// Opens a stage: sends the position and, when textId is not 0, the status text; counts the stage.
void AdvanceStage(StatusBlock *block, int position, UINT textId);

// The stop test: true once the run is over, failed, or stopped by the user.
inline bool ShouldStop(const StatusBlock *block)
{
    return block->state != STATE_RUNNING;
}
