// Unpacking the embedded worker with the decompressor that ntdll has on every Windows, so that the launcher
// carries none of its own.
#include "packed_worker.h"

typedef LONG(WINAPI *DecompressBufferCall)(USHORT format, PUCHAR unpacked, ULONG unpackedSize, PUCHAR packed,
                                           ULONG packedSize, PULONG finalSize);

// Far above any worker; it keeps the size plus one from overflowing.
static const DWORD LARGEST_WORKER = 16 << 20;

static DWORD ReadLittleEndian(const unsigned char *bytes)
{
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<DWORD>(bytes[3]) << 24;
}

static DWORD Fnv1a(const unsigned char *bytes, DWORD size)
{
    DWORD hash = 0x811C9DC5;
    for (DWORD i = 0; i < size; i++)
        hash = (hash ^ bytes[i]) * 0x01000193;
    return hash;
}

static bool WriteNewFile(const char *destination, const void *bytes, DWORD size)
{
    HANDLE file = CreateFileA(destination, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD done = 0;
    bool written = WriteFile(file, bytes, size, &done, 0) && done == size;
    CloseHandle(file);
    // A short write would leave a truncated program behind.
    if (!written)
        DeleteFileA(destination);
    return written;
}

bool WritePackedWorker(const void *packed, DWORD size, const char *destination)
{
    const unsigned char *bytes = static_cast<const unsigned char *>(packed);
    if (!bytes || !destination || size < PACKED_WORKER_HEADER_SIZE)
        return false;
    for (unsigned i = 0; i < 4; i++)
        if (bytes[i] != static_cast<unsigned char>(PACKED_WORKER_MARK[i]))
            return false;
    DWORD workerSize = ReadLittleEndian(bytes + 4);
    DecompressBufferCall decompress = reinterpret_cast<DecompressBufferCall>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlDecompressBuffer")));
    if (workerSize > LARGEST_WORKER || !decompress)
        return false;
    // One byte more than recorded: LZNT1 stops quietly where the output ends, so a body that holds more than
    // the header says would otherwise pass for the right size.
    unsigned char *worker = static_cast<unsigned char *>(HeapAlloc(GetProcessHeap(), 0, workerSize + 1));
    if (!worker)
        return false;
    ULONG unpacked = 0;
    bool written = decompress(COMPRESSION_FORMAT_LZNT1, worker, workerSize + 1,
                              const_cast<PUCHAR>(bytes + PACKED_WORKER_HEADER_SIZE),
                              size - PACKED_WORKER_HEADER_SIZE, &unpacked) >= 0 &&
                   unpacked == workerSize && Fnv1a(worker, workerSize) == ReadLittleEndian(bytes + 8) &&
                   WriteNewFile(destination, worker, workerSize);
    HeapFree(GetProcessHeap(), 0, worker);
    return written;
}
