#include "common_controls.h"
#include <windows.h>
#include "../../common/system_library.h"

typedef void(WINAPI *InitCommonControlsFunction)();

bool LoadCommonControls()
{
    HMODULE controls = LoadSystemLibrary("comctl32.dll");
    InitCommonControlsFunction initialize =
        controls ? reinterpret_cast<InitCommonControlsFunction>(
                       reinterpret_cast<void *>(GetProcAddress(controls, "InitCommonControls")))
                 : 0;
    if (initialize)
        initialize();
    return initialize != 0;
}
