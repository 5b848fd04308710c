// The launcher's hand-off on the real temporary folder of the test prefix.
#include <gtest/gtest.h>
#include "test_folder.h"
#include "test_resources.h"
#include "../../../src/launcher/worker_handoff.h"

static std::string KovrelTempFolder()
{
    char folder[MAX_PATH];
    EXPECT_TRUE(GetKovrelTempFolder(folder));
    return folder;
}

TEST(WorkerHandoff, TempFolderIsKovrelUnderTheTempPath)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    EXPECT_EQ(std::string(temp) + "Kovrel\\", KovrelTempFolder());
}

TEST(ExtractWorker, WritesTheResourceByteForByte)
{
    TestFolder folder;
    std::string target = folder / "Kovrelw.exe";
    ASSERT_TRUE(WriteTestFile(target, std::string(5000, 'o')));
    ASSERT_TRUE(ExtractWorker(GetModuleHandleA(0), target.c_str()));
    std::string content;
    ASSERT_TRUE(ReadTestFile(target, &content));
    EXPECT_EQ(TEST_EMBEDDED_CONTENT, content) << "an existing file is replaced whole";
}

TEST(ExtractWorker, Failures)
{
    TestFolder folder;
    std::string target = folder / "Kovrelw.exe";
    EXPECT_FALSE(ExtractWorker(GetModuleHandleA(0), nullptr));
    EXPECT_FALSE(ExtractWorker(GetModuleHandleA("kernel32.dll"), target.c_str())) << "module without the worker";
    EXPECT_FALSE(Exists(target));
    EXPECT_FALSE(ExtractWorker(GetModuleHandleA(0), (folder / "missing\\Kovrelw.exe").c_str()));
}

TEST(RunNormalMode, MissingResourceRemovesTheFolderAgain)
{
    std::string temp = KovrelTempFolder();
    RemoveAll(temp);
    ASSERT_TRUE(CreateDirectoryA(temp.c_str(), 0));
    ASSERT_TRUE(WriteTestFile(temp + "stale.txt", "stale"));
    RunNormalMode(GetModuleHandleA("kernel32.dll"), "a b c d");
    EXPECT_FALSE(Exists(temp));
}

TEST(RunNormalMode, WorkerThatCannotStartRemovesTheFolderAgain)
{
    // The test program's embedded "worker" is plain text, so starting it fails.
    std::string temp = KovrelTempFolder();
    RemoveAll(temp);
    RunNormalMode(GetModuleHandleA(0), "a b c d");
    EXPECT_FALSE(Exists(temp));
}

TEST(RunCleanupMode, RemovesTheFolderAndIsQuietWithoutOne)
{
    std::string temp = KovrelTempFolder();
    RemoveAll(temp);
    ASSERT_TRUE(CreateDirectoryA(temp.c_str(), 0));
    ASSERT_TRUE(CreateDirectoryA((temp + "Work").c_str(), 0));
    ASSERT_TRUE(WriteTestFile(temp + "Work\\file", "x"));
    RunCleanupMode();
    EXPECT_FALSE(Exists(temp));
    RunCleanupMode();
    EXPECT_FALSE(Exists(temp));
}
