#include "zip_records.h"

static const unsigned MAX16 = 0xFFFF;
static const unsigned long MAX32 = 0xFFFFFFFFul;
static const unsigned ZIP64_EXTRA_ID = 0x0001;
static const unsigned FLAG_DATA_DESCRIPTOR = 1u << 3;

unsigned ReadLittle16(const unsigned char *bytes)
{
    return bytes[0] | bytes[1] << 8;
}

unsigned long ReadLittle32(const unsigned char *bytes)
{
    return ReadLittle16(bytes) | static_cast<unsigned long>(ReadLittle16(bytes + 2)) << 16;
}

unsigned long long ReadLittle64(const unsigned char *bytes)
{
    return ReadLittle32(bytes) | static_cast<unsigned long long>(ReadLittle32(bytes + 4)) << 32;
}

static bool HasSignature(const unsigned char *bytes, unsigned char third, unsigned char fourth)
{
    return bytes[0] == 'P' && bytes[1] == 'K' && bytes[2] == third && bytes[3] == fourth;
}

bool FindZipEnd(const unsigned char *tail, unsigned length, unsigned *at)
{
    if (length < ZIP_END_SIZE)
        return false;
    for (unsigned p = length - ZIP_END_SIZE + 1; p-- > 0;) {
        if (HasSignature(tail + p, 5, 6) && p + ZIP_END_SIZE + ReadLittle16(tail + p + 20) == length) {
            *at = p;
            return true;
        }
    }
    return false;
}

ZipEndVerdict ReadZipEnd(const unsigned char *record, ZipDirectory *directory)
{
    unsigned disk = ReadLittle16(record + 4), directoryDisk = ReadLittle16(record + 6);
    unsigned onDisk = ReadLittle16(record + 8), entries = ReadLittle16(record + 10);
    directory->entries = entries;
    directory->size = ReadLittle32(record + 12);
    directory->offset = ReadLittle32(record + 16);
    if (disk == MAX16 || directoryDisk == MAX16 || entries == MAX16 || onDisk == MAX16 ||
        directory->size == MAX32 || directory->offset == MAX32)
        return ZIP_END_NEEDS_ZIP64;
    return disk == 0 && directoryDisk == 0 && onDisk == entries ? ZIP_END_COMPLETE : ZIP_END_SPLIT;
}

bool ReadZip64Locator(const unsigned char *locator, unsigned long long *endOffset)
{
    if (!HasSignature(locator, 6, 7) || ReadLittle32(locator + 4) != 0 || ReadLittle32(locator + 16) != 1)
        return false;
    *endOffset = ReadLittle64(locator + 8);
    return true;
}

bool ReadZip64End(const unsigned char *record, ZipDirectory *directory)
{
    if (!HasSignature(record, 6, 6) || ReadLittle32(record + 16) != 0 || ReadLittle32(record + 20) != 0)
        return false;
    directory->entries = ReadLittle64(record + 32);
    directory->size = ReadLittle64(record + 40);
    directory->offset = ReadLittle64(record + 48);
    return ReadLittle64(record + 24) == directory->entries;
}

// The file type in the upper half of the attributes of an entry made on Unix, and the reparse point
// attribute of one made on Windows.
static bool IsLinkOrDevice(unsigned madeBy, unsigned long attributes)
{
    const unsigned UNIX_HOST = 3, TYPE_MASK = 0xF000, REGULAR = 0x8000, FOLDER = 0x4000;
    const unsigned long REPARSE_POINT = 0x400;
    if ((madeBy >> 8) == UNIX_HOST) {
        unsigned type = (attributes >> 16) & TYPE_MASK;
        return type != 0 && type != REGULAR && type != FOLDER;
    }
    return (attributes & REPARSE_POINT) != 0;
}

bool ReadZipCentral(const unsigned char *header, ZipEntry *entry)
{
    if (!HasSignature(header, 1, 2))
        return false;
    entry->flags = ReadLittle16(header + 8);
    entry->method = ReadLittle16(header + 10);
    entry->crc = ReadLittle32(header + 16);
    entry->packedSize = ReadLittle32(header + 20);
    entry->size = ReadLittle32(header + 24);
    entry->nameLength = ReadLittle16(header + 28);
    entry->extraLength = ReadLittle16(header + 30);
    entry->commentLength = ReadLittle16(header + 32);
    entry->localOffset = ReadLittle32(header + 42);
    entry->linkOrDevice = IsLinkOrDevice(ReadLittle16(header + 4), ReadLittle32(header + 38));
    unsigned disk = ReadLittle16(header + 34);
    return disk == 0 || disk == MAX16;
}

// The zip64 field lists, in this order, only the values whose 32-bit fields are at their maximum.
bool ApplyZip64Extra(const unsigned char *extra, unsigned length, ZipEntry *entry)
{
    bool needed = entry->size == MAX32 || entry->packedSize == MAX32 || entry->localOffset == MAX32;
    for (unsigned at = 0; at + 4 <= length;) {
        unsigned id = ReadLittle16(extra + at), size = ReadLittle16(extra + at + 2);
        const unsigned char *field = extra + at + 4;
        if (size > length - at - 4)
            return false;
        if (id == ZIP64_EXTRA_ID) {
            unsigned long long *values[] = {&entry->size, &entry->packedSize, &entry->localOffset};
            unsigned used = 0;
            for (unsigned long long *value : values) {
                if (*value != MAX32)
                    continue;
                if (used + 8 > size)
                    return false;
                *value = ReadLittle64(field + used);
                used += 8;
            }
            return true;
        }
        at += 4 + size;
    }
    return !needed;
}

bool ReadZipLocal(const unsigned char *header, ZipLocal *local)
{
    if (!HasSignature(header, 3, 4))
        return false;
    local->flags = ReadLittle16(header + 6);
    local->method = ReadLittle16(header + 8);
    local->crc = ReadLittle32(header + 14);
    local->packedSize = ReadLittle32(header + 18);
    local->size = ReadLittle32(header + 22);
    local->nameLength = ReadLittle16(header + 26);
    local->extraLength = ReadLittle16(header + 28);
    return true;
}

bool ZipLocalAgrees(ZipLocal local, const unsigned char *extra, const ZipEntry &entry)
{
    if (local.method != entry.method || (local.flags & ZIP_FLAG_ENCRYPTED) != (entry.flags & ZIP_FLAG_ENCRYPTED))
        return false;
    // A local zip64 field holds both sizes whenever either is at its maximum.
    if (local.size == MAX32 || local.packedSize == MAX32) {
        ZipEntry sizes = {};
        sizes.size = sizes.packedSize = MAX32;
        if (!ApplyZip64Extra(extra, local.extraLength, &sizes))
            return false;
        local.size = sizes.size;
        local.packedSize = sizes.packedSize;
    }
    // With a data descriptor the local header may carry zeros; what it does carry must still agree.
    bool described = (local.flags & FLAG_DATA_DESCRIPTOR) != 0;
    if (described && local.crc == 0 && local.packedSize == 0 && local.size == 0)
        return true;
    return local.crc == entry.crc && local.size == entry.size && local.packedSize == entry.packedSize;
}
