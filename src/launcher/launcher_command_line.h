#pragma once
#include "../common/text_buffer.h"

// Finds the launcher's arguments in its command line: the text after the program name (quoted or not)
// and the blanks after it; empty when nothing follows. False when a quoted program name is not closed.
bool FindLauncherArguments(const char *commandLine, const char **arguments);

// True when the arguments are exactly the cleanup argument, byte for byte.
bool IsCleanupArgument(const char *arguments);

// True when the arguments begin with the apply step's argument as their first token.
bool IsApplyStep(const char *arguments);

// Composes the worker's command line: the launcher's path in double quotes, a blank, then the launcher's
// arguments unchanged. The buffer is sized for the whole text, so long arguments are never cut.
bool ComposeWorkerCommandLine(TextBuffer &commandLine, const char *launcherPath, const char *arguments);
