// The unpacked folder taking the application folder's permissions.
#include <gtest/gtest.h>
#include <aclapi.h>
#include <sddl.h>
#include <string>
#include "test_folder.h"
#include "../../../src/worker/files/folder_security.h"

namespace {

struct Permissions {
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    explicit Permissions(const std::string &path)
    {
        // (Wine keeps no descriptor of its own for a file: it derives one from the file's mode, so whether
        // the list is protected cannot be seen there.)
        GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, 0, 0, &list, 0, &descriptor);
    }
    ~Permissions() { LocalFree(descriptor); }
    // Each entry's type, mask, inheritance to children and trustee, without the mark of an inherited one.
    std::string Entries() const
    {
        std::string text;
        for (DWORD i = 0; list && i < list->AceCount; i++) {
            ACCESS_ALLOWED_ACE *entry = nullptr;
            if (!GetAce(list, i, reinterpret_cast<void **>(&entry)))
                return "<unreadable>";
            char *sid = nullptr;
            text += std::to_string(entry->Header.AceType) + ":" + std::to_string(entry->Mask) + ":" +
                    std::to_string(entry->Header.AceFlags & ~INHERITED_ACE) + ":";
            if (ConvertSidToStringSidA(&entry->SidStart, &sid)) {
                text += sid;
                LocalFree(sid);
            }
            text += ";";
        }
        return text;
    }
};

TEST(FolderPermissions, UnpackedFolderTakesTheApplicationFoldersAsItsOwn)
{
    TestFolder folder;
    std::string application = folder / "App\\";
    std::string unpacked = folder / "Work\\Src\\";
    ASSERT_TRUE(CreateDirectoryA(application.c_str(), 0));
    ASSERT_TRUE(CreateDirectoryA((folder / "Work").c_str(), 0));
    ASSERT_TRUE(CreateDirectoryA(unpacked.c_str(), 0));

    ASSERT_TRUE(TakeFolderPermissions(unpacked.c_str(), application.c_str()));
    Permissions model(application);
    Permissions taken(unpacked);
    ASSERT_NE(nullptr, model.list);
    ASSERT_NE(nullptr, taken.list);
    EXPECT_EQ(model.Entries(), taken.Entries());
    EXPECT_TRUE(WriteTestFile(unpacked + "file.txt", "unpacked")) << "the folder still takes files";
    ASSERT_TRUE(CreateDirectoryA((unpacked + "sub").c_str(), 0));
    EXPECT_TRUE(WriteTestFile(unpacked + "sub\\file.txt", "unpacked"));
}

TEST(FolderPermissions, MissingFoldersAreRefused)
{
    TestFolder folder;
    EXPECT_FALSE(TakeFolderPermissions((folder / "Src\\").c_str(), folder.Path().c_str()));
    ASSERT_TRUE(CreateDirectoryA((folder / "Src").c_str(), 0));
    EXPECT_FALSE(TakeFolderPermissions((folder / "Src\\").c_str(), (folder / "Missing\\").c_str()));
}

} // namespace
