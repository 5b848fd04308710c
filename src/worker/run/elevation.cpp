#include "elevation.h"
#include "../../common/heap.h"
#include "../../common/text.h"

ElevatedStart elevatedStart = ShellExecuteExW;

// The text in UTF-16, in a block of the process heap; 0 when it cannot be converted.
static wchar_t *Widen(const char *text)
{
    int count = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, 0, 0);
    wchar_t *wide = count > 0 ? static_cast<wchar_t *>(AllocateBytes(count * sizeof(wchar_t))) : 0;
    if (wide && MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, wide, count) != count) {
        FreeBytes(wide);
        wide = 0;
    }
    return wide;
}

ElevatedOutcome RunElevated(const char *program, const char *parameters, HWND owner, DWORD *exitCode)
{
    wchar_t *file = Widen(program), *arguments = Widen(parameters);
    SHELLEXECUTEINFOW start = {};
    start.cbSize = sizeof start;
    // No box of the shell's own: a failure is this run's to report.
    start.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    start.hwnd = owner;
    start.lpVerb = L"runas";
    start.lpFile = file;
    start.lpParameters = arguments;
    start.nShow = SW_SHOWNORMAL;
    bool started = file && arguments && elevatedStart(&start) && start.hProcess;
    DWORD error = started ? 0 : GetLastError();
    FreeBytes(file);
    FreeBytes(arguments);
    if (!started)
        return error == ERROR_CANCELLED ? ELEVATED_DECLINED : ELEVATED_NOT_STARTED;
    WaitForSingleObject(start.hProcess, INFINITE);
    if (!GetExitCodeProcess(start.hProcess, exitCode))
        *exitCode = 0;
    CloseHandle(start.hProcess);
    return ELEVATED_RAN;
}
