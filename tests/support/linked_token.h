// The token linked to this process's own: the limited one when this process has the full token (as every
// Wine process has), the full one when it has the limited token. 0 when there is none.
#pragma once
#include <windows.h>

inline HANDLE LinkedToken()
{
    HANDLE token = 0;
    TOKEN_LINKED_TOKEN linked = {};
    DWORD size = 0;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        GetTokenInformation(token, TokenLinkedToken, &linked, sizeof linked, &size);
    if (token)
        CloseHandle(token);
    return linked.LinkedToken;
}
