// The records of a zip archive, read from their bytes. Only what unpacking needs is kept; every value that
// places or sizes something is checked by the caller against the archive's own size before it is used.
#pragma once

const unsigned ZIP_END_SIZE = 22;      // the end of central directory record, without its comment
const unsigned ZIP64_LOCATOR_SIZE = 20;
const unsigned ZIP64_END_SIZE = 56;
const unsigned ZIP_CENTRAL_SIZE = 46;  // a central directory header, without its name, extra field and comment
const unsigned ZIP_LOCAL_SIZE = 30;    // a local header, without its name and extra field
// The end record sits at most this far from the archive's end: its comment is up to 65,535 bytes.
const unsigned ZIP_TAIL_SIZE = ZIP_END_SIZE + 0xFFFF + ZIP64_LOCATOR_SIZE;

const unsigned ZIP_FLAG_ENCRYPTED = 1u << 0;
const unsigned ZIP_FLAG_UTF8_NAME = 1u << 11;
const unsigned ZIP_FLAG_ENCRYPTED_DIRECTORY = 1u << 13;
const unsigned ZIP_METHOD_STORED = 0;
const unsigned ZIP_METHOD_DEFLATED = 8;

struct ZipDirectory {
    unsigned long long entries;
    unsigned long long size;   // of the central directory, in bytes
    unsigned long long offset; // of the central directory
};

// Where the end record starts in `tail`, the last `length` bytes of the archive: the last signature whose
// comment ends exactly at the archive's end (a comment may itself hold the signature's bytes). False when
// there is none.
bool FindZipEnd(const unsigned char *tail, unsigned length, unsigned *at);

enum ZipEndVerdict {
    ZIP_END_COMPLETE,     // the directory is described by the end record alone
    ZIP_END_NEEDS_ZIP64,  // a value is at its maximum: the zip64 records hold it
    ZIP_END_SPLIT,        // the archive spans several disks
};

ZipEndVerdict ReadZipEnd(const unsigned char *record, ZipDirectory *directory);

// The zip64 end record's offset, from the locator; false when the bytes are not a locator of a one-disk archive.
bool ReadZip64Locator(const unsigned char *locator, unsigned long long *endOffset);

// False when the bytes are not a zip64 end record of a one-disk archive.
bool ReadZip64End(const unsigned char *record, ZipDirectory *directory);

struct ZipEntry {
    unsigned flags;
    unsigned method;
    unsigned long crc;
    unsigned long long packedSize;
    unsigned long long size;
    unsigned long long localOffset;
    unsigned nameLength;
    unsigned extraLength;
    unsigned commentLength;
    bool linkOrDevice; // its attributes say link, device, FIFO or socket
};

// Reads a central directory header's fixed part; false when the signature is wrong or the entry starts on
// another disk. The zip64 extra field (ApplyZip64Extra) may then replace sizes and the offset.
bool ReadZipCentral(const unsigned char *header, ZipEntry *entry);

// Takes the 64-bit values of the zip64 extra field for those fields of `entry` that are at their 32-bit
// maximum. False when such a value is missing or the extra field is malformed.
bool ApplyZip64Extra(const unsigned char *extra, unsigned length, ZipEntry *entry);

struct ZipLocal {
    unsigned flags;
    unsigned method;
    unsigned long crc;
    unsigned long long packedSize;
    unsigned long long size;
    unsigned nameLength;
    unsigned extraLength;
};

// Reads a local header's fixed part; false when the signature is wrong.
bool ReadZipLocal(const unsigned char *header, ZipLocal *local);

// True when a local header (with its extra field) agrees with the central directory's entry: method,
// encryption and, unless a data descriptor follows the data, CRC and sizes.
bool ZipLocalAgrees(ZipLocal local, const unsigned char *extra, const ZipEntry &entry);

unsigned ReadLittle16(const unsigned char *bytes);
unsigned long ReadLittle32(const unsigned char *bytes);
unsigned long long ReadLittle64(const unsigned char *bytes);
