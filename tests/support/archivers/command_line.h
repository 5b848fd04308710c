// Reads the archive path and destination folder out of the command line that the worker sends.
#pragma once
#include <string>
#include <vector>

struct CommandToken {
    std::string text;
    bool quoted;
};

// Splits on blanks; a double-quoted stretch may hold blanks and its quotes are not part of the token.
std::vector<CommandToken> SplitCommandLine(const char *line);

// Drops a leading command word "x" and the unquoted options ("-..."); the first two remaining tokens are
// the archive and the destination, anything after them (a file mask) is ignored. False when either is missing.
bool ArchiveAndDestination(const char *line, std::string &archive, std::string &destination);
