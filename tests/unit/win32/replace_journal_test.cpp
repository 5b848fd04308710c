// Undoing a replacement from its journal, at every point where a crash could have cut it short. The journals
// are written here line by line, as a worker killed at that point would have left them.
#include <gtest/gtest.h>
#include <string>
#include "test_folder.h"
#include "../../../src/worker/files/replace_journal.h"

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

// Names outside the ANSI code page, in UTF-8.
const char *const UNICODE_NAMES[] = {"日本語.txt", "Ελληνικά\\αρχείο.txt", "😀 smile.txt"};

class ReplaceJournalUndo : public ::testing::Test {
protected:
    void SetUp() override
    {
        app = folder / "App\\";
        backup = folder / "Bup\\";
        journal = folder / "Kovrel.journal";
        ASSERT_TRUE(CreateDirectoryA(app.c_str(), 0));
        ASSERT_TRUE(CreateDirectoryA(backup.c_str(), 0));
    }
    // A journal with its header and the given record lines (each ended by CRLF unless `torn`), in the format
    // of the version before names were UTF-8 unless told otherwise.
    void Journal(const std::string &records, const std::string &torn = "", const char *mark = "KOVREL-JOURNAL 1")
    {
        ASSERT_TRUE(WriteTestFile(journal, mark + ("\r\nA " + app + "\r\nB " + backup + "\r\n") + records + torn));
    }
    UndoOutcome Undo(unsigned *restored = nullptr) { return UndoJournal(journal.c_str(), app.c_str(), restored); }

    TestFolder folder;
    std::string app, backup, journal;
};

TEST_F(ReplaceJournalUndo, EveryKillPointOfAReplacedFile)
{
    struct Case {
        const char *label;
        const char *target;   // 0: absent
        const char *part;     // the temporary copy beside the target; 0: absent
        const char *backedUp; // 0: the original never reached the backup
    } cases[] = {
        {"recorded, original not yet moved", "old", 0, 0},
        {"original moved, new file not begun", 0, 0, "old"},
        {"new file half written", 0, "ne", "old"},
        {"new file in place", "new", 0, "old"},
    };
    for (const Case &c : cases) {
        if (c.target)
            ASSERT_TRUE(WriteTestFile(app + "lib.dll", c.target));
        if (c.part)
            ASSERT_TRUE(WriteTestFile(app + "lib.dll.kvnew", c.part));
        if (c.backedUp)
            ASSERT_TRUE(WriteTestFile(backup + "lib.dll", c.backedUp));
        Journal("R lib.dll\r\n");
        EXPECT_EQ(UNDO_COMPLETE, Undo()) << c.label;
        EXPECT_EQ("old", Read(app + "lib.dll")) << c.label;
        EXPECT_FALSE(Exists(app + "lib.dll.kvnew")) << c.label;
        EXPECT_FALSE(Exists(journal)) << c.label;
        DeleteFileA((app + "lib.dll").c_str());
        DeleteFileA((backup + "lib.dll").c_str());
    }
}

TEST_F(ReplaceJournalUndo, CreatedFilesAndFoldersAreRemovedNewestFirst)
{
    ASSERT_TRUE(CreateDirectoryA((app + "plugins").c_str(), 0));
    ASSERT_TRUE(WriteTestFile(app + "plugins\\p.dll", "new"));
    ASSERT_TRUE(WriteTestFile(app + "plugins\\q.dll.kvnew", "ha"));
    ASSERT_TRUE(SetFileAttributesA((app + "plugins\\p.dll").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(WriteTestFile(app + "kept.txt", "the user's own file"));
    // q.dll was being written when the worker was killed.
    Journal("D plugins\\\r\nC plugins\\p.dll\r\nC plugins\\q.dll\r\n");
    unsigned restored = 0;
    EXPECT_EQ(UNDO_COMPLETE, Undo(&restored));
    EXPECT_FALSE(Exists(app + "plugins"));
    EXPECT_EQ("the user's own file", Read(app + "kept.txt"));
    EXPECT_EQ(2u, restored) << "the file and the folder";
}

TEST_F(ReplaceJournalUndo, ATornLastLineWasNeverActedOn)
{
    ASSERT_TRUE(WriteTestFile(app + "a.txt", "new"));
    ASSERT_TRUE(WriteTestFile(backup + "a.txt", "old"));
    ASSERT_TRUE(WriteTestFile(app + "b.txt", "the original b"));
    // The record for b.txt was cut just before its line ending: its change never started, so b.txt, which
    // undoing a created file would remove, is left alone.
    Journal("R a.txt\r\n", "C b.txt");
    EXPECT_EQ(UNDO_COMPLETE, Undo());
    EXPECT_EQ("old", Read(app + "a.txt"));
    EXPECT_EQ("the original b", Read(app + "b.txt"));
}

TEST_F(ReplaceJournalUndo, CommittedOrUnbegunJournalsChangeNothing)
{
    ASSERT_TRUE(WriteTestFile(app + "a.txt", "new"));
    ASSERT_TRUE(WriteTestFile(backup + "a.txt", "old"));
    Journal("R a.txt\r\nK\r\n");
    EXPECT_EQ(UNDO_NOTHING, Undo()) << "committed: the update is complete";
    EXPECT_EQ("new", Read(app + "a.txt"));
    EXPECT_FALSE(Exists(journal));

    ASSERT_TRUE(WriteTestFile(journal, "KOVREL-JOURNAL 1\r\nA " + app + "\r\nB " + backup.substr(0, 4)));
    EXPECT_EQ(UNDO_NOTHING, Undo()) << "a header cut short: nothing had been touched";
    EXPECT_EQ("new", Read(app + "a.txt"));
    EXPECT_FALSE(Exists(journal));

    EXPECT_EQ(UNDO_NOTHING, Undo()) << "no journal at all";
}

TEST_F(ReplaceJournalUndo, GoesOnPastAFileItCannotPutBackAndKeepsTheJournal)
{
    for (const char *name : {"a.txt", "b.txt", "c.txt"}) {
        ASSERT_TRUE(WriteTestFile(app + name, "new"));
        ASSERT_TRUE(WriteTestFile(backup + name, "old"));
    }
    Journal("R a.txt\r\nR b.txt\r\nR c.txt\r\n");
    HANDLE held = CreateFileA((app + "b.txt").c_str(), GENERIC_READ, 0, 0, OPEN_EXISTING, 0, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    DWORD start = GetTickCount();
    EXPECT_EQ(UNDO_INCOMPLETE, Undo());
    DWORD elapsed = GetTickCount() - start;
    CloseHandle(held);
    EXPECT_GE(elapsed, 3000u) << "a few tries over some seconds before giving up on a file";
    EXPECT_EQ("old", Read(app + "a.txt"));
    EXPECT_EQ("old", Read(app + "c.txt")) << "files after the one that failed are restored too";
    EXPECT_TRUE(Exists(journal)) << "the next start tries again";

    EXPECT_EQ(UNDO_COMPLETE, Undo()) << "once the file is free";
    EXPECT_EQ("old", Read(app + "b.txt"));
    EXPECT_FALSE(Exists(journal));
}

// A journal left by the version before (names in the ANSI code page) is undone as well as one of this version.
TEST_F(ReplaceJournalUndo, BothVersionsOfTheFormatAreUndone)
{
    char ansiName[MAX_PATH] = "";
    BOOL lost = FALSE;
    ASSERT_GT(WideCharToMultiByte(CP_ACP, 0, L"表示.txt", -1, ansiName, MAX_PATH, 0, &lost), 0);
    ASSERT_FALSE(lost) << "the tests run under code page 932";
    struct Case {
        const char *mark;
        std::string recorded; // the name as the journal holds it
        std::wstring name;
    } cases[] = {
        {"KOVREL-JOURNAL 1", ansiName, L"表示.txt"},
        {"KOVREL-JOURNAL 2", UNICODE_NAMES[0], Below("", UNICODE_NAMES[0])},
        {"KOVREL-JOURNAL 2", UNICODE_NAMES[2], Below("", UNICODE_NAMES[2])},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(WriteTestFile(Below(app, "") + c.name, "new"));
        ASSERT_TRUE(WriteTestFile(Below(backup, "") + c.name, "old"));
        Journal("R " + c.recorded + "\r\n", "", c.mark);
        EXPECT_EQ(UNDO_COMPLETE, Undo()) << c.mark << " " << c.recorded;
        EXPECT_EQ("old", Read(Below(app, "") + c.name)) << c.mark << " " << c.recorded;
        EXPECT_FALSE(Exists(Below(backup, "") + c.name)) << c.mark << " " << c.recorded;
    }
}

TEST_F(ReplaceJournalUndo, WrittenJournalRoundTrips)
{
    ReplaceJournal written;
    ASSERT_TRUE(BeginJournal(&written, journal.c_str(), app.c_str(), backup.c_str()));
    ASSERT_TRUE(CreateDirectoryW(Below(app, "Ελληνικά").c_str(), 0));
    ASSERT_TRUE(RecordInJournal(&written, 'D', "Ελληνικά\\"));
    for (const char *name : UNICODE_NAMES) {
        ASSERT_TRUE(RecordInJournal(&written, 'C', name));
        ASSERT_TRUE(WriteTestFile(Below(app, name), "x")) << name;
    }
    CloseJournal(&written);
    EXPECT_EQ(UNDO_COMPLETE, Undo());
    for (const char *name : UNICODE_NAMES)
        EXPECT_FALSE(Exists(Below(app, name))) << name << ": names outside the ANSI code page survive the journal";
    EXPECT_FALSE(Exists(Below(app, "Ελληνικά")));

    ASSERT_TRUE(BeginJournal(&written, journal.c_str(), app.c_str(), backup.c_str()));
    ASSERT_TRUE(RecordInJournal(&written, 'C', "kept.txt"));
    ASSERT_TRUE(WriteTestFile(app + "kept.txt", "x"));
    ASSERT_TRUE(CommitJournal(&written, journal.c_str()));
    EXPECT_FALSE(Exists(journal)) << "a committed journal is gone";
    EXPECT_TRUE(Exists(app + "kept.txt"));
}

TEST_F(ReplaceJournalUndo, RecordsReachTheDiskBeforeTheFirstChange)
{
    ReplaceJournal written;
    ASSERT_TRUE(BeginJournal(&written, journal.c_str(), app.c_str(), backup.c_str()));
    EXPECT_EQ(0u, written.flushes) << "the header alone waits for the records";
    const std::string records = "C a.txt\r\nR b.txt\r\n";
    ASSERT_TRUE(WriteJournalRecords(&written, records.c_str(), static_cast<unsigned>(records.size())));
    EXPECT_EQ(1u, written.flushes) << "header and records flushed together, before the first change";
    ASSERT_TRUE(WriteJournalRecords(&written, "", 0));
    EXPECT_EQ(2u, written.flushes) << "a replacement without records still flushes its header";
    CloseJournal(&written);
    EXPECT_EQ("KOVREL-JOURNAL 2\r\nA " + app + "\r\nB " + backup + "\r\n" + records, Read(journal))
        << "this version writes names in UTF-8 under its own mark";
}

} // namespace

// A journal is acted on only when it is this application's, with its backup beside it and names inside both;
// any other is left whole and untouched for the caller to set aside.
TEST_F(ReplaceJournalUndo, ForeignJournalsAreNeverActedOn)
{
    std::string elsewhere = folder / "Elsewhere\\";
    ASSERT_TRUE(CreateDirectoryA(elsewhere.c_str(), 0));
    struct Case {
        const char *label;
        std::string applicationLine, backupLine, name;
    } cases[] = {
        {"another application folder", elsewhere, backup, "doc.txt"},
        {"a backup folder not its own", app, elsewhere, "doc.txt"},
        {"a name going up", app, backup, "..\\Elsewhere\\doc.txt"},
        {"a rooted name", app, backup, "\\doc.txt"},
        {"a name with a drive", app, backup, "C:doc.txt"},
        {"a stream", app, backup, "doc.txt:hidden"},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(WriteTestFile(elsewhere + "doc.txt", "user's"));
        ASSERT_TRUE(WriteTestFile(app + "doc.txt", "app's"));
        ASSERT_TRUE(WriteTestFile(journal, "KOVREL-JOURNAL 2\r\nA " + c.applicationLine + "\r\nB " + c.backupLine +
                                               "\r\nC " + c.name + "\r\nR " + c.name + "\r\n"));
        EXPECT_EQ(UNDO_FOREIGN, Undo()) << c.label;
        EXPECT_EQ("user's", Read(elsewhere + "doc.txt")) << c.label;
        EXPECT_EQ("app's", Read(app + "doc.txt")) << c.label;
        EXPECT_TRUE(Exists(journal)) << c.label << ": kept for the caller to set aside";
    }
}
