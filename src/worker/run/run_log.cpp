// The run log's lines are gathered in memory and written once at the end of the run: the file is read,
// the new lines appended, the oldest dropped beyond the cap, and the result written under a temporary name
// and renamed over the log, so a log is never left half-written.
#include "run_log.h"
#include <windows.h>
#include <shlobj.h>
#include "../../common/heap.h"
#include "../../common/text.h"
#include "../../common/text_buffer.h"

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
    logPath[0] = 0;
    used = 0;
    startTick = GetTickCount();
    char folder[MAX_PATH];
    if (!section || !section[0] || FAILED(SHGetFolderPathA(0, CSIDL_LOCAL_APPDATA, 0, 0, folder)) ||
        !AppendText(folder, MAX_PATH, "\\Kovrel\\"))
        return;
    CreateDirectoryA(folder, 0);
    // A section name may hold characters that no file name may.
    char name[MAX_PATH];
    if (!CopyText(name, MAX_PATH, section))
        return;
    for (char *c = name; *c; c++)
        if (*c == '\\' || *c == '/' || *c == ':' || *c == '*' || *c == '?' || *c == '"' || *c == '<' || *c == '>' ||
            *c == '|' || static_cast<unsigned char>(*c) < 0x20)
            *c = '_';
    if (CopyText(logPath, MAX_PATH, folder) && AppendText(logPath, MAX_PATH, name) && AppendText(logPath, MAX_PATH, ".log"))
        return;
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

static char *ReadLog(unsigned *length)
{
    *length = 0;
    HANDLE file = CreateFileA(logPath, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD high = 0;
    DWORD size = GetFileSize(file, &high);
    char *text = 0;
    // Only the part that can survive the cap is read.
    if (size != INVALID_FILE_SIZE && high == 0) {
        DWORD skip = size > RUN_LOG_CAP ? size - RUN_LOG_CAP : 0;
        text = static_cast<char *>(AllocateBytes(size - skip + 1));
        DWORD got = 0;
        if (text && SetFilePointer(file, static_cast<LONG>(skip), 0, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
            ReadFile(file, text, size - skip, &got, 0)) {
            *length = got;
            // A cut first line is not kept.
            if (skip) {
                unsigned start = 0;
                while (start < got && text[start] != '\n')
                    start++;
                start = start < got ? start + 1 : got;
                CopyBytes(text, text + start, got - start);
                *length = got - start;
            }
        }
    }
    CloseHandle(file);
    return text;
}

void EndRunLog()
{
    if (!logPath[0] || !used) {
        lines.Free();
        used = 0;
        return;
    }
    unsigned oldLength = 0;
    char *old = ReadLog(&oldLength);
    char *whole = static_cast<char *>(AllocateBytes(oldLength + used + 1));
    if (whole) {
        CopyBytes(whole, old, oldLength);
        CopyBytes(whole + oldLength, lines.text, used);
        unsigned length = oldLength + used;
        unsigned start = KeptLogTail(whole, length, RUN_LOG_CAP);
        char part[MAX_PATH];
        if (CopyText(part, MAX_PATH, logPath) && AppendText(part, MAX_PATH, ".part")) {
            HANDLE file = CreateFileA(part, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
            DWORD written = 0;
            bool complete = file != INVALID_HANDLE_VALUE && WriteFile(file, whole + start, length - start, &written, 0) &&
                            written == length - start;
            if (file != INVALID_HANDLE_VALUE)
                CloseHandle(file);
            if (!(complete && MoveFileExA(part, logPath, MOVEFILE_REPLACE_EXISTING)))
                DeleteFileA(part);
        }
    }
    FreeBytes(whole);
    FreeBytes(old);
    lines.Free();
    used = 0;
}
