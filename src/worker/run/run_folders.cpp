// The application folder is the application path up to its last separator: a path without one names no
// folder, and its files would land wherever the current folder happens to be. The work folder is the folder of
// the worker's own executable followed by "Work\", named as the launcher named it (common/ansi_path.h).
#include "run_folders.h"
#include "module_instance.h"
#include "../../common/ansi_path.h"
#include "../../common/multibyte_path.h"
#include "../../common/path_compose.h"
#include "../../common/text.h"
#include "../../common/work_layout.h"

static bool DeriveApplication(const char *applicationPath, char *folder)
{
    const char *separator = applicationPath ? FindLastSeparator(applicationPath) : 0;
    if (!separator || static_cast<unsigned>(separator - applicationPath) + 2 > MAX_PATH)
        return false;
    unsigned length = static_cast<unsigned>(separator - applicationPath) + 1;
    CopyBytes(folder, applicationPath, length);
    folder[length] = 0;
    return true;
}

static bool DeriveWork(RunFolders *folders)
{
    char module[MAX_PATH];
    DWORD length = GetAnsiModuleFileName(moduleInstance, module, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    const char *separator = FindLastSeparator(module);
    if (!separator)
        return false;
    module[separator - module + 1] = 0;
    return ComposePath(folders->work, module, WORK_FOLDER_NAME) && ComposeJournalPath(folders->journal, module) &&
           ComposePath(folders->infoFile, folders->work, INFO_FILE_NAME) &&
           ComposePath(folders->unpacked, folders->work, UNPACKED_FOLDER_NAME) &&
           ComposePath(folders->backup, folders->work, BACKUP_FOLDER_NAME);
}

void DeriveRunFolders(const char *applicationPath, RunFolders *folders)
{
    folders->haveApplication = DeriveApplication(applicationPath, folders->application);
    folders->haveWork = DeriveWork(folders);
}
