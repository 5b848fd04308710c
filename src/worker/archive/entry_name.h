// Entry names from an archive are paths chosen by whoever made it. Before anything is written, each one is
// checked so that it can only name a file or folder inside the destination, on any Windows.
#pragma once

enum EntryNameVerdict {
    ENTRY_NAME_GOOD,
    ENTRY_NAME_ROOT,    // a folder entry for the destination itself ("./"): nothing to create
    ENTRY_NAME_REFUSED, // the archive is not unpacked at all
};

// Checks a name of `length` UTF-8 bytes. A name is refused when it is absolute or carries a drive, holds a
// ".." component, a ':' (a drive or an alternate data stream), a character Windows forbids in names or a
// control character, when a component names a device or ends in a dot or a blank, or when the result does
// not fit in `capacity` bytes. On ENTRY_NAME_GOOD, `relative` holds the name with '\' between components and
// without "." components or a final separator; `folder` tells whether it ends in '/' or '\'.
EntryNameVerdict CheckEntryName(const char *name, unsigned length, char *relative, unsigned capacity, bool *folder);

// True when a name component of `length` bytes (up to its first '.', blanks after it ignored) is one that
// Windows keeps for a device: CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$, CONOUT$.
bool IsDeviceName(const char *component, unsigned length);
