// Where a skin picture is looked for: the launcher's folder, found with the double-byte-aware search.
#include <gtest/gtest.h>
#include <string>
#include "../../../src/worker/ui/skin_path.h"

TEST(SkinPath, LauncherFolderAndFileName)
{
    struct Row {
        const char *label;
        const char *launcher;
        const char *expected;
    } rows[] = {
        {"backslash", "C:\\App\\Kovrel.exe", "C:\\App\\anime.vrl"},
        {"slash", "C:/App/Kovrel.exe", "C:/App\\anime.vrl"},
        {"the last separator counts", "C:\\a/b\\c.exe", "C:\\a/b\\anime.vrl"},
        {"no separator keeps the whole path", "Kovrel.exe", "Kovrel.exe\\anime.vrl"},
        {"trail byte 0x5C is not a separator", "C:\\App\\\x95\x5C.exe", "C:\\App\\anime.vrl"},
        {"trail byte in the folder name", "C:\\\x95\x5C\\Kovrel.exe", "C:\\\x95\x5C\\anime.vrl"},
    };
    for (const Row &row : rows) {
        char buffer[260];
        ASSERT_TRUE(BuildSkinPath(buffer, sizeof buffer, row.launcher, "anime.vrl")) << row.label;
        EXPECT_STREQ(row.expected, buffer) << row.label;
    }
}

TEST(SkinPath, RefusedWithoutTextsOrRoom)
{
    char buffer[260];
    EXPECT_FALSE(BuildSkinPath(buffer, sizeof buffer, "C:\\App\\Kovrel.exe", ""));
    EXPECT_FALSE(BuildSkinPath(buffer, sizeof buffer, "C:\\App\\Kovrel.exe", nullptr));
    EXPECT_FALSE(BuildSkinPath(buffer, sizeof buffer, nullptr, "anime.vrl")) << "no launcher path";

    // "C:\App\" and the name: 7 + 9 bytes and the terminating zero fill 17 bytes exactly.
    EXPECT_TRUE(BuildSkinPath(buffer, 17, "C:\\App\\K", "anime.vrl"));
    EXPECT_FALSE(BuildSkinPath(buffer, 16, "C:\\App\\K", "anime.vrl"));
    std::string longFolder = "C:\\" + std::string(250, 'a') + "\\Kovrel.exe";
    EXPECT_FALSE(BuildSkinPath(buffer, sizeof buffer, longFolder.c_str(), "bkgnd.vrl")) << "263 bytes";
    std::string longLauncher = "C:\\App\\" + std::string(260, 'b');
    EXPECT_FALSE(BuildSkinPath(buffer, sizeof buffer, longLauncher.c_str(), "a")) << "launcher path over 260";
}
