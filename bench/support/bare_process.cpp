// A program that does nothing but import what the launcher (LAUNCHER_IMPORTS) or the worker (WORKER_IMPORTS)
// imports: its whole process is what Wine takes to start and end such a program, loading its libraries
// included. The bench compares its import list with the product's, so that it cannot drift apart unseen.
//
//   bare_launcher FILE, bare_worker FILE
//
// Writes the performance counter at its entry (in microseconds) into FILE, which process_timer's start can be
// taken from, as the counter is the same in every process; a file, since a program started through the shell
// has no standard output.
#include <windows.h>
#include <shellapi.h>

// Referenced, never called: each import stays in the table. The launcher loads shell32 and user32 only when
// it needs them.
static void *volatile imports[] = {
    reinterpret_cast<void *>(&RegCloseKey),
#ifdef WORKER_IMPORTS
    reinterpret_cast<void *>(&ShellExecuteExA), reinterpret_cast<void *>(&MessageBoxA),
    reinterpret_cast<void *>(&GetStockObject),
#endif
};

// Whole microseconds in decimal and a line break, without wsprintfA, which is user32's.
static int Decimal(unsigned long long value, char *text)
{
    char digits[24];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value);
    for (int i = 0; i < count; i++)
        text[i] = digits[count - 1 - i];
    text[count] = '\n';
    return count + 1;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR file, int)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    // The counter first: what follows is the program's own work.
    QueryPerformanceFrequency(&frequency);
    char text[32];
    int length = Decimal(now.QuadPart / frequency.QuadPart * 1000000 +
                             now.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart, text);
    HANDLE output = CreateFileA(file, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    DWORD written = 0;
    bool done = output != INVALID_HANDLE_VALUE && WriteFile(output, text, length, &written, 0) && written == length;
    if (output != INVALID_HANDLE_VALUE)
        CloseHandle(output);
    return imports[0] && done ? 0 : 1;
}
