// Unpacking a downloaded archive into a folder. The stage machine knows only this interface: zip, tar and gzip
// are unpacked by the worker itself, the other formats by the archiver libraries installed on the machine.
#pragma once
#include <windows.h>

struct UnpackJob {
    const char *archive;     // the archive's path; its extension says what it is
    HANDLE archiveFile;      // the archive, open for reading and held against writers; the worker's own
                             // unpacker reads through it (INVALID_HANDLE_VALUE: it opens the path)
    const char *destination; // an existing folder, ending in a backslash
    HWND progressOwner;      // the window that owns an unpacker's own progress display; none when silent
    bool quiet;              // show nothing of the unpacker's own
    const volatile unsigned short *stop; // polled while waiting; not 0 stops the unpacking
    // Told now and then how far the unpacking is (done of total, in units of its own); may be none.
    void (*progress)(void *context, unsigned done, unsigned total);
    void *progressContext;
};

enum UnpackOutcome {
    UNPACK_DONE,
    UNPACK_FAILED,
    UNPACK_CANCELLED, // the user cancelled inside the unpacker's own display
    UNPACK_STOPPED,   // the stop state left 0
};

enum UnpackCause {
    UNPACK_CAUSE_NONE,
    UNPACK_CAUSE_UNKNOWN_KIND,   // no unpacker handles the archive's extension
    UNPACK_CAUSE_NO_LIBRARY,     // the library for it is not installed, or lacks its functions
    UNPACK_CAUSE_LIBRARY_FAILED, // the library reported a failure (`code` holds its result)
    UNPACK_CAUSE_REFUSED,        // the archive is damaged, unsafe or uses what is not supported
    UNPACK_CAUSE_READ_FAILED,    // the archive could not be read (`code` holds the error)
    UNPACK_CAUSE_WRITE_FAILED,   // a folder or file could not be written (`code` holds the error)
    UNPACK_CAUSE_DISK_SPACE,     // the declared sizes do not fit on the drive
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

// The worker's own unpacker of zip, jar, tar, tar.gz, tgz and gz archives.
extern const Unpacker builtinUnpacker;
