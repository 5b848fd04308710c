// Unpacking a downloaded archive into a folder. The stage machine knows only this interface; the archiver
// libraries installed on the machine are one implementation of it.
#pragma once
#include <windows.h>

struct UnpackJob {
    const char *archive;     // the archive's path; its extension says what it is
    const char *destination; // an existing folder, ending in a backslash
    HWND progressOwner;      // the window that owns an unpacker's own progress display; none when silent
    bool quiet;              // show nothing of the unpacker's own
    const volatile unsigned short *stop; // polled while waiting; not 0 stops the unpacking
};

enum UnpackOutcome {
    UNPACK_DONE,
    UNPACK_FAILED,
    UNPACK_CANCELLED, // the user cancelled inside the unpacker's own display
    UNPACK_STOPPED,   // the stop state left 0 before the unpacking began
};

enum UnpackCause {
    UNPACK_CAUSE_NONE,
    UNPACK_CAUSE_UNKNOWN_KIND,   // no unpacker handles the archive's extension
    UNPACK_CAUSE_NO_LIBRARY,     // the library for it is not installed, or lacks its functions
    UNPACK_CAUSE_LIBRARY_FAILED, // the library reported a failure (`code` holds its result)
};

struct UnpackResult {
    UnpackOutcome outcome;
    UnpackCause cause;
    int code;
};

struct Unpacker {
    // True when it handles the archive, by its name.
    bool (*handles)(const char *archive);
    UnpackResult (*unpack)(const UnpackJob &job);
};

// The unpacker for the archive, or none when no unpacker handles it.
const Unpacker *FindUnpacker(const char *archive);

// The unpacker that uses the archiver libraries installed on the machine.
extern const Unpacker archiverLibraryUnpacker;
