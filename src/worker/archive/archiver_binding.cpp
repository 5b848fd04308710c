// Binding and running an archiver library.
//
// The libraries are loaded by bare name through the normal search order; the worker has taken the current
// directory out of that order at its start, so a planted DLL next to a downloaded file is never picked up.
// A failing command is tried as the retry policy says, because its archive may still be in use for a moment;
// a success or a cancel by the user ends the calls at once.
#include "archiver_binding.h"
#include "../../common/system_library.h"
#include "../../common/retry_policy.h"
#include "../../common/path_exists.h"
#include "../../common/text_buffer.h"

static const DWORD BUSY_POLL_MS = 512;

void ArchiverBinding::Reset()
{
    module = 0;
    getRunning = 0;
    command = 0;
    kind = ARCHIVER_NONE;
}

void ArchiverBinding::Unbind()
{
    if (module)
        FreeLibrary(module);
    Reset();
}

bool ArchiverBinding::Bind(int newKind)
{
    Unbind();
    if (newKind < 0 || newKind >= ARCHIVER_KIND_COUNT)
        return false;
    const ArchiverLibrary &library = ArchiverLibraryOf(newKind);
    module = LoadSystemLibrary(library.fileName);
    if (!module)
        return false;
    kind = newKind;
    getRunning = reinterpret_cast<ArchiverBusyQuery>(reinterpret_cast<void *>(GetProcAddress(module, library.busyQuery)));
    command = reinterpret_cast<ArchiverCommandFunction>(reinterpret_cast<void *>(GetProcAddress(module, library.command)));
    if (!getRunning || !command) {
        Unbind();
        return false;
    }
    return true;
}

bool ArchiverBinding::SelectByExtension(const char *archivePath)
{
    if (!archivePath)
        return false;
    // After a failed selection the record holds no library, whatever it held before.
    Unbind();
    int found = FindArchiverKind(archivePath);
    return found != ARCHIVER_NONE && Bind(found);
}

int ArchiverBinding::Extract(HWND owner, const char *archivePath, const char *destinationFolder, bool quiet)
{
    if (kind == ARCHIVER_NONE || !command)
        return -1;
    TextBuffer commandLine = {};
    if (!ComposeExtractCommand(commandLine, kind, archivePath, destinationFolder, quiet))
        return -1;
    // This library expects its destination to exist; the others create it themselves.
    if (kind == ARCHIVER_SEVEN_ZIP && !PathExists(destinationFolder, false))
        CreateDirectoryA(destinationFolder, 0);
    int result = -1;
    for (int attempt = 0; attempt < RETRY_TRIES; attempt++) {
        result = command(owner, commandLine.text, 0, 0);
        if (result == 0 || result == ARCHIVER_CANCELLED)
            break;
        Sleep(RETRY_SLEEP_MS);
    }
    commandLine.Free();
    return result;
}

bool WaitForArchiverIdle(ArchiverBinding &binding, const volatile unsigned short *stop)
{
    if (!binding.getRunning)
        return false;
    while (binding.getRunning()) {
        if (*stop)
            return false;
        Sleep(BUSY_POLL_MS);
    }
    return *stop == 0;
}
