// The worker executable's entry point. There is no run-time start-up code: the entry takes the text after
// its own program name and ends the process itself.
#include <windows.h>
#include "../run/worker_command_line.h"
#include "worker_entry.h"

extern "C" void WorkerStartup()
{
    ExitProcess(RunWorker(GetModuleHandleA(0), SkipWorkerProgramName(GetCommandLineA())));
}
