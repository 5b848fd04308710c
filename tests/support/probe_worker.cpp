// A worker for the end-to-end tests: it writes what reached it to the file that KOVREL_PROBE_OUT names
// (the text after its program name, then each positional token and the option word, one per line, with
// "<none>" for an empty slot), and then runs exactly as the real worker does.
#include <windows.h>
#include "../../src/worker/run/worker_command_line.h"
#include "../../src/worker/startup/worker_entry.h"
#include "../../src/worker/run/worker_settings.h"
#include "../../src/common/text.h"

static void WriteLine(HANDLE file, const char *text)
{
    DWORD done;
    WriteFile(file, text, TextLength(text), &done, 0);
    WriteFile(file, "\n", 1, &done, 0);
}

static void RecordCommandLine(const char *tail)
{
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("KOVREL_PROBE_OUT", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE)
        return;
    WriteLine(file, tail);
    bool parsed = ParseWorkerCommandLine(tail);
    char *slots[] = {workerArgs.launcherPath, workerArgs.infoUrl, workerArgs.appPath, workerArgs.infoSection,
                     workerArgs.installedVersion, workerArgs.caption, workerArgs.restartProgram,
                     workerArgs.restartParams};
    for (char *slot : slots)
        WriteLine(file, slot ? slot : "<none>");
    char summary[64];
    wsprintfA(summary, "parsed=%d options=%x", parsed ? 1 : 0, workerSettings.options);
    WriteLine(file, summary);
    CloseHandle(file);
    FreeWorkerArgs();
    workerSettings.options = OPT_DEFAULTS;
}

extern "C" void WorkerStartup()
{
    const char *tail = SkipWorkerProgramName(GetCommandLineA());
    RecordCommandLine(tail);
    ExitProcess(RunWorker(GetModuleHandleA(0), tail));
}
