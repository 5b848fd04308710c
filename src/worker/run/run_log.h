// The run log: what each run did, appended to the application's log (common/application_log.h), so that a
// silent run leaves a trace for the user and the application, and a failed one names its cause.
#pragma once

// Begins a run's lines for the application in `applicationFolder` updated from `section`; the log is written
// at EndRunLog. Without a section nothing is logged.
void BeginRunLog(const char *section, const char *applicationFolder);

// Adds one line, "<milliseconds since the start> <text>", formatted as wsprintfA does (cut at 1024 bytes).
void LogRun(const char *format, ...);

// Adds the run's first line: the start text (UTC time, Kovrel's version, the launcher's path), then the text.
void LogRunStart(const char *launcherPath, const char *format, ...);

// Remembers why the run is failing, at the point where it fails: a Win32 error (its number and the system's
// text) or an HTTP status, and the path or URL involved. The last note counts.
void NoteFailure(unsigned long error, const char *subject);
void NoteFailureWide(unsigned long error, const wchar_t *subject);
void NoteHttpStatus(unsigned status, const char *url);

// Adds the last line, "end: <text>", formatted with one number; a failed run's line goes on with
// "; cause: error <number> (<text>), <path>" or "; cause: HTTP status <status>, <URL>" when a cause was noted.
void LogRunEnd(bool failed, const char *format, unsigned value);

// Appends the run's lines to the log file.
void EndRunLog();
