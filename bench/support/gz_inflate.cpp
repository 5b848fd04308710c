// The plainest inflate of a .gz into a file: the same static zlib as the worker, between ReadFile and
// WriteFile, with the worker's 256 KiB buffers. zlib checks the trailer's CRC-32 and length, as it does for
// the worker. The baseline of the worker's unpacking of one large file.
//
//   gz_inflate ARCHIVE OUTPUT
//
// Prints the milliseconds from opening the archive until the output is closed; exit code 0 when the stream
// ended with its checks right.
#include <windows.h>
#include <zlib.h>

#include <cstdio>

static const unsigned BUFFER_SIZE = 256 * 1024;
static unsigned char input[BUFFER_SIZE], output[BUFFER_SIZE];

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: gz_inflate ARCHIVE OUTPUT\n");
        return 2;
    }
    LARGE_INTEGER start, end, frequency;
    QueryPerformanceCounter(&start);
    HANDLE from = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, 0);
    HANDLE to = CreateFileA(argv[2], GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    z_stream z = {};
    if (from == INVALID_HANDLE_VALUE || to == INVALID_HANDLE_VALUE || inflateInit2(&z, 16 + MAX_WBITS) != Z_OK)
        return 1;
    int status = Z_OK;
    while (status == Z_OK) {
        DWORD got = 0;
        if (!ReadFile(from, input, BUFFER_SIZE, &got, 0) || got == 0)
            break;
        z.next_in = input;
        z.avail_in = got;
        while (z.avail_in && status == Z_OK) {
            z.next_out = output;
            z.avail_out = BUFFER_SIZE;
            status = inflate(&z, Z_NO_FLUSH);
            DWORD written = 0, produced = BUFFER_SIZE - z.avail_out;
            if (produced && (!WriteFile(to, output, produced, &written, 0) || written != produced))
                return 1;
        }
    }
    inflateEnd(&z);
    CloseHandle(from);
    CloseHandle(to);
    QueryPerformanceCounter(&end);
    QueryPerformanceFrequency(&frequency);
    if (status != Z_STREAM_END)
        return 1;
    std::printf("%.1f\n", (end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart);
    return 0;
}
