#include <gtest/gtest.h>
#include "test_folder.h"
#include "../../../src/common/path_exists.h"

TEST(PathExists, FoldersAndFiles)
{
    TestFolder folder;
    ASSERT_TRUE(WriteTestFile(folder / "file.txt", "x"));
    ASSERT_TRUE(CreateDirectoryA((folder / "sub").c_str(), 0));

    EXPECT_TRUE(PathExists(folder.Path().c_str(), false)) << "folder with a trailing backslash";
    EXPECT_TRUE(PathExists((folder / "sub").c_str(), false)) << "folder without one";
    EXPECT_TRUE(PathExists((folder / "sub/").c_str(), false)) << "folder with a trailing slash";
    EXPECT_FALSE(PathExists((folder / "file.txt").c_str(), false)) << "a file is not a folder";
    EXPECT_TRUE(PathExists((folder / "file.txt").c_str(), true));
    EXPECT_FALSE(PathExists((folder / "missing").c_str(), false));
    EXPECT_FALSE(PathExists((folder / "missing").c_str(), true));
    EXPECT_FALSE(PathExists("", true));
    EXPECT_FALSE(PathExists(nullptr, true));
}

TEST(PathExists, DoubleByteFolderName)
{
    TestFolder folder;
    // "表" ends in the byte 0x5C: the folder name must not lose its second byte.
    std::string kanji = folder / "\x95\x5C";
    ASSERT_TRUE(CreateDirectoryA(kanji.c_str(), 0));
    EXPECT_TRUE(PathExists(kanji.c_str(), false));
    EXPECT_TRUE(PathExists((kanji + "\\").c_str(), false));
}
