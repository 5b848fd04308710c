// The text of the run log that both executables write: the start of a run's first line, and which lines of
// a capped log survive. The launcher logs a run that it refuses in the same form as the worker logs a run.
#pragma once

// The most a log file keeps.
const unsigned LOG_CAP = 64 * 1024;

// A moment in UTC, as the platform's SYSTEMTIME gives it.
struct LogTime {
    unsigned short year, month, day, hour, minute, second;
};

// "2026-12-10T12:34:56Z" and its terminating zero.
const unsigned ISO_TIME_BYTES = 21;
void FormatIsoTime(const LogTime &time, char (&text)[ISO_TIME_BYTES]);

// "start: <ISO time>, Kovrel <version>, launcher <launcher path>; " into `buffer`; false, with nothing
// written, when it does not fit in `capacity` bytes.
bool ComposeLogStart(char *buffer, unsigned capacity, const LogTime &time, const char *launcherPath);

// Keeps the last lines of `text` (length bytes) that fit in `cap` bytes, cutting only at a line start.
// Returns the offset of the first byte kept.
unsigned KeptLogTail(const char *text, unsigned length, unsigned cap);
