#include "worker_message.h"
#include "../run/status_channel.h"
#include "../run/module_instance.h"
#include "../run/worker_settings.h"
#include "../run/worker_resources.h"
#include "../../common/formatted_message.h"
#include "../../common/resource_message.h"

int ShowResourceMessage(HWND owner, UINT textId, UINT captionId, UINT style, bool quietCapable)
{
    if (quietCapable && (workerSettings.options & OPT_SILENT))
        return IDOK;
    return ShowModuleMessage(moduleInstance, owner, textId, IDS_WORKER_ERROR, captionId, style);
}

bool AskToCloseFile(HWND owner, const char *blocked)
{
    return ShowFormattedMessage(moduleInstance, owner, IDS_FILE_IN_USE, IDS_WORKER_CAPTION, blocked,
                                MB_OKCANCEL | MB_ICONEXCLAMATION) == IDOK;
}

bool ConfirmAbort(StatusBlock *block)
{
    if (ShowResourceMessage(block->dialogWindow, IDS_CONFIRM_ABORT, IDS_CONFIRM_CAPTION, MB_YESNO | MB_ICONINFORMATION,
                            true) != IDYES || block->state != STATE_RUNNING)
        return false;
    block->state = STATE_ABORTED;
    return true;
}
