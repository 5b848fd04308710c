// The run log's lines are gathered in memory and written once at the end of the run (AppendToLog), so that a
// run costs one read and one write of the file however much it logs.
#include "run_log.h"
#include <windows.h>
#include "../../common/application_log.h"
#include "../../common/heap.h"
#include "../../common/text.h"
#include "../../common/text_buffer.h"

static char logPath[MAX_PATH];
static TextBuffer lines;
static unsigned used;
static DWORD startTick;

// The noted cause: an error or a status, and its subject.
static unsigned long noteError;
static unsigned noteStatus;
// From the heap: a static buffer for the longest URL would be in the executable's file.
static char *noteSubject;

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

void BeginRunLog(const char *section, const char *applicationFolder)
{
    used = 0;
    noteError = noteStatus = 0;
    FreeBytes(noteSubject);
    noteSubject = 0;
    startTick = GetTickCount();
    if (!ApplicationLogPath(section, applicationFolder, logPath))
        logPath[0] = 0;
}

// The line: the time, `prefix`, the formatted text, then `tail` whole (a path or URL of any length).
static void LogLine(const char *prefix, const char *tail, const char *format, va_list arguments)
{
    if (!logPath[0])
        return;
    char line[1100];
    int length = wsprintfA(line, "%lu ", GetTickCount() - startTick);
    Append(line, static_cast<unsigned>(length));
    if (prefix)
        Append(prefix, TextLength(prefix));
    // wvsprintfA writes at most 1024 characters.
    length = wvsprintfA(line, format, arguments);
    Append(line, static_cast<unsigned>(length));
    if (tail)
        Append(tail, TextLength(tail));
    Append("\r\n", 2);
}

void LogRun(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    LogLine(0, 0, format, arguments);
    va_end(arguments);
}

void LogRunStart(const char *launcherPath, const char *format, ...)
{
    char start[MAX_PATH + 80];
    if (!ComposeLogStartNow(start, sizeof start, launcherPath))
        start[0] = 0;
    va_list arguments;
    va_start(arguments, format);
    LogLine(start, 0, format, arguments);
    va_end(arguments);
}

static void ReplaceSubject(char *subject)
{
    FreeBytes(noteSubject);
    noteSubject = subject;
}

void NoteFailure(unsigned long error, const char *subject)
{
    noteError = error;
    noteStatus = 0;
    unsigned length = subject ? TextLength(subject) : 0;
    ReplaceSubject(static_cast<char *>(AllocateBytes(length + 1)));
    if (noteSubject)
        CopyText(noteSubject, length + 1, subject ? subject : "");
}

void NoteFailureWide(unsigned long error, const wchar_t *subject)
{
    NoteFailure(error, 0);
    int size = WideCharToMultiByte(CP_ACP, 0, subject, -1, 0, 0, 0, 0);
    ReplaceSubject(size > 0 ? static_cast<char *>(AllocateBytes(static_cast<unsigned>(size))) : 0);
    if (noteSubject && !WideCharToMultiByte(CP_ACP, 0, subject, -1, noteSubject, size, 0, 0))
        noteSubject[0] = 0;
}

void NoteHttpStatus(unsigned status, const char *url)
{
    NoteFailure(0, url);
    noteStatus = status;
}

// The system's text for the error, without its line break; WinINet's errors are told by its own module.
static void ErrorText(unsigned long error, char *text, unsigned capacity)
{
    HMODULE wininet = error >= 12000 && error < 13000 ? GetModuleHandleA("wininet.dll") : 0;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                  (wininet ? FORMAT_MESSAGE_FROM_HMODULE : 0), wininet, error, 0, text, capacity, 0);
    while (length && (text[length - 1] == '\r' || text[length - 1] == '\n'))
        length--;
    text[length] = 0;
}

static void LogEnd(const char *tail, const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    LogLine(0, tail, format, arguments);
    va_end(arguments);
}

void LogRunEnd(bool failed, const char *format, unsigned value)
{
    char text[64];
    wsprintfA(text, format, value);
    char cause[400];
    cause[0] = 0;
    if (failed && noteStatus) {
        wsprintfA(cause, "; cause: HTTP status %u, ", noteStatus);
    } else if (failed && noteError) {
        char message[300];
        ErrorText(noteError, message, sizeof message);
        wsprintfA(cause, "; cause: error %lu (%s), ", noteError, message);
    } else if (failed && noteSubject && noteSubject[0]) {
        CopyText(cause, sizeof cause, "; cause: ");
    }
    LogEnd(cause[0] ? noteSubject : 0, "end: %s%s", text, cause);
    ReplaceSubject(0);
}

void EndRunLog()
{
    if (logPath[0] && used)
        AppendToLog(logPath, lines.text, used);
    lines.Free();
    used = 0;
}
