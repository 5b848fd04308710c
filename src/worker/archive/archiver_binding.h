// One loaded archiver library with its command function and busy query.
#pragma once
#include <windows.h>
#include "archiver_kind.h"

typedef int(WINAPI *ArchiverCommandFunction)(HWND owner, LPCSTR commandLine, LPSTR output, DWORD outputSize);
typedef BOOL(WINAPI *ArchiverBusyQuery)(void);

// The library's result when the user cancelled inside it.
#define ARCHIVER_CANCELLED 0x8020

struct ArchiverBinding {
    HMODULE module;
    ArchiverBusyQuery getRunning;
    ArchiverCommandFunction command;
    int kind; // ARCHIVER_NONE when unbound

    // Makes the record unbound without releasing anything (for a fresh record).
    void Reset();
    // Releases the library, if any, and makes the record unbound.
    void Unbind();
    // Loads the kind's library by its bare name and looks up its two functions.
    bool Bind(int newKind);
    // Chooses the kind from the archive's extension and binds it.
    bool SelectByExtension(const char *archivePath);
    // Unpacks the archive into the destination folder: 0 on success, ARCHIVER_CANCELLED, the library's
    // failure code after 4 calls, or -1 when nothing was attempted.
    int Extract(HWND owner, const char *archivePath, const char *destinationFolder, bool quiet);
};

// Waits while the bound library reports itself busy, polling every 512 ms. False, without waiting further,
// as soon as `stop` is not 0.
bool WaitForArchiverIdle(ArchiverBinding &binding, const volatile unsigned short *stop);
