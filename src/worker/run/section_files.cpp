#include "section_files.h"
#include <shlobj.h>
#include "../../common/text.h"

bool UserKovrelFolder(char (&path)[MAX_PATH])
{
    if (FAILED(SHGetFolderPathA(0, CSIDL_LOCAL_APPDATA, 0, 0, path)) || !AppendText(path, MAX_PATH, "\\Kovrel\\"))
        return false;
    CreateDirectoryA(path, 0);
    return true;
}

bool SectionFilePath(const char *section, const char *extension, char (&path)[MAX_PATH])
{
    if (!section || !section[0] || !UserKovrelFolder(path))
        return false;
    char *name = path + TextLength(path);
    if (!AppendText(path, MAX_PATH, section) || !AppendText(path, MAX_PATH, extension))
        return false;
    MakeFileNameSafe(name);
    return true;
}
