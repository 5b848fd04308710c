// Unpacks archives with the worker's own unpacker, as the worker calls it, so that tests can try many archives
// in one process.
//
//   unpack_driver ARCHIVE DESTINATION [ARCHIVE DESTINATION ...]
//
// Each destination is created. The run log of section "unpack-driver" gets a line "archive <ARCHIVE>" before
// each archive's own lines. Output, one line per archive:
//   outcome O cause C code N reports R
// where R counts the progress reports. KOVREL_DRIVER_STOP_AFTER=K sets the stop state at the K-th report and
// prints "stopped after T ms" when the unpacker returns, T counted from the stop. The last line gives the
// milliseconds that the unpacking of all of them took, for the benchmarks.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "../../src/worker/archive/unpacker.h"
#include "../../src/worker/run/run_log.h"

static volatile unsigned short stopState;
static unsigned reports;
static unsigned stopAfter;
static DWORD stoppedAt;

static void CountProgress(void *, unsigned done, unsigned total)
{
    if (done > total)
        std::printf("progress beyond its total: %u of %u\n", done, total);
    if (++reports == stopAfter) {
        stopState = 1;
        stoppedAt = GetTickCount();
    }
}

int main(int argc, char **argv)
{
    const char *stop = std::getenv("KOVREL_DRIVER_STOP_AFTER");
    stopAfter = stop ? static_cast<unsigned>(std::atoi(stop)) : 0;
    BeginRunLog("unpack-driver", "");
    LARGE_INTEGER start, end, frequency, spent = {};
    for (int i = 1; i + 1 < argc; i += 2) {
        char destination[MAX_PATH];
        wsprintfA(destination, "%s\\", argv[i + 1]);
        CreateDirectoryA(destination, 0);
        LogRun("archive %s", argv[i]);
        stopState = 0;
        reports = 0;
        UnpackJob job = {argv[i], INVALID_HANDLE_VALUE, destination, 0, true, &stopState, CountProgress, 0};
        const Unpacker *unpacker = FindUnpacker(argv[i]);
        UnpackResult result = {UNPACK_FAILED, UNPACK_CAUSE_UNKNOWN_KIND, 0};
        QueryPerformanceCounter(&start);
        if (unpacker)
            result = unpacker->unpack(job);
        QueryPerformanceCounter(&end);
        spent.QuadPart += end.QuadPart - start.QuadPart;
        std::printf("outcome %d cause %d code %d reports %u\n", result.outcome, result.cause, result.code, reports);
        if (stopState)
            std::printf("stopped after %lu ms\n", GetTickCount() - stoppedAt);
    }
    EndRunLog();
    QueryPerformanceFrequency(&frequency);
    std::printf("%.1f\n", spent.QuadPart * 1000.0 / frequency.QuadPart);
    return 0;
}
