#pragma once
#include "../common/application_identity.h"
#include "../common/text_buffer.h"

// Finds the launcher's arguments in its command line: the text after the program name (quoted or not)
// and the blanks after it; empty when nothing follows. False when a quoted program name is not closed.
bool FindLauncherArguments(const char *commandLine, const char **arguments);

// True when the first token of the arguments is the cleanup argument, byte for byte. The identity of the
// application whose run ended follows it, into `identity`; empty when there is no sound one, or more follows.
bool IsCleanupArgument(const char *arguments, char (&identity)[IDENTITY_BYTES]);

// The identity of the application that the arguments name: its path is the positional token
// `applicationToken`, its section the token after it.
void FindApplicationIdentity(const char *arguments, unsigned applicationToken, char (&identity)[IDENTITY_BYTES]);

// The positional token `index` into `token`, sized to it; false when there is none (token then holds nothing).
bool CopyPositionalToken(const char *arguments, unsigned index, TextBuffer &token);

// True when the arguments begin with the apply step's argument as their first token.
bool IsApplyStep(const char *arguments);

// True when the option letter (k: check, s: silent) is switched on ("-k1") by the last option token that names
// it, read as the worker reads its options (worker_command_line.cpp): up to a malformed token, stepping over
// double-byte characters. Launcher and worker must agree, or one of them waits for the other for ever.
bool IsOptionOn(const char *arguments, char letter);

// Composes the worker's command line: the launcher's path in double quotes, a blank, then the launcher's
// arguments unchanged. The buffer is sized for the whole text, so long arguments are never cut.
bool ComposeWorkerCommandLine(TextBuffer &commandLine, const char *launcherPath, const char *arguments);
