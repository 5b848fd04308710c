// The plain WinINet download the worker's download is measured against: one request, a fixed buffer, every
// chunk written as it arrives.
//
//   wininet_fetch URL FILE [BUFFER_BYTES [sha256]]   (default buffer: 409,600 bytes)
//
// With sha256, each read is also hashed as it is written, with the worker's own SHA-256: the plain way to
// check a download as it arrives, for the checked download's comparison.
//
// Prints (after the digest, with sha256) the milliseconds from before the request is opened until the file is
// closed, so that the time of
// the transfer can be told from the time Wine takes to start the process. Exit code 0 on success.
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../../src/worker/verify/sha256.h"
#include "bench_clock.h"


int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: wininet_fetch URL FILE [BUFFER_BYTES]\n");
        return 2;
    }
    unsigned long bufferSize = argc > 3 ? std::strtoul(argv[3], 0, 10) : 409600;
    bool hashing = argc > 4 && std::strcmp(argv[4], "sha256") == 0;
    Sha256 hash;
    Sha256Init(&hash);
    char *buffer = static_cast<char *>(std::malloc(bufferSize ? bufferSize : 1));
    HINTERNET internet = InternetOpenA("wininet_fetch", INTERNET_OPEN_TYPE_PRECONFIG, 0, 0, 0);
    if (!buffer || !bufferSize || !internet) {
        std::fprintf(stderr, "no buffer or no session\n");
        return 1;
    }
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    HINTERNET request =
        InternetOpenUrlA(internet, argv[1], 0, 0, INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (!request) {
        std::fprintf(stderr, "open failed: %lu\n", GetLastError());
        return 1;
    }
    HANDLE file = CreateFileA(argv[2], GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cannot create %s: %lu\n", argv[2], GetLastError());
        return 1;
    }
    DWORD error = 0;
    unsigned long long total = 0;
    for (;;) {
        DWORD read = 0;
        if (!InternetReadFile(request, buffer, bufferSize, &read)) {
            error = GetLastError() ? GetLastError() : ERROR_READ_FAULT;
            break;
        }
        if (read == 0)
            break;
        DWORD written = 0;
        if (!WriteFile(file, buffer, read, &written, 0) || written != read) {
            error = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
            break;
        }
        if (hashing)
            Sha256Update(&hash, buffer, read);
        total += read;
    }
    CloseHandle(file);
    unsigned char digest[32];
    if (hashing)
        Sha256Final(&hash, digest);
    double elapsed = MillisecondsSince(start);
    InternetCloseHandle(request);
    InternetCloseHandle(internet);
    std::free(buffer);
    if (error) {
        std::fprintf(stderr, "transfer failed after %llu bytes: %lu\n", total, error);
        return 1;
    }
    if (hashing) {
        for (unsigned i = 0; i < sizeof digest; i++)
            std::printf("%02x", digest[i]);
        std::printf(" ");
    }
    std::printf("%.1f\n", elapsed);
    return 0;
}
