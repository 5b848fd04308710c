// Binding and running the archiver libraries: the stand-ins that the test harness installs into the
// prefix's system folder, loaded by their real names through the normal search order.
#include <gtest/gtest.h>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include "test_folder.h"
#include "../../../src/worker/archive/archiver_binding.h"
#include "../../../src/worker/run/status_channel.h"

namespace {

// A tar archive with one file, written by the test itself.
std::string TarWithFile(const std::string &name, const std::string &content)
{
    std::string header(512, '\0');
    header.replace(0, name.size(), name);
    header.replace(100, 7, "0000644");
    header.replace(108, 7, "0000000");
    header.replace(116, 7, "0000000");
    char size[12];
    snprintf(size, sizeof size, "%011o", static_cast<unsigned>(content.size()));
    header.replace(124, 11, size);
    header.replace(136, 11, "00000000000");
    header[156] = '0';
    header.replace(257, 6, std::string("ustar\0", 6));
    header.replace(263, 2, "00");
    header.replace(148, 8, "        ");
    unsigned sum = 0;
    for (unsigned char c : header)
        sum += c;
    char checksum[8];
    snprintf(checksum, sizeof checksum, "%06o", sum);
    header.replace(148, 7, std::string(checksum, 6) + '\0');
    std::string body = content + std::string((512 - content.size() % 512) % 512, '\0');
    return header + body + std::string(1024, '\0');
}

class Archivers : public ::testing::Test {
protected:
    void SetUp() override
    {
        log = folder / "standin.log";
        SetEnvironmentVariableA("KOVREL_STANDIN_LOG", log.c_str());
        SetEnvironmentVariableA("KOVREL_STANDIN_FAIL", 0);
        SetEnvironmentVariableA("KOVREL_STANDIN_BUSY", 0);
        SetEnvironmentVariableA("KOVREL_STANDIN_ONLY", 0);
        binding.Reset();
    }
    void TearDown() override
    {
        binding.Unbind();
        SetEnvironmentVariableA("KOVREL_STANDIN_LOG", 0);
        SetEnvironmentVariableA("KOVREL_STANDIN_FAIL", 0);
        SetEnvironmentVariableA("KOVREL_STANDIN_BUSY", 0);
    }
    // The command lines that the libraries received, as "<function>\t<command line>".
    std::vector<std::string> Calls()
    {
        std::string text;
        std::vector<std::string> lines;
        if (!ReadTestFile(log, &text))
            return lines;
        size_t start = 0;
        for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
            std::string line = text.substr(start, end - start);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines.push_back(line);
        }
        return lines;
    }
    TestFolder folder;
    std::string log;
    ArchiverBinding binding;
};

TEST_F(Archivers, EveryKindBindsAndUnbinds)
{
    for (int kind = 0; kind < ARCHIVER_KIND_COUNT; kind++) {
        const char *name = ArchiverLibraryOf(kind).fileName;
        ASSERT_TRUE(binding.Bind(kind)) << name << " (are the stand-ins installed?)";
        EXPECT_EQ(kind, binding.kind);
        EXPECT_NE(nullptr, binding.getRunning);
        EXPECT_NE(nullptr, binding.command);
        EXPECT_EQ(binding.module, GetModuleHandleA(name));
        binding.Unbind();
        EXPECT_EQ(nullptr, GetModuleHandleA(name)) << name << " is released";
        EXPECT_EQ(ARCHIVER_NONE, binding.kind);
        EXPECT_EQ(nullptr, binding.module);
    }
}

TEST_F(Archivers, KindsOutsideTheTableDoNotBind)
{
    EXPECT_FALSE(binding.Bind(6));
    EXPECT_FALSE(binding.Bind(-1));
    EXPECT_EQ(ARCHIVER_NONE, binding.kind);
    EXPECT_EQ(nullptr, binding.module);
}

TEST_F(Archivers, BindingTwiceReleasesTheFirstLibrary)
{
    ASSERT_TRUE(binding.Bind(ARCHIVER_ZIP));
    ASSERT_TRUE(binding.Bind(ARCHIVER_TAR));
    EXPECT_EQ(nullptr, GetModuleHandleA("Unzip32.dll"));
    EXPECT_NE(nullptr, GetModuleHandleA("tar32.dll"));
}

TEST_F(Archivers, SelectByExtension)
{
    ASSERT_TRUE(binding.SelectByExtension("C:\\w\\APP.ZIP"));
    EXPECT_EQ(ARCHIVER_ZIP, binding.kind);
    ASSERT_TRUE(binding.SelectByExtension("C:\\w\\pkg.tar.gz"));
    EXPECT_EQ(ARCHIVER_TAR, binding.kind);
    EXPECT_EQ(nullptr, GetModuleHandleA("Unzip32.dll"));
    EXPECT_FALSE(binding.SelectByExtension("C:\\w\\setup.exe"));
    EXPECT_EQ(ARCHIVER_NONE, binding.kind);
    EXPECT_EQ(nullptr, GetModuleHandleA("tar32.dll")) << "the earlier library is released, none is loaded";
    EXPECT_FALSE(binding.SelectByExtension(nullptr));
}

// Archivers come from the system folder alone: one planted beside the program or in the current folder is
// never loaded, and a broken one in the system folder is released again.
TEST_F(Archivers, OnlyTheSystemFolderIsSearched)
{
    char dist[MAX_PATH], system[MAX_PATH];
    GetModuleFileNameA(0, dist, MAX_PATH);
    *strrchr(dist, '\\') = 0;
    GetSystemDirectoryA(system, MAX_PATH);
    std::string broken = std::string(dist) + "\\broken_archiver.dll", installed = std::string(system) + "\\cab32.dll";
    std::string kept = folder / "cab32.kept", planted = std::string(dist) + "\\cab32.dll";
    ASSERT_TRUE(CopyFileA(broken.c_str(), planted.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(broken.c_str(), (folder / "cab32.dll").c_str(), FALSE));
    ASSERT_TRUE(SetCurrentDirectoryA(folder.Path().c_str()));
    bool bound = binding.Bind(ARCHIVER_CAB);
    char loaded[MAX_PATH] = "";
    if (bound)
        GetModuleFileNameA(binding.module, loaded, MAX_PATH);
    binding.Unbind();
    EXPECT_TRUE(bound) << "the planted copies lack the busy query; the system's stand-in has it";
    EXPECT_EQ(0, _strnicmp(loaded, system, strlen(system))) << loaded;

    ASSERT_TRUE(MoveFileA(installed.c_str(), kept.c_str()));
    ASSERT_TRUE(CopyFileA(broken.c_str(), installed.c_str(), FALSE));
    EXPECT_FALSE(binding.Bind(ARCHIVER_CAB));
    EXPECT_EQ(nullptr, GetModuleHandleA("cab32.dll"));
    EXPECT_EQ(ARCHIVER_NONE, binding.kind);
    DeleteFileA(installed.c_str());
    EXPECT_TRUE(MoveFileA(kept.c_str(), installed.c_str()));
    SetCurrentDirectoryA(dist);
    DeleteFileA(planted.c_str());
}

TEST_F(Archivers, ExtractsIntoTheDestinationWithTheExactCommandLine)
{
    ASSERT_TRUE(WriteTestFile(folder / "app.tar", TarWithFile("sub/new.txt", "new content")));
    std::string destination = folder / "Src\\";
    ASSERT_TRUE(binding.Bind(ARCHIVER_TAR));
    EXPECT_EQ(0, binding.Extract(0, (folder / "app.tar").c_str(), destination.c_str(), true));
    std::string content;
    ASSERT_TRUE(ReadTestFile(destination + "sub\\new.txt", &content));
    EXPECT_EQ("new content", content);
    std::vector<std::string> expected = {"Tar\t-x --display-dialog=0 " + (folder / "app.tar") + " " + destination + " *.*"};
    EXPECT_EQ(expected, Calls());
}

TEST_F(Archivers, PathsWithBlanksReachTheLibraryWhole)
{
    std::string spaced = folder / "with blank\\";
    ASSERT_TRUE(CreateDirectoryA(spaced.c_str(), 0));
    ASSERT_TRUE(WriteTestFile(spaced + "app.tar", TarWithFile("a.txt", "A")));
    ASSERT_TRUE(binding.Bind(ARCHIVER_TAR));
    EXPECT_EQ(0, binding.Extract(0, (spaced + "app.tar").c_str(), (spaced + "Src\\").c_str(), false));
    std::string content;
    ASSERT_TRUE(ReadTestFile(spaced + "Src\\a.txt", &content));
    EXPECT_EQ("A", content);
    std::vector<std::string> expected = {"Tar\t-x \"" + spaced + "app.tar\" \"" + spaced + "Src\\\" *.*"};
    EXPECT_EQ(expected, Calls());
}

TEST_F(Archivers, FailuresAreTriedFourTimes)
{
    ASSERT_TRUE(binding.Bind(ARCHIVER_ZIP));
    SetEnvironmentVariableA("KOVREL_STANDIN_FAIL", "99:7");
    DWORD start = GetTickCount();
    EXPECT_EQ(7, binding.Extract(0, "C:\\w\\a.zip", "C:\\w\\Src\\", false));
    EXPECT_GE(GetTickCount() - start, 4000u) << "a sleep of 1024 ms follows each failed call";
    std::vector<std::string> expected(4, "UnZip\t-x -o C:\\w\\a.zip C:\\w\\Src\\ *.*");
    EXPECT_EQ(expected, Calls());
}

TEST_F(Archivers, TwoFailuresThenSuccess)
{
    ASSERT_TRUE(WriteTestFile(folder / "app.tgz", TarWithFile("x.txt", "x")));
    ASSERT_TRUE(binding.Bind(ARCHIVER_TAR));
    SetEnvironmentVariableA("KOVREL_STANDIN_FAIL", "2:0x8001");
    DWORD start = GetTickCount();
    EXPECT_EQ(0, binding.Extract(0, (folder / "app.tgz").c_str(), (folder / "Src\\").c_str(), false));
    DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 2000u);
    EXPECT_LT(elapsed, 3500u);
    EXPECT_EQ(3u, Calls().size());
}

TEST_F(Archivers, CancelAndSuccessStopAtOnce)
{
    ASSERT_TRUE(binding.Bind(ARCHIVER_CAB));
    SetEnvironmentVariableA("KOVREL_STANDIN_FAIL", "99:0x8020");
    EXPECT_EQ(ARCHIVER_CANCELLED, binding.Extract(0, "C:\\w\\a.cab", "C:\\w\\Src\\", true));
    EXPECT_EQ(1u, Calls().size());
    EXPECT_EQ("Cab\t-x -o -i C:\\w\\a.cab C:\\w\\Src\\ *.*", Calls()[0]);
}

TEST_F(Archivers, NothingIsAttemptedWithoutABindingOrArguments)
{
    EXPECT_EQ(-1, binding.Extract(0, "C:\\w\\a.zip", "C:\\w\\Src\\", false)) << "unbound";
    ASSERT_TRUE(binding.Bind(ARCHIVER_ZIP));
    EXPECT_EQ(-1, binding.Extract(0, "C:\\w\\a.zip", "", false));
    EXPECT_EQ(-1, binding.Extract(0, "", "C:\\w\\Src\\", false));
    EXPECT_EQ(-1, binding.Extract(0, nullptr, "C:\\w\\Src\\", false));
    EXPECT_TRUE(Calls().empty());
}

TEST_F(Archivers, SevenZipCreatesItsDestination)
{
    ASSERT_TRUE(binding.Bind(ARCHIVER_SEVEN_ZIP));
    SetEnvironmentVariableA("KOVREL_STANDIN_FAIL", "99:0x8020");
    std::string destination = folder / "Src\\";
    EXPECT_EQ(ARCHIVER_CANCELLED, binding.Extract(0, (folder / "a.7z").c_str(), destination.c_str(), true));
    EXPECT_TRUE(Exists(destination));
    EXPECT_EQ("SevenZip\tx -aoa -hide " + (folder / "a.7z") + " " + destination, Calls()[0]);
}

TEST_F(Archivers, RarCommandIgnoresQuiet)
{
    ASSERT_TRUE(binding.Bind(ARCHIVER_RAR));
    SetEnvironmentVariableA("KOVREL_STANDIN_FAIL", "99:0x8020");
    binding.Extract(0, "C:\\w\\a.rar", "C:\\w\\Src\\", true);
    binding.Extract(0, "C:\\w\\a.rar", "C:\\w\\Src\\", false);
    std::vector<std::string> expected(2, "Unrar\t-x -o C:\\w\\a.rar C:\\w\\Src\\ *");
    EXPECT_EQ(expected, Calls());
}

TEST_F(Archivers, WaitsWhileTheLibraryIsBusy)
{
    SetEnvironmentVariableA("KOVREL_STANDIN_BUSY", "3");
    ASSERT_TRUE(binding.Bind(ARCHIVER_ZIP));
    volatile unsigned short running = STATE_RUNNING;
    DWORD start = GetTickCount();
    EXPECT_TRUE(WaitForArchiverIdle(binding, &running));
    DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 1500u) << "three busy answers, 512 ms apart";
    EXPECT_LT(elapsed, 3000u);
}

TEST_F(Archivers, BusyWaitEndsWhenTheRunStops)
{
    SetEnvironmentVariableA("KOVREL_STANDIN_BUSY", "1000");
    ASSERT_TRUE(binding.Bind(ARCHIVER_ZIP));
    volatile unsigned short stopped = STATE_ABORTED;
    DWORD start = GetTickCount();
    EXPECT_FALSE(WaitForArchiverIdle(binding, &stopped));
    EXPECT_LT(GetTickCount() - start, 1000u) << "the state is read before the first sleep";
    EXPECT_TRUE(Calls().empty()) << "the command was never called";
}

} // namespace
