// Where the built-in unpacker writes: folders and files under the destination, named through the wide API
// so that any name the archive holds can be created, and each file written through one buffer that counts
// its bytes and CRC-32 and stops at the size the archive declares.
#pragma once
#include <windows.h>

// The longest entry name taken from an archive, in bytes as stored.
const unsigned ENTRY_NAME_LIMIT = 1024;

// An entry name as stored, in `codePage` (CP_UTF8 or CP_ACP), converted to UTF-8. False when its bytes are
// not valid in that code page or the result does not fit.
bool EntryNameToUtf8(const char *name, unsigned length, unsigned codePage, char *utf8, unsigned capacity,
                     unsigned *utf8Length);

// root + relative (a checked UTF-8 name); the root ends in a backslash. False when it would not fit MAX_PATH.
bool ComposeEntryPath(wchar_t *path, const wchar_t *root, const char *relative);

// Creates the folders of `path` after the first `rootLength` characters: all of them, or all but the last
// component (a file's folders). An existing folder is fine; an existing file is not.
bool CreateEntryFolders(wchar_t *path, unsigned rootLength, bool lastToo);

enum EntryWrite {
    ENTRY_WRITTEN,
    ENTRY_TOO_LONG,     // more bytes than the archive declares
    ENTRY_WRITE_FAILED, // `error` holds the code
    ENTRY_STOPPED,
};

struct EntryOutput {
    HANDLE file;
    unsigned char *buffer;
    unsigned filled;
    bool countCrc;
    unsigned long crc;
    unsigned long long written;  // bytes accepted so far
    unsigned long long declared; // the size the archive declares
    DWORD error;
    const volatile unsigned short *stop;
};

bool AllocateEntryOutput(EntryOutput &output, const volatile unsigned short *stop);
void FreeEntryOutput(EntryOutput &output);

// Creates a new file (an existing one, such as an earlier entry of the same name, is a failure).
bool OpenEntryFile(EntryOutput &output, const wchar_t *path, unsigned long long declared, bool countCrc);

// The free part of the buffer, to be filled and then committed.
unsigned char *EntrySpace(EntryOutput &output, unsigned *room);
EntryWrite CommitEntryBytes(EntryOutput &output, unsigned count);

// Writes what is buffered and closes the file.
EntryWrite CloseEntryFile(EntryOutput &output);
// Closes the file after a failure; the whole destination is removed by the caller.
void AbandonEntryFile(EntryOutput &output);
