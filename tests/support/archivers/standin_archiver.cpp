// One stand-in archiver library. The build compiles this file once per library with
//   STANDIN_BASE_NAME  the file name without ".dll" as a string ("Unzip32"), for KOVREL_STANDIN_ONLY
//   STANDIN_COMMAND    the command function's exported name (UnZip)
//   STANDIN_BUSY       the busy query's exported name (UnZipGetRunning)
// and the library's .def file exports exactly those two names.
#include <windows.h>

#include <new>

#include "extraction.h"
#include "standin_identity.h"
#include "standin_result.h"
#include "test_controls.h"

#define STANDIN_TEXT(name) STANDIN_TEXT2(name)
#define STANDIN_TEXT2(name) #name

const char *const kStandinBaseName = STANDIN_BASE_NAME;

extern "C" int WINAPI STANDIN_COMMAND(HWND owner, LPCSTR commandLine, LPSTR output, DWORD outputSize)
{
    (void)owner;
    (void)output;
    (void)outputSize;
    // No C++ exception may cross into the caller, which is not C++.
    try {
        LogCommandCall(STANDIN_TEXT(STANDIN_COMMAND), commandLine);
        int injected;
        if (InjectedFailure(injected))
            return injected;
        return RunExtraction(commandLine);
    } catch (...) {
        return kStandinInternal;
    }
}

extern "C" BOOL WINAPI STANDIN_BUSY(void)
{
    return BusyQueryAnswer() ? TRUE : FALSE;
}
