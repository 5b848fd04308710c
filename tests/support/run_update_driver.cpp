// Runs the worker's update procedure in this process, with a hidden window in the dialog's place that records
// every report, so the end-to-end tests see the stages as the dialog would.
//
//   run_update_driver TAIL_FILE
//
// TAIL_FILE (UTF-8) holds what follows the worker's program name on its command line; it is converted to the
// ANSI code page as the worker receives it. Output, one UTF-8 line per report, then two lines at the end:
//   progress N | text <status text> | finished
//   state S result R message M          (M is the final message id)
//   peak working set B                  (the process's peak working set in bytes, for the benchmarks)
// With -s1 the run is silent: no window, RunUpdate on the main thread, only the two last lines. Environment:
// KOVREL_DRIVER_PROBE_AT=P:PATH tries, within the first report >= P (so while the update thread waits for it),
// to open PATH for writing, and prints "probe opened" or "probe refused <error>".
// KOVREL_DRIVER_ABORT_AT=P asks whether to abort (as the dialog's cancel button does) after the first
// progress report >= P. Once the copy has begun (the report of position 72), each report is one file placed, as long
// as the update has fewer files than the copy's 28 steps (a position is reported only when it changes):
// KOVREL_DRIVER_LOCK_AFTER=K:PATH[|PATH...] opens the paths without sharing after file K ("locked"), and
// KOVREL_DRIVER_HOLD_AFTER=K stops the update thread for good after file K ("holding"), for a test to kill
// the process there. KOVREL_DRIVER_STALL_COPY=PATH stops it for good inside the first file copy whose
// destination begins with PATH: the first half of the bytes are written there and flushed ("stalled
// <destination>"), as a copy that a kill cuts short leaves them. The work folder is next to this executable,
// so tests run a private copy of it.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "../../src/worker/run/worker_command_line.h"
#include "../../src/worker/startup/worker_entry.h"
#include "../../src/worker/run/module_instance.h"
#include "../../src/worker/run/worker_settings.h"
#include "../../src/worker/run/status_channel.h"
#include "../../src/worker/ui/worker_message.h"
#include "../../src/worker/update/update_procedure.h"

static StatusBlock block;
static long abortAt = -1;
static long probeAt = -1;
static std::string probePath;
static bool abortRequested = false;
static long filesCopied = -1; // -1 until the copy begins
static long lockAfter = -1;
static std::string lockPaths;
static long holdAfter = -1;

static std::string Convert(const std::string &bytes, UINT from, UINT to)
{
    int wideLength = MultiByteToWideChar(from, 0, bytes.data(), static_cast<int>(bytes.size()), 0, 0);
    std::wstring wide(wideLength, L'\0');
    MultiByteToWideChar(from, 0, bytes.data(), static_cast<int>(bytes.size()), &wide[0], wideLength);
    int length = WideCharToMultiByte(to, 0, wide.data(), wideLength, 0, 0, 0, 0);
    std::string result(length, '\0');
    WideCharToMultiByte(to, 0, wide.data(), wideLength, &result[0], length, 0, 0);
    return result;
}

static void PrintLine(const std::string &line)
{
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

static std::string Escaped(const std::string &text)
{
    std::string result;
    for (char c : text) {
        if (c == '\n')
            result += "\\n";
        else if (c != '\r')
            result += c;
    }
    return result;
}

static const UINT WM_APP_ASK_ABORT = WM_APP + 1;

static LRESULT CALLBACK RecordingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_APP_ASK_ABORT) {
        ConfirmAbort(&block);
        return 0;
    }
    if (message != WM_APP_STATUS)
        return DefWindowProcA(window, message, wParam, lParam);
    if (wParam == STATUS_PROGRESS) {
        PrintLine("progress " + std::to_string(static_cast<long>(lParam)));
        if (filesCopied >= 0)
            filesCopied++;
        else if (lParam == 72)
            filesCopied = 0;
        if (filesCopied > 0 && filesCopied == lockAfter) {
            size_t start = 0;
            while (start <= lockPaths.size()) {
                size_t end = lockPaths.find('|', start);
                std::string path = lockPaths.substr(start, end == std::string::npos ? std::string::npos : end - start);
                // Kept open until the process ends.
                HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, 0, 0, OPEN_EXISTING, 0, 0);
                PrintLine(std::string(held == INVALID_HANDLE_VALUE ? "not locked " : "locked ") + path);
                if (end == std::string::npos)
                    break;
                start = end + 1;
            }
        }
        if (filesCopied > 0 && filesCopied == holdAfter) {
            PrintLine("holding");
            Sleep(INFINITE);
        }
        if (probeAt >= 0 && static_cast<long>(lParam) >= probeAt) {
            probeAt = -1;
            HANDLE probe = CreateFileA(probePath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, 0,
                                       OPEN_EXISTING, 0, 0);
            PrintLine(probe == INVALID_HANDLE_VALUE ? "probe refused " + std::to_string(GetLastError()) : "probe opened");
            if (probe != INVALID_HANDLE_VALUE)
                CloseHandle(probe);
        }
        // As the dialog's Cancel does: the question is put on this thread, once this report has returned.
        if (abortAt >= 0 && !abortRequested && static_cast<long>(lParam) >= abortAt) {
            abortRequested = true;
            PostMessageA(window, WM_APP_ASK_ABORT, 0, 0);
        }
    } else if (wParam == STATUS_TEXT) {
        const char *text = reinterpret_cast<const char *>(lParam);
        PrintLine("text " + Escaped(Convert(text ? text : "", 932, CP_UTF8)));
    } else if (wParam == STATUS_FINISHED) {
        PrintLine("finished");
    } else {
        PrintLine("unknown " + std::to_string(static_cast<unsigned long>(wParam)));
    }
    return 0;
}

static DWORD WINAPI UpdateThread(void *)
{
    RunUpdate(&block);
    return 0;
}

static bool ReadFileBytes(const char *path, std::string &bytes)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char chunk[4096];
    DWORD done = 0;
    while (ReadFile(file, chunk, sizeof chunk, &done, 0) && done)
        bytes.append(chunk, done);
    CloseHandle(file);
    return true;
}

static std::wstring stallCopy;
static BOOL(WINAPI *copyFile)(LPCWSTR, LPCWSTR, BOOL);
// The import slot through which the worker's code calls CopyFileW.
extern "C" BOOL(WINAPI *__imp_CopyFileW)(LPCWSTR, LPCWSTR, BOOL);

static std::string Utf8(const wchar_t *wide)
{
    int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, 0, 0, 0, 0);
    std::string result(length > 0 ? length - 1 : 0, '\0');
    if (length > 1)
        WideCharToMultiByte(CP_UTF8, 0, wide, -1, &result[0], length, 0, 0);
    return result;
}

static BOOL WINAPI StallingCopyFileW(LPCWSTR from, LPCWSTR to, BOOL failIfExists)
{
    if (std::wcsncmp(to, stallCopy.c_str(), stallCopy.size()) != 0)
        return copyFile(from, to, failIfExists);
    std::string bytes;
    HANDLE source = CreateFileW(from, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    char chunk[4096];
    DWORD done = 0;
    while (source != INVALID_HANDLE_VALUE && ReadFile(source, chunk, sizeof chunk, &done, 0) && done)
        bytes.append(chunk, done);
    if (source != INVALID_HANDLE_VALUE)
        CloseHandle(source);
    HANDLE file = CreateFileW(to, GENERIC_WRITE, 0, 0, failIfExists ? CREATE_NEW : CREATE_ALWAYS, 0, 0);
    DWORD written = 0;
    if (file != INVALID_HANDLE_VALUE) {
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size() / 2), &written, 0);
        FlushFileBuffers(file);
    }
    PrintLine("stalled " + Utf8(to));
    Sleep(INFINITE);
    return FALSE;
}

// The prefix is read wide from the environment, so that it may name any file.
static bool StallCopies()
{
    wchar_t path[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"KOVREL_DRIVER_STALL_COPY", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    stallCopy = path;
    DWORD protection = 0;
    if (!VirtualProtect(&__imp_CopyFileW, sizeof __imp_CopyFileW, PAGE_READWRITE, &protection))
        return false;
    copyFile = __imp_CopyFileW;
    __imp_CopyFileW = StallingCopyFileW;
    VirtualProtect(&__imp_CopyFileW, sizeof __imp_CopyFileW, protection, &protection);
    return true;
}

int main(int argc, char **argv)
{
    std::string tail;
    if (argc < 2 || !ReadFileBytes(argv[1], tail)) {
        PrintLine("usage: run_update_driver TAIL_FILE");
        return 2;
    }
    while (!tail.empty() && (tail.back() == '\n' || tail.back() == '\r'))
        tail.pop_back();
    std::string ansiTail = Convert(tail, CP_UTF8, CP_ACP);
    if (!ParseWorkerCommandLine(ansiTail.c_str())) {
        PrintLine("parse failed");
        return 2;
    }
    moduleInstance = GetModuleHandleA(0);
    // As the worker does: archivers loaded by bare name never come from the current directory.
    SetDllDirectoryA("");
    const char *abortText = std::getenv("KOVREL_DRIVER_ABORT_AT");
    if (abortText && *abortText)
        abortAt = std::strtol(abortText, 0, 10);
    const char *probeText = std::getenv("KOVREL_DRIVER_PROBE_AT");
    if (probeText && std::strchr(probeText, ':')) {
        probeAt = std::strtol(probeText, 0, 10);
        probePath = std::strchr(probeText, ':') + 1;
    }
    const char *lockText = std::getenv("KOVREL_DRIVER_LOCK_AFTER");
    if (lockText && std::strchr(lockText, ':')) {
        lockAfter = std::strtol(lockText, 0, 10);
        lockPaths = std::strchr(lockText, ':') + 1;
    }
    const char *holdText = std::getenv("KOVREL_DRIVER_HOLD_AFTER");
    if (holdText && *holdText)
        holdAfter = std::strtol(holdText, 0, 10);
    const char *stallText = std::getenv("KOVREL_DRIVER_STALL_COPY");
    if (stallText && *stallText && !StallCopies()) {
        PrintLine("cannot stall copies");
        return 2;
    }

    if (workerSettings.options & OPT_SILENT) {
        block.dialogWindow = 0;
        RunUpdate(&block);
    } else {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = RecordingProcedure;
        windowClass.hInstance = moduleInstance;
        windowClass.lpszClassName = "KovrelRecordingWindow";
        RegisterClassA(&windowClass);
        HWND window = CreateWindowExA(0, windowClass.lpszClassName, "recording", WS_OVERLAPPED, 0, 0, 10, 10, 0,
                                      0, moduleInstance, 0);
        if (!window) {
            PrintLine("no window");
            return 2;
        }
        block.dialogWindow = window;
        HANDLE thread = CreateThread(0, 0, UpdateThread, 0, 0, 0);
        if (!thread) {
            PrintLine("no thread");
            return 2;
        }
        // The thread's reports are sent synchronously; they are delivered while this thread waits here.
        for (;;) {
            DWORD wait = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT);
            if (wait == WAIT_OBJECT_0)
                break;
            MSG message;
            while (PeekMessageA(&message, 0, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
        }
        CloseHandle(thread);
        DestroyWindow(window);
    }
    unsigned state = block.state;
    int result = block.result;
    PrintLine("state " + std::to_string(state) + " result " + std::to_string(result) + " message " +
              std::to_string(block.finalMessage));
    FreeWorkerArgs();
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory))
        PrintLine("peak working set " + std::to_string(static_cast<unsigned long long>(memory.PeakWorkingSetSize)));
    return 0;
}
