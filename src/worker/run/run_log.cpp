// The run log's lines are gathered in memory and written once at the end of the run: the file is read
// whole, the new lines appended, the oldest whole lines dropped beyond the cap, and the result written under a temporary name
// and renamed over the log, so a log is never left half-written.
#include "run_log.h"
#include <windows.h>
#include "section_files.h"
#include "../../common/heap.h"
#include "../../common/text.h"
#include "../../common/text_buffer.h"
#include "../../common/whole_file.h"

static char logPath[MAX_PATH];
static TextBuffer lines;
static unsigned used;
static DWORD startTick;

static bool Append(const char *text, unsigned length)
{
    if (used + length + 1 > lines.capacity) {
        unsigned capacity = lines.capacity ? lines.capacity * 2 : 4096;
        while (capacity < used + length + 1)
            capacity *= 2;
        char *grown = static_cast<char *>(AllocateBytes(capacity));
        if (!grown)
            return false;
        if (lines.text)
            CopyBytes(grown, lines.text, used);
        FreeBytes(lines.text);
        lines.text = grown;
        lines.capacity = capacity;
    }
    CopyBytes(lines.text + used, text, length);
    used += length;
    lines.text[used] = 0;
    return true;
}

void BeginRunLog(const char *section)
{
    used = 0;
    startTick = GetTickCount();
    if (!SectionFilePath(section, ".log", logPath))
        logPath[0] = 0;
}

void LogRun(const char *format, ...)
{
    if (!logPath[0])
        return;
    char line[1100];
    int length = wsprintfA(line, "%lu ", GetTickCount() - startTick);
    va_list arguments;
    va_start(arguments, format);
    // wvsprintfA writes at most 1024 characters.
    length += wvsprintfA(line + length, format, arguments);
    va_end(arguments);
    Append(line, static_cast<unsigned>(length));
    Append("\r\n", 2);
}

// A log longer than this was not written by the run log: it is replaced rather than read.
static const unsigned LOG_READ_LIMIT = 4u << 20;

void EndRunLog()
{
    if (!logPath[0] || !used) {
        lines.Free();
        used = 0;
        return;
    }
    unsigned oldLength = 0;
    char *old = ReadWholeFile(logPath, LOG_READ_LIMIT, &oldLength);
    char *whole = static_cast<char *>(AllocateBytes(oldLength + used + 1));
    if (whole) {
        CopyBytes(whole, old, oldLength);
        CopyBytes(whole + oldLength, lines.text, used);
        unsigned length = oldLength + used;
        unsigned start = KeptLogTail(whole, length, RUN_LOG_CAP);
        WriteWholeFile(logPath, whole + start, length - start);
    }
    FreeBytes(whole);
    FreeBytes(old);
    lines.Free();
    used = 0;
}
