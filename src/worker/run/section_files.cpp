#include "section_files.h"
#include <shlobj.h>
#include "../../common/text.h"

bool SectionFilePath(const char *section, const char *extension, char (&path)[MAX_PATH])
{
    if (!section || !section[0] || FAILED(SHGetFolderPathA(0, CSIDL_LOCAL_APPDATA, 0, 0, path)) ||
        !AppendText(path, MAX_PATH, "\\Kovrel\\"))
        return false;
    CreateDirectoryA(path, 0);
    char *name = path + TextLength(path);
    if (!AppendText(path, MAX_PATH, section) || !AppendText(path, MAX_PATH, extension))
        return false;
    for (char *c = name; *c; c++)
        if (*c == '\\' || *c == '/' || *c == ':' || *c == '*' || *c == '?' || *c == '"' || *c == '<' || *c == '>' ||
            *c == '|' || static_cast<unsigned char>(*c) < 0x20)
            *c = '_';
    return true;
}
