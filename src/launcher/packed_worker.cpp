// Unpacking the embedded worker and writing it out, checked whole before a byte is written.
#include "packed_worker.h"
#include "call_transform.h"
#include "lzma_decoder.h"

// Far above any worker; it keeps the sizes added below from overflowing.
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
    unsigned properties = bytes[PACKED_WORKER_HEADER_SIZE - 1];
    DWORD workSize = LzmaWorkSize(properties);
    if (workerSize > LARGEST_WORKER || !workSize)
        return false;
    // One block: the decoder's work memory, then the worker.
    unsigned char *work = static_cast<unsigned char *>(HeapAlloc(GetProcessHeap(), 0, workSize + workerSize));
    if (!work)
        return false;
    unsigned char *worker = work + workSize;
    unsigned unpacked = 0;
    bool written = LzmaDecode(properties, bytes + PACKED_WORKER_HEADER_SIZE, size - PACKED_WORKER_HEADER_SIZE, work,
                              worker, workerSize, &unpacked) &&
                   unpacked == workerSize;
    if (written)
        RestoreCallOperands(worker, workerSize);
    written = written && Fnv1a(worker, workerSize) == ReadLittleEndian(bytes + 8) &&
              WriteNewFile(destination, worker, workerSize);
    HeapFree(GetProcessHeap(), 0, work);
    return written;
}
