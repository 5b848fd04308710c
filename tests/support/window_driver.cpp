// The window driver: a small test program that sees and answers the product's windows as a person would.
//
//   window_driver show CAPTION [TIMEOUT_MS]          wait for a visible top-level window with that caption
//                                                    and print its controls
//   window_driver press CAPTION BUTTON [TIMEOUT_MS]  the same, then press the button whose text (without
//                                                    "&") or numeric id is BUTTON
//   window_driver click CAPTION ID [TIMEOUT_MS]      click the control with that id (BM_CLICK), as the mouse would
//   window_driver escape CAPTION [TIMEOUT_MS]        press the Escape key in the window
//   window_driver hold-mutex NAME                    own the named mutex, print "held", and release it when
//                                                    standard input ends or gives a line
//   window_driver wait-mutex-free NAME [TIMEOUT_MS]  wait until no process holds a handle to the named mutex
//   window_driver run FILE                           start a process exactly as FILE (UTF-8) says: its first
//                                                    line is the program, its second the whole command line;
//                                                    print "started PID", wait for it and print "exit N".
//                                                    It runs with the linked limited token, as Windows starts
//                                                    a program for an administrator at the default UAC level
//   window_driver run-elevated FILE                  the same with the driver's own full token
//   window_driver gone CAPTION [TIMEOUT_MS]          wait until no visible top-level window has that caption
//   window_driver end PID                            end the process with that Windows process id (one that
//                                                    a run of the driver, or a launcher it ran, started)
//   window_driver processes NAME                     print "process PID" for each running process whose
//                                                    program file is named NAME (in any case)
//
// Output is UTF-8, one line per item:
//   window <caption>
//   geometry x=<x> y=<y> width=<w> height=<h> client=<cw>x<ch> caption=<0|1> origin=<x>,<y>
//            work=<left>,<top>,<right>,<bottom>    (screen pixels; origin is the client area's top-left)
//   control <id> <class> <text>        (line breaks in the text are written as \n)
//   state <id> visible=<0|1> checked=<0|1> position=<n>   (checked for buttons, position for progress bars)
//   place <id> <x> <y> <width> <height>  (the control's rectangle in the window's client coordinates)
// A message box's text is the static control with id 65535. Exit code 0 on success, 1 on a timeout,
// 2 on bad arguments.
#include <windows.h>
#include "linked_token.h"
#include <shellapi.h>
#include <tlhelp32.h>
#include <string>

static void WriteUtf8(const std::wstring &text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), 0, 0, 0, 0);
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], size, 0, 0);
    DWORD done;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &done, 0);
}

static std::wstring WindowText(HWND window)
{
    wchar_t text[4096];
    int length = GetWindowTextW(window, text, 4096);
    return std::wstring(text, length > 0 ? length : 0);
}

static std::wstring Escaped(const std::wstring &text)
{
    std::wstring result;
    for (wchar_t c : text) {
        if (c == L'\n')
            result += L"\\n";
        else if (c != L'\r')
            result += c;
    }
    return result;
}

static std::wstring WithoutAmpersands(const std::wstring &text)
{
    std::wstring result;
    for (wchar_t c : text)
        if (c != L'&')
            result += c;
    return result;
}

struct Search {
    const wchar_t *caption;
    HWND found;
};

static BOOL CALLBACK MatchTopLevel(HWND window, LPARAM parameter)
{
    Search *search = reinterpret_cast<Search *>(parameter);
    if (IsWindowVisible(window) && WindowText(window) == search->caption) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

static HWND WaitForWindow(const wchar_t *caption, DWORD timeout)
{
    DWORD start = GetTickCount();
    for (;;) {
        Search search = {caption, 0};
        EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
        if (search.found)
            return search.found;
        if (GetTickCount() - start > timeout)
            return 0;
        Sleep(50);
    }
}

static BOOL CALLBACK PrintControl(HWND control, LPARAM)
{
    wchar_t className[256];
    int length = GetClassNameW(control, className, 256);
    std::wstring line = L"control " + std::to_wstring(static_cast<unsigned>(GetDlgCtrlID(control))) + L" " +
                        std::wstring(className, length > 0 ? length : 0) + L" " + Escaped(WindowText(control)) +
                        L"\n";
    WriteUtf8(line);
    std::wstring kind(className, length > 0 ? length : 0);
    LRESULT checked = kind == L"Button" ? SendMessageW(control, BM_GETCHECK, 0, 0) : 0;
    LRESULT position = kind == L"msctls_progress32" ? SendMessageW(control, WM_USER + 8, 0, 0) : 0; // PBM_GETPOS
    WriteUtf8(L"state " + std::to_wstring(static_cast<unsigned>(GetDlgCtrlID(control))) + L" visible=" +
              std::to_wstring(IsWindowVisible(control) ? 1 : 0) + L" checked=" + std::to_wstring(checked == BST_CHECKED) +
              L" position=" + std::to_wstring(static_cast<long long>(position)) + L"\n");
    RECT place;
    GetWindowRect(control, &place);
    MapWindowPoints(0, GetParent(control), reinterpret_cast<POINT *>(&place), 2);
    WriteUtf8(L"place " + std::to_wstring(static_cast<unsigned>(GetDlgCtrlID(control))) + L" " +
              std::to_wstring(place.left) + L" " + std::to_wstring(place.top) + L" " +
              std::to_wstring(place.right - place.left) + L" " + std::to_wstring(place.bottom - place.top) + L"\n");
    return TRUE;
}

struct ButtonSearch {
    std::wstring wanted;
    HWND found;
};

static BOOL CALLBACK MatchButton(HWND control, LPARAM parameter)
{
    ButtonSearch *search = reinterpret_cast<ButtonSearch *>(parameter);
    std::wstring id = std::to_wstring(static_cast<unsigned>(GetDlgCtrlID(control)));
    if (search->wanted == id || search->wanted == WithoutAmpersands(WindowText(control))) {
        search->found = control;
        return FALSE;
    }
    return TRUE;
}

static int Show(const wchar_t *caption, DWORD timeout, const wchar_t *button)
{
    HWND window = WaitForWindow(caption, timeout);
    if (!window) {
        WriteUtf8(L"timeout " + std::wstring(caption) + L"\n");
        return 1;
    }
    WriteUtf8(L"window " + Escaped(WindowText(window)) + L"\n");
    RECT bounds, client;
    GetWindowRect(window, &bounds);
    GetClientRect(window, &client);
    bool titled = (GetWindowLongW(window, GWL_STYLE) & WS_CAPTION) == WS_CAPTION;
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    RECT work = {0, 0, 0, 0};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    WriteUtf8(L"geometry x=" + std::to_wstring(bounds.left) + L" y=" + std::to_wstring(bounds.top) + L" width=" +
              std::to_wstring(bounds.right - bounds.left) + L" height=" + std::to_wstring(bounds.bottom - bounds.top) +
              L" client=" + std::to_wstring(client.right) + L"x" + std::to_wstring(client.bottom) + L" caption=" +
              std::to_wstring(titled ? 1 : 0) + L" origin=" + std::to_wstring(origin.x) + L"," +
              std::to_wstring(origin.y) + L" work=" + std::to_wstring(work.left) + L"," + std::to_wstring(work.top) +
              L"," + std::to_wstring(work.right) + L"," + std::to_wstring(work.bottom) + L"\n");
    EnumChildWindows(window, PrintControl, 0);
    if (!button)
        return 0;
    ButtonSearch search = {button, 0};
    EnumChildWindows(window, MatchButton, reinterpret_cast<LPARAM>(&search));
    if (!search.found) {
        WriteUtf8(L"no button " + std::wstring(button) + L"\n");
        return 1;
    }
    // A click reaches a dialog as WM_COMMAND with BN_CLICKED from the button.
    int id = GetDlgCtrlID(search.found);
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(search.found));
    WriteUtf8(L"pressed " + WithoutAmpersands(WindowText(search.found)) + L"\n");
    return 0;
}

// A click as the mouse makes it: the button toggles itself (a check box) and notifies its dialog.
static int Click(const wchar_t *caption, int id, DWORD timeout)
{
    HWND window = WaitForWindow(caption, timeout);
    HWND control = window ? GetDlgItem(window, id) : 0;
    if (!control) {
        WriteUtf8(L"no control " + std::to_wstring(id) + L"\n");
        return 1;
    }
    // A click that opens a box stays inside the window's handler until the box is answered; the driver waits for
    // it only a moment, so that it can then answer the box.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(control, BM_CLICK, 0, 0, SMTO_NORMAL, 2000, &ignored);
    WriteUtf8(L"clicked " + std::to_wstring(id) + L"\n");
    return 0;
}

// The Escape key goes to the control with the focus; the dialog's message loop turns it into IDCANCEL.
static int Escape(const wchar_t *caption, DWORD timeout)
{
    HWND window = WaitForWindow(caption, timeout);
    if (!window)
        return 1;
    HWND target = GetNextDlgTabItem(window, 0, FALSE);
    if (!target)
        target = window;
    PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageW(target, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    WriteUtf8(L"escape\n");
    return 0;
}

static int WaitGone(const wchar_t *caption, DWORD timeout)
{
    DWORD start = GetTickCount();
    for (;;) {
        Search search = {caption, 0};
        EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&search));
        if (!search.found)
            return 0;
        if (GetTickCount() - start > timeout) {
            WriteUtf8(L"still there " + std::wstring(caption) + L"\n");
            return 1;
        }
        Sleep(50);
    }
}

static int EndProcess(DWORD id)
{
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
    if (!process) {
        WriteUtf8(L"no process " + std::to_wstring(id) + L"\n");
        return 1;
    }
    BOOL ended = TerminateProcess(process, 1) && WaitForSingleObject(process, 30000) == WAIT_OBJECT_0;
    CloseHandle(process);
    WriteUtf8(ended ? L"ended\n" : L"not ended\n");
    return ended ? 0 : 1;
}

static int ListProcesses(const wchar_t *name)
{
    // Wine's snapshot fails now and then while a process is starting or ending: it is taken again then.
    HANDLE snapshot = INVALID_HANDLE_VALUE;
    for (int tries = 0; snapshot == INVALID_HANDLE_VALUE && tries < 50; tries++) {
        snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot == INVALID_HANDLE_VALUE)
            Sleep(100);
    }
    if (snapshot == INVALID_HANDLE_VALUE)
        return 1;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (lstrcmpiW(entry.szExeFile, name) == 0)
            WriteUtf8(L"process " + std::to_wstring(entry.th32ProcessID) + L"\n");
    CloseHandle(snapshot);
    return 0;
}

static int HoldMutex(const wchar_t *name)
{
    HANDLE mutex = CreateMutexW(0, TRUE, name);
    if (!mutex)
        return 1;
    if (GetLastError() == ERROR_ALREADY_EXISTS)
        WaitForSingleObject(mutex, INFINITE);
    WriteUtf8(L"held\n");
    char byte;
    DWORD done;
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    while (ReadFile(input, &byte, 1, &done, 0) && done == 1 && byte != '\n') {
    }
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    WriteUtf8(L"released\n");
    return 0;
}

static int WaitMutexFree(const wchar_t *name, DWORD timeout)
{
    DWORD start = GetTickCount();
    for (;;) {
        HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, name);
        if (!mutex)
            return 0;
        CloseHandle(mutex);
        if (GetTickCount() - start > timeout) {
            WriteUtf8(L"timeout mutex\n");
            return 1;
        }
        Sleep(50);
    }
}

static std::wstring ReadUtf8File(const wchar_t *path)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    if (file == INVALID_HANDLE_VALUE)
        return L"";
    std::string bytes;
    char block[4096];
    DWORD done = 0;
    while (ReadFile(file, block, sizeof block, &done, 0) && done)
        bytes.append(block, done);
    CloseHandle(file);
    int size = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), 0, 0);
    std::wstring text(size, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], size);
    return text;
}

// The test controls the command line byte for byte: no shell or argument vector in between.
static int Run(const wchar_t *path, bool elevated)
{
    std::wstring text = ReadUtf8File(path);
    size_t newline = text.find(L'\n');
    if (newline == std::wstring::npos)
        return 2;
    std::wstring program = text.substr(0, newline);
    std::wstring commandLine = text.substr(newline + 1);
    while (!commandLine.empty() && (commandLine.back() == L'\n' || commandLine.back() == L'\r'))
        commandLine.pop_back();
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // The driver has the full token: the linked one is the limited token that Windows gives an administrator's
    // programs unless they are elevated.
    HANDLE token = elevated ? 0 : LinkedToken();
    if ((!elevated && !token) ||
        !CreateProcessAsUserW(token, program.c_str(), &commandLine[0], 0, 0, FALSE, 0, 0, 0, &startup, &process)) {
        WriteUtf8(L"start failed " + std::to_wstring(GetLastError()) + L"\n");
        return 1;
    }
    if (token)
        CloseHandle(token);
    WriteUtf8(L"started " + std::to_wstring(process.dwProcessId) + L"\n");
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    WriteUtf8(L"exit " + std::to_wstring(code) + L"\n");
    return 0;
}

int main()
{
    int count = 0;
    wchar_t **arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments || count < 3)
        return 2;
    std::wstring command = arguments[1];
    int result = 2;
    if (command == L"show")
        result = Show(arguments[2], count > 3 ? _wtoi(arguments[3]) : 30000, 0);
    else if (command == L"press" && count >= 4)
        result = Show(arguments[2], count > 4 ? _wtoi(arguments[4]) : 30000, arguments[3]);
    else if (command == L"click" && count >= 4)
        result = Click(arguments[2], _wtoi(arguments[3]), count > 4 ? _wtoi(arguments[4]) : 30000);
    else if (command == L"escape")
        result = Escape(arguments[2], count > 3 ? _wtoi(arguments[3]) : 30000);
    else if (command == L"hold-mutex")
        result = HoldMutex(arguments[2]);
    else if (command == L"wait-mutex-free")
        result = WaitMutexFree(arguments[2], count > 3 ? _wtoi(arguments[3]) : 30000);
    else if (command == L"run" || command == L"run-elevated")
        result = Run(arguments[2], command == L"run-elevated");
    else if (command == L"gone")
        result = WaitGone(arguments[2], count > 3 ? _wtoi(arguments[3]) : 30000);
    else if (command == L"end")
        result = EndProcess(static_cast<DWORD>(_wtoi(arguments[2])));
    else if (command == L"processes")
        result = ListProcesses(arguments[2]);
    LocalFree(arguments);
    return result;
}
