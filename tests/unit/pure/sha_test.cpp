// SHA-256 and SHA-512 against the FIPS 180 examples and against lengths that end at the padding's edges,
// each message fed whole, byte by byte and in uneven pieces, so that the buffering between calls is
// checked as well as the compression.
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>
#include "../../../src/worker/verify/sha256.h"
#include "../../../src/worker/verify/sha256_blocks.h"
#include "../../../src/worker/verify/sha512.h"

namespace {

std::string Hex(const unsigned char *bytes, unsigned count)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned i = 0; i < count; i++) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

// One algorithm's digests: of `message` fed in pieces whose sizes cycle through `pieces` (0 ends the list;
// none: all at once), and of "abc" fed to a context used before and initialised again, with empty pieces.
template <typename Context, unsigned Size, void (*Init)(Context *), void (*Update)(Context *, const void *, unsigned),
          void (*Final)(Context *, unsigned char *)>
struct Digest {
    static std::string Of(const std::string &message, const unsigned *pieces)
    {
        Context context;
        Init(&context);
        unsigned done = 0, next = 0;
        while (done < message.size()) {
            unsigned size = pieces ? pieces[next] : static_cast<unsigned>(message.size());
            next = pieces && pieces[next + 1] ? next + 1 : 0;
            if (size > message.size() - done)
                size = static_cast<unsigned>(message.size() - done);
            Update(&context, message.data() + done, size);
            done += size;
        }
        return Hex(&context);
    }

    static std::string OfRestartedAbc()
    {
        Context context;
        Init(&context);
        Update(&context, "leftover bytes", 14);
        Init(&context);
        Update(&context, "ab", 0);
        Update(&context, "ab", 2);
        Update(&context, "c", 0);
        Update(&context, "c", 1);
        return Hex(&context);
    }

    static std::string Hex(Context *context)
    {
        unsigned char digest[Size];
        Final(context, digest);
        return ::Hex(digest, Size);
    }
};

const unsigned kBytewise[] = {1, 0};
// Sizes that straddle both block sizes in ever-changing places.
const unsigned kUneven[] = {7, 61, 3, 129, 64, 1, 200, 0};
const unsigned kDownload[] = {65536 + 3, 0};

const struct Piecing {
    const char *label;
    const unsigned *pieces;
} kPiecings[] = {{"whole", nullptr}, {"byte by byte", kBytewise}, {"uneven pieces", kUneven}};

struct Vector {
    const char *label;
    std::string message;
    const char *sha256;
    const char *sha512;
};

const Vector kVectors[] = {
    {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
     "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce"
     "47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e"},
    {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
     "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
    {"448 bits: the length no longer fits the first SHA-256 block",
     "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1",
     "204a8fc6dda82f0a0ced7beb8e08a41657c16ef468b228a8279be331a703c335"
     "96fd15c13b1b07f9aa1d3bea57789ca031ad85c7a71dd70354ec631238ca3445"},
    {"896 bits: the length no longer fits the first SHA-512 block",
     "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmno"
     "ijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
     "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1",
     "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018"
     "501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd26545e96e55b874be909"},
    {"55 bytes: padding and length just fit one SHA-256 block", std::string(55, 'a'),
     "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318",
     "b0220c772cbf6c1822e2cb38a437d0e1d58772417a4bbb21c961364f8b6143e0"
     "5aa6316dca8d1d7b19e16448419076395f6086cb55101fbd6d5497b148e1745f"},
    {"56 bytes: the SHA-256 length spills into a second block", std::string(56, 'a'),
     "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a",
     "962b64aae357d2a4fee3ded8b539bdc9d325081822b0bfc55583133aab44f18b"
     "afe11d72a7ae16c79ce2ba620ae2242d5144809161945f1367f41b3972e26e04"},
    {"63 bytes", std::string(63, 'a'), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34",
     "c1b0f5c6d3b03dfe4a2602e67242f54e344090b66e01100a469b129f583f016c"
     "7e27dddeaa438393dcc7ec54b0b57c9ba7af007f9b56db5f6fb677d972a31362"},
    {"64 bytes: one whole SHA-256 block", std::string(64, 'a'),
     "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb",
     "01d35c10c6c38c2dcf48f7eebb3235fb5ad74a65ec4cd016e2354c637a8fb49b"
     "695ef3c1d6f7ae4cd74d78cc9c9bcac9d4f23a73019998a7f73038a5c9b2dbde"},
    {"65 bytes", std::string(65, 'a'), "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0",
     "b83086cd8494e55708ad7ecd82dfb4bca1bda61ecbb7caf0c68967902e709345"
     "e5d8305eb7ac0d588afc6cbb75161aa9c8c7e0ea986bd833dafe5e1ccd37345a"},
    {"111 bytes: padding and length just fit one SHA-512 block", std::string(111, 'a'),
     "6374f73208854473827f6f6a3f43b1f53eaa3b82c21c1a6d69a2110b2a79baad",
     "fa9121c7b32b9e01733d034cfc78cbf67f926c7ed83e82200ef8681819692176"
     "0b4beff48404df811b953828274461673c68d04e297b0eb7b2b4d60fc6b566a2"},
    {"112 bytes: the SHA-512 length spills into a second block", std::string(112, 'a'),
     "f54353008a2553262ecdc4a34749563ba0950e8b0fc8652780b0a614b99683c1",
     "c01d080efd492776a1c43bd23dd99d0a2e626d481e16782e75d54c2503b5dc32"
     "bd05f0f1ba33e568b88fd2d970929b719ecbb152f58f130a407c8830604b70ca"},
    {"127 bytes", std::string(127, 'a'), "c57e9278af78fa3cab38667bef4ce29d783787a2f731d4e12200270f0c32320a",
     "828613968b501dc00a97e08c73b118aa8876c26b8aac93df128502ab360f91ba"
     "b50a51e088769a5c1eff4782ace147dce3642554199876374291f5d921629502"},
    {"128 bytes: one whole SHA-512 block", std::string(128, 'a'),
     "6836cf13bac400e9105071cd6af47084dfacad4e5e302c94bfed24e013afb73e",
     "b73d1929aa615934e61a871596b3f3b33359f42b8175602e89f7e06e5f658a24"
     "3667807ed300314b95cacdd579f3e33abdfbe351909519a846d465c59582f321"},
    {"129 bytes", std::string(129, 'a'), "c12cb024a2e5551cca0e08fce8f1c5e314555cc3fef6329ee994a3db752166ae",
     "4f681e0bd53cda4b5a2041cc8a06f2eabde44fb16c951fbd5b87702f07aeab61"
     "1565b19c47fde30587177ebb852e3971bbd8d3fd30da18d71037dfbd98420429"},
};

struct Algorithm {
    const char *label;
    std::string (*digest)(const std::string &message, const unsigned *pieces);
    std::string (*restartedAbc)();
    const char *Vector::*expected;
    const char *millionA;
};

using Sha256Digest = Digest<Sha256, 32, Sha256Init, Sha256Update, Sha256Final>;
using Sha512Digest = Digest<Sha512, 64, Sha512Init, Sha512Update, Sha512Final>;

const Algorithm kAlgorithms[] = {
    {"SHA-256", Sha256Digest::Of, Sha256Digest::OfRestartedAbc, &Vector::sha256,
     "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    {"SHA-512", Sha512Digest::Of, Sha512Digest::OfRestartedAbc, &Vector::sha512,
     "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973eb"
     "de0ff244877ea60a4cb0432ce577c31beb009c5c2c49aa2e4eadb217ad8cc09b"},
};

} // namespace

TEST(Sha, Vectors)
{
    for (const Algorithm &hash : kAlgorithms)
        for (const Vector &row : kVectors)
            for (const Piecing &piecing : kPiecings)
                EXPECT_EQ(row.*hash.expected, hash.digest(row.message, piecing.pieces))
                    << hash.label << ", " << row.label << ", " << piecing.label;
}

TEST(Sha, OneMillionA)
{
    const std::string million(1000000, 'a');
    for (const Algorithm &hash : kAlgorithms) {
        EXPECT_EQ(hash.millionA, hash.digest(million, kUneven)) << hash.label << ", uneven pieces";
        EXPECT_EQ(hash.millionA, hash.digest(million, kDownload)) << hash.label << ", download-sized pieces";
    }
}

TEST(Sha, RestartAndEmptyPieces)
{
    for (const Algorithm &hash : kAlgorithms)
        EXPECT_EQ(kVectors[1].*hash.expected, hash.restartedAbc()) << hash.label;
}

// The processor's SHA instructions and the portable code compress alike, over many blocks at once; where
// the processor has none, only the portable code runs (and the vectors above cover it).
TEST(Sha256, InstructionsAndPortableCodeAgree)
{
    std::vector<unsigned char> data(64 * 37);
    unsigned seed = 12345;
    for (unsigned char &byte : data) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<unsigned char>(seed >> 16);
    }
    unsigned portable[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    unsigned hardware[8];
    std::copy(portable, portable + 8, hardware);
    Sha256CompressPortable(portable, data.data(), 37);
    if (!Sha256CompressHardware(hardware, data.data(), 37)) {
        std::printf("no SHA instructions on this processor: the portable code alone is in use\n");
        return;
    }
    for (unsigned i = 0; i < 8; i++)
        EXPECT_EQ(portable[i], hardware[i]) << "state word " << i;
}
