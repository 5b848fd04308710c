// RemoveTree on real folders, and the wide path conversion that it and the replacement rely on.
#include <gtest/gtest.h>
#include "test_folder.h"
#include "../../../src/common/tree_removal.h"
#include "../../../src/common/wide_path.h"

TEST(RemoveTree, RemovesNestedFoldersAndReadOnlyFiles)
{
    TestFolder folder;
    std::string root = folder / "tree\\";
    ASSERT_TRUE(CreateDirectoryA(root.c_str(), 0));
    ASSERT_TRUE(CreateDirectoryA((root + "a").c_str(), 0));
    ASSERT_TRUE(CreateDirectoryA((root + "a\\b").c_str(), 0));
    ASSERT_TRUE(CreateDirectoryA((root + "empty").c_str(), 0));
    ASSERT_TRUE(CreateDirectoryA((root + ".x").c_str(), 0));
    ASSERT_TRUE(CreateDirectoryA((root + "..x").c_str(), 0));
    ASSERT_TRUE(WriteTestFile(root + "..x\\inside", "3"));
    ASSERT_TRUE(WriteTestFile(root + "top.txt", "1"));
    ASSERT_TRUE(WriteTestFile(root + "a\\b\\deep.txt", "2"));
    ASSERT_TRUE(WriteTestFile(root + ".x\\inside", "3"));
    ASSERT_TRUE(WriteTestFile(root + "a\\readonly.txt", "4"));
    ASSERT_TRUE(SetFileAttributesA((root + "a\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    // Names outside the ANSI code page, as an archive may unpack them.
    ASSERT_TRUE(CreateDirectoryW(Below(root, "Ελληνικά").c_str(), 0));
    for (const char *name : {"日本語.txt", "Ελληνικά\\αρχείο.txt", "😀 smile.txt"})
        ASSERT_TRUE(WriteTestFile(Below(root, name), name)) << name;

    EXPECT_TRUE(RemoveTree(root.c_str(), true));
    EXPECT_FALSE(Exists(root));
}

TEST(RemoveTree, KeepsTheFolderWithoutTheRemoveSelfFlag)
{
    TestFolder folder;
    ASSERT_TRUE(WriteTestFile(folder / "f", "1"));
    ASSERT_TRUE(CreateDirectoryA((folder / "sub").c_str(), 0));
    EXPECT_TRUE(RemoveTree(folder.Path().c_str(), false));
    EXPECT_TRUE(Exists(folder.Path()));
    EXPECT_FALSE(Exists(folder / "f"));
    EXPECT_FALSE(Exists(folder / "sub"));
}

TEST(RemoveTree, MissingFolder)
{
    TestFolder folder;
    std::string missing = folder / "missing\\";
    EXPECT_FALSE(RemoveTree(missing.c_str(), true)) << "the folder itself cannot be removed";
    EXPECT_TRUE(RemoveTree(missing.c_str(), false)) << "nothing below it was left";
    EXPECT_FALSE(RemoveTree(nullptr, true));
}

TEST(RemoveTree, LockedFileIsTriedFourTimesAndTheRestStillGoes)
{
    TestFolder folder;
    std::string root = folder / "locked\\";
    ASSERT_TRUE(CreateDirectoryA(root.c_str(), 0));
    ASSERT_TRUE(WriteTestFile(root + "a.txt", "a"));
    ASSERT_TRUE(WriteTestFile(root + "held.txt", "held"));
    ASSERT_TRUE(WriteTestFile(root + "z.txt", "z"));
    HANDLE held = CreateFileA((root + "held.txt").c_str(), GENERIC_READ, 0, 0, OPEN_EXISTING, 0, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);

    DWORD start = GetTickCount();
    EXPECT_FALSE(RemoveTree(root.c_str(), true));
    DWORD elapsed = GetTickCount() - start;
    CloseHandle(held);

    EXPECT_GE(elapsed, 3900u) << "four tries, each followed by a sleep of 1024 ms";
    EXPECT_LT(elapsed, 8000u);
    EXPECT_TRUE(Exists(root + "held.txt"));
    EXPECT_FALSE(Exists(root + "a.txt"));
    EXPECT_FALSE(Exists(root + "z.txt"));
    EXPECT_TRUE(Exists(root)) << "a folder that still holds a file stays";
}

TEST(RemoveTree, RemovesEntriesWhosePathsPass260Bytes)
{
    TestFolder folder;
    // Folders whose own paths fit, holding a file and a folder whose paths pass 260 bytes (an archive can
    // unpack such paths): they are removed through their long paths, never cut or written past a buffer.
    std::string top = folder / "top\\";
    std::string deep = top;
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), 0));
    while (deep.size() < 200) {
        deep += "dddddddddd\\";
        ASSERT_TRUE(CreateDirectoryA(deep.c_str(), 0));
    }
    // The platform's ANSI file calls stop at 260 bytes too, so the long entries are made and checked with the
    // wide calls and the \\?\\ prefix.
    std::wstring wideDeep = L"\\\\?\\" + std::wstring(deep.begin(), deep.end());
    std::wstring longFile = wideDeep + std::wstring(80, L'n');
    std::wstring longFolder = wideDeep + std::wstring(70, L'f');
    ASSERT_TRUE(CreateDirectoryW(longFolder.c_str(), 0));
    std::wstring inside = longFolder + L"\\inside.txt";
    for (const std::wstring &path : {longFile, inside}) {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_READONLY, 0);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        CloseHandle(file);
    }
    ASSERT_TRUE(WriteTestFile(deep + "short", "x"));

    EXPECT_TRUE(RemoveTree(top.c_str(), true));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(longFile.c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(longFolder.c_str()));
    EXPECT_FALSE(Exists(top));
}

// Nothing of a tree may be left out: a name that UTF-8 cannot carry (half of a surrogate pair, which NTFS
// takes but Wine cannot create) is refused by the conversion, which fails the replacement's plan rather than
// skipping the file.
TEST(WidePath, NamesAreJournalledInUtf8OrRefused)
{
    struct {
        const wchar_t *name;
        const char *utf8; // 0: refused
    } cases[] = {
        {L"日本語.txt", "日本語.txt"},
        {L"Ελληνικά\\αρχείο.txt", "Ελληνικά\\αρχείο.txt"},
        {L"😀 smile.txt", "😀 smile.txt"},
        {L"\xD800 lone high half.txt", 0},
        {L"\xDE00 lone low half.txt", 0},
    };
    for (const auto &c : cases) {
        char text[3 * WIDE_PATH_CHARS];
        EXPECT_EQ(c.utf8 != 0, PathToUtf8(text, sizeof text, c.name)) << c.utf8;
        if (c.utf8)
            EXPECT_STREQ(c.utf8, text);
    }
    char small[8];
    EXPECT_FALSE(PathToUtf8(small, sizeof small, L"日本語.txt")) << "never cut short";
}
