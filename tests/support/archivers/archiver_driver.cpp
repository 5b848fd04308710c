// The archiver driver: a test program that uses an archiver library the way the worker does.
//
//   archiver_driver DLL COMMAND BUSY FILE [QUERIES [CALLS]]
//
// loads DLL by bare name (the normal search, so the system folder), resolves the functions named COMMAND and
// BUSY, asks BUSY QUERIES times (default 0), then calls COMMAND CALLS times (default 1) with the command line
// read from FILE: UTF-8, taken whole and exactly (no line break is removed), converted to the ANSI code page.
// Output, one line each:
//   busy <0|1>          per query
//   result 0x<HEX>      per call
// Exit code 0 when everything ran, 2 on bad arguments or an unreadable FILE, 3 when the library does not
// load ("not loaded <error>"), 4 when a function is missing ("missing <name>").
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

typedef int(WINAPI *CommandFunction)(HWND, LPCSTR, LPSTR, DWORD);
typedef BOOL(WINAPI *BusyFunction)(void);

static bool ReadCommandLine(const char *path, std::string &ansi)
{
    FILE *file = std::fopen(path, "rb");
    if (!file)
        return false;
    std::string utf8;
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        utf8.append(chunk, got);
    std::fclose(file);
    if (utf8.empty()) {
        ansi.clear();
        return true;
    }
    int wideLength = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (wideLength <= 0)
        return false;
    std::wstring wide(wideLength, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], wideLength);
    int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    ansi.assign(length, '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, &ansi[0], length, nullptr, nullptr);
    return true;
}

int main(int argc, char **argv)
{
    if (argc < 5 || argc > 7) {
        std::printf("usage: archiver_driver DLL COMMAND BUSY FILE [QUERIES [CALLS]]\n");
        return 2;
    }
    int queries = argc > 5 ? std::atoi(argv[5]) : 0;
    int calls = argc > 6 ? std::atoi(argv[6]) : 1;
    std::string commandLine;
    if (!ReadCommandLine(argv[4], commandLine)) {
        std::printf("unreadable %s\n", argv[4]);
        return 2;
    }
    HMODULE library = LoadLibraryA(argv[1]);
    if (!library) {
        std::printf("not loaded %lu\n", GetLastError());
        return 3;
    }
    CommandFunction command = reinterpret_cast<CommandFunction>(GetProcAddress(library, argv[2]));
    BusyFunction busy = reinterpret_cast<BusyFunction>(GetProcAddress(library, argv[3]));
    int exitCode = 0;
    if (!command || !busy) {
        std::printf("missing %s\n", !command ? argv[2] : argv[3]);
        exitCode = 4;
    } else {
        for (int i = 0; i < queries; ++i)
            std::printf("busy %d\n", busy() ? 1 : 0);
        for (int i = 0; i < calls; ++i)
            std::printf("result 0x%X\n", static_cast<unsigned>(command(nullptr, commandLine.c_str(), nullptr, 0)));
    }
    std::fflush(stdout);
    FreeLibrary(library);
    return exitCode;
}
