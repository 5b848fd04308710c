// An archiver library that has its command function but lacks its busy query: binding it must fail and
// release it again. The tests copy it under a real library name into a folder that they put first in the
// search order.
#include <windows.h>

extern "C" __declspec(dllexport) int WINAPI Cab(HWND, LPCSTR, LPSTR, DWORD)
{
    return 0;
}
