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
