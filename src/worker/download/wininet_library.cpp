#include "wininet_library.h"
#include "../../common/system_library.h"

WinInetLibrary winInet;

template <typename Function> static bool Find(HMODULE library, Function *function, const char *name)
{
    *function = reinterpret_cast<Function>(reinterpret_cast<void *>(GetProcAddress(library, name)));
    return *function != 0;
}

bool LoadWinInet()
{
    static HMODULE library;
    if (library)
        return true;
    // The library stays loaded for the rest of the process, as an import would.
    HMODULE loaded = LoadSystemLibrary("wininet.dll");
    WinInetLibrary &w = winInet;
    if (!loaded || !Find(loaded, &w.InternetOpenA, "InternetOpenA") ||
        !Find(loaded, &w.InternetSetStatusCallback, "InternetSetStatusCallback") ||
        !Find(loaded, &w.InternetCloseHandle, "InternetCloseHandle") ||
        !Find(loaded, &w.InternetOpenUrlA, "InternetOpenUrlA") ||
        !Find(loaded, &w.InternetQueryDataAvailable, "InternetQueryDataAvailable") ||
        !Find(loaded, &w.InternetReadFile, "InternetReadFile") ||
        !Find(loaded, &w.InternetCombineUrlA, "InternetCombineUrlA") ||
        !Find(loaded, &w.HttpQueryInfoA, "HttpQueryInfoA"))
        return false;
    library = loaded;
    return true;
}
