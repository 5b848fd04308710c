// The parser of the update information file against the platform's profile reader: each file is written to
// disk and read with GetPrivateProfileStringA, and FindFeedValue must give the same text from the same bytes.
#include <gtest/gtest.h>
#include <string>
#include "test_folder.h"
#include "../../../src/worker/feed/feed_text.h"

static const char SIGNATURE[] = "b76eb47718f06eba58c2ddbd6e9b396c7bd42b28bdaa1894e76e3d853fd06d52"
                                "697371c0a5e7d839850ff20c28ee7fe5502688a70c77b22129cd4025efe7ab0e";

TEST(FeedProfile, SameValueAsThePlatform)
{
    using S = std::string;
    const S app = "[MyApp]\r\n";
    const S mixed = "[Other]\r\nAPP_VER=9.9\r\n[MyApp]\r\nAPP_VER = 1.2.3 \r\napp_url=http://h/files/app.zip\r\n"
                    "; a comment\r\nEMPTY=\r\n[\x95\x5C\x8e\xa6]\r\nAPP_VER=2.0\r\n";
    struct Row {
        const char *label;
        S file; // "" writes no file at all
        const char *section;
        const char *key;
        S expected;
    } rows[] = {
        {"blanks around the value are cut", mixed, "MyApp", "APP_VER", "1.2.3"},
        {"names match without regard to case", mixed, "myapp", "APP_URL", "http://h/files/app.zip"},
        {"a section name in code page 932", mixed, "\x95\x5C\x8e\xa6", "APP_VER", "2.0"},
        {"an empty value", mixed, "MyApp", "EMPTY", ""},
        {"a missing key", mixed, "MyApp", "MISSING", ""},
        {"a missing section", mixed, "Nobody", "APP_VER", ""},
        {"an error page has no keys", "<html><body><h1>404 Not Found</h1></body></html>\r\n", "A", "APP_VER", ""},
        {"no file at all", "", "A", "APP_VER", ""},
        {"a value longer than a small buffer", "[A]\r\nAPP_URL=" + S(100, 'u') + "\r\n", "A", "APP_URL", S(100, 'u')},
        {"LF", "[MyApp]\nAPP_VER=1.2\n", "MyApp", "APP_VER", "1.2"},
        {"CR alone ends lines", "[MyApp]\rAPP_VER=1.2\rAPP_URL=u\r", "MyApp", "APP_URL", "u"},
        {"no final line ending", app + "APP_VER=1.2", "MyApp", "APP_VER", "1.2"},
        {"tabs around name and value", app + "\t APP_VER\t =\t 1.2\t \r\n", "MyApp", "APP_VER", "1.2"},
        {"^Z is a blank", app + "APP_VER=1.2\x1a\r\n", "MyApp", "APP_VER", "1.2"},
        {"a value of blanks only", app + "APP_VER=  \t\r\n", "MyApp", "APP_VER", ""},
        {"blank lines between", "\r\n\r\n[MyApp]\r\n\r\n  \r\nAPP_VER=1.2\r\n", "MyApp", "APP_VER", "1.2"},
        {"the first '=' splits", app + "APP_URL=http://h/a?b=c\r\n", "MyApp", "APP_URL", "http://h/a?b=c"},
        {"the caller's section name is trimmed", app + "APP_VER=1.2\r\n", " MyApp\t", "APP_VER", "1.2"},
        {"blanks inside the brackets", "[ MyApp\t]\r\nAPP_VER=1.2\r\n", "MyApp", "APP_VER", "1.2"},
        {"text after the ']'", "[MyApp] x\r\nAPP_VER=1.2\r\n", "MyApp", "APP_VER", "1.2"},
        {"the last ']' closes the name", "[My]App]\r\nAPP_VER=1.2\r\n", "My]App", "APP_VER", "1.2"},
        {"no ']' opens no section", "[Other]\r\n[MyApp\r\nAPP_VER=1.2\r\n", "MyApp", "APP_VER", ""},
        {"... and its keys stay in the section before", "[Other]\r\n[MyApp\r\nAPP_VER=1.2\r\n", "Other",
         "APP_VER", "1.2"},
        {"keys before any header belong to no section", "APP_VER=0\r\n[MyApp]\r\n", "MyApp", "APP_VER", ""},
        {"a ';' line is skipped", app + ";APP_VER=0\r\nAPP_VER=1.2\r\n", "MyApp", "APP_VER", "1.2"},
        {"... because it is a key named ';APP_VER'", app + ";APP_VER=0\r\n", "MyApp", ";APP_VER", "0"},
        {"a '#' line likewise", app + "#APP_VER=0\r\nAPP_VER=1.2\r\n", "MyApp", "APP_VER", "1.2"},
        {"no comment at the end of a value", app + "APP_VER=1.2 ; old\r\n", "MyApp", "APP_VER", "1.2 ; old"},
        {"a header behind ';' opens nothing", "[Other]\r\n;[MyApp]\r\nAPP_VER=0\r\n", "MyApp", "APP_VER", ""},
        {"the first of two keys", app + "APP_VER=1\r\napp_ver=2\r\n", "MyApp", "APP_VER", "1"},
        {"a key without '=' hides a later one", app + "APP_VER\r\nAPP_VER=1\r\n", "MyApp", "APP_VER", ""},
        {"the first of two sections", app + "APP_VER=1\r\n" + app + "APP_VER=2\r\n", "MyApp", "APP_VER", "1"},
        {"a second section of the name is not searched", app + "APP_VER=1\r\n" + app + "APP_URL=u\r\n", "MyApp",
         "APP_URL", ""},
        {"double quotes are taken off", app + "APP_VER=\"1.2\"\r\n", "MyApp", "APP_VER", "1.2"},
        {"single quotes are taken off", app + "APP_VER='1.2'\r\n", "MyApp", "APP_VER", "1.2"},
        {"blanks inside quotes stay", app + "APP_VER=\" 1.2 \"\r\n", "MyApp", "APP_VER", " 1.2 "},
        {"quotes of two kinds stay", app + "APP_VER=\"1.2'\r\n", "MyApp", "APP_VER", "\"1.2'"},
        {"a leading quote alone stays", app + "APP_VER=\"1.2\r\n", "MyApp", "APP_VER", "\"1.2"},
        {"a lone quote stays", app + "APP_VER=\"\r\n", "MyApp", "APP_VER", "\""},
        {"a pair of quotes is empty", app + "APP_VER=\"\"\r\n", "MyApp", "APP_VER", ""},
        {"a UTF-8 byte-order mark", "\xef\xbb\xbf" + app + "APP_VER=1.2\r\n", "MyApp", "APP_VER", "1.2"},
        {"a signed file", S(";ed25519=") + SIGNATURE + "\r\n" + app + "APP_VER=1.1\r\n" +
         "APP_URL=https://localhost/app.zip\r\n", "MyApp", "APP_URL", "https://localhost/app.zip"},
        {"a signed file with LF", S(";ed25519=") + SIGNATURE + "\n[MyApp]\nAPP_VER=1.1\n", "MyApp", "APP_VER",
         "1.1"},
        {"a zero byte ends the value", app + S("APP_VER=1.2\0x\r\n", 15), "MyApp", "APP_VER", "1.2"},
        {"... after the blanks are cut", app + S("APP_VER=1.2 \0 \r\n", 16), "MyApp", "APP_VER", "1.2 "},
        {"a zero byte ends the key name", app + S("APP_VER\0x=1.2\r\n", 15), "MyApp", "APP_VER", "1.2"},
        {"a zero byte ends the section name", S("[MyApp\0x]\r\nAPP_VER=1.2\r\n", 24), "MyApp", "APP_VER", "1.2"},
        {"a zero byte before the name", app + S("\0APP_VER=1.2\r\n", 14), "MyApp", "APP_VER", ""},
        {"a trail byte ']' is no bracket", "[\x95\x5c]\x83]\r\nAPP_VER=1.2\r\n", "\x95\x5c", "APP_VER", "1.2"},
        {"a lone lead byte ends the caller's name", "[A]\r\nAPP_VER=1.2\r\n", "A\x83", "APP_VER", "1.2"},
        {"a trail byte that is a letter keeps its case", "[\x83\x41]\r\nAPP_VER=1.2\r\n", "\x83\x61", "APP_VER",
         ""},
        {"a lead byte takes the line ending after it", app + "APP_VER=1\x81\nAPP_URL=u\n", "MyApp", "APP_URL", ""},
    };
    TestFolder folder;
    unsigned index = 0;
    for (const Row &row : rows) {
        std::string file = folder / ("feed" + std::to_string(index++) + ".ini");
        if (!row.file.empty())
            ASSERT_TRUE(WriteTestFile(file, row.file)) << row.label;
        char platform[4096] = "";
        DWORD platformLength =
            GetPrivateProfileStringA(row.section, row.key, "", platform, sizeof platform, file.c_str());
        EXPECT_EQ(row.expected, platform) << row.label << ": the platform";

        char ours[4096] = "?";
        bool tooLong = true;
        unsigned length = FindFeedValue(row.file.data(), static_cast<unsigned>(row.file.size()), row.section,
                                        row.key, ours, sizeof ours, &tooLong);
        EXPECT_STREQ(platform, ours) << row.label;
        EXPECT_EQ(platformLength, length) << row.label;
        EXPECT_FALSE(tooLong) << row.label;
        if (row.expected.empty())
            continue;
        // One byte short: the platform cuts the value, FindFeedValue refuses it.
        unsigned size = static_cast<unsigned>(row.expected.size());
        platformLength = GetPrivateProfileStringA(row.section, row.key, "", platform, size, file.c_str());
        EXPECT_EQ(row.expected.substr(0, size - 1), std::string(platform, platformLength)) << row.label << ": cut";
        EXPECT_EQ(0u, FindFeedValue(row.file.data(), static_cast<unsigned>(row.file.size()), row.section, row.key,
                                    ours, size, &tooLong)) << row.label;
        EXPECT_TRUE(tooLong) << row.label;
    }
}
