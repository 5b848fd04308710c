// The signed information file and the publisher's key block: the decisions of a verified update that need no
// platform.
#include <gtest/gtest.h>
#include <string>
#include "../../../src/common/text.h"
#include "../../../src/worker/verify/feed_signature.h"
#include "../../../src/worker/verify/publisher_keys.h"

// Two keys made from the seeds 00..1f and 20..3f, and both keys' signatures of one body.
static const char KEY_1[] = "03a107bff3ce10be1d70dd18e74bc09967e4d6309ba50d5f1ddc8664125531b8";
static const char KEY_2[] = "29acbae141bccaf0b22e1a94d34d0bc7361e526d0bfe12c89794bc9322966dd7";
static const char BODY[] = "[MyApp]\r\nAPP_VER=1.1\r\nAPP_URL=https://localhost/app.zip\r\n";
static const char SIGNATURE_1[] = "b76eb47718f06eba58c2ddbd6e9b396c7bd42b28bdaa1894e76e3d853fd06d52"
                                  "697371c0a5e7d839850ff20c28ee7fe5502688a70c77b22129cd4025efe7ab0e";
static const char SIGNATURE_2[] = "b7b7389659e20f06d96c8ee0ee7ce48c1eaf4d7b0b4b9106cef9b44104e31e2b"
                                  "2adc94f531deff56b13de51561fce2a1f3585632b922e6518f0e6e49cba41108";

static std::string KeyBlock(const char *first, const char *second)
{
    std::string block = "KOVREL-PUBKEYS-1" + std::string(64, '\0');
    if (first)
        DecodeHex(first, 32, reinterpret_cast<unsigned char *>(&block[16]));
    if (second)
        DecodeHex(second, 32, reinterpret_cast<unsigned char *>(&block[48]));
    return block;
}

static PublisherKeys Keys(const char *first, const char *second)
{
    std::string block = KeyBlock(first, second);
    PublisherKeys keys;
    EXPECT_TRUE(ParsePublisherKeys(reinterpret_cast<const unsigned char *>(block.data()),
                                   static_cast<unsigned>(block.size()), &keys));
    return keys;
}

static std::string Upper(std::string text)
{
    for (char &c : text)
        if (c >= 'a' && c <= 'f')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

static bool Verifies(const std::string &file, const PublisherKeys &keys)
{
    return VerifySignedFile(reinterpret_cast<const unsigned char *>(file.data()), static_cast<unsigned>(file.size()),
                            &keys);
}

TEST(SignedFile, SignatureMatrix)
{
    const std::string signed1 = std::string(";ed25519=") + SIGNATURE_1 + "\r\n" + BODY;
    const std::string body = BODY;
    struct Case {
        const char *label;
        std::string file;
        const char *first;
        const char *second;
        bool good;
    } cases[] = {
        {"valid, lower-case hex, CRLF", signed1, KEY_1, 0, true},
        {"valid, upper-case hex", ";ed25519=" + Upper(SIGNATURE_1) + "\r\n" + body, KEY_1, 0, true},
        {"valid, LF", std::string(";ed25519=") + SIGNATURE_1 + "\n" + body, KEY_1, 0, true},
        {"second slot verifies", std::string(";ed25519=") + SIGNATURE_2 + "\r\n" + body, KEY_1, KEY_2, true},
        {"key in the second slot only", signed1, 0, KEY_1, true},
        {"other key", signed1, KEY_2, 0, false},
        {"version changed", std::string(";ed25519=") + SIGNATURE_1 + "\r\n[MyApp]\r\nAPP_VER=9.1\r\n" +
                                "APP_URL=https://localhost/app.zip\r\n", KEY_1, 0, false},
        {"section added", signed1 + "[Other]\r\nAPP_VER=2\r\n", KEY_1, 0, false},
        {"a byte cut from the end", signed1.substr(0, signed1.size() - 1), KEY_1, 0, false},
        {"no signature line", body, KEY_1, 0, false},
        {"truncated signature", std::string(";ed25519=") + std::string(SIGNATURE_1, 126) + "\r\n" + body, KEY_1, 0,
         false},
        {"signature line with a trailing blank", std::string(";ed25519=") + SIGNATURE_1 + " \r\n" + body, KEY_1, 0,
         false},
        {"CR alone ends no line", std::string(";ed25519=") + SIGNATURE_1 + "\r" + body, KEY_1, 0, false},
        {"mark in capitals", std::string(";ED25519=") + SIGNATURE_1 + "\r\n" + body, KEY_1, 0, false},
        {"a blank line before the signature", std::string("\r\n;ed25519=") + SIGNATURE_1 + "\r\n" + body, KEY_1, 0,
         false},
        {"signature line only, file ends after it", std::string(";ed25519=") + SIGNATURE_1, KEY_1, 0, false},
        {"no key at all", signed1, 0, 0, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.good, Verifies(c.file, Keys(c.first, c.second))) << c.label;
}

TEST(SignedFile, SplitGivesTheBodyAfterTheLineEnding)
{
    for (const char *ending : {"\r\n", "\n"}) {
        std::string file = std::string(";ed25519=") + SIGNATURE_1 + ending + BODY;
        unsigned char signature[SIGNATURE_BYTES];
        unsigned body = 0;
        ASSERT_TRUE(SplitSignedFile(reinterpret_cast<const unsigned char *>(file.data()),
                                    static_cast<unsigned>(file.size()), signature, &body));
        EXPECT_EQ(std::string(BODY), file.substr(body)) << "ending " << (ending[0] == '\r' ? "CRLF" : "LF");
        EXPECT_EQ(0xb7, signature[0]);
        EXPECT_EQ(0x0e, signature[63]);
    }
}

TEST(PublisherKeys, SlotsAndMark)
{
    std::string both = KeyBlock(KEY_1, KEY_2);
    PublisherKeys keys;
    ASSERT_TRUE(ParsePublisherKeys(reinterpret_cast<const unsigned char *>(both.data()), 80, &keys));
    EXPECT_EQ(2u, keys.count);
    EXPECT_TRUE(keys.used[0] && keys.used[1]);
    EXPECT_EQ(0x03, keys.key[0][0]);
    EXPECT_EQ(0x29, keys.key[1][0]);

    std::string empty = KeyBlock(0, 0);
    ASSERT_TRUE(ParsePublisherKeys(reinterpret_cast<const unsigned char *>(empty.data()), 80, &keys));
    EXPECT_EQ(0u, keys.count) << "all-zero slots are empty";

    std::string second = KeyBlock(0, KEY_2);
    ASSERT_TRUE(ParsePublisherKeys(reinterpret_cast<const unsigned char *>(second.data()), 80, &keys));
    EXPECT_EQ(1u, keys.count);
    EXPECT_FALSE(keys.used[0]);
    EXPECT_TRUE(keys.used[1]);

    std::string badMark = both;
    badMark[0] = 'k';
    EXPECT_FALSE(ParsePublisherKeys(reinterpret_cast<const unsigned char *>(badMark.data()), 80, &keys));
    EXPECT_EQ(0u, keys.count) << "a refused block leaves no key behind";
    EXPECT_FALSE(ParsePublisherKeys(reinterpret_cast<const unsigned char *>(both.data()), 79, &keys));
    EXPECT_FALSE(ParsePublisherKeys(0, 80, &keys));
}
