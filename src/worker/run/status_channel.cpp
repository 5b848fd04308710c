#include "status_channel.h"
#include "module_instance.h"
#include "worker_resources.h"
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
    block->result = static_cast<short>(block->result + 1);
    if (block->dialogWindow)
        UpdateWindow(block->dialogWindow);
}
