// The tree copy with backup on real trees.
#include <gtest/gtest.h>
#include <string>
#include "test_folder.h"
#include "../../../src/worker/files/replace_journal.h"
#include "../../../src/worker/files/tree_copy.h"

namespace {

std::string Read(const std::string &path)
{
    std::string content;
    return ReadTestFile(path, &content) ? content : "<missing>";
}

struct CallbackLog {
    int calls = 0;
    int stopAfter = 0; // 0: never stop
};

int WINAPI CountingCallback(void *context)
{
    CallbackLog *log = static_cast<CallbackLog *>(context);
    log->calls++;
    return log->stopAfter && log->calls >= log->stopAfter;
}

class TreeCopy : public ::testing::Test {
protected:
    void SetUp() override
    {
        source = folder / "Src\\";
        destination = folder / "App\\";
        backup = folder / "Bup\\";
        ASSERT_TRUE(CreateDirectoryA(source.c_str(), 0));
        ASSERT_TRUE(CreateDirectoryA(destination.c_str(), 0));
        ASSERT_TRUE(context.Init());
        context.progressCallback = CountingCallback;
        context.progressContext = &log;
    }
    void TearDown() override { context.Free(); }

    void Source(const std::string &relative, const std::string &content)
    {
        ASSERT_TRUE(WriteTestFile(source + relative, content)) << relative;
    }
    void Destination(const std::string &relative, const std::string &content)
    {
        ASSERT_TRUE(WriteTestFile(destination + relative, content)) << relative;
    }

    TestFolder folder;
    std::string source, destination, backup;
    struct CopyContext context;
    CallbackLog log;
};

TEST_F(TreeCopy, CopiesSubFoldersAndBacksUpOnlyWhatExisted)
{
    ASSERT_TRUE(CreateDirectoryA((source + "bin").c_str(), 0));
    ASSERT_TRUE(CreateDirectoryA((source + "bin\\deep").c_str(), 0));
    ASSERT_TRUE(CreateDirectoryA((source + "empty").c_str(), 0));
    Source("app.exe", "new app");
    Source("bin\\lib.dll", "new lib");
    Source("bin\\deep\\data.txt", "new data");
    Source("\x95\x5C\x8e\xa6.txt", "new kanji");
    Destination("app.exe", "old app");
    Destination("keep.txt", "untouched");

    ASSERT_TRUE(context.CopyTree(source.c_str(), destination.c_str(), "", backup.c_str()));
    EXPECT_EQ("new app", Read(destination + "app.exe"));
    EXPECT_EQ("new lib", Read(destination + "bin\\lib.dll"));
    EXPECT_EQ("new data", Read(destination + "bin\\deep\\data.txt"));
    EXPECT_EQ("new kanji", Read(destination + "\x95\x5C\x8e\xa6.txt"));
    EXPECT_EQ("untouched", Read(destination + "keep.txt")) << "the copy never deletes";
    EXPECT_TRUE(Exists(destination + "empty")) << "an empty folder is created";
    EXPECT_TRUE(Exists(backup + "empty")) << "and its backup folder";

    EXPECT_EQ("old app", Read(backup + "app.exe"));
    EXPECT_FALSE(Exists(backup + "bin\\lib.dll")) << "a file that did not exist is not backed up";
    EXPECT_FALSE(Exists(backup + "keep.txt"));
    EXPECT_EQ(4, log.calls) << "one callback per file";
}

TEST_F(TreeCopy, ReadOnlyDestinationIsBackedUpThenOverwritten)
{
    Source("config.ini", "new");
    Destination("config.ini", "old");
    ASSERT_TRUE(SetFileAttributesA((destination + "config.ini").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(context.CopyTree(source.c_str(), destination.c_str(), "", backup.c_str()));
    EXPECT_EQ("new", Read(destination + "config.ini"));
    EXPECT_EQ("old", Read(backup + "config.ini"));
    EXPECT_TRUE(GetFileAttributesA((backup + "config.ini").c_str()) & FILE_ATTRIBUTE_READONLY)
        << "the backup keeps the attribute";
}

TEST_F(TreeCopy, EmptyOrMissingSourceCreatesTheDestination)
{
    std::string missingDestination = folder / "NewApp\\";
    ASSERT_TRUE(context.CopyTree(source.c_str(), missingDestination.c_str(), "", backup.c_str()));
    EXPECT_TRUE(Exists(missingDestination));
    EXPECT_EQ(0, log.calls);
    ASSERT_TRUE(context.CopyTree((folder / "NoSource\\").c_str(), destination.c_str(), "", ""));
    EXPECT_EQ(0, log.calls);
}

TEST_F(TreeCopy, WithoutBackupRootNothingIsBackedUp)
{
    Source("a.txt", "new");
    Destination("a.txt", "old");
    ASSERT_TRUE(context.CopyTree(source.c_str(), destination.c_str(), "", ""));
    EXPECT_EQ("new", Read(destination + "a.txt"));
    EXPECT_FALSE(Exists(backup));
    ASSERT_TRUE(context.CopyTree(source.c_str(), destination.c_str(), "", nullptr));
    EXPECT_FALSE(Exists(backup));
}

TEST_F(TreeCopy, LockedDestinationFailsAfterFourTriesAndOneCallback)
{
    Source("locked.dll", "new");
    Destination("locked.dll", "old");
    HANDLE held = CreateFileA((destination + "locked.dll").c_str(), GENERIC_READ, 0, 0, OPEN_EXISTING, 0, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    DWORD start = GetTickCount();
    EXPECT_FALSE(context.CopyTree(source.c_str(), destination.c_str(), "", ""));
    DWORD elapsed = GetTickCount() - start;
    CloseHandle(held);
    EXPECT_GE(elapsed, 3900u) << "four tries, each followed by a sleep of 1024 ms";
    EXPECT_LT(elapsed, 8000u);
    EXPECT_EQ(1, log.calls) << "the callback runs after the failed copy too";
    EXPECT_EQ("old", Read(destination + "locked.dll"));
}

TEST_F(TreeCopy, BackupThatCannotBeWrittenLeavesTheDestinationAlone)
{
    Source("a.txt", "new");
    Destination("a.txt", "old");
    ASSERT_TRUE(CreateDirectoryA(backup.c_str(), 0));
    ASSERT_TRUE(WriteTestFile(backup + "a.txt", "stale backup"));
    HANDLE held = CreateFileA((backup + "a.txt").c_str(), GENERIC_READ, 0, 0, OPEN_EXISTING, 0, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_FALSE(context.CopyTree(source.c_str(), destination.c_str(), "", backup.c_str()));
    CloseHandle(held);
    EXPECT_EQ("old", Read(destination + "a.txt"));
    EXPECT_EQ(0, log.calls);
}

TEST_F(TreeCopy, CallbackCanStopAfterTheFirstFile)
{
    Source("1.txt", "1");
    Source("2.txt", "2");
    Source("3.txt", "3");
    log.stopAfter = 1;
    EXPECT_FALSE(context.CopyTree(source.c_str(), destination.c_str(), "", backup.c_str()));
    EXPECT_EQ(1, log.calls);
    int copied = Exists(destination + "1.txt") + Exists(destination + "2.txt") + Exists(destination + "3.txt");
    EXPECT_EQ(1, copied);
}

TEST_F(TreeCopy, FailedCopyIsUndoneFromItsJournal)
{
    ASSERT_TRUE(CreateDirectoryA((source + "plugins").c_str(), 0));
    Source("app.exe", "new app");
    Source("added.txt", "added");
    Source("plugins\\p.dll", "plugin");
    Source("zzz.dll", "new");
    Destination("app.exe", "old app");
    Destination("zzz.dll", "old");
    ASSERT_TRUE(SetFileAttributesA((destination + "app.exe").c_str(), FILE_ATTRIBUTE_READONLY));
    std::string journalPath = folder / "Kovrel.journal";
    ReplaceJournal journal;
    ASSERT_TRUE(BeginJournal(&journal, journalPath.c_str(), destination.c_str(), backup.c_str()));
    context.journal = &journal;
    // The new zzz.dll cannot be read: the copy fails there after its original went to the backup, whatever
    // the order of the others.
    HANDLE held = CreateFileA((source + "zzz.dll").c_str(), GENERIC_READ, 0, 0, OPEN_EXISTING, 0, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_FALSE(context.CopyTree(source.c_str(), destination.c_str(), "", backup.c_str()));
    CloseHandle(held);
    CloseJournal(&journal);
    EXPECT_FALSE(Exists(destination + "zzz.dll.kvnew")) << "no partial file is left beside the target";

    unsigned restored = 0;
    EXPECT_EQ(UNDO_COMPLETE, UndoJournal(journalPath.c_str(), &restored));
    EXPECT_EQ("old app", Read(destination + "app.exe"));
    EXPECT_TRUE(GetFileAttributesA((destination + "app.exe").c_str()) & FILE_ATTRIBUTE_READONLY)
        << "a restored read-only file is read-only again";
    EXPECT_EQ("old", Read(destination + "zzz.dll"));
    EXPECT_FALSE(Exists(destination + "added.txt")) << "a file the update added is removed again";
    EXPECT_FALSE(Exists(destination + "plugins")) << "and so is a folder it added";
    EXPECT_TRUE(Exists(destination)) << "the application folder itself existed";
    EXPECT_FALSE(Exists(journalPath)) << "a complete undo ends the journal";
    EXPECT_GE(restored, 1u);
}

TEST_F(TreeCopy, ReplacedFilesAreMovedToTheBackupAndNoPartIsLeft)
{
    Source("a.txt", "new a");
    Destination("a.txt", "old a");
    ASSERT_TRUE(context.CopyTree(source.c_str(), destination.c_str(), "", backup.c_str()));
    EXPECT_EQ("new a", Read(destination + "a.txt"));
    EXPECT_EQ("old a", Read(backup + "a.txt"));
    EXPECT_FALSE(Exists(destination + "a.txt.kvnew"));
}

TEST_F(TreeCopy, PathsThatDoNotFitFailTheCopy)
{
    std::string longName(200, 'x');
    std::string deepSource = source + longName + "\\";
    ASSERT_TRUE(CreateDirectoryA(deepSource.c_str(), 0));
    std::wstring wideFile(deepSource.begin(), deepSource.end());
    wideFile = L"\\\\?\\" + wideFile + std::wstring(60, L'f');
    HANDLE file = CreateFileW(wideFile.c_str(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
    EXPECT_FALSE(context.CopyTree(source.c_str(), destination.c_str(), "", backup.c_str()));
    DeleteFileW(wideFile.c_str());
}

TEST_F(TreeCopy, RefusesMissingRoots)
{
    EXPECT_FALSE(context.CopyTree("", destination.c_str(), "", ""));
    EXPECT_FALSE(context.CopyTree(source.c_str(), nullptr, "", ""));
    EXPECT_FALSE(context.CopyTree(source.c_str(), destination.c_str(), nullptr, ""));
}

TEST(CountFiles, CountsFilesOfANestedTree)
{
    TestFolder folder;
    ASSERT_TRUE(WriteTestFile(folder / "1", ""));
    ASSERT_TRUE(WriteTestFile(folder / "2", ""));
    ASSERT_TRUE(WriteTestFile(folder / "3", ""));
    ASSERT_TRUE(CreateDirectoryA((folder / "sub").c_str(), 0));
    ASSERT_TRUE(CreateDirectoryA((folder / "sub\\empty").c_str(), 0));
    ASSERT_TRUE(WriteTestFile(folder / "sub\\4", ""));
    ASSERT_TRUE(WriteTestFile(folder / "sub\\5", ""));
    EXPECT_EQ(5, CountFiles(folder.Path().c_str()));
    EXPECT_EQ(0, CountFiles((folder / "sub\\empty\\").c_str()));
    EXPECT_EQ(0, CountFiles((folder / "missing\\").c_str()));
    EXPECT_EQ(0, CountFiles(nullptr));
}

} // namespace
