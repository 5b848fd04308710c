#include "folder_security.h"
#include <windows.h>
#include <aclapi.h>
#include "replace_check.h"
#include "../../common/wide_path.h"

bool TakeFolderPermissions(const char *folder, const char *model)
{
    PACL permissions = 0;
    PSECURITY_DESCRIPTOR descriptor = 0;
    if (GetNamedSecurityInfoA(model, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, 0, 0, &permissions, 0,
                              &descriptor) != ERROR_SUCCESS)
        return false;
    // The model's inherited entries become the folder's own; set as inherited, they would be dropped for
    // what the folder's own parent passes down.
    bool taken = permissions != 0;
    for (DWORD i = 0; taken && i < permissions->AceCount; i++) {
        ACE_HEADER *entry = 0;
        if (GetAce(permissions, i, reinterpret_cast<void **>(&entry)))
            entry->AceFlags &= ~INHERITED_ACE;
        else
            taken = false;
    }
    taken = taken && SetNamedSecurityInfoA(const_cast<char *>(folder), SE_FILE_OBJECT,
                                           DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, 0, 0,
                                           permissions, 0) == ERROR_SUCCESS;
    LocalFree(descriptor);
    // Permissions that keep this user from writing the folder would fail the unpacking: the folder then
    // goes back to what its parent gives it, and the files are copied.
    wchar_t wideFolder[MAX_PATH];
    if (taken && (!WidenPath(wideFolder, folder) || ProbeFolder(wideFolder) != ERROR_SUCCESS)) {
        ACL inheritedOnly;
        InitializeAcl(&inheritedOnly, sizeof inheritedOnly, ACL_REVISION);
        SetNamedSecurityInfoA(const_cast<char *>(folder), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION, 0, 0, &inheritedOnly, 0);
        taken = false;
    }
    return taken;
}
