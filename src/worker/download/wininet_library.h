// WinINet, loaded from the system folder when the first download session begins. It is not imported: Windows
// resolves a program's imports before any of its code runs, and looks for a library that is not one of its
// known ones in the program's own folder first, which for the worker is the user-writable temporary folder.
#pragma once
#include <windows.h>
#include <wininet.h>

struct WinInetLibrary {
    decltype(&::InternetOpenA) InternetOpenA;
    decltype(&::InternetSetStatusCallback) InternetSetStatusCallback;
    decltype(&::InternetCloseHandle) InternetCloseHandle;
    decltype(&::InternetOpenUrlA) InternetOpenUrlA;
    decltype(&::InternetQueryDataAvailable) InternetQueryDataAvailable;
    decltype(&::InternetReadFile) InternetReadFile;
    decltype(&::InternetCombineUrlA) InternetCombineUrlA;
    decltype(&::HttpQueryInfoA) HttpQueryInfoA;
};

// Its functions; valid once LoadWinInet has returned true.
extern WinInetLibrary winInet;

// Loads the library and looks up every function once; false when any is missing.
bool LoadWinInet();
