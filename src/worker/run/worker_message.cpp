#include "worker_message.h"
#include "module_instance.h"
#include "worker_settings.h"
#include "worker_resources.h"
#include "../../common/resource_message.h"

int ShowResourceMessage(HWND owner, UINT textId, UINT captionId, UINT style, bool quietCapable)
{
    if (quietCapable && (workerSettings.options & OPT_SILENT))
        return IDOK;
    return ShowModuleMessage(moduleInstance, owner, textId, IDS_WORKER_ERROR, captionId, style);
}
