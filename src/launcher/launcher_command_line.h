#pragma once
#include "../common/text_buffer.h"

// Finds the launcher's arguments in its command line: the text after the program name (quoted or not)
// and the blanks after it; empty when nothing follows. False when a quoted program name is not closed.
bool FindLauncherArguments(const char *commandLine, const char **arguments);

// True when the arguments are exactly the cleanup argument, byte for byte.
bool IsCleanupArgument(const char *arguments);

// True when the arguments begin with the apply step's argument as their first token.
bool IsApplyStep(const char *arguments);

// True when the option letter k is switched on ("-k1") by the last option token that names it, read as the
// worker reads its options (worker_command_line.cpp): up to a malformed token, stepping over double-byte
// characters. Launcher and worker must agree, or one of them waits for the other for ever.
bool IsCheckRun(const char *arguments);

// Composes the worker's command line: the launcher's path in double quotes, a blank, then the launcher's
// arguments unchanged. The buffer is sized for the whole text, so long arguments are never cut.
bool ComposeWorkerCommandLine(TextBuffer &commandLine, const char *launcherPath, const char *arguments);
