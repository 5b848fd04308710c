// The highest serial of a signed information file accepted for an application section, kept per user as
// decimal digits in "%LOCALAPPDATA%\Kovrel\<section>.serial", so that an older file served again is known.
#pragma once

enum SerialRecord {
    SERIAL_NONE,      // no file was accepted with a serial yet
    SERIAL_READ,      // *serial holds the record
    SERIAL_UNREADABLE // a record exists but cannot be read or is malformed
};

SerialRecord ReadSerialRecord(const char *section, unsigned *serial);

// Replaces the record; false when it could not be written.
bool WriteSerialRecord(const char *section, unsigned serial);
