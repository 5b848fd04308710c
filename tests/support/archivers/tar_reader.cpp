// Tar and gzip decoding for the stand-ins. Names are code page 932 bytes like the zip names; a pax "path"
// record is UTF-8 by definition of that format.
#include "tar_reader.h"

#include <cstdlib>

#include <zlib.h>

namespace {

const size_t kBlock = 512;

bool ReadOctal(const std::string &data, size_t at, size_t length, unsigned long long &value)
{
    value = 0;
    size_t i = 0;
    while (i < length && data[at + i] == ' ')
        ++i;
    bool any = false;
    for (; i < length && data[at + i] >= '0' && data[at + i] <= '7'; ++i) {
        value = value * 8 + (data[at + i] - '0');
        any = true;
    }
    for (; i < length; ++i)
        if (data[at + i] != ' ' && data[at + i] != '\0')
            return false;
    return any;
}

std::string Field(const std::string &data, size_t at, size_t length)
{
    std::string field = data.substr(at, length);
    size_t end = field.find('\0');
    return end == std::string::npos ? field : field.substr(0, end);
}

bool ChecksumMatches(const std::string &data, size_t header)
{
    unsigned long long stored;
    if (!ReadOctal(data, header + 148, 8, stored))
        return false;
    // The checksum is taken with its own field as blanks; old writers summed signed bytes.
    unsigned long unsignedSum = 0;
    long signedSum = 0;
    for (size_t i = 0; i < kBlock; ++i) {
        bool inField = i >= 148 && i < 156;
        unsigned char u = inField ? ' ' : static_cast<unsigned char>(data[header + i]);
        unsignedSum += u;
        signedSum += inField ? ' ' : static_cast<signed char>(data[header + i]);
    }
    return stored == unsignedSum || static_cast<long long>(stored) == signedSum;
}

bool IsZeroBlock(const std::string &data, size_t at)
{
    return data.find_first_not_of('\0', at) >= at + kBlock;
}

// Pax records are "<length> <key>=<value>\n"; only the path matters here.
bool PaxPath(const std::string &records, std::string &path)
{
    size_t at = 0;
    while (at < records.size()) {
        size_t blank = records.find(' ', at);
        if (blank == std::string::npos)
            return false;
        unsigned long long length = std::strtoull(records.substr(at, blank - at).c_str(), nullptr, 10);
        if (length == 0 || at + length > records.size() || records[at + length - 1] != '\n')
            return false;
        std::string record = records.substr(blank + 1, at + length - blank - 2);
        if (record.compare(0, 5, "path=") == 0)
            path = record.substr(5);
        at += length;
    }
    return true;
}

}  // namespace

bool LooksLikeTar(const std::string &data)
{
    if (data.size() < kBlock)
        return false;
    return data.compare(257, 5, "ustar") == 0 || (!IsZeroBlock(data, 0) && ChecksumMatches(data, 0));
}

bool ReadTar(const std::string &data, ArchiveEntries &entries)
{
    std::string longName;
    unsigned longNameCodePage = 932;
    size_t at = 0;
    while (at + kBlock <= data.size()) {
        if (IsZeroBlock(data, at))
            return true;
        if (!ChecksumMatches(data, at))
            return false;
        unsigned long long size;
        if (!ReadOctal(data, at + 124, 12, size))
            return false;
        size_t content = at + kBlock;
        if (size > data.size() - content)
            return false;
        at = content + (size + kBlock - 1) / kBlock * kBlock;
        char type = data[content - kBlock + 156];
        std::string body = data.substr(content, size);
        if (type == 'L') {
            longName = Field(body, 0, body.size());
            longNameCodePage = 932;
            continue;
        }
        if (type == 'x') {
            std::string path;
            if (!PaxPath(body, path))
                return false;
            if (!path.empty()) {
                longName = path;
                longNameCodePage = 65001;
            }
            continue;
        }
        // Global pax records and GNU long link names concern nothing that is written here.
        if (type == 'g' || type == 'K')
            continue;
        ArchiveEntry entry;
        size_t header = content - kBlock;
        if (!longName.empty()) {
            entry.name = longName;
            entry.codePage = longNameCodePage;
        } else {
            entry.name = Field(data, header, 100);
            entry.codePage = 932;
            // The prefix field exists only in the POSIX header ("ustar\0"); GNU headers use that area otherwise.
            std::string prefix = Field(data, header + 345, 155);
            if (data.compare(header + 257, 6, std::string("ustar\0", 6)) == 0 && !prefix.empty())
                entry.name = prefix + "/" + entry.name;
        }
        longName.clear();
        if (type == '0' || type == '\0' || type == '7') {
            entry.folder = false;
            entry.content = body;
        } else if (type == '5') {
            entry.folder = true;
        } else {
            continue;  // links and devices: nothing a stand-in needs to reproduce
        }
        entries.push_back(entry);
    }
    // No end-of-archive blocks: acceptable only when the data ends on a header boundary.
    return at == data.size();
}

bool Gunzip(const std::string &data, std::string &out)
{
    z_stream stream = z_stream();
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK)
        return false;
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    char chunk[65536];
    int status;
    do {
        stream.next_out = reinterpret_cast<Bytef *>(chunk);
        stream.avail_out = sizeof chunk;
        status = inflate(&stream, Z_NO_FLUSH);
        out.append(chunk, sizeof chunk - stream.avail_out);
    } while (status == Z_OK);
    inflateEnd(&stream);
    return status == Z_STREAM_END;
}
