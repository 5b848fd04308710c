// The plain WinINet program a check is measured against: the information file fetched once (InternetOpen,
// InternetOpenUrl, read to the end, close) and nothing else, so that its whole process is the least a
// program can do to learn what the file says.
//
//   wininet_check URL
//
// Prints the bytes read, the milliseconds from before InternetOpen until the last handle is closed and the
// performance counter before InternetOpen (in microseconds), so that the fetch can be told from the start and
// end of the process. Exit code 0 on success.
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include "bench_clock.h"


int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: wininet_check URL\n");
        return 2;
    }
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    HINTERNET internet = InternetOpenA("wininet_check", INTERNET_OPEN_TYPE_PRECONFIG, 0, 0, 0);
    // The worker's flags for the same request: never an answer from the cache.
    HINTERNET request = internet ? InternetOpenUrlA(internet, argv[1], 0, 0,
                                                    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0) : 0;
    DWORD error = request ? 0 : GetLastError();
    unsigned long total = 0;
    char buffer[4096];
    for (DWORD read = 1; request && read;) {
        if (!InternetReadFile(request, buffer, sizeof buffer, &read)) {
            error = GetLastError() ? GetLastError() : ERROR_READ_FAULT;
            break;
        }
        total += read;
    }
    if (request)
        InternetCloseHandle(request);
    if (internet)
        InternetCloseHandle(internet);
    double elapsed = MillisecondsSince(start);
    if (error || !internet) {
        std::fprintf(stderr, "fetch failed after %lu bytes: %lu\n", total, error);
        return 1;
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::printf("%lu %.2f %llu\n", total, elapsed,
                start.QuadPart / frequency.QuadPart * 1000000ULL +
                    start.QuadPart % frequency.QuadPart * 1000000ULL / frequency.QuadPart);
    return 0;
}
