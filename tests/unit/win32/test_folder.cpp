#include "test_folder.h"

static std::string TempDirectory()
{
    char path[MAX_PATH];
    GetTempPathA(MAX_PATH, path);
    return path;
}

TestFolder::TestFolder()
{
    static unsigned counter = 0;
    char name[64];
    wsprintfA(name, "kovrel_test_%lu_%u\\", GetCurrentProcessId(), ++counter);
    path_ = TempDirectory() + name;
    RemoveAll(path_);
    CreateDirectoryA(path_.c_str(), 0);
}

TestFolder::~TestFolder()
{
    RemoveAll(path_);
}

static std::wstring Widened(const std::string &text, UINT codePage)
{
    int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), 0, 0);
    std::wstring wide(length, L'\0');
    if (length > 0)
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::wstring Below(const std::string &root, const std::string &utf8Name)
{
    return Widened(root, CP_ACP) + Widened(utf8Name, CP_UTF8);
}

bool WriteTestFile(const std::wstring &path, const std::string &content)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD done = 0;
    BOOL ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &done, 0);
    CloseHandle(file);
    return ok && done == content.size();
}

bool WriteTestFile(const std::string &path, const std::string &content)
{
    return WriteTestFile(Widened(path, CP_ACP), content);
}

bool ReadTestFile(const std::wstring &path, std::string *content)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    content->clear();
    char block[4096];
    DWORD done = 0;
    while (ReadFile(file, block, sizeof block, &done, 0) && done)
        content->append(block, done);
    CloseHandle(file);
    return true;
}

bool ReadTestFile(const std::string &path, std::string *content)
{
    return ReadTestFile(Widened(path, CP_ACP), content);
}

bool Exists(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Wide, so that names outside the ANSI code page are removed too.
static void RemoveAllWide(const std::wstring &folder)
{
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring path = folder + name;
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                RemoveAllWide(path + L"\\");
            } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveDirectoryW(path.c_str());
            } else {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

void RemoveAll(const std::string &folder)
{
    RemoveAllWide(Widened(folder, CP_ACP));
}

BoxAnswerer::BoxAnswerer(const wchar_t *caption, int buttonId, DWORD timeoutMs)
    : caption_(caption), buttonId_(buttonId), timeoutMs_(timeoutMs)
{
    thread_ = CreateThread(0, 0, Run, this, 0, 0);
}

BoxAnswerer::~BoxAnswerer()
{
    Finish();
}

bool BoxAnswerer::Finish()
{
    if (thread_) {
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = 0;
    }
    return answered_;
}

struct CaptionSearch {
    const std::wstring *caption;
    HWND found;
};

static BOOL CALLBACK MatchCaption(HWND window, LPARAM parameter)
{
    CaptionSearch *search = reinterpret_cast<CaptionSearch *>(parameter);
    wchar_t text[512];
    // Not GetWindowTextW: for a window of this process it sends a message, which would wait for ever on a
    // thread that is not dispatching messages just now.
    int length = InternalGetWindowText(window, text, 512);
    if (IsWindowVisible(window) && std::wstring(text, length > 0 ? length : 0) == *search->caption) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

DWORD WINAPI BoxAnswerer::Run(void *parameter)
{
    BoxAnswerer *self = static_cast<BoxAnswerer *>(parameter);
    DWORD start = GetTickCount();
    while (GetTickCount() - start < self->timeoutMs_) {
        CaptionSearch search = {&self->caption_, 0};
        EnumWindows(MatchCaption, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            wchar_t text[2048];
            int length = GetDlgItemTextW(search.found, 0xFFFF, text, 2048);
            self->text_.assign(text, length > 0 ? length : 0);
            HWND button = GetDlgItem(search.found, self->buttonId_);
            PostMessageW(search.found, WM_COMMAND, MAKEWPARAM(self->buttonId_, BN_CLICKED),
                         reinterpret_cast<LPARAM>(button));
            self->answered_ = true;
            return 0;
        }
        Sleep(20);
    }
    return 0;
}
