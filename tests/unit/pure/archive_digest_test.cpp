// The archive's digest check: a difference anywhere, at either end included, refuses the archive.
#include <gtest/gtest.h>
#include <string>
#include "../../../src/worker/verify/archive_digest.h"

namespace {

const char kAbc[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const char kEmpty[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

} // namespace

TEST(ArchiveDigest, EveryByteIsCompared)
{
    struct {
        const char *label;
        std::string archive;
        const char *promised;
        unsigned flippedByte; // 32: none
        bool matches;
    } rows[] = {
        {"all match", "abc", kAbc, 32, true},
        {"first byte differs", "abc", kAbc, 0, false},
        {"last byte differs", "abc", kAbc, 31, false},
        {"empty archive, its own digest", "", kEmpty, 32, true},
        {"empty archive, another archive's digest", "", kAbc, 32, false},
    };
    for (const auto &row : rows) {
        unsigned char expected[32];
        for (unsigned i = 0; i < 32; i++)
            expected[i] = static_cast<unsigned char>(std::stoul(std::string(row.promised + 2 * i, 2), nullptr, 16));
        if (row.flippedByte < 32)
            expected[row.flippedByte] ^= 0x80;
        Sha256 hash;
        Sha256Init(&hash);
        Sha256Update(&hash, row.archive.data(), static_cast<unsigned>(row.archive.size()));
        EXPECT_EQ(row.matches, ArchiveDigestMatches(&hash, expected)) << row.label;
    }
}
