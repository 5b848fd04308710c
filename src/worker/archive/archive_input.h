// The archive as the built-in unpacker reads it: from its file in large blocks, never whole, with the stop
// state polled and the progress told at every block. A gzip layer over it gives the inflated bytes.
#pragma once
#include <windows.h>
#include <zlib.h>

enum InputState {
    INPUT_GOOD,
    INPUT_READ_FAILED, // the file could not be read (`error` holds the code)
    INPUT_STOPPED,     // the stop state left 0
};

struct ArchiveInput {
    HANDLE file;
    bool ownFile; // opened here, and closed here
    unsigned long long size;
    unsigned long long blockStart; // the file offset of block[0]
    unsigned char *block;
    unsigned filled;               // bytes in the block
    unsigned at;                   // the next byte to hand out
    InputState state;
    DWORD error;
    const volatile unsigned short *stop;
    // Told the bytes read so far against the bytes that the whole unpacking will read.
    void (*progress)(void *context, unsigned done, unsigned total);
    void *progressContext;
    unsigned long long readSoFar;
    unsigned long long plannedReads;
};

// Reads the archive through `held` when it is a handle (from its start; it stays open), else opens the path.
bool OpenArchiveInput(ArchiveInput &input, const char *path, HANDLE held);
void CloseArchiveInput(ArchiveInput &input);

// Moves to a file offset; the block is kept when the offset falls inside it.
bool SeekInput(ArchiveInput &input, unsigned long long offset);

// The bytes available from the current position without another read, reading a block when none is; 0 at the
// end of the file or on a failure (then `state` says which).
unsigned PeekInput(ArchiveInput &input, const unsigned char **bytes);
void SkipInput(ArchiveInput &input, unsigned count);

// Exactly `count` bytes, or false (at the end of the file too).
bool ReadInput(ArchiveInput &input, void *to, unsigned count);

unsigned long long InputPosition(const ArchiveInput &input);

// zlib's state, its memory taken from the process heap.
bool BeginInflate(z_stream &stream, int windowBits);

enum GzipState {
    GZIP_GOOD,
    GZIP_ENDED,   // the member ended, its CRC and length checked, and nothing follows it
    GZIP_DAMAGED, // the data, its check or its end is wrong, or something follows the member
    GZIP_INPUT_FAILED,
};

// A gzip file of one member, inflated as it is read from the input's current position.
struct GzipStream {
    ArchiveInput *input;
    z_stream z;
    GzipState state;
};

bool OpenGzipStream(GzipStream &gzip, ArchiveInput *input);
void CloseGzipStream(GzipStream &gzip);

// Inflates up to `room` bytes into `to`; the count, which is short only when the state is no longer GZIP_GOOD.
unsigned ReadGzip(GzipStream &gzip, unsigned char *to, unsigned room);
