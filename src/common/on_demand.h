// The few calls of shell32 and user32 that the launcher makes, loaded from the system folder when first used:
// a program that imports either loads both (shell32 imports user32) at its start, a cost that every start of the
// launcher would pay, a check above all, for calls that most runs never make.
#pragma once
#include <windows.h>

// SHGetFolderPath of the folder `csidl` as it is now; false when it cannot be had.
bool GetShellFolderA(int csidl, char path[MAX_PATH]);
bool GetShellFolderW(int csidl, wchar_t path[MAX_PATH]);

// MessageBoxA; 0 when user32 cannot be loaded.
int ShowMessageBox(HWND owner, const char *text, const char *caption, UINT style);
