// What the built-in unpacker's readers share for one archive: its input, the output buffer, the destination
// and the report of why an archive was refused. Every archive is read twice: first every entry is checked and
// the sizes added up, and only then is anything written.
#pragma once
#include "archive_input.h"
#include "entry_name.h"
#include "entry_output.h"
#include "unpacker.h"

struct BuiltinSession {
    const UnpackJob *job;
    ArchiveInput input;
    EntryOutput output;
    wchar_t root[MAX_PATH]; // the destination, ending in a backslash
    unsigned rootLength;
    UnpackResult result;
};

// The relative names that entries are given, in UTF-8.
const unsigned RELATIVE_NAME_BYTES = 3 * MAX_PATH;

// Logs "<what>: <name>" (or what alone without a name) and records the cause; always false.
bool RefuseArchive(BuiltinSession &session, const char *what, const char *name);

// Records the input's failure (a read error or the stop); always false.
bool InputFailed(BuiltinSession &session);

// Converts and checks an entry name stored in `codePage`; a refused name is logged and recorded.
EntryNameVerdict AcceptEntryName(BuiltinSession &session, const char *name, unsigned length, unsigned codePage,
                                 char *relative, bool *folder);

// Refuses the archive when `total` bytes do not fit on the destination's drive.
bool RoomForEntries(BuiltinSession &session, unsigned long long total);

// Creates a folder entry, or a file entry's file (and its folders) ready for CommitEntryBytes.
bool CreateFolderEntry(BuiltinSession &session, const char *relative);
bool CreateFileEntry(BuiltinSession &session, const char *relative, unsigned long long size, bool countCrc);

// Records a failed CommitEntryBytes or CloseEntryFile; always false.
bool EntryFailed(BuiltinSession &session, EntryWrite failure, const char *relative);

// Closes the file and checks its size, and its CRC-32 when `crc` is not 0.
bool FinishFileEntry(BuiltinSession &session, const char *relative, const unsigned long *crc);

bool UnpackZip(BuiltinSession &session);
bool UnpackTar(BuiltinSession &session, bool gzipped);
bool UnpackGzip(BuiltinSession &session);
