// Times one whole process from inside Wine, as an application that starts a program and waits for it sees
// it: from CreateProcess until the wait for its end returns, with QueryPerformanceCounter, so that Wine's own
// start of this timer is left out.
//
//   process_timer [-shell] [PROGRAM [ARGUMENTS...]]
//
// The rest of this program's command line, as it stands, is the child's command line; the child shares the
// console. With -shell the child is started by ShellExecuteExA, as the launcher starts its worker. After the child has ended prints its exit code, the milliseconds, the system time at CreateProcess
// (in milliseconds since 1970) and the performance counter then (in microseconds), by which the child's own
// records of time can be placed.
// Without a command line nothing is started and nothing printed: the start and end of a bare process, timed by
// another timer. Exit code 0 when the child ran.
#define _WIN32_WINNT 0x0602
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>

// The text after the first token of `position`, quoted or not, and the blanks after it.
static char *AfterToken(char *position)
{
    if (*position == '"') {
        for (position++; *position && *position != '"'; position++) {
        }
        if (*position)
            position++;
    } else {
        while (*position && *position != ' ' && *position != '\t')
            position++;
    }
    while (*position == ' ' || *position == '\t')
        position++;
    return position;
}

// Starts the child by CreateProcessA, or with `shell` by ShellExecuteExA; its process handle or 0.
static HANDLE Start(char *child, bool shell)
{
    if (!shell) {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (!CreateProcessA(0, child, 0, 0, FALSE, 0, 0, 0, &startup, &process))
            return 0;
        CloseHandle(process.hThread);
        return process.hProcess;
    }
    char file[MAX_PATH];
    char *parameters = AfterToken(child);
    size_t length = parameters - child;
    if (length >= sizeof file)
        return 0;
    std::memcpy(file, child, length);
    while (length && (file[length - 1] == ' ' || file[length - 1] == '"'))
        length--;
    file[length] = 0;
    SHELLEXECUTEINFOA start = {};
    start.cbSize = sizeof start;
    start.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOCLOSEPROCESS;
    start.lpVerb = "open";
    start.lpFile = file[0] == '"' ? file + 1 : file;
    start.lpParameters = parameters;
    start.nShow = SW_SHOWNORMAL;
    return ShellExecuteExA(&start) ? start.hProcess : 0;
}

static double UnixMilliseconds(const FILETIME &time)
{
    ULARGE_INTEGER ticks;
    ticks.LowPart = time.dwLowDateTime;
    ticks.HighPart = time.dwHighDateTime;
    // FILETIME counts 100 ns from 1601; 1970 is 11,644,473,600 s later.
    return (ticks.QuadPart - 116444736000000000ULL) / 10000.0;
}

// Whole microseconds of a counter value, without the product overflowing.
static unsigned long long Microseconds(const LARGE_INTEGER &count, const LARGE_INTEGER &frequency)
{
    return count.QuadPart / frequency.QuadPart * 1000000ULL + count.QuadPart % frequency.QuadPart * 1000000ULL /
                                                                  frequency.QuadPart;
}

int main()
{
    char *child = AfterToken(GetCommandLineA());
    bool shell = std::strncmp(child, "-shell ", 7) == 0;
    if (shell)
        child = AfterToken(child);
    if (!*child)
        return 0;
    LARGE_INTEGER start, end, frequency;
    FILETIME started;
    GetSystemTimePreciseAsFileTime(&started);
    QueryPerformanceCounter(&start);
    HANDLE process = Start(child, shell);
    if (!process) {
        std::fprintf(stderr, "cannot start %s: %lu\n", child, GetLastError());
        return 1;
    }
    WaitForSingleObject(process, INFINITE);
    QueryPerformanceCounter(&end);
    QueryPerformanceFrequency(&frequency);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    std::fflush(stdout);
    std::printf("%lu %.2f %.3f %llu\n", code, (end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart,
                UnixMilliseconds(started), Microseconds(start, frequency));
    return 0;
}
