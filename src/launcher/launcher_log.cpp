#include "launcher_log.h"
#include <windows.h>
#include "launcher_command_line.h"
#include "../common/application_log.h"
#include "../common/text.h"

static void LogLauncherLine(const char *kind, const char *reason, const char *subject)
{
    char path[MAX_PATH];
    const char *arguments = 0;
    if (!FindLauncherArguments(GetCommandLineA(), &arguments))
        return;
    // The application path and section, read as the identity is everywhere: the log's name comes from them.
    const unsigned first = IsApplyStep(arguments) ? 3 : 1;
    TextBuffer application = {}, section = {};
    CopyPositionalToken(arguments, first, application);
    bool named = CopyPositionalToken(arguments, first + 1, section) &&
                 ApplicationLogPath(section.text, application.text, path);
    application.Free();
    section.Free();
    if (!named)
        return;
    char launcher[MAX_PATH];
    DWORD length = GetModuleFileNameA(0, launcher, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        launcher[0] = 0;
    char line[3 * MAX_PATH + 160];
    if (!CopyText(line, sizeof line, "0 ") ||
        !ComposeLogStartNow(line + 2, sizeof line - 2, launcher) || !AppendText(line, sizeof line, kind) ||
        !AppendText(line, sizeof line, reason) ||
        (subject && (!AppendText(line, sizeof line, ", ") || !AppendText(line, sizeof line, subject))) ||
        !AppendText(line, sizeof line, "\r\n"))
        return;
    AppendToLog(path, line, TextLength(line));
}

void LogRefusal(const char *reason, const char *subject)
{
    LogLauncherLine("refused: ", reason, subject);
}

void LogNotice(const char *what, const char *subject)
{
    LogLauncherLine("notice: ", what, subject);
}
