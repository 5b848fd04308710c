// The rule that names a wide path in the ANSI code page, on real folders of the test prefix. "Ł" is in
// neither code page 932 nor 1252.
#include <gtest/gtest.h>
#include "test_folder.h"
#include <shlobj.h>
#include "../../../src/common/ansi_path.h"

TEST(NameInAnsi, ExactPathElseShortNameElseNothing)
{
    TestFolder folder;
    std::wstring outside = Below(folder.Path(), "\xC5\x81ukasz");
    ASSERT_TRUE(CreateDirectoryW(outside.c_str(), 0));
    wchar_t shortPath[MAX_PATH];
    ASSERT_GT(GetShortPathNameW(outside.c_str(), shortPath, MAX_PATH), 0u);
    std::wstring inside = Below(folder.Path(), "sub");
    struct Row {
        const char *label;
        std::wstring path;
        unsigned capacity;
        bool named;
        std::wstring expected; // the path named, as wide text
    } rows[] = {
        {"an existing folder in the code page", inside, MAX_PATH, true, inside},
        {"a missing path in the code page needs no short name", inside + L"\\missing", MAX_PATH, true,
         inside + L"\\missing"},
        {"a folder outside the code page by its short name", outside, MAX_PATH, true, shortPath},
        {"a missing path outside the code page", outside + L"\\missing", MAX_PATH, false, L""},
        {"a buffer too small for either form", inside, 4, false, L""},
    };
    for (const Row &row : rows) {
        char buffer[MAX_PATH] = "unchanged";
        bool named = NameInAnsi(row.path.c_str(), buffer, row.capacity);
        EXPECT_EQ(row.named, named) << row.label;
        if (!row.named || !named)
            continue;
        wchar_t back[MAX_PATH];
        ASSERT_GT(MultiByteToWideChar(CP_ACP, 0, buffer, -1, back, MAX_PATH), 0) << row.label;
        EXPECT_EQ(row.expected, std::wstring(back)) << row.label;
    }
    // The short name leads to the folder itself through the ANSI calls.
    char named[MAX_PATH];
    ASSERT_TRUE(NameInAnsi(outside.c_str(), named, MAX_PATH));
    EXPECT_TRUE(WriteTestFile(std::string(named) + "\\through-ansi.txt", "x"));
    EXPECT_TRUE(Exists(outside + L"\\through-ansi.txt"));
}

// GetTempPathW reads TMP first: the process's own value is enough to move the temporary folder.
TEST(GetAnsiTempPath, TemporaryFolderByItsNameItsShortNameOrTheUsersOwn)
{
    TestFolder folder;
    std::wstring outside = Below(folder.Path(), "\xC5\x81ukasz");
    ASSERT_TRUE(CreateDirectoryW(outside.c_str(), 0));
    wchar_t shortPath[MAX_PATH], local[MAX_PATH];
    ASSERT_GT(GetShortPathNameW((outside + L"\\").c_str(), shortPath, MAX_PATH), 0u);
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathW(0, CSIDL_LOCAL_APPDATA, 0, SHGFP_TYPE_CURRENT, local)));
    wchar_t saved[MAX_PATH];
    DWORD savedLength = GetEnvironmentVariableW(L"TMP", saved, MAX_PATH);
    struct Row {
        const char *label;
        std::wstring tmp;
        std::wstring expected;
    } rows[] = {
        {"a folder in the code page", Below(folder.Path(), "sub\\"), Below(folder.Path(), "sub\\")},
        {"a folder outside the code page", outside + L"\\", shortPath},
        {"a missing folder outside the code page", outside + L"\\missing\\", std::wstring(local) + L"\\Temp\\"},
    };
    for (const Row &row : rows) {
        SetEnvironmentVariableW(L"TMP", row.tmp.c_str());
        char buffer[MAX_PATH];
        DWORD length = GetAnsiTempPath(MAX_PATH, buffer);
        wchar_t back[MAX_PATH] = L"";
        MultiByteToWideChar(CP_ACP, 0, buffer, -1, back, MAX_PATH);
        EXPECT_TRUE(length != 0 && length == strlen(buffer)) << row.label;
        EXPECT_EQ(row.expected, std::wstring(back)) << row.label;
    }
    SetEnvironmentVariableW(L"TMP", savedLength ? saved : 0);
}
