// The launcher's hand-off on the real temporary folder of the test prefix.
#include <gtest/gtest.h>
#include "test_folder.h"
#include "test_resources.h"
#include <aclapi.h>
#include <shlobj.h>
#include "../../../src/launcher/packed_worker.h"
#include "../../../src/common/staging_root.h"
#include "../../../src/launcher/worker_handoff.h"
#include "../../../src/common/application_identity.h"

// The identity of the application "a b c d" names: path "b" (no folder), section "c".
static const char *TestIdentity()
{
    static char identity[IDENTITY_BYTES];
    ComposeApplicationIdentity("c", "b", identity);
    return identity;
}

static std::string KovrelTempFolder()
{
    char folder[MAX_PATH];
    // Elevated, the folder lives in the per-machine folder, which the launcher makes first.
    if (IsElevatedRun())
        EXPECT_TRUE(PrepareMachineStaging(folder));
    EXPECT_TRUE(GetKovrelTempFolder(TestIdentity(), folder));
    return folder;
}

TEST(WorkerHandoff, TempFolderIsKovrelUnderTheTempPathOrThePerMachineFolderWhenElevated)
{
    char temp[MAX_PATH];
    if (IsElevatedRun()) {
        ASSERT_TRUE(SUCCEEDED(SHGetFolderPathA(0, CSIDL_COMMON_APPDATA, 0, SHGFP_TYPE_CURRENT, temp)));
        EXPECT_EQ(std::string(temp) + "\\Kovrel\\Staging-c-" + (TestIdentity() + 2) + "\\", KovrelTempFolder());
    } else {
        GetTempPathA(MAX_PATH, temp);
        EXPECT_EQ(std::string(temp) + "Kovrel-c-" + (TestIdentity() + 2) + "\\", KovrelTempFolder());
    }
    char later[MAX_PATH];
    ASSERT_TRUE(GetRunFolder(9, IsElevatedRun(), TestIdentity(), later));
    EXPECT_EQ(KovrelTempFolder().insert(KovrelTempFolder().size() - 1, ".9"), later);
}

TEST(WorkerHandoff, ProgramDataFromTheProfileListIsTheShellsFolder)
{
    char listed[MAX_PATH], shell[MAX_PATH];
    ASSERT_TRUE(ReadProgramData(listed));
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathA(0, CSIDL_COMMON_APPDATA, 0, SHGFP_TYPE_CURRENT, shell)));
    EXPECT_STREQ(shell, listed);
}

// Read back through the security API, not as the text it was written in.
TEST(WorkerHandoff, PerMachineFolderSecurityGrantsOnlySystemAndAdministrators)
{
    PSECURITY_DESCRIPTOR security = MakeStagingSecurity();
    ASSERT_TRUE(security);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    PSID owner = 0;
    PACL dacl = 0;
    BOOL present = FALSE, defaulted = FALSE;
    ASSERT_TRUE(GetSecurityDescriptorControl(security, &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED) << "nothing inherited from ProgramData";
    ASSERT_TRUE(GetSecurityDescriptorOwner(security, &owner, &defaulted));
    EXPECT_TRUE(IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
    ASSERT_TRUE(GetSecurityDescriptorDacl(security, &present, &dacl, &defaulted) && present && dacl);
    ASSERT_EQ(2, dacl->AceCount);
    for (WORD i = 0; i < dacl->AceCount; i++) {
        ACCESS_ALLOWED_ACE *ace = 0;
        ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void **>(&ace)));
        PSID sid = &ace->SidStart;
        EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, ace->Header.AceType);
        EXPECT_EQ(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, ace->Header.AceFlags) << "for all it holds";
        EXPECT_EQ(static_cast<DWORD>(FILE_ALL_ACCESS), ace->Mask);
        EXPECT_TRUE(IsWellKnownSid(sid, i == 0 ? WinLocalSystemSid : WinBuiltinAdministratorsSid)) << i;
    }
    LocalFree(security);
}

TEST(ExtractWorker, WritesTheUnpackedResource)
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

// A resource of the test program (support/packed_fixtures.py) as bytes.
static std::string Fixture(const char *name, const char *type)
{
    HRSRC found = FindResourceA(0, name, type);
    const char *bytes = found ? static_cast<const char *>(LockResource(LoadResource(0, found))) : nullptr;
    EXPECT_TRUE(bytes) << name << " " << type;
    return bytes ? std::string(bytes, SizeofResource(0, found)) : std::string();
}

TEST(WritePackedWorker, UnpacksEveryAwkwardInputExactly)
{
    TestFolder folder;
    for (const char *name : {"EMPTY", "ONE_BYTE", "ZEROS", "NOISE", "CALLS", "CALL_AT_END", "MIXED"}) {
        std::string packed = Fixture(name, "PACKED"), target = folder / name, unpacked;
        ASSERT_TRUE(WritePackedWorker(packed.data(), packed.size(), target.c_str())) << name;
        ASSERT_TRUE(ReadTestFile(target, &unpacked)) << name;
        EXPECT_TRUE(Fixture(name, "RAW") == unpacked) << name;
    }
}

static void AddToRecordedSize(std::string &packed, int delta)
{
    DWORD size;
    memcpy(&size, &packed[4], 4);
    size += delta;
    memcpy(&packed[4], &size, 4);
}

TEST(WritePackedWorker, DamageWritesNothing)
{
    struct Damage {
        const char *label;
        void (*apply)(std::string &packed);
    };
    // MIXED holds text, noise, zeros and calls.
    const Damage damages[] = {
        {"mark", [](std::string &p) { p[3] ^= 1; }},
        {"recorded size one short", [](std::string &p) { AddToRecordedSize(p, -1); }},
        {"recorded size one over", [](std::string &p) { AddToRecordedSize(p, 1); }},
        {"recorded size beyond any worker", [](std::string &p) { AddToRecordedSize(p, 0x7FFFFFFF); }},
        {"hash", [](std::string &p) { p[8] ^= 1; }},
        {"properties the decoder does not take", [](std::string &p) { p[12] = 5; }},
        {"a byte early in the body", [](std::string &p) { p[40] ^= 0x20; }},
        {"a byte near the end", [](std::string &p) { p[p.size() - 9] ^= 0x20; }},
        {"body cut short", [](std::string &p) { p.resize(p.size() - 300); }},
        {"last byte cut", [](std::string &p) { p.resize(p.size() - 1); }},
        {"header alone", [](std::string &p) { p.resize(PACKED_WORKER_HEADER_SIZE); }},
        {"shorter than a header", [](std::string &p) { p.resize(PACKED_WORKER_HEADER_SIZE - 1); }},
    };
    TestFolder folder;
    std::string target = folder / "Kovrelw.exe";
    for (const Damage &damage : damages) {
        std::string packed = Fixture("MIXED", "PACKED");
        damage.apply(packed);
        EXPECT_FALSE(WritePackedWorker(packed.data(), packed.size(), target.c_str())) << damage.label;
        EXPECT_FALSE(Exists(target)) << damage.label;
        DeleteFileA(target.c_str());
    }
}

TEST(RunNormalMode, MissingResourceRemovesTheFolderAgain)
{
    std::string temp = KovrelTempFolder();
    RemoveAll(temp);
    ASSERT_TRUE(CreateDirectoryA(temp.c_str(), 0));
    ASSERT_TRUE(WriteTestFile(temp + "stale.txt", "stale"));
    RunNormalMode(GetModuleHandleA("kernel32.dll"), "a b c d", TestIdentity(), 0);
    EXPECT_FALSE(Exists(temp));
}

TEST(RunNormalMode, WorkerThatCannotStartRemovesTheFolderAgain)
{
    // The test program's embedded "worker" is plain text, so starting it fails.
    std::string temp = KovrelTempFolder();
    RemoveAll(temp);
    RunNormalMode(GetModuleHandleA(0), "a b c d", TestIdentity(), 0);
    EXPECT_FALSE(Exists(temp));
}

TEST(RunCleanupMode, RemovesTheFolderAndIsQuietWithoutOne)
{
    std::string temp = KovrelTempFolder();
    RemoveAll(temp);
    ASSERT_TRUE(CreateDirectoryA(temp.c_str(), 0));
    ASSERT_TRUE(CreateDirectoryA((temp + "Work").c_str(), 0));
    ASSERT_TRUE(WriteTestFile(temp + "Work\\file", "x"));
    RunCleanupMode(TestIdentity());
    EXPECT_FALSE(Exists(temp));
    RunCleanupMode(TestIdentity());
    EXPECT_FALSE(Exists(temp));
}
