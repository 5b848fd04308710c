// The work folder's path, from the worker's own location.
#include "work_folder.h"
#include <windows.h>
#include "module_instance.h"
#include "../../common/multibyte_path.h"
#include "../../common/text.h"
#include "../../common/work_layout.h"

bool ComposeWorkPath(char *buffer, const char *name)
{
    char module[MAX_PATH];
    DWORD length = GetModuleFileNameA(moduleInstance, module, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    const char *separator = FindLastSeparator(module);
    if (!separator)
        return false;
    module[separator - module + 1] = 0;
    return CopyText(buffer, MAX_PATH, module) && AppendText(buffer, MAX_PATH, WORK_FOLDER_NAME) &&
           AppendText(buffer, MAX_PATH, name);
}
