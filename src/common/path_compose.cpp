#include "path_compose.h"
#include "text.h"
#include "work_layout.h"

bool ComposePath(char *buffer, const char *a, const char *b, const char *c)
{
    return CopyText(buffer, PATH_BYTES, a) && AppendText(buffer, PATH_BYTES, b) && AppendText(buffer, PATH_BYTES, c);
}

bool IsDotEntry(const char *name)
{
    return TextEquals(name, ".") || TextEquals(name, "..");
}

bool ComposeJournalPath(char *buffer, const char *tempFolder)
{
    return ComposePath(buffer, tempFolder, WORK_FOLDER_NAME, JOURNAL_FILE_NAME);
}

static bool IsDriveLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool ExpandSystemDrive(char *buffer, const char *value, const char *windowsFolder)
{
    static const char SYSTEM_DRIVE[] = "%SystemDrive%";
    if (TextStartsWithIgnoringCase(value, SYSTEM_DRIVE)) {
        char drive[3] = {windowsFolder[0], ':', 0};
        if (!IsDriveLetter(windowsFolder[0]) || windowsFolder[1] != ':' ||
            !ComposePath(buffer, drive, value + sizeof SYSTEM_DRIVE - 1))
            return false;
    } else if (!CopyText(buffer, PATH_BYTES, value)) {
        return false;
    }
    for (const char *c = buffer; *c; c++)
        if (*c == '%')
            return false;
    return IsDriveLetter(buffer[0]) && buffer[1] == ':' && buffer[2] == '\\';
}
