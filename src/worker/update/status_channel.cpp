#include "status_channel.h"
#include "../run/run_log.h"
#include "../run/module_instance.h"
#include "../run/worker_message.h"
#include "../run/worker_resources.h"
#include "../../common/text_buffer.h"

LRESULT SendStatus(StatusBlock *block, WPARAM kind, LPARAM value)
{
    if (!block->dialogWindow)
        return 0;
    return SendMessageA(block->dialogWindow, WM_APP_STATUS, kind, value);
}

void AdvanceStage(StatusBlock *block, int position, UINT textId)
{
    SendStatus(block, STATUS_PROGRESS, position);
    if (textId) {
        TextBuffer text = {};
        if (text.LoadResourceString(moduleInstance, textId))
            SendStatus(block, STATUS_TEXT, reinterpret_cast<LPARAM>(text.text));
        text.Free();
    }
    LogRun("stage %d", block->result);
    block->result = static_cast<short>(block->result + 1);
    if (block->dialogWindow)
        UpdateWindow(block->dialogWindow);
}

bool ShouldStop(StatusBlock *block)
{
    unsigned short state = block->state;
    if (state == STATE_RUNNING)
        return false;
    if (state < STATE_ABORT_REQUESTED)
        return true;
    // In silent mode the question is suppressed and its IDOK counts as a refusal.
    if (ShowResourceMessage(block->dialogWindow, IDS_CONFIRM_ABORT, IDS_CONFIRM_CAPTION, MB_YESNO | MB_ICONINFORMATION,
                            true) != IDYES)
        block->state = STATE_RUNNING;
    return block->state != STATE_RUNNING;
}
