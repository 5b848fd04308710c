// The built-in unpacker's pure parts: entry names, format by extension, and the zip and tar records' edge
// cases that hand-made archives in the end-to-end tables do not reach.
#include <gtest/gtest.h>
#include <cstdio>
#include <cstring>
#include <string>
#include "../../../src/worker/archive/builtin_format.h"
#include "../../../src/worker/archive/entry_name.h"
#include "../../../src/worker/archive/tar_records.h"
#include "../../../src/worker/archive/zip_records.h"

TEST(CheckEntryName, Table)
{
    struct Row {
        const char *name;
        EntryNameVerdict verdict;
        const char *relative;
        bool folder;
    } rows[] = {
        {"a/b.txt", ENTRY_NAME_GOOD, "a\\b.txt", false},
        {"./a//./b/", ENTRY_NAME_GOOD, "a\\b", true},
        {"./", ENTRY_NAME_ROOT, "", true},
        {"\xE6\x97\xA5/\xF0\x9F\x98\x80 x.txt", ENTRY_NAME_GOOD, "\xE6\x97\xA5\\\xF0\x9F\x98\x80 x.txt", false},
        {"a..b/.x", ENTRY_NAME_GOOD, "a..b\\.x", false},
        {"console.txt", ENTRY_NAME_GOOD, "console.txt", false},
        {"", ENTRY_NAME_REFUSED, 0, false},
        {".", ENTRY_NAME_REFUSED, 0, false},
        {"a/..", ENTRY_NAME_REFUSED, 0, false},
        {"a/. .", ENTRY_NAME_REFUSED, 0, false},
        {"CONOUT$", ENTRY_NAME_REFUSED, 0, false},
        {"x/lpt9 .txt", ENTRY_NAME_REFUSED, 0, false},
        {"a*b", ENTRY_NAME_REFUSED, 0, false},
        {"quote\"", ENTRY_NAME_REFUSED, 0, false},
    };
    for (const Row &row : rows) {
        char relative[32] = "unchanged";
        bool folder = !row.folder;
        EntryNameVerdict verdict = CheckEntryName(row.name, static_cast<unsigned>(std::strlen(row.name)), relative,
                                                  sizeof relative, &folder);
        EXPECT_EQ(verdict, row.verdict) << row.name;
        if (row.relative && verdict != ENTRY_NAME_REFUSED) {
            EXPECT_STREQ(relative, row.relative) << row.name;
            EXPECT_EQ(folder, row.folder) << row.name;
        }
    }
    // A name that does not fit the buffer is refused, never cut short.
    std::string longName(40, 'n');
    char small[32];
    bool folder;
    EXPECT_EQ(CheckEntryName(longName.c_str(), 40, small, sizeof small, &folder), ENTRY_NAME_REFUSED);
    EXPECT_EQ(CheckEntryName(longName.c_str(), 31, small, sizeof small, &folder), ENTRY_NAME_GOOD);
}

TEST(BuiltinFormatOf, ByTheEndOfThePath)
{
    EXPECT_EQ(BuiltinFormatOf("C:\\w\\APP.ZIP"), BUILTIN_ZIP);
    EXPECT_EQ(BuiltinFormatOf("a.jar"), BUILTIN_ZIP);
    EXPECT_EQ(BuiltinFormatOf("a.Tar"), BUILTIN_TAR);
    EXPECT_EQ(BuiltinFormatOf("a.tar.GZ"), BUILTIN_TAR_GZ);
    EXPECT_EQ(BuiltinFormatOf("a.tgz"), BUILTIN_TAR_GZ);
    EXPECT_EQ(BuiltinFormatOf("app.exe.gz"), BUILTIN_GZIP);
    EXPECT_EQ(BuiltinFormatOf("a.lzh"), BUILTIN_NONE);
    EXPECT_EQ(BuiltinFormatOf("a.tar.bz2"), BUILTIN_NONE);
    EXPECT_EQ(BuiltinFormatOf("zip"), BUILTIN_NONE);
    EXPECT_EQ(BuiltinFormatOf(nullptr), BUILTIN_NONE);
}

static void SealTarHeader(unsigned char *block)
{
    std::memset(block + 148, ' ', 8);
    unsigned sum = 0;
    for (unsigned i = 0; i < TAR_BLOCK; i++)
        sum += block[i];
    std::snprintf(reinterpret_cast<char *>(block + 148), 8, "%06o", sum);
}

TEST(ReadTarHeader, SizesPrefixesAndChecksums)
{
    unsigned char block[TAR_BLOCK] = {};
    std::strcpy(reinterpret_cast<char *>(block), "name.txt");
    block[156] = '0';
    std::memcpy(block + 257, "ustar\0" "00", 8);
    std::strcpy(reinterpret_cast<char *>(block + 345), "pre/fix");
    // A base-256 size, as tar writes sizes of 8 GiB and more.
    block[124] = 0x80;
    block[131] = 0x02;
    SealTarHeader(block);
    TarHeader header;
    ASSERT_EQ(ReadTarHeader(block, &header), TAR_FILE);
    EXPECT_STREQ(header.name, "pre/fix/name.txt");
    EXPECT_EQ(header.size, 2ull << 32);
    // GNU's magic keeps other fields where ustar has the prefix.
    std::memcpy(block + 257, "ustar  \0", 8);
    SealTarHeader(block);
    ASSERT_EQ(ReadTarHeader(block, &header), TAR_FILE);
    EXPECT_STREQ(header.name, "name.txt");
    block[0] ^= 1;
    EXPECT_EQ(ReadTarHeader(block, &header), TAR_DAMAGED);
    EXPECT_EQ(TarPadded(0), 0u);
    EXPECT_EQ(TarPadded(513), 1024u);
}

TEST(ReadPaxRecords, Table)
{
    PaxValues values;
    const char good[] = "17 path=\xCE\xB1/b.txt\n11 size=42\n19 mtime=1.5e9 x y\n";
    ASSERT_TRUE(ReadPaxRecords(good, sizeof good - 1, &values));
    EXPECT_EQ(std::string(values.path, values.pathLength), "\xCE\xB1/b.txt");
    EXPECT_TRUE(values.haveSize);
    EXPECT_EQ(values.size, 42u);
    const char *bad[] = {"99 path=x\n", "7 path=x\n", "8 pathx\n", "x path=y\n", "11 size=4a\n", "8 size=\n"};
    for (const char *records : bad)
        EXPECT_FALSE(ReadPaxRecords(records, static_cast<unsigned>(std::strlen(records)), &values)) << records;
}

TEST(ZipRecords, EndSearchAndZip64Fields)
{
    // The comment holds the end signature itself: only the record whose comment ends the archive counts.
    unsigned char tail[ZIP_END_SIZE + 24] = {'P', 'K', 5, 6};
    tail[20] = 24;
    std::memcpy(tail + ZIP_END_SIZE, "PK\x05\x06 and more text", 18);
    unsigned at = 99;
    ASSERT_TRUE(FindZipEnd(tail, sizeof tail, &at));
    EXPECT_EQ(at, 0u);
    EXPECT_FALSE(FindZipEnd(tail, sizeof tail - 1, &at));

    ZipEntry entry = {};
    entry.size = 0xFFFFFFFFu;
    entry.packedSize = 7;
    entry.localOffset = 0xFFFFFFFFu;
    const unsigned char both[] = {9, 0, 0, 0, 1, 0, 16, 0, 1, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_TRUE(ApplyZip64Extra(both, sizeof both, &entry));
    EXPECT_EQ(entry.size, 0x100000001ull);
    EXPECT_EQ(entry.packedSize, 7u);
    EXPECT_EQ(entry.localOffset, 2u);
    entry.size = entry.localOffset = 0xFFFFFFFFu;
    EXPECT_FALSE(ApplyZip64Extra(both, 12, &entry)) << "the offset is missing";
    EXPECT_FALSE(ApplyZip64Extra(both, 3, &entry)) << "no zip64 field at all";
}
