// Where a run stages the worker and its files.
//
// An elevated run must trust its staging, because it writes what it finds there into folders that only
// administrators can write. The per-machine folder is therefore made with a protected DACL. ProgramData lets
// every user make folders, so one may already exist, made by a user before Kovrel's first elevated run: it is
// given the administrators as owner and the protected DACL, and when it was a user's, everything it holds is
// removed first. A volume that keeps no owners (FAT, or a system that does not store security) cannot protect
// anything, whatever is asked of it.
#include "staging_root.h"
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>
#include "ansi_path.h"
#include "on_demand.h"
#include "path_compose.h"
#include "text.h"
#include "tree_removal.h"

static const char STAGING_SECURITY[] = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

bool IsElevatedRun()
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    bool known = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    CloseHandle(token);
    if (known)
        return elevation.TokenIsElevated != 0;
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof administrators;
    BOOL member = FALSE;
    return CreateWellKnownSid(WinBuiltinAdministratorsSid, 0, administrators, &sidSize) &&
           CheckTokenMembership(0, administrators, &member) && member;
}

PSECURITY_DESCRIPTOR MakeStagingSecurity()
{
    PSECURITY_DESCRIPTOR security = 0;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(STAGING_SECURITY, SDDL_REVISION_1, &security, 0))
        return 0;
    return security;
}

static bool OwnedByTheSystem(const char *folder)
{
    PSID owner = 0;
    PSECURITY_DESCRIPTOR security = 0;
    if (GetNamedSecurityInfoA(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, 0, 0, 0, &security) !=
        ERROR_SUCCESS)
        return false;
    bool trusted = IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsWellKnownSid(owner, WinLocalSystemSid);
    LocalFree(security);
    return trusted;
}

static bool IsPlainFolder(const char *folder)
{
    DWORD attributes = GetFileAttributesA(folder);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == FILE_ATTRIBUTE_DIRECTORY;
}

static bool ProtectFolder(char *folder, PSECURITY_DESCRIPTOR security)
{
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, security, FALSE};
    // A file or a link in the folder's place is a user's: the link goes, never what it leads to.
    DWORD found = GetFileAttributesA(folder);
    if (found != INVALID_FILE_ATTRIBUTES && !IsPlainFolder(folder) &&
        !(found & FILE_ATTRIBUTE_DIRECTORY ? RemoveDirectoryA(folder) : DeleteFileA(folder)))
        return false;
    if (CreateDirectoryA(folder, &attributes))
        return true;
    if (!IsPlainFolder(folder))
        return false;
    if (OwnedByTheSystem(folder))
        return true;
    PSID owner = 0;
    PACL dacl = 0;
    BOOL present = FALSE, defaulted = FALSE;
    if (!GetSecurityDescriptorOwner(security, &owner, &defaulted) ||
        !GetSecurityDescriptorDacl(security, &present, &dacl, &defaulted) ||
        SetNamedSecurityInfoA(folder, SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                  PROTECTED_DACL_SECURITY_INFORMATION,
                              owner, 0, dacl, 0) != ERROR_SUCCESS)
        return false;
    // The owner now reads as the administrators only where owners are kept; there, the folder was a user's.
    if (!OwnedByTheSystem(folder))
        return true;
    return RemoveTree(folder, false);
}

// The shell gives the same folder, but loading it (and user32 with it) costs an elevated launcher a third of
// its start.
bool ReadProgramData(char folder[MAX_PATH])
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", 0,
                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return false;
    char value[MAX_PATH];
    DWORD type = 0, size = sizeof value - 1;
    bool read = RegQueryValueExA(key, "ProgramData", 0, &type, reinterpret_cast<BYTE *>(value), &size) ==
                    ERROR_SUCCESS &&
                (type == REG_SZ || type == REG_EXPAND_SZ);
    RegCloseKey(key);
    value[read ? size : 0] = 0;
    char windows[MAX_PATH];
    UINT length = GetSystemWindowsDirectoryA(windows, MAX_PATH);
    return read && length != 0 && length < MAX_PATH && ExpandSystemDrive(folder, value, windows);
}

bool GetMachineRoot(char root[MAX_PATH])
{
    // Named once per process: a launcher asks for each of its run folders, twice.
    static char programData[MAX_PATH];
    if (!programData[0] && !ReadProgramData(programData) && !GetShellFolderA(CSIDL_COMMON_APPDATA, programData))
        programData[0] = 0;
    root[0] = 0;
    return programData[0] && CopyText(root, MAX_PATH, programData) && AppendText(root, MAX_PATH, "\\Kovrel");
}

bool PrepareMachineStaging(char root[MAX_PATH])
{
    PSECURITY_DESCRIPTOR security = GetMachineRoot(root) ? MakeStagingSecurity() : 0;
    bool ready = security && ProtectFolder(root, security);
    LocalFree(security);
    return ready;
}

bool GetRunFolder(unsigned candidate, bool perMachine, const char *identity, char folder[MAX_PATH])
{
    DWORD length = perMachine ? 0 : GetAnsiTempPath(MAX_PATH, folder);
    bool named = perMachine ? GetMachineRoot(folder) : length != 0 && length < MAX_PATH;
    char suffix[3] = {'.', static_cast<char>('0' + candidate), 0};
    return named && AppendText(folder, MAX_PATH, perMachine ? "\\Staging-" : "Kovrel-") &&
           AppendText(folder, MAX_PATH, identity) && (candidate == 0 || AppendText(folder, MAX_PATH, suffix)) &&
           AppendText(folder, MAX_PATH, "\\");
}
