#include "archive_input.h"
#include "../../common/heap.h"
#include "../../common/text.h"

// Large reads keep the number of calls low; the block is the unpacker's only copy of the archive.
static const unsigned BLOCK_SIZE = 256 * 1024;

bool OpenArchiveInput(ArchiveInput &input, const char *path, HANDLE held)
{
    input.block = static_cast<unsigned char *>(AllocateBytes(BLOCK_SIZE));
    input.ownFile = held == INVALID_HANDLE_VALUE;
    input.file = input.ownFile ? CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING,
                                             FILE_FLAG_SEQUENTIAL_SCAN, 0)
                               : held;
    LARGE_INTEGER size, start = {};
    if (!input.block || input.file == INVALID_HANDLE_VALUE || !GetFileSizeEx(input.file, &size) ||
        !SetFilePointerEx(input.file, start, 0, FILE_BEGIN)) {
        input.error = GetLastError();
        input.state = INPUT_READ_FAILED;
        return false;
    }
    input.size = static_cast<unsigned long long>(size.QuadPart);
    input.blockStart = 0;
    input.filled = input.at = 0;
    input.state = INPUT_GOOD;
    return true;
}

void CloseArchiveInput(ArchiveInput &input)
{
    if (input.file != INVALID_HANDLE_VALUE && input.ownFile)
        CloseHandle(input.file);
    input.file = INVALID_HANDLE_VALUE;
    FreeBytes(input.block);
    input.block = 0;
}

unsigned long long InputPosition(const ArchiveInput &input)
{
    return input.blockStart + input.at;
}

bool SeekInput(ArchiveInput &input, unsigned long long offset)
{
    if (input.state != INPUT_GOOD)
        return false;
    if (offset >= input.blockStart && offset <= input.blockStart + input.filled) {
        input.at = static_cast<unsigned>(offset - input.blockStart);
        return true;
    }
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    if (offset > input.size || !SetFilePointerEx(input.file, to, 0, FILE_BEGIN)) {
        input.error = offset > input.size ? ERROR_HANDLE_EOF : GetLastError();
        input.state = INPUT_READ_FAILED;
        return false;
    }
    input.blockStart = offset;
    input.filled = input.at = 0;
    return true;
}

// The progress is told in units small enough for 32 bits.
static void TellProgress(ArchiveInput &input)
{
    if (!input.progress || input.plannedReads == 0)
        return;
    unsigned long long done = input.readSoFar, total = input.plannedReads;
    while (total >> 31) {
        done >>= 1;
        total >>= 1;
    }
    input.progress(input.progressContext, static_cast<unsigned>(done < total ? done : total), static_cast<unsigned>(total));
}

static bool ReadBlock(ArchiveInput &input)
{
    if (*input.stop) {
        input.state = INPUT_STOPPED;
        return false;
    }
    input.blockStart += input.filled;
    input.filled = input.at = 0;
    DWORD done = 0;
    if (!ReadFile(input.file, input.block, BLOCK_SIZE, &done, 0)) {
        input.error = GetLastError();
        input.state = INPUT_READ_FAILED;
        return false;
    }
    input.filled = done;
    input.readSoFar += done;
    TellProgress(input);
    return done > 0;
}

unsigned PeekInput(ArchiveInput &input, const unsigned char **bytes)
{
    if (input.state != INPUT_GOOD || (input.at == input.filled && !ReadBlock(input)))
        return 0;
    *bytes = input.block + input.at;
    return input.filled - input.at;
}

void SkipInput(ArchiveInput &input, unsigned count)
{
    input.at += count;
}

bool ReadInput(ArchiveInput &input, void *to, unsigned count)
{
    unsigned char *out = static_cast<unsigned char *>(to);
    while (count) {
        const unsigned char *bytes;
        unsigned available = PeekInput(input, &bytes);
        if (available == 0)
            return false;
        unsigned taken = available < count ? available : count;
        CopyBytes(out, bytes, taken);
        SkipInput(input, taken);
        out += taken;
        count -= taken;
    }
    return true;
}

static voidpf ZlibAllocate(voidpf, uInt items, uInt size)
{
    return items && size > 0xFFFFFFFFu / items ? 0 : AllocateBytes(items * size);
}

static void ZlibFree(voidpf, voidpf block)
{
    FreeBytes(block);
}

bool BeginInflate(z_stream &stream, int windowBits)
{
    stream = z_stream();
    stream.zalloc = ZlibAllocate;
    stream.zfree = ZlibFree;
    return inflateInit2(&stream, windowBits) == Z_OK;
}

bool OpenGzipStream(GzipStream &gzip, ArchiveInput *input)
{
    gzip.input = input;
    gzip.state = GZIP_GOOD;
    // 16 + 15: a gzip header and trailer around a 32 KiB window; zlib checks the trailer's CRC and length.
    if (BeginInflate(gzip.z, 16 + MAX_WBITS))
        return true;
    gzip.state = GZIP_DAMAGED;
    return false;
}

void CloseGzipStream(GzipStream &gzip)
{
    inflateEnd(&gzip.z);
}

// One member only: bytes after it would be another member or something appended, and neither is unpacked.
static void EndMember(GzipStream &gzip)
{
    gzip.state = InputPosition(*gzip.input) < gzip.input->size ? GZIP_DAMAGED : GZIP_ENDED;
}

unsigned ReadGzip(GzipStream &gzip, unsigned char *to, unsigned room)
{
    unsigned produced = 0;
    while (gzip.state == GZIP_GOOD && produced < room) {
        const unsigned char *bytes;
        unsigned available = PeekInput(*gzip.input, &bytes);
        if (available == 0) {
            gzip.state = gzip.input->state == INPUT_GOOD ? GZIP_DAMAGED : GZIP_INPUT_FAILED;
            break;
        }
        gzip.z.next_in = const_cast<Bytef *>(bytes);
        gzip.z.avail_in = available;
        gzip.z.next_out = to + produced;
        gzip.z.avail_out = room - produced;
        int status = inflate(&gzip.z, Z_NO_FLUSH);
        SkipInput(*gzip.input, available - gzip.z.avail_in);
        produced = room - gzip.z.avail_out;
        if (status == Z_STREAM_END)
            EndMember(gzip);
        else if (status != Z_OK)
            gzip.state = GZIP_DAMAGED;
    }
    return produced;
}
