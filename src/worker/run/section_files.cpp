#include "section_files.h"
#include "../../common/text.h"

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
