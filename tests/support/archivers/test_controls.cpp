// Test controls of the stand-ins. The counters live in the library's memory, so they start again each time
// a process loads the library, as the worker does once per update.
#include "test_controls.h"

#include <windows.h>

#include <cstdlib>
#include <string>

#include "standin_identity.h"

namespace {

LONG g_busyQueries = 0;
LONG g_commandCalls = 0;

bool ReadVariable(const char *name, std::string &value)
{
    char buffer[1024];
    DWORD length = GetEnvironmentVariableA(name, buffer, sizeof buffer);
    if (length == 0 || length >= sizeof buffer)
        return false;
    value.assign(buffer, length);
    return true;
}

bool ControlsApplyHere()
{
    std::string only;
    if (!ReadVariable("KOVREL_STANDIN_ONLY", only))
        return true;
    return lstrcmpiA(only.c_str(), kStandinBaseName) == 0 ||
           lstrcmpiA(only.c_str(), (std::string(kStandinBaseName) + ".dll").c_str()) == 0;
}

// A whole unsigned number, decimal or with a 0x prefix hexadecimal; false for anything else.
bool ParseNumber(const std::string &text, unsigned long &value)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    value = std::strtoul(text.c_str() + (hex ? 2 : 0), &end, hex ? 16 : 10);
    return *end == '\0' && text[hex ? 2 : 0] != '-' && text[hex ? 2 : 0] != '+';
}

}  // namespace

void LogCommandCall(const char *functionName, const char *commandLine)
{
    std::string path;
    if (!ControlsApplyHere() || !ReadVariable("KOVREL_STANDIN_LOG", path))
        return;
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::string line = std::string(functionName) + "\t" + (commandLine ? commandLine : "") + "\r\n";
    DWORD written;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
}

bool BusyQueryAnswer()
{
    LONG query = InterlockedIncrement(&g_busyQueries);
    std::string text;
    unsigned long busyCount;
    if (!ControlsApplyHere() || !ReadVariable("KOVREL_STANDIN_BUSY", text) || !ParseNumber(text, busyCount))
        return false;
    return static_cast<unsigned long>(query) <= busyCount;
}

bool InjectedFailure(int &code)
{
    LONG call = InterlockedIncrement(&g_commandCalls);
    std::string text;
    if (!ControlsApplyHere() || !ReadVariable("KOVREL_STANDIN_FAIL", text))
        return false;
    size_t colon = text.find(':');
    unsigned long count, value;
    if (colon == std::string::npos || !ParseNumber(text.substr(0, colon), count) ||
        !ParseNumber(text.substr(colon + 1), value))
        return false;
    if (static_cast<unsigned long>(call) > count)
        return false;
    code = static_cast<int>(value);
    return true;
}
