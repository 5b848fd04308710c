// Holds a file open without sharing, as a running application holds its own files, until standard input
// ends or gives a line.
//
//   file_holder PATH        prints "held" once the file is open, "released" when it is closed again
// Exit code 0, or 1 when the file cannot be opened (with "failed <error>").
#include <windows.h>
#include <shellapi.h>
#include <string>

static void Print(const std::string &text)
{
    DWORD done;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &done, 0);
}

int main()
{
    int count = 0;
    wchar_t **arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments || count < 2)
        return 2;
    HANDLE file = CreateFileW(arguments[1], GENERIC_READ | GENERIC_WRITE, 0, 0, OPEN_EXISTING, 0, 0);
    LocalFree(arguments);
    if (file == INVALID_HANDLE_VALUE) {
        Print("failed " + std::to_string(GetLastError()) + "\n");
        return 1;
    }
    Print("held\n");
    char byte;
    DWORD done;
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    while (ReadFile(input, &byte, 1, &done, 0) && done == 1 && byte != '\n') {
    }
    CloseHandle(file);
    Print("released\n");
    return 0;
}
