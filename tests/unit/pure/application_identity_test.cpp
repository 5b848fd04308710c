#include <gtest/gtest.h>
#include <string>
#include "../../../src/common/application_identity.h"

static std::string Identity(const char *section, const char *folder)
{
    char identity[IDENTITY_BYTES];
    ComposeApplicationIdentity(section, folder, identity);
    return identity;
}

TEST(ApplicationIdentity, NamesTheSectionAndTellsApplicationsApart)
{
    std::string sample = Identity("SampleApp", "C:\\Program Files\\Sample\\");
    EXPECT_EQ(0u, sample.find("sampleapp-")) << sample;
    EXPECT_EQ(18u, sample.size());
    EXPECT_TRUE(IsApplicationIdentity(sample.c_str()));
    // Windows names folders and sections without regard to case: so does the identity.
    EXPECT_EQ(sample, Identity("SAMPLEAPP", "c:\\program files\\SAMPLE\\"));
    const char *others[][2] = {
        {"SampleApp", "C:\\Program Files\\Sample2\\"},
        {"Other", "C:\\Program Files\\Sample\\"},
        {"SampleApp", "C:\\Program Files\\"},
    };
    for (auto &other : others)
        EXPECT_NE(sample, Identity(other[0], other[1])) << other[0] << " " << other[1];
    EXPECT_NE(Identity("B", "C:\\A\\"), Identity("", "C:\\AB\\")) << "folder and section are kept apart";
}

TEST(ApplicationIdentity, TakesTheFolderOfTheApplicationPath)
{
    // The folder runs up to the last separator; a trail byte 0x5C of code page 932 is none.
    std::string folder = Identity("S", "C:\\A\\");
    const char *same[] = {"C:\\A\\app.exe", "c:\\a\\other.exe", "C:\\A\\\x95\x5c"};
    for (const char *path : same)
        EXPECT_EQ(folder, Identity("S", path)) << path;
    EXPECT_NE(folder, Identity("S", "C:\\A\\B\\app.exe"));
    EXPECT_EQ(Identity("S", ""), Identity("S", "app.exe")) << "a path without a folder names none";
}

TEST(ApplicationIdentity, LockName)
{
    char name[LOCK_NAME_BYTES];
    ComposeLockName("app-0123abcd", name);
    EXPECT_STREQ(LOCK_NAME_PREFIX "app-0123abcd", name);
}

TEST(ApplicationIdentity, KeepsOnlyNameBytes)
{
    struct { const char *section; const char *prefix; } rows[] = {
        {"My App: v2", "my_app__v2-"},
        {"\x95\x5c\x8e\xa6", "____-"},               // code page 932 bytes
        {"", "-"},
        {nullptr, "-"},
        {"abcdefghijklmnopqrstuvwxyz0123", "abcdefghijklmnopqrstuvwx-"}, // cut at 24
    };
    for (auto &row : rows) {
        std::string identity = Identity(row.section, "C:\\App\\");
        EXPECT_EQ(0u, identity.find(row.prefix)) << identity;
        EXPECT_TRUE(IsApplicationIdentity(identity.c_str())) << identity;
    }
    EXPECT_NE(Identity("\x95\x5c", "C:\\App\\"), Identity("\x95\x5d", "C:\\App\\")) << "the hash keeps the bytes";
}

TEST(ApplicationIdentity, RecognisesOnlyComposedNames)
{
    const char *refused[] = {nullptr, "", "abc", "-0123456", "app-0123456g", "app-0123456A", "..\\x-01234567",
                             "a b-01234567", "app-01234567 ", "abcdefghijklmnopqrstuvwxy-01234567"};
    for (const char *text : refused)
        EXPECT_FALSE(IsApplicationIdentity(text)) << (text ? text : "null");
    EXPECT_TRUE(IsApplicationIdentity("-01234567"));
    EXPECT_TRUE(IsApplicationIdentity("a.b_c-d-89abcdef"));
}
