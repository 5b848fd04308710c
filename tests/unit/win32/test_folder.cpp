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

bool WriteTestFile(const std::string &path, const std::string &content)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD done = 0;
    BOOL ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &done, 0);
    CloseHandle(file);
    return ok && done == content.size();
}

bool ReadTestFile(const std::string &path, std::string *content)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
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

bool Exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveAll(const std::string &folder)
{
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string path = folder + name;
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                RemoveAll(path + "\\");
            } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveDirectoryA(path.c_str());
            } else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
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
