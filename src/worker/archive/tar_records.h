// The headers of a tar archive (ustar, with GNU long names and PAX extended headers), read from their bytes.
#pragma once

const unsigned TAR_BLOCK = 512;
// The longest name a header holds: a 155-byte prefix, a '/' and a 100-byte name.
const unsigned TAR_HEADER_NAME_MAX = 256;

enum TarKind {
    TAR_FILE,
    TAR_FOLDER,
    TAR_LONG_NAME,      // GNU: the data is the next entry's name
    TAR_EXTENDED,       // PAX: the data holds records for the next entry
    TAR_GLOBAL,         // PAX: records for all entries that follow; none of them matters here
    TAR_LINK_OR_DEVICE, // hard or symbolic link, device, FIFO, or a GNU long link name
    TAR_UNSUPPORTED,    // any other type
    TAR_END,            // a block of zeros
    TAR_DAMAGED,        // the checksum or the size field is wrong
};

struct TarHeader {
    TarKind kind;
    char type;
    unsigned long long size;
    char name[TAR_HEADER_NAME_MAX + 1];
    unsigned nameLength;
};

TarKind ReadTarHeader(const unsigned char *block, TarHeader *header);

// The blocks that hold `size` bytes of data, in bytes.
unsigned long long TarPadded(unsigned long long size);

struct PaxValues {
    const char *path; // points into the records; not terminated
    unsigned pathLength;
    bool havePath;
    unsigned long long size;
    bool haveSize;
};

// Reads the "<length> <key>=<value>\n" records of a PAX extended header; keeps "path" and "size". False when
// a record is malformed.
bool ReadPaxRecords(const char *records, unsigned length, PaxValues *values);
