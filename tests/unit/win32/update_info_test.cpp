// Reading the stored update information file.
#include <gtest/gtest.h>
#include "test_folder.h"
#include "../../../src/worker/update/update_info.h"

TEST(ReadUpdateInfoValue, ReadsTheApplicationsSection)
{
    TestFolder folder;
    std::string file = folder / "Kovrel.ini";
    ASSERT_TRUE(WriteTestFile(file, "[Other]\r\nAPP_VER=9.9\r\n"
                                    "[MyApp]\r\nAPP_VER = 1.2.3 \r\napp_url=http://h/files/app.zip\r\n"
                                    "; a comment\r\nEMPTY=\r\n"
                                    "[\x95\x5C\x8e\xa6]\r\nAPP_VER=2.0\r\n"));
    char buffer[1024];
    EXPECT_EQ(5u, ReadUpdateInfoValue(file.c_str(), "MyApp", "APP_VER", buffer, sizeof buffer));
    EXPECT_STREQ("1.2.3", buffer) << "the value is trimmed";
    EXPECT_EQ(22u, ReadUpdateInfoValue(file.c_str(), "myapp", "APP_URL", buffer, sizeof buffer));
    EXPECT_STREQ("http://h/files/app.zip", buffer) << "names match without regard to case";
    EXPECT_EQ(3u, ReadUpdateInfoValue(file.c_str(), "\x95\x5C\x8e\xa6", "APP_VER", buffer, sizeof buffer));
    EXPECT_STREQ("2.0", buffer) << "a section name in code page 932";

    EXPECT_EQ(0u, ReadUpdateInfoValue(file.c_str(), "MyApp", "EMPTY", buffer, sizeof buffer));
    EXPECT_EQ(0u, ReadUpdateInfoValue(file.c_str(), "MyApp", "MISSING", buffer, sizeof buffer));
    EXPECT_STREQ("", buffer);
    EXPECT_EQ(0u, ReadUpdateInfoValue(file.c_str(), "Nobody", "APP_VER", buffer, sizeof buffer));
    EXPECT_EQ(0u, ReadUpdateInfoValue(file.c_str(), nullptr, "APP_VER", buffer, sizeof buffer));
    EXPECT_EQ(0u, ReadUpdateInfoValue(file.c_str(), "MyApp", nullptr, buffer, sizeof buffer));
}

TEST(ReadUpdateInfoValue, LongValueIsCutToTheBuffer)
{
    TestFolder folder;
    std::string file = folder / "Kovrel.ini";
    ASSERT_TRUE(WriteTestFile(file, "[A]\r\nAPP_URL=" + std::string(100, 'u') + "\r\n"));
    char buffer[16];
    EXPECT_EQ(15u, ReadUpdateInfoValue(file.c_str(), "A", "APP_URL", buffer, sizeof buffer));
    EXPECT_EQ(std::string(15, 'u'), buffer);
}

TEST(ReadUpdateInfoValue, ErrorPageYieldsNoKeys)
{
    TestFolder folder;
    std::string file = folder / "Kovrel.ini";
    ASSERT_TRUE(WriteTestFile(file, "<html><body><h1>404 Not Found</h1></body></html>\r\n"));
    char buffer[64];
    EXPECT_EQ(0u, ReadUpdateInfoValue(file.c_str(), "A", "APP_VER", buffer, sizeof buffer));
    EXPECT_EQ(0u, ReadUpdateInfoValue((folder / "missing.ini").c_str(), "A", "APP_VER", buffer, sizeof buffer));
}
