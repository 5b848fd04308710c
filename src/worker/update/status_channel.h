// The channel between the update thread and the update dialog: one shared record, one private message.
//
// The thread reports by synchronous SendMessageA, so a text it sends may live in a local buffer. The dialog
// asks the thread to stop by writing `state`; the thread looks at it at fixed points and asks the user to
// confirm before it obeys. Without a dialog window (silent mode) every report is dropped.
#pragma once
#include <windows.h>

#define STATE_RUNNING 0
#define STATE_DONE 1
#define STATE_FAILED 2
#define STATE_ABORTED 3
#define STATE_ABORT_REQUESTED 4

#define RESULT_UPDATED 15
#define RESULT_UP_TO_DATE 16

#define WM_APP_STATUS WM_APP
#define STATUS_PROGRESS 0
#define STATUS_TEXT 1
#define STATUS_FINISHED 2

// A download's progress record carries this tag in its counter.
#define DOWNLOAD_TAG 100

struct StatusBlock {
    HWND dialogWindow;
    // Each field is written whole by one side and read by the other at its test points; no lock is needed.
    volatile unsigned short state;
    volatile short result; // the stage counter during the run, the final stage value at its end
    // Set with STATE_FAILED when a failure has a message of its own rather than its stage's; 0 otherwise.
    volatile unsigned short failureMessage;
};

// Turns bytes of a download or files of the copy into progress positions base .. base + span.
struct ProgressRecord {
    StatusBlock *block;
    unsigned counter; // DOWNLOAD_TAG for a download; files done for the copy
    unsigned total;   // bytes or files expected; 0 when not announced
    short base;
    short span;       // 0 switches the reporting off
};

LRESULT SendStatus(StatusBlock *block, WPARAM kind, LPARAM value);

// Opens a stage: sends the position and, when textId is not 0, the status text; counts the stage.
void AdvanceStage(StatusBlock *block, int position, UINT textId);

// The stop test: true when the run is over or a requested abort is confirmed by the user.
bool ShouldStop(StatusBlock *block);
