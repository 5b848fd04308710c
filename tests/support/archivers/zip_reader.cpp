// Zip decoding for the stand-ins. The central directory is the authority for names, sizes and CRCs: a local
// header written with a data descriptor carries zeros there.
#include "zip_reader.h"

#include <zlib.h>

namespace {

const unsigned kEndRecordSize = 22;
const unsigned kCentralHeaderSize = 46;
const unsigned kLocalHeaderSize = 30;
const unsigned kUtf8NameFlag = 1u << 11;

unsigned Read16(const std::string &data, size_t at)
{
    return static_cast<unsigned char>(data[at]) | static_cast<unsigned char>(data[at + 1]) << 8;
}

unsigned long Read32(const std::string &data, size_t at)
{
    return Read16(data, at) | static_cast<unsigned long>(Read16(data, at + 2)) << 16;
}

bool HasSignature(const std::string &data, size_t at, const char *signature)
{
    return at + 4 <= data.size() && data.compare(at, 4, signature, 4) == 0;
}

// The end record sits before a comment of up to 64 KiB; the last signature whose comment length reaches
// exactly the end of the file is the real one (a comment may itself contain the signature bytes).
bool FindEndRecord(const std::string &data, size_t &at)
{
    if (data.size() < kEndRecordSize)
        return false;
    size_t lowest = data.size() > kEndRecordSize + 0xFFFF ? data.size() - kEndRecordSize - 0xFFFF : 0;
    for (size_t p = data.size() - kEndRecordSize + 1; p-- > lowest;) {
        if (HasSignature(data, p, "PK\x05\x06") && p + kEndRecordSize + Read16(data, p + 20) == data.size()) {
            at = p;
            return true;
        }
    }
    return false;
}

bool Inflate(const std::string &packed, unsigned long size, std::string &out)
{
    z_stream stream = z_stream();
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        return false;
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(packed.data()));
    stream.avail_in = static_cast<uInt>(packed.size());
    // One spare byte so that data longer than the recorded size shows up as a mismatch, not a stop.
    std::string buffer(size + 1, '\0');
    stream.next_out = reinterpret_cast<Bytef *>(&buffer[0]);
    stream.avail_out = static_cast<uInt>(buffer.size());
    int status = inflate(&stream, Z_FINISH);
    bool ok = status == Z_STREAM_END && stream.total_out == size;
    inflateEnd(&stream);
    if (ok)
        out.assign(buffer, 0, size);
    return ok;
}

bool ReadEntry(const std::string &data, size_t central, ArchiveEntry &entry, size_t &next)
{
    if (central + kCentralHeaderSize > data.size() || !HasSignature(data, central, "PK\x01\x02"))
        return false;
    unsigned flags = Read16(data, central + 8);
    unsigned method = Read16(data, central + 10);
    unsigned long crc = Read32(data, central + 16);
    unsigned long packedSize = Read32(data, central + 20);
    unsigned long size = Read32(data, central + 24);
    unsigned nameLength = Read16(data, central + 28);
    size_t extraAndComment = Read16(data, central + 30) + Read16(data, central + 32);
    unsigned long local = Read32(data, central + 42);
    next = central + kCentralHeaderSize + nameLength + extraAndComment;
    if (next > data.size() || (flags & 1) != 0)  // encrypted entries are not supported
        return false;
    entry.name = data.substr(central + kCentralHeaderSize, nameLength);
    entry.codePage = (flags & kUtf8NameFlag) ? 65001 : 932;
    entry.folder = !entry.name.empty() && (entry.name.back() == '/' || entry.name.back() == '\\');

    if (local + kLocalHeaderSize > data.size() || !HasSignature(data, local, "PK\x03\x04"))
        return false;
    size_t start = local + kLocalHeaderSize + Read16(data, local + 26) + Read16(data, local + 28);
    if (start > data.size() || packedSize > data.size() - start)
        return false;
    std::string packed = data.substr(start, packedSize);
    if (method == 0) {
        if (packedSize != size)
            return false;
        entry.content = packed;
    } else if (method == 8) {
        if (!Inflate(packed, size, entry.content))
            return false;
    } else {
        return false;
    }
    uLong actual = crc32(0L, reinterpret_cast<const Bytef *>(entry.content.data()),
                         static_cast<uInt>(entry.content.size()));
    return actual == crc;
}

}  // namespace

bool ReadZip(const std::string &data, ArchiveEntries &entries)
{
    size_t end;
    if (!FindEndRecord(data, end))
        return false;
    unsigned count = Read16(data, end + 10);
    unsigned long directorySize = Read32(data, end + 12);
    unsigned long directory = Read32(data, end + 16);
    if (directory > end || directorySize > end - directory)
        return false;
    size_t at = directory;
    for (unsigned i = 0; i < count; ++i) {
        ArchiveEntry entry;
        if (!ReadEntry(data, at, entry, at) || at > directory + directorySize)
            return false;
        entries.push_back(entry);
    }
    return true;
}
