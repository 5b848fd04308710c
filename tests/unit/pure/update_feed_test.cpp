// The update information file in memory: the value finder's bounds and arguments, the record, and the
// size and digest texts. What the finder reads is compared with the platform's profile reader in
// tests/unit/win32/feed_profile_test.cpp.
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include "../../../src/worker/feed/feed_text.h"
#include "../../../src/worker/feed/feed_values.h"
#include "../../../src/worker/feed/update_feed.h"

using S = std::string;

static S Upper(S text)
{
    for (char &c : text)
        if (c >= 'a' && c <= 'f')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// The file's bytes in a block of exactly their size, so that the sanitizer sees any read past the end.
static unsigned Find(const S &file, const char *section, const char *key, char *value, unsigned capacity,
                     bool *tooLong)
{
    std::unique_ptr<char[]> bytes(new char[file.size() + 1]);
    file.copy(bytes.get(), file.size());
    return FindFeedValue(file.empty() ? nullptr : bytes.get(), static_cast<unsigned>(file.size()), section, key,
                         value, capacity, tooLong);
}

TEST(FindFeedValue, CapacityAndArguments)
{
    const S file = "[A]\r\nK=12345\r\nQ=\"12345\"\r\nE=\r\n";
    struct {
        const char *label;
        S file;
        const char *section;
        const char *key;
        unsigned capacity;
        const char *value;
        bool tooLong;
    } rows[] = {
        {"fits with its terminating zero", file, "A", "K", 6, "12345", false},
        {"one byte short is refused, not cut", file, "A", "K", 5, "", true},
        {"the quotes do not count", file, "A", "Q", 6, "12345", false},
        {"an empty value fits anything", file, "A", "E", 1, "", false},
        {"a missing key is not too long", file, "A", "X", 1, "", false},
        {"the last line without an ending, at the very end", "[A]\nK=12", "A", "K", 16, "12", false},
        {"a header cut before its ']'", "[A", "A", "K", 16, "", false},
        {"a name cut before its '='", "[A]\nK", "A", "K", 16, "", false},
        {"a lead byte as the last byte", "[A]\nK=1\n[B\x81", "A", "K", 16, "1", false},
        {"no bytes", "", "A", "K", 16, "", false},
        {"a blank section name", file, " \t", "K", 16, "", false},
        {"an empty key name", file, "A", "", 16, "", false},
        {"no section name", file, nullptr, "K", 16, "", false},
        {"no key name", file, "A", nullptr, 16, "", false},
    };
    for (const auto &row : rows) {
        char value[16] = "?";
        bool tooLong = !row.tooLong;
        unsigned length = Find(row.file, row.section, row.key, value, row.capacity, &tooLong);
        EXPECT_STREQ(row.value, value) << row.label;
        EXPECT_EQ(S(row.value).size(), length) << row.label;
        EXPECT_EQ(row.tooLong, tooLong) << row.label;
    }
    char value[4] = "?";
    EXPECT_EQ(0u, FindFeedValue(nullptr, 4, "A", "K", value, sizeof value, nullptr)) << "no text but a length";
    EXPECT_STREQ("", value);
    EXPECT_EQ(0u, Find(file, "A", "K", value, 0, nullptr)) << "no room at all";
    EXPECT_EQ(0u, Find(file, "A", "K", nullptr, 16, nullptr)) << "no buffer";
}

// A file cut anywhere (a download that ended early) yields at most a beginning of each value, and nothing is
// read past the cut.
TEST(FindFeedValue, EveryCutOfAFile)
{
    const S body = "[Other]\nAPP_VER=0\n[\x95\x5c\x8e\xa6]\r\n APP_VER = 1.2.3 \r\nAPP_URL=http://h/a.zip";
    struct {
        S file;
        const char *section;
    } files[] = {
        {";c\r\n" + body, "\x95\x5c\x8e\xa6"},
        {"\xef\xbb\xbf[A]\rAPP_VER=1.2.3\rAPP_URL=http://h/a.zip", "A"},
    };
    for (const auto &f : files) {
        for (const char *key : {"APP_VER", "APP_URL"}) {
            char whole[64];
            unsigned wholeLength = Find(f.file, f.section, key, whole, sizeof whole, nullptr);
            ASSERT_NE(0u, wholeLength) << f.section << " " << key;
            for (size_t cut = 0; cut < f.file.size(); cut++) {
                char value[64];
                unsigned length = Find(f.file.substr(0, cut), f.section, key, value, sizeof value, nullptr);
                EXPECT_EQ(S(whole, length), S(value)) << f.section << " " << key << " cut at " << cut;
            }
        }
    }
}

TEST(ReadUpdateFeed, Record)
{
    const S digest = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
    const S app = "[MyApp]\r\n";
    const S url = "http://h/" + S(FEED_VALUE_CAP - 10, 'u');
    struct {
        const char *label;
        S file;
        bool good;
        const char *version;
        S archiveUrl;
        bool haveSize, sizeValid;
        unsigned long long size;
        bool haveSha256, sha256Valid;
    } rows[] = {
        {"all four", app + "APP_VER=1.2\r\nAPP_URL=http://h/a.zip\r\nAPP_SIZE=1234\r\nAPP_SHA256=" + Upper(digest),
         true, "1.2", "http://h/a.zip", true, true, 1234, true, true},
        {"none given", app + "OTHER=1\r\n", true, "", "", false, false, 0, false, false},
        {"no such section", "[Other]\r\nAPP_VER=1.2\r\n", true, "", "", false, false, 0, false, false},
        {"empty size and digest are not given", app + "APP_SIZE=\r\nAPP_SHA256= \r\n", true, "", "", false,
         false, 0, false, false},
        {"malformed size and digest", app + "APP_SIZE=12 kB\r\nAPP_SHA256=" + digest.substr(1), true, "", "", true,
         false, 0, true, false},
        {"a size too long to hold is malformed", app + "APP_SIZE=" + S(500, '1'), true, "", "", true, false, 0,
         false, false},
        {"a digest too long to hold is malformed", app + "APP_SHA256=" + digest + digest, true, "", "", false,
         false, 0, true, false},
        {"the longest URL", app + "APP_URL=" + url, true, "", url, false, false, 0, false, false},
        {"a URL one byte longer", app + "APP_URL=" + url + "u", false, "", "", false, false, 0, false, false},
        {"a version too long", app + "APP_VER=" + S(FEED_VALUE_CAP, '1'), false, "", "", false, false, 0, false,
         false},
    };
    for (const auto &row : rows) {
        std::unique_ptr<UpdateFeed> feed(new UpdateFeed);
        feed->haveSize = feed->haveSha256 = true;
        EXPECT_EQ(row.good, ReadUpdateFeed(row.file.data(), static_cast<unsigned>(row.file.size()), "myapp",
                                           feed.get())) << row.label;
        if (!row.good)
            continue;
        EXPECT_STREQ(row.version, feed->version) << row.label;
        EXPECT_EQ(row.archiveUrl, feed->archiveUrl) << row.label;
        EXPECT_EQ(row.haveSize, feed->haveSize) << row.label;
        EXPECT_EQ(row.sizeValid, feed->sizeValid) << row.label;
        EXPECT_EQ(row.size, feed->size) << row.label;
        EXPECT_EQ(row.haveSha256, feed->haveSha256) << row.label;
        EXPECT_EQ(row.sha256Valid, feed->sha256Valid) << row.label;
        if (row.sha256Valid)
            EXPECT_EQ(0xe3, feed->sha256[0]) << row.label;
    }
    std::unique_ptr<UpdateFeed> feed(new UpdateFeed);
    EXPECT_FALSE(ReadUpdateFeed(nullptr, 0, "MyApp", feed.get())) << "no text";
    EXPECT_FALSE(ReadUpdateFeed("", 0, "", feed.get())) << "no section name";
    EXPECT_FALSE(ReadUpdateFeed("", 0, nullptr, feed.get())) << "no section";
    EXPECT_FALSE(ReadUpdateFeed("", 0, "MyApp", nullptr)) << "no record";
}

TEST(FeedValues, Size)
{
    struct {
        const char *text;
        bool good;
        unsigned long long size;
    } cases[] = {
        {"0", true, 0},
        {"12345", true, 12345},
        {"4294967296", true, 4294967296ull},
        {"999999999999999999", true, 999999999999999999ull},
        {"1000000000000000000", false, 0},
        {"", false, 0},
        {"-1", false, 0},
        {"+5", false, 0},
        {"12 ", false, 0},
        {"0x10", false, 0},
        {"1e6", false, 0},
    };
    for (const auto &c : cases) {
        unsigned long long size = 77;
        EXPECT_EQ(c.good, ParseArchiveSize(c.text, &size)) << '"' << c.text << '"';
        if (c.good)
            EXPECT_EQ(c.size, size) << c.text;
    }
}

TEST(FeedValues, Digest)
{
    const std::string digest = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
    unsigned char bytes[32];
    ASSERT_TRUE(ParseSha256Text(digest.c_str(), bytes));
    EXPECT_EQ(0xe3, bytes[0]);
    EXPECT_EQ(0x55, bytes[31]);
    EXPECT_TRUE(ParseSha256Text(Upper(digest).c_str(), bytes)) << "either case";
    EXPECT_FALSE(ParseSha256Text(digest.substr(0, 63).c_str(), bytes)) << "63 digits";
    EXPECT_FALSE(ParseSha256Text((digest + "0").c_str(), bytes)) << "65 digits";
    EXPECT_FALSE(ParseSha256Text(("g" + digest.substr(1)).c_str(), bytes)) << "not hex";
    EXPECT_FALSE(ParseSha256Text("", bytes));
}

// Good texts with their seconds since 1601-01-01T00:00:00Z, then malformed ones: wrong dates, times out of
// range, and anything but the one form.
TEST(FeedValues, ExpiryTime)
{
    const struct {
        const char *text;
        unsigned long long seconds;
    } good[] = {
        {"1601-01-01T00:00:00Z", 0},           {"1601-01-01T00:00:01Z", 1},
        {"1970-01-01T00:00:00Z", 11644473600}, {"2000-02-29T23:59:59Z", 12596342399},
        {"2100-03-01T00:00:00Z", 15752016000}, {"9999-12-31T23:59:59Z", 265046774399},
    };
    for (const auto &c : good) {
        unsigned long long seconds = 77;
        EXPECT_TRUE(ParseExpiryTime(c.text, &seconds)) << c.text;
        EXPECT_EQ(c.seconds, seconds) << c.text;
    }
    const char *bad[] = {"1600-12-31T23:59:59Z", "2100-02-29T00:00:00Z", "2023-02-29T00:00:00Z",
                         "2024-04-31T00:00:00Z", "2024-00-10T00:00:00Z", "2024-13-10T00:00:00Z",
                         "2024-01-00T00:00:00Z", "2024-01-01T24:00:00Z", "2024-01-01T23:60:00Z",
                         "2024-12-31T23:59:60Z", "2024-01-01T00:00:00",  "2024-01-01T00:00:00z",
                         "2024-01-01T00:00:00ZZ", "2024-01-01 00:00:00Z", "2024-01-01T00:00:00+00:00",
                         "2024-1-01T00:00:00Z", "+024-01-01T00:00:00Z", " 2024-01-01T00:00:00Z",
                         "2024-01-01",           ""};
    for (const char *text : bad) {
        unsigned long long seconds = 77;
        EXPECT_FALSE(ParseExpiryTime(text, &seconds)) << '"' << text << '"';
        EXPECT_EQ(77u, seconds) << text;
    }
}

TEST(FeedValues, Serial)
{
    unsigned serial = 77;
    for (unsigned good : {0u, 1u, 999999999u}) {
        EXPECT_TRUE(ParseFeedSerial(std::to_string(good).c_str(), &serial)) << good;
        EXPECT_EQ(good, serial);
    }
    for (const char *text : {"1000000000", "4294967297", "007", "00", "", "-1", "+1", "1 ", "1.0", "0x1"})
        EXPECT_FALSE(ParseFeedSerial(text, &serial)) << '"' << text << '"';
}

TEST(ReadUpdateFeed, Freshness)
{
    const S app = "[MyApp]\r\nAPP_VER=1\r\n";
    struct {
        const char *label;
        S file;
        bool given, valid;
    } rows[] = {
        {"both", app + "APP_EXPIRES = 2024-03-01T00:00:00Z\r\nAPP_SERIAL=12\r\n", true, true},
        {"neither", app, false, false},
        {"both malformed", app + "APP_EXPIRES=2024-03-01\r\nAPP_SERIAL=twelve\r\n", true, false},
        {"too long to hold", app + "APP_EXPIRES=" + S(500, '2') + "\r\nAPP_SERIAL=" + S(500, '1'), true, false},
    };
    for (const auto &row : rows) {
        std::unique_ptr<UpdateFeed> feed(new UpdateFeed);
        ASSERT_TRUE(ReadUpdateFeed(row.file.data(), static_cast<unsigned>(row.file.size()), "MyApp", feed.get()))
            << row.label;
        EXPECT_EQ(row.given, feed->haveExpiry && feed->haveSerial) << row.label;
        EXPECT_EQ(row.given, feed->haveExpiry || feed->haveSerial) << row.label;
        EXPECT_EQ(row.valid, feed->expiryValid && feed->serialValid) << row.label;
        EXPECT_EQ(row.valid, feed->expiryValid || feed->serialValid) << row.label;
        EXPECT_EQ(row.valid ? 13353724800ull : 0, feed->expires) << row.label;
        EXPECT_STREQ(row.valid ? "2024-03-01T00:00:00Z" : "", feed->expiryText) << row.label;
        EXPECT_EQ(row.valid ? 12u : 0u, feed->serial) << row.label;
    }
}
