// The archiver alone, as the worker calls it: the library loaded by its bare name, its command function
// looked up and called once with the command line the worker composes for a silent run, without the rest of
// the worker around it.
//
//   archive_loader DLL ARCHIVE DESTINATION\
//
// DLL must be the library the worker picks for ARCHIVE's extension. Prints the milliseconds from the
// library's load until it is released again. Exit code 0 when the archiver reported success.
#include <windows.h>

#include <cstdio>

#include "../../src/common/text_buffer.h"
#include "../../src/worker/archive/archiver_binding.h"
#include "../../src/worker/archive/archiver_kind.h"

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: archive_loader DLL ARCHIVE DESTINATION\\\n");
        return 2;
    }
    const char *libraryName = argv[1], *archive = argv[2], *destination = argv[3];
    int kind = FindArchiverKind(archive);
    if (kind == ARCHIVER_NONE || lstrcmpiA(ArchiverLibraryOf(kind).fileName, libraryName) != 0) {
        std::fprintf(stderr, "%s is not the library the worker uses for %s\n", libraryName, archive);
        return 2;
    }
    TextBuffer commandLine = {};
    if (!ComposeExtractCommand(commandLine, kind, archive, destination, true)) {
        std::fprintf(stderr, "no command line\n");
        return 2;
    }
    // As the worker does: bare names never resolve to the current directory, and the destination exists.
    SetDllDirectoryA("");
    CreateDirectoryA(destination, 0);

    LARGE_INTEGER start, end, frequency;
    QueryPerformanceCounter(&start);
    HMODULE library = LoadLibraryA(libraryName);
    if (!library) {
        std::fprintf(stderr, "cannot load %s: %lu\n", libraryName, GetLastError());
        return 1;
    }
    ArchiverCommandFunction command = reinterpret_cast<ArchiverCommandFunction>(
        reinterpret_cast<void *>(GetProcAddress(library, ArchiverLibraryOf(kind).command)));
    if (!command) {
        std::fprintf(stderr, "%s has no %s\n", libraryName, ArchiverLibraryOf(kind).command);
        return 1;
    }
    int result = command(0, commandLine.text, 0, 0);
    FreeLibrary(library);
    QueryPerformanceCounter(&end);
    QueryPerformanceFrequency(&frequency);
    commandLine.Free();
    if (result != 0) {
        std::fprintf(stderr, "the archiver answered %d\n", result);
        return 1;
    }
    std::printf("%.1f\n", (end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart);
    return 0;
}
