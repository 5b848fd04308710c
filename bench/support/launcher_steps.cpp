// Two of a check's steps in the launcher, alone, on the launcher's own embedded worker: the run folder made and
// the worker unpacked into it, then the folder removed again, as the launcher does before and after its worker.
//
//   launcher_steps LAUNCHER FOLDER\
//
// FOLDER must not exist. Prints the milliseconds of each step. Exit code 0 when both succeeded.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "../../src/common/tree_removal.h"
#include "../../src/launcher/worker_handoff.h"
#include "bench_clock.h"


int main(int argc, char **argv)
{
    char worker[MAX_PATH];
    if (argc != 3 || std::strlen(argv[2]) + sizeof "Kovrelw.exe" > sizeof worker) {
        std::fprintf(stderr, "usage: launcher_steps LAUNCHER FOLDER\\\n");
        return 2;
    }
    // The resources are read as the launcher reads its own: through the mapped file.
    HMODULE launcher = LoadLibraryExA(argv[1], 0, LOAD_LIBRARY_AS_DATAFILE);
    if (!launcher) {
        std::fprintf(stderr, "cannot load %s: %lu\n", argv[1], GetLastError());
        return 1;
    }
    std::strcpy(worker, argv[2]);
    std::strcat(worker, "Kovrelw.exe");
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    bool extracted = CreateDirectoryA(argv[2], 0) && ExtractWorker(launcher, worker);
    double extraction = MillisecondsSince(start);
    QueryPerformanceCounter(&start);
    bool removed = RemoveTree(argv[2], true);
    double removal = MillisecondsSince(start);
    FreeLibrary(launcher);
    if (!extracted || !removed) {
        std::fprintf(stderr, "extracted %d, removed %d: %lu\n", extracted, removed, GetLastError());
        return 1;
    }
    std::printf("%.2f %.2f\n", extraction, removal);
    return 0;
}
