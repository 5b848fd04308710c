// The path of a skin picture. The cut uses the double-byte-aware search, so a trail byte that equals a
// backslash inside a folder or program name is never taken for the separator.
#include "skin_path.h"
#include "../../common/multibyte_path.h"
#include "../../common/text.h"

bool BuildSkinPath(char *buffer, unsigned capacity, const char *launcherPath, const char *fileName)
{
    if (!launcherPath || !fileName || !fileName[0])
        return false;
    if (!CopyText(buffer, capacity, launcherPath))
        return false;
    const char *separator = FindLastSeparator(buffer);
    if (separator)
        buffer[separator - buffer] = 0;
    return AppendText(buffer, capacity, "\\") && AppendText(buffer, capacity, fileName);
}
