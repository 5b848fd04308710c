// Ed25519 verification against the RFC 8032 examples, and the same signatures after each kind of
// damage a forger or a broken transfer could do: every one of those must fail.
#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include <vector>
#include "../../../src/worker/verify/ed25519_verify.h"

namespace {

typedef std::vector<unsigned char> Bytes;

Bytes FromHex(const char *hex)
{
    Bytes bytes;
    for (; hex[0] && hex[1]; hex += 2) {
        auto nibble = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
        bytes.push_back(static_cast<unsigned char>(nibble(hex[0]) << 4 | nibble(hex[1])));
    }
    return bytes;
}

bool Verify(const Bytes &signature, const Bytes &key, const Bytes &message)
{
    EXPECT_EQ(64u, signature.size());
    EXPECT_EQ(32u, key.size());
    return Ed25519Verify(signature.data(), key.data(), message.empty() ? nullptr : message.data(),
                         static_cast<unsigned>(message.size()));
}

Bytes FlipBit(Bytes bytes, unsigned bit)
{
    bytes[bit / 8] ^= static_cast<unsigned char>(1 << (bit % 8));
    return bytes;
}

// The group order L, little-endian.
const char *kGroupOrder = "edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010";

struct Vector {
    const char *label;
    const char *key;
    const char *message;
    const char *signature;
};

const Vector kVectors[] = {
    {"RFC 8032 TEST 1", "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a",
     "",
     "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e06522490155"
     "5fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b"},
    {"RFC 8032 TEST 2", "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c",
     "72",
     "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da"
     "085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aeeb00d291612bb0c00"},
    {"RFC 8032 TEST 3", "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025",
     "af82",
     "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac"
     "18ff9b538d16f290ae67f760984dc6594a7c15e9716ed28dc027beceea1ec40a"},
    {"RFC 8032 TEST 1024", "278117fc144c72340f67d0f2316e8386ceffbf2b2428c9c51fef7c597f1d426e",
     "08b8b2b733424243760fe426a4b54908632110a66c2f6591eabd3345e3e4eb98fa6e264bf09efe12ee50f8f54e9f77b1"
     "e355f6c50544e23fb1433ddf73be84d879de7c0046dc4996d9e773f4bc9efe5738829adb26c81b37c93a1b270b20329d"
     "658675fc6ea534e0810a4432826bf58c941efb65d57a338bbd2e26640f89ffbc1a858efcb8550ee3a5e1998bd177e93a"
     "7363c344fe6b199ee5d02e82d522c4feba15452f80288a821a579116ec6dad2b3b310da903401aa62100ab5d1a36553e"
     "06203b33890cc9b832f79ef80560ccb9a39ce767967ed628c6ad573cb116dbefefd75499da96bd68a8a97b928a8bbc10"
     "3b6621fcde2beca1231d206be6cd9ec7aff6f6c94fcd7204ed3455c68c83f4a41da4af2b74ef5c53f1d8ac70bdcb7ed1"
     "85ce81bd84359d44254d95629e9855a94a7c1958d1f8ada5d0532ed8a5aa3fb2d17ba70eb6248e594e1a2297acbbb39d"
     "502f1a8c6eb6f1ce22b3de1a1f40cc24554119a831a9aad6079cad88425de6bde1a9187ebb6092cf67bf2b13fd65f270"
     "88d78b7e883c8759d2c4f5c65adb7553878ad575f9fad878e80a0c9ba63bcbcc2732e69485bbc9c90bfbd62481d9089b"
     "eccf80cfe2df16a2cf65bd92dd597b0707e0917af48bbb75fed413d238f5555a7a569d80c3414a8d0859dc65a46128ba"
     "b27af87a71314f318c782b23ebfe808b82b0ce26401d2e22f04d83d1255dc51addd3b75a2b1ae0784504df543af8969b"
     "e3ea7082ff7fc9888c144da2af58429ec96031dbcad3dad9af0dcbaaaf268cb8fcffead94f3c7ca495e056a9b47acdb7"
     "51fb73e666c6c655ade8297297d07ad1ba5e43f1bca32301651339e22904cc8c42f58c30c04aafdb038dda0847dd988d"
     "cda6f3bfd15c4b4c4525004aa06eeff8ca61783aacec57fb3d1f92b0fe2fd1a85f6724517b65e614ad6808d6f6ee34df"
     "f7310fdc82aebfd904b01e1dc54b2927094b2db68d6f903b68401adebf5a7e08d78ff4ef5d63653a65040cf9bfd4aca7"
     "984a74d37145986780fc0b16ac451649de6188a7dbdf191f64b5fc5e2ab47b57f7f7276cd419c17a3ca8e1b939ae49e4"
     "88acba6b965610b5480109c8b17b80e1b7b750dfc7598d5d5011fd2dcc5600a32ef5b52a1ecc820e308aa342721aac09"
     "43bf6686b64b2579376504ccc493d97e6aed3fb0f9cd71a43dd497f01f17c0e2cb3797aa2a2f256656168e6c496afc5f"
     "b93246f6b1116398a346f1a641f3b041e989f7914f90cc2c7fff357876e506b50d334ba77c225bc307ba537152f3f161"
     "0e4eafe595f6d9d90d11faa933a15ef1369546868a7f3a45a96768d40fd9d03412c091c6315cf4fde7cb68606937380d"
     "b2eaaa707b4c4185c32eddcdd306705e4dc1ffc872eeee475a64dfac86aba41c0618983f8741c5ef68d3a101e8a3b8ca"
     "c60c905c15fc910840b94c00a0b9d0",
     "0aab4c900501b3e24d7cdf4663326a3a87df5e4843b2cbdb67cbf6e460fec350"
     "aa5371b1508f9f4528ecea23c436d94b5e8fcd4f681e30a6ac00a9704a188a03"},
    {"RFC 8032 TEST SHA(abc)", "ec172b93ad5e563bf4932c70e1245034c35467ef2efd4d64ebf819683467e2bf",
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd"
     "454d4423643ce80e2a9ac94fa54ca49f",
     "dc2a4459e7369633a52b1bf277839a00201009a3efbf3ecb69bea2186c26b589"
     "09351fc9ac90b3ecfdfbc7c66431e0303dca179c138ac17ad9bef1177331a704"},
};

} // namespace

TEST(Ed25519Verify, RfcVectorsVerify)
{
    for (const Vector &row : kVectors)
        EXPECT_TRUE(Verify(FromHex(row.signature), FromHex(row.key), FromHex(row.message))) << row.label;
}

TEST(Ed25519Verify, DamagedMessageFails)
{
    for (const Vector &row : kVectors) {
        Bytes signature = FromHex(row.signature), key = FromHex(row.key), message = FromHex(row.message);
        Bytes longer = message;
        longer.push_back(0);
        EXPECT_FALSE(Verify(signature, key, longer)) << row.label << ": a byte appended";
        if (message.empty())
            continue;
        EXPECT_FALSE(Verify(signature, key, FlipBit(message, 0))) << row.label << ": first bit";
        EXPECT_FALSE(Verify(signature, key, FlipBit(message, static_cast<unsigned>(message.size() * 8 - 1))))
            << row.label << ": last bit";
        Bytes shorter(message.begin(), message.end() - 1);
        EXPECT_FALSE(Verify(signature, key, shorter)) << row.label << ": last byte cut";
    }
}

TEST(Ed25519Verify, DamagedSignatureFails)
{
    // Bits of R (0..255), its sign bit 255 among them, and of S (256..511), with its lowest bit and a bit
    // above the top bit of L, which makes S too large.
    const unsigned bits[] = {0, 100, 254, 255, 256, 400, 508, 509};
    for (const Vector &row : kVectors) {
        Bytes signature = FromHex(row.signature), key = FromHex(row.key), message = FromHex(row.message);
        for (unsigned bit : bits)
            EXPECT_FALSE(Verify(FlipBit(signature, bit), key, message)) << row.label << ": bit " << bit;
    }
}

TEST(Ed25519Verify, RThatDiffersOnlyInTheSignBitFails)
{
    // Signed with the secret key of RFC 8032 TEST 1 over the empty message, for its R with the sign bit
    // flipped (byte 31: 55 becomes d5): S = r + h'a, with h' hashed over that flipped R, so that [S]B - [h']A
    // is TEST 1's own R. The check point's encoding matches the signature's R in every bit but that one.
    const Vector &vector = kVectors[0];
    const Bytes signature = FromHex("e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901d5"
                                    "4d27536f37fc798fd741154062d199da03708229fb17a42fb09e8040959f750f");
    EXPECT_FALSE(Verify(signature, FromHex(vector.key), FromHex(vector.message)));
}

TEST(Ed25519Verify, UnreducedScalarFails)
{
    // S + L satisfies the same equation, so only the check S < L refuses it.
    const Bytes order = FromHex(kGroupOrder);
    for (const Vector &row : kVectors) {
        Bytes signature = FromHex(row.signature);
        unsigned carry = 0;
        for (unsigned i = 0; i < 32; i++) {
            carry += signature[32 + i] + order[i];
            signature[32 + i] = static_cast<unsigned char>(carry);
            carry >>= 8;
        }
        ASSERT_EQ(0u, carry);
        EXPECT_FALSE(Verify(signature, FromHex(row.key), FromHex(row.message))) << row.label << ": S + L";
        Bytes exactlyL = FromHex(row.signature);
        std::copy(order.begin(), order.end(), exactlyL.begin() + 32);
        EXPECT_FALSE(Verify(exactlyL, FromHex(row.key), FromHex(row.message))) << row.label << ": S = L";
    }
}

TEST(Ed25519Verify, DamagedOrWrongKeyFails)
{
    const unsigned bits[] = {0, 77, 254, 255};
    const unsigned count = sizeof kVectors / sizeof kVectors[0];
    for (unsigned i = 0; i < count; i++) {
        const Vector &row = kVectors[i];
        Bytes signature = FromHex(row.signature), key = FromHex(row.key), message = FromHex(row.message);
        for (unsigned bit : bits)
            EXPECT_FALSE(Verify(signature, FlipBit(key, bit), message)) << row.label << ": bit " << bit;
        EXPECT_FALSE(Verify(signature, FromHex(kVectors[(i + 1) % count].key), message))
            << row.label << ": the next vector's key";
    }
}

TEST(Ed25519Verify, UnusableKeysFail)
{
    const Vector &vector = kVectors[0];
    const Bytes signature = FromHex(vector.signature), message = FromHex(vector.message);
    struct Row {
        const char *label;
        const char *key;
    } rows[] = {
        {"all zero", "0000000000000000000000000000000000000000000000000000000000000000"},
        {"y = p, a second encoding of 0", "edffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f"},
        {"y = p + 3, a second encoding of a point of large order",
         "f0ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f"},
        {"y = 2^255 - 1", "ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f"},
        {"y = 2, where x^2 has no root", "0200000000000000000000000000000000000000000000000000000000000000"},
        {"x = 0 with the sign bit set", "0100000000000000000000000000000000000000000000000000000000000080"},
    };
    for (const Row &row : rows)
        EXPECT_FALSE(Verify(signature, FromHex(row.key), message)) << row.label;
}

TEST(Ed25519Verify, SmallOrderKeysFail)
{
    // Signatures that satisfy [S]B = R + [h]A for keys of small order: with R = the neutral point and
    // S = 0, the neutral point as key passes for any message, and the all-zero key (order 4) for
    // "message 4", whose h is a multiple of 4. Only refusing such keys stops them.
    const Bytes forged = FromHex("0100000000000000000000000000000000000000000000000000000000000000"
                                 "0000000000000000000000000000000000000000000000000000000000000000");
    const Bytes neutral = FromHex("0100000000000000000000000000000000000000000000000000000000000000");
    const Bytes zero(32, 0);
    const std::string text = "message 4";
    const Bytes message(text.begin(), text.end());
    EXPECT_FALSE(Verify(forged, neutral, message)) << "the neutral point";
    EXPECT_FALSE(Verify(forged, zero, message)) << "the all-zero key";
}

TEST(Ed25519Verify, LargestUpdateInformation)
{
    // 64 KiB, signed with a test key by an independent implementation.
    Bytes message(65536);
    for (unsigned i = 0; i < message.size(); i++)
        message[i] = static_cast<unsigned char>(i * 31 + 7);
    const Bytes key = FromHex("3c802a9b5b37f93598e353931bea675be561b05cf133481d7e48362cc1c64fd6");
    const Bytes signature = FromHex("33b1ce0de832d55a3001beb5601ca03a71c95e34f6f2a52d9b4da4cab0aca304"
                                    "d1399c9583e1a45540b06cd8359ec1f5b6955ddbd7a573c835464b2c1bcd9a0c");
    EXPECT_TRUE(Verify(signature, key, message));
    EXPECT_FALSE(Verify(signature, key, FlipBit(message, 65536 * 8 - 1)));
}
