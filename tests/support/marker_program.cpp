// A program that only records how it was started: its whole command line, as UTF-8, into the file named by
// its first argument, and whether its token is elevated ("elevated 0" or "elevated 1") into that name with
// ".token" added. The tests use it as an application that the worker restarts.
#include <windows.h>
#include <shellapi.h>
#include <string>

int main()
{
    int count = 0;
    wchar_t **arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments || count < 2)
        return 2;
    const wchar_t *commandLine = GetCommandLineW();
    int size = WideCharToMultiByte(CP_UTF8, 0, commandLine, -1, 0, 0, 0, 0);
    std::string text(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, commandLine, -1, &text[0], size, 0, 0);
    // Written under a temporary name first: a test that sees the file sees all of it.
    std::wstring target = arguments[1];
    std::wstring partial = target + L".part";
    LocalFree(arguments);
    HANDLE token = 0;
    TOKEN_ELEVATION elevation = {};
    DWORD elevationSize = 0;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &elevationSize);
    std::string tokenText = elevation.TokenIsElevated ? "elevated 1" : "elevated 0";
    HANDLE tokenFile = CreateFileW((target + L".token").c_str(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
    DWORD written;
    WriteFile(tokenFile, tokenText.data(), static_cast<DWORD>(tokenText.size()), &written, 0);
    CloseHandle(tokenFile);
    HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    DWORD done;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &done, 0);
    CloseHandle(file);
    return MoveFileExW(partial.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
