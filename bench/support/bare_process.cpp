// A program that does nothing but import what the launcher (LAUNCHER_IMPORTS) or the worker (WORKER_IMPORTS)
// imports: its whole process is what Wine takes to start and end such a program, loading its libraries
// included. The bench compares its import list with the product's, so that it cannot drift apart unseen.
//
// Prints the performance counter at its entry, in milliseconds, which process_timer's start can be taken from:
// the counter is the same in every process.
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <shellapi.h>

// Referenced, never called: each import stays in the table.
static void *volatile imports[] = {
    reinterpret_cast<void *>(&RegCloseKey), reinterpret_cast<void *>(&ShellExecuteExA),
    reinterpret_cast<void *>(&MessageBoxA),
#ifdef WORKER_IMPORTS
    reinterpret_cast<void *>(&GetStockObject), reinterpret_cast<void *>(&CoTaskMemFree),
    reinterpret_cast<void *>(&SysFreeString),
#endif
};

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    char text[32];
    // wsprintfA has no floating point: whole microseconds.
    int length = wsprintfA(text, "%I64u\n", now.QuadPart / frequency.QuadPart * 1000000 +
                                                   now.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, length, &written, 0);
    return imports[0] && written ? 0 : 1;
}
