// The six archiver libraries, chosen by the archive's extension, and the command lines they are sent.
#pragma once
#include "../../common/text_buffer.h"

enum ArchiverKind {
    ARCHIVER_NONE = -1,
    ARCHIVER_LHA = 0,
    ARCHIVER_ZIP = 1,
    ARCHIVER_TAR = 2,
    ARCHIVER_CAB = 3,
    ARCHIVER_RAR = 4,
    ARCHIVER_SEVEN_ZIP = 5,
};

const int ARCHIVER_KIND_COUNT = 6;

struct ArchiverLibrary {
    const char *fileName;
    const char *busyQuery;
    const char *command;
};

// The library of a kind (0 to 5).
const ArchiverLibrary &ArchiverLibraryOf(int kind);

// The kind for the archive's extension (the text after the last '.' of the whole path, or the whole path
// when it has none), compared without regard to case; ARCHIVER_NONE when no library handles it.
int FindArchiverKind(const char *archivePath);

// Composes the kind's extraction command line. A path that contains a blank is put in double quotes, so
// that the library does not split it; other paths are inserted unchanged. False for an unknown kind,
// a missing or empty path, or a failed reservation.
bool ComposeExtractCommand(TextBuffer &commandLine, int kind, const char *archivePath, const char *destinationFolder,
                           bool quiet);
