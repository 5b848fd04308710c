#include "launcher_log.h"
#include <windows.h>
#include "launcher_command_line.h"
#include "../common/application_log.h"
#include "../common/command_tokens.h"
#include "../common/multibyte_path.h"
#include "../common/text.h"

static void LogLauncherLine(const char *kind, const char *reason, const char *subject)
{
    const char *arguments = 0;
    if (!FindLauncherArguments(GetCommandLineA(), &arguments))
        return;
    const unsigned first = IsApplyStep(arguments) ? 3 : 1;
    char section[MAX_PATH];
    char folder[MAX_PATH];
    char launcher[MAX_PATH];
    char path[MAX_PATH];
    if (!FindPositionalToken(arguments, first + 1, section, MAX_PATH))
        return;
    const char *separator = FindPositionalToken(arguments, first, folder, MAX_PATH) ? FindLastSeparator(folder) : 0;
    folder[separator ? separator - folder + 1 : 0] = 0;
    DWORD length = GetModuleFileNameA(0, launcher, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        launcher[0] = 0;
    char line[3 * MAX_PATH + 160];
    if (!ApplicationLogPath(section, folder, path) || !CopyText(line, sizeof line, "0 ") ||
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
