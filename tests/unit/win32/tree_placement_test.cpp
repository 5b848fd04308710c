// The tree copy with backup on real trees.
#include <gtest/gtest.h>
#include <string>
#include "test_folder.h"
#include "../../../src/worker/files/replace_check.h"
#include "../../../src/worker/files/replace_journal.h"
#include "../../../src/worker/files/tree_placement.h"

namespace {

std::string Read(const std::string &path)
{
    std::string content;
    return ReadTestFile(path, &content) ? content : "<missing>";
}

std::string Read(const std::wstring &path)
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
    }
    void TearDown() override { plan.Free(); }

    void Source(const std::string &relative, const std::string &content)
    {
        ASSERT_TRUE(WriteTestFile(source + relative, content)) << relative;
    }
    void Destination(const std::string &relative, const std::string &content)
    {
        ASSERT_TRUE(WriteTestFile(destination + relative, content)) << relative;
    }
    bool Place(const std::string &backupRoot, bool move = false)
    {
        return plan.Make(source.c_str(), destination.c_str(), backupRoot.c_str()) &&
               plan.Apply(move, CountingCallback, &log);
    }
    std::string Records() const { return std::string(plan.records ? plan.records : "", plan.length); }
    // The check's answer while `path` is open without sharing, as a running application holds its files.
    ReplaceCheck CheckWhileHeld(const std::string &path, wchar_t *blocked)
    {
        HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, 0, 0, OPEN_EXISTING, 0, 0);
        EXPECT_NE(INVALID_HANDLE_VALUE, held) << path;
        ReplaceCheck answer = CheckReplaceable(plan, blocked);
        CloseHandle(held);
        return answer;
    }

    TestFolder folder;
    std::string source, destination, backup;
    PlacementPlan plan = {};
    CallbackLog log;
};

// Both ways of placing a new file: copied from the unpacked tree, or moved out of it.
class TreeCopyBothWays : public TreeCopy, public ::testing::WithParamInterface<bool> {};

TEST_P(TreeCopyBothWays, PlacesSubFoldersAndBacksUpOnlyWhatExisted)
{
    ASSERT_TRUE(CreateDirectoryA((source + "bin").c_str(), 0));
    ASSERT_TRUE(CreateDirectoryA((source + "bin\\deep").c_str(), 0));
    ASSERT_TRUE(CreateDirectoryA((source + "empty").c_str(), 0));
    ASSERT_TRUE(CreateDirectoryA((destination + "bin").c_str(), 0));
    Source("app.exe", "new app");
    Source("bin\\lib.dll", "new lib");
    Source("bin\\deep\\data.txt", "new data");
    Source("bin\\deep\\old.txt", "new old");
    Source("\x95\x5C\x8e\xa6.txt", "new kanji");
    Destination("app.exe", "old app");
    Destination("keep.txt", "untouched");
    ASSERT_TRUE(CreateDirectoryA((destination + "bin\\deep").c_str(), 0));
    Destination("bin\\deep\\old.txt", "old old");

    ASSERT_TRUE(Place(backup, GetParam()));
    EXPECT_EQ(5u, plan.files);
    EXPECT_EQ("new app", Read(destination + "app.exe"));
    EXPECT_EQ("new lib", Read(destination + "bin\\lib.dll"));
    EXPECT_EQ("new data", Read(destination + "bin\\deep\\data.txt"));
    EXPECT_EQ("new old", Read(destination + "bin\\deep\\old.txt"));
    EXPECT_EQ("new kanji", Read(destination + "\x95\x5C\x8e\xa6.txt"));
    EXPECT_EQ("untouched", Read(destination + "keep.txt")) << "the placement never deletes";
    EXPECT_TRUE(Exists(destination + "empty")) << "an empty folder is created";

    EXPECT_EQ("old app", Read(backup + "app.exe"));
    EXPECT_EQ("old old", Read(backup + "bin\\deep\\old.txt")) << "the backup folders are made as needed";
    EXPECT_FALSE(Exists(backup + "bin\\lib.dll")) << "a file that did not exist is not backed up";
    EXPECT_FALSE(Exists(backup + "keep.txt"));
    EXPECT_EQ(5, log.calls) << "one callback per file";
    EXPECT_EQ(!GetParam(), Exists(source + "app.exe")) << "a moved file leaves the unpacked tree, a copied one stays";
    EXPECT_FALSE(Exists(destination + "app.exe.kvnew"));
}

TEST_P(TreeCopyBothWays, ReadOnlyDestinationIsBackedUpThenReplaced)
{
    Source("config.ini", "new");
    Destination("config.ini", "old");
    ASSERT_TRUE(SetFileAttributesA((destination + "config.ini").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(Place(backup, GetParam()));
    EXPECT_EQ("new", Read(destination + "config.ini"));
    EXPECT_EQ("old", Read(backup + "config.ini"));
    EXPECT_TRUE(GetFileAttributesA((backup + "config.ini").c_str()) & FILE_ATTRIBUTE_READONLY)
        << "the backup keeps the attribute";
}

TEST_P(TreeCopyBothWays, WithoutBackupRootReadOnlyFilesAreReplacedInPlace)
{
    Source("a.txt", "new");
    Destination("a.txt", "old");
    ASSERT_TRUE(SetFileAttributesA((destination + "a.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(Place("", GetParam()));
    EXPECT_EQ("new", Read(destination + "a.txt"));
    EXPECT_FALSE(Exists(backup));
    EXPECT_EQ("R a.txt\r\n", Records()) << "the kind of change is planned all the same";
}

// Without a backup, a copy goes through "<target>.kvnew". One left by a copy cut short earlier is written
// over; the attributes, which Windows would refuse, are changed only after a refusal.
TEST_F(TreeCopy, LeftoverOfACutShortCopyIsWrittenOver)
{
    Source("a.txt", "new");
    Destination("a.txt", "old");
    Destination("a.txt.kvnew", "ha");
    ASSERT_TRUE(SetFileAttributesA((destination + "a.txt.kvnew").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(SetFileAttributesA((destination + "a.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(Place("", false));
    EXPECT_EQ("new", Read(destination + "a.txt"));
    EXPECT_FALSE(Exists(destination + "a.txt.kvnew"));
}

TEST_P(TreeCopyBothWays, FailedPlacementIsUndoneFromItsJournal)
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
    ASSERT_TRUE(plan.Make(source.c_str(), destination.c_str(), backup.c_str()));
    ASSERT_TRUE(BeginJournal(&journal, journalPath.c_str(), destination.c_str(), backup.c_str()));
    ASSERT_TRUE(WriteJournalRecords(&journal, plan.records, plan.length));
    // The new zzz.dll cannot be read or moved: the placement fails there after its original went to the
    // backup, whatever the order of the others.
    HANDLE held = CreateFileA((source + "zzz.dll").c_str(), GENERIC_READ, 0, 0, OPEN_EXISTING, 0, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_FALSE(plan.Apply(GetParam(), CountingCallback, &log));
    CloseHandle(held);
    CloseJournal(&journal);
    EXPECT_FALSE(Exists(destination + "zzz.dll.kvnew")) << "no partial file is left beside the target";
    EXPECT_FALSE(Exists(destination + "zzz.dll")) << "the original went to the backup first";

    unsigned restored = 0;
    EXPECT_EQ(UNDO_COMPLETE, UndoJournal(journalPath.c_str(), destination.c_str(), &restored));
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

// Names outside the ANSI code page go through the plan, its journal (in UTF-8), the placement and the undo.
TEST_P(TreeCopyBothWays, NamesOutsideTheAnsiCodePageArePlacedAndUndone)
{
    struct Row {
        const char *name;
        const char *record; // the journal's record of it
        const char *old;    // 0: the update creates it
    } rows[] = {
        {"日本語.txt", "R 日本語.txt\r\n", "old 日本語"},
        {"Ελληνικά\\αρχείο.txt", "C Ελληνικά\\αρχείο.txt\r\n", 0},
        {"😀 smile.txt", "R 😀 smile.txt\r\n", "old smile"},
    };
    ASSERT_TRUE(CreateDirectoryW(Below(source, "Ελληνικά").c_str(), 0));
    for (const Row &row : rows) {
        ASSERT_TRUE(WriteTestFile(Below(source, row.name), std::string("new ") + row.name)) << row.name;
        if (row.old)
            ASSERT_TRUE(WriteTestFile(Below(destination, row.name), row.old)) << row.name;
    }
    std::string journalPath = folder / "Kovrel.journal";
    ReplaceJournal journal;
    ASSERT_TRUE(plan.Make(source.c_str(), destination.c_str(), backup.c_str()));
    std::string records = Records();
    EXPECT_NE(std::string::npos, records.find("D Ελληνικά\\\r\n")) << records;
    for (const Row &row : rows)
        EXPECT_NE(std::string::npos, records.find(row.record)) << records;
    ASSERT_TRUE(BeginJournal(&journal, journalPath.c_str(), destination.c_str(), backup.c_str()));
    ASSERT_TRUE(WriteJournalRecords(&journal, plan.records, plan.length));
    ASSERT_TRUE(plan.Apply(GetParam(), CountingCallback, &log));
    CloseJournal(&journal);
    for (const Row &row : rows) {
        EXPECT_EQ(std::string("new ") + row.name, Read(Below(destination, row.name))) << row.name;
        EXPECT_EQ(row.old ? row.old : "<missing>", Read(Below(backup, row.name))) << row.name;
    }

    // As the next start finds the journal of a worker killed before its commit.
    EXPECT_EQ(UNDO_COMPLETE, UndoJournal(journalPath.c_str(), destination.c_str(), nullptr));
    for (const Row &row : rows)
        EXPECT_EQ(row.old ? row.old : "<missing>", Read(Below(destination, row.name))) << row.name;
    EXPECT_FALSE(Exists(Below(destination, "Ελληνικά"))) << "the folder the update made is gone";
}

INSTANTIATE_TEST_SUITE_P(CopiedOrMoved, TreeCopyBothWays, ::testing::Values(false, true));

TEST_F(TreeCopy, PlanRecordsEveryChangeInTheOrderItIsMade)
{
    ASSERT_TRUE(CreateDirectoryA((source + "new").c_str(), 0));
    ASSERT_TRUE(CreateDirectoryA((source + "old").c_str(), 0));
    ASSERT_TRUE(CreateDirectoryA((destination + "old").c_str(), 0));
    Source("new\\a.txt", "a");
    Source("old\\b.txt", "b");
    Source("old\\c.txt", "c");
    Destination("old\\c.txt", "old c");
    ASSERT_TRUE(plan.Make(source.c_str(), destination.c_str(), backup.c_str()));
    std::string records = Records();
    // Folders come in the order the search gives them; within each, the folder's record precedes its files.
    size_t folder = records.find("D new\\\r\n");
    ASSERT_NE(std::string::npos, folder) << records;
    EXPECT_LT(folder, records.find("C new\\a.txt\r\n"));
    EXPECT_NE(std::string::npos, records.find("C old\\b.txt\r\n")) << records;
    EXPECT_NE(std::string::npos, records.find("R old\\c.txt\r\n")) << records;
    EXPECT_EQ(std::string::npos, records.find("D old")) << "a folder that is there is not created";
    EXPECT_EQ(3u, plan.files);
    EXPECT_FALSE(Exists(destination + "new")) << "planning changes nothing";
    EXPECT_FALSE(Exists(backup));
}

TEST_F(TreeCopy, EmptyOrMissingSourceCreatesTheDestination)
{
    std::string missingDestination = folder / "NewApp\\";
    ASSERT_TRUE(plan.Make(source.c_str(), missingDestination.c_str(), backup.c_str()));
    ASSERT_TRUE(plan.Apply(false, CountingCallback, &log));
    EXPECT_TRUE(Exists(missingDestination));
    EXPECT_EQ(0, log.calls);
    std::string noSource = folder / "NoSource\\";
    ASSERT_TRUE(plan.Make(noSource.c_str(), destination.c_str(), ""));
    ASSERT_TRUE(plan.Apply(true, CountingCallback, &log));
    EXPECT_EQ(0, log.calls);
}

TEST_F(TreeCopy, LockedDestinationFailsAfterFourTriesAndOneCallback)
{
    Source("locked.dll", "new");
    Destination("locked.dll", "old");
    HANDLE held = CreateFileA((destination + "locked.dll").c_str(), GENERIC_READ, 0, 0, OPEN_EXISTING, 0, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    DWORD start = GetTickCount();
    EXPECT_FALSE(Place(""));
    DWORD elapsed = GetTickCount() - start;
    CloseHandle(held);
    EXPECT_GE(elapsed, 3900u) << "four tries, each followed by a sleep of 1024 ms";
    EXPECT_LT(elapsed, 8000u);
    EXPECT_EQ(1, log.calls) << "the callback runs after the failed file too";
    EXPECT_EQ("old", Read(destination + "locked.dll"));
}

TEST_F(TreeCopy, NothingIsPlannedOrChangedWhenTheTreeCannotBePlaced)
{
    Source("a.txt", "new");
    Destination("a.txt", "old");
    // A backup that is there already: the undo would take it for the original.
    ASSERT_TRUE(CreateDirectoryA(backup.c_str(), 0));
    ASSERT_TRUE(WriteTestFile(backup + "a.txt", "stale backup"));
    EXPECT_FALSE(plan.Make(source.c_str(), destination.c_str(), backup.c_str()));
    EXPECT_EQ(0u, plan.length);
    ASSERT_TRUE(DeleteFileA((backup + "a.txt").c_str()));

    // A folder of the update where the application has a file, and the other way round.
    ASSERT_TRUE(CreateDirectoryA((source + "data").c_str(), 0));
    Source("data\\x.txt", "x");
    Destination("data", "a file");
    EXPECT_FALSE(plan.Make(source.c_str(), destination.c_str(), backup.c_str()));
    ASSERT_TRUE(DeleteFileA((destination + "data").c_str()));
    Source("lib", "a file");
    ASSERT_TRUE(CreateDirectoryA((destination + "lib").c_str(), 0));
    EXPECT_FALSE(plan.Make(source.c_str(), destination.c_str(), backup.c_str()));
    EXPECT_EQ("old", Read(destination + "a.txt"));
    EXPECT_FALSE(Exists(destination + "data"));
}

TEST_F(TreeCopy, CheckFollowsThePlanAndNamesAFileInUse)
{
    ASSERT_TRUE(CreateDirectoryA((source + "bin").c_str(), 0));
    ASSERT_TRUE(CreateDirectoryA((destination + "bin").c_str(), 0));
    Source("bin\\lib.dll", "new lib");
    Source("added.txt", "added");
    Destination("bin\\lib.dll", "old lib");
    ASSERT_TRUE(plan.Make(source.c_str(), destination.c_str(), backup.c_str()));
    wchar_t blocked[MAX_PATH] = L"";
    EXPECT_EQ(REPLACE_READY, CheckReplaceable(plan, blocked));

    EXPECT_EQ(REPLACE_IN_USE, CheckWhileHeld(destination + "bin\\lib.dll", blocked));
    EXPECT_EQ(Below(destination, "bin\\lib.dll"), std::wstring(blocked)) << "the file in use is named";
    EXPECT_EQ("old lib", Read(destination + "bin\\lib.dll")) << "checking changes nothing";
    EXPECT_FALSE(Exists(destination + "added.txt"));
    EXPECT_FALSE(Exists(destination + "~kovrel.probe")) << "the probe is gone again";
}

// A read-only file is replaced by a rename: it is ready unless something holds it.
TEST_F(TreeCopy, CheckTakesAReadOnlyFileThatNothingHoldsAsReady)
{
    Source("config.ini", "new");
    Destination("config.ini", "old");
    ASSERT_TRUE(SetFileAttributesA((destination + "config.ini").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(plan.Make(source.c_str(), destination.c_str(), backup.c_str()));
    wchar_t blocked[MAX_PATH] = L"";
    EXPECT_EQ(REPLACE_READY, CheckReplaceable(plan, blocked));
    EXPECT_EQ(REPLACE_IN_USE, CheckWhileHeld(destination + "config.ini", blocked));
    EXPECT_TRUE(GetFileAttributesA((destination + "config.ini").c_str()) & FILE_ATTRIBUTE_READONLY)
        << "checking changes nothing";
}

TEST_F(TreeCopy, CallbackCanStopAfterTheFirstFile)
{
    Source("1.txt", "1");
    Source("2.txt", "2");
    Source("3.txt", "3");
    log.stopAfter = 1;
    EXPECT_FALSE(Place(backup));
    EXPECT_EQ(1, log.calls);
    int copied = Exists(destination + "1.txt") + Exists(destination + "2.txt") + Exists(destination + "3.txt");
    EXPECT_EQ(1, copied);
}

TEST_F(TreeCopy, PathsThatDoNotFitFailThePlan)
{
    std::string longName(200, 'x');
    std::string deepSource = source + longName + "\\";
    ASSERT_TRUE(CreateDirectoryA(deepSource.c_str(), 0));
    std::wstring wideFile(deepSource.begin(), deepSource.end());
    wideFile = L"\\\\?\\" + wideFile + std::wstring(60, L'f');
    HANDLE file = CreateFileW(wideFile.c_str(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
    EXPECT_FALSE(plan.Make(source.c_str(), destination.c_str(), backup.c_str()));
    EXPECT_FALSE(Exists(destination + longName)) << "nothing was created";
    DeleteFileW(wideFile.c_str());
}

TEST_F(TreeCopy, RefusesMissingRoots)
{
    EXPECT_FALSE(plan.Make("", destination.c_str(), ""));
    EXPECT_FALSE(plan.Make(source.c_str(), nullptr, ""));
    EXPECT_FALSE(plan.Make(nullptr, destination.c_str(), ""));
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
    ASSERT_TRUE(CreateDirectoryW(Below(folder.Path(), "Ελληνικά").c_str(), 0));
    for (const char *name : {"日本語.txt", "Ελληνικά\\αρχείο.txt", "😀 smile.txt"})
        ASSERT_TRUE(WriteTestFile(Below(folder.Path(), name), "")) << name;
    EXPECT_EQ(8, CountFiles(folder.Path().c_str())) << "names outside the ANSI code page are counted";
    EXPECT_EQ(0, CountFiles((folder / "sub\\empty\\").c_str()));
    EXPECT_EQ(0, CountFiles((folder / "missing\\").c_str()));
    EXPECT_EQ(0, CountFiles(nullptr));
}

} // namespace
