#include "application_log.h"
#include <shlobj.h>
#include "application_identity.h"
#include "heap.h"
#include "on_demand.h"
#include "log_text.h"
#include "text.h"
#include "whole_file.h"

bool UserKovrelFolder(char (&path)[MAX_PATH])
{
    if (!GetShellFolderA(CSIDL_LOCAL_APPDATA, path) || !AppendText(path, MAX_PATH, "\\Kovrel\\"))
        return false;
    CreateDirectoryA(path, 0);
    return true;
}

bool ApplicationLogPath(const char *section, const char *applicationPath, char (&path)[MAX_PATH])
{
    char identity[IDENTITY_BYTES];
    if (!section || !section[0] || !UserKovrelFolder(path))
        return false;
    ComposeApplicationIdentity(section, applicationPath, identity);
    return AppendText(path, MAX_PATH, identity) && AppendText(path, MAX_PATH, ".log");
}

// A log longer than this was not written here: it is replaced rather than read.
static const unsigned LOG_READ_LIMIT = 4u << 20;

bool AppendToLog(const char *path, const char *lines, unsigned length)
{
    unsigned oldLength = 0;
    char *old = ReadWholeFile(path, LOG_READ_LIMIT, &oldLength);
    char *whole = static_cast<char *>(AllocateBytes(oldLength + length + 1));
    bool written = false;
    if (whole) {
        CopyBytes(whole, old, oldLength);
        CopyBytes(whole + oldLength, lines, length);
        unsigned total = oldLength + length;
        unsigned start = KeptLogTail(whole, total, LOG_CAP);
        written = WriteWholeFile(path, whole + start, total - start);
    }
    FreeBytes(whole);
    FreeBytes(old);
    return written;
}

bool ComposeLogStartNow(char *buffer, unsigned capacity, const char *launcherPath)
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    LogTime time = {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
    return ComposeLogStart(buffer, capacity, time, launcherPath);
}
