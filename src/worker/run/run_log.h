// The run log: what each run did, appended to "%LOCALAPPDATA%\Kovrel\<section>.log", one file per application
// section, so that a silent run leaves a trace for the user and the application. The file is capped; its
// oldest lines are dropped first.
#pragma once

// The most the log file keeps.
const unsigned RUN_LOG_CAP = 64 * 1024;

// Begins a run's lines; the log is written at EndRunLog. Without a section nothing is logged.
void BeginRunLog(const char *section);

// Adds one line, "<milliseconds since the start> <text>", formatted as wsprintfA does (cut at 1024 bytes).
void LogRun(const char *format, ...);

// Appends the run's lines to the file, dropping the oldest lines of the file beyond RUN_LOG_CAP.
void EndRunLog();

// Keeps the last lines of `text` (length bytes) that fit in `cap` bytes, cutting only at a line start.
// Returns the offset of the first byte kept.
unsigned KeptLogTail(const char *text, unsigned length, unsigned cap);
