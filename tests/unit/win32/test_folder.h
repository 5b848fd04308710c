// Helpers of the Win32 tests: a fresh folder per test, small files, and an answerer for message boxes.
#pragma once
#include <windows.h>
#include <string>

// A fresh empty folder under the temporary directory, removed with everything in it at the end.
class TestFolder {
public:
    TestFolder();
    ~TestFolder();
    // The folder path, ending in a backslash.
    const std::string &Path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + name; }

private:
    std::string path_;
};

bool WriteTestFile(const std::string &path, const std::string &content);
bool ReadTestFile(const std::string &path, std::string *content);
bool Exists(const std::string &path);
void RemoveAll(const std::string &folder); // folder ends in a backslash; no retries, no links entered

// Names outside the ANSI code page: `root` (ANSI, as the tests' folders are) followed by a UTF-8 name, as UTF-16.
std::wstring Below(const std::string &root, const std::string &utf8Name);
bool WriteTestFile(const std::wstring &path, const std::string &content);
bool ReadTestFile(const std::wstring &path, std::string *content);
bool Exists(const std::wstring &path);

// Waits on its own thread for a visible top-level window with the caption, records the text of the
// message box (control 0xFFFF) and presses the button with the given id.
class BoxAnswerer {
public:
    BoxAnswerer(const wchar_t *caption, int buttonId, DWORD timeoutMs = 20000);
    ~BoxAnswerer();
    // Waits for the answerer's thread; true when a box was seen and answered.
    bool Finish();
    const std::wstring &Text() const { return text_; }

private:
    static DWORD WINAPI Run(void *self);
    std::wstring caption_;
    int buttonId_;
    DWORD timeoutMs_;
    std::wstring text_;
    bool answered_ = false;
    HANDLE thread_ = 0;
};
