// The tokens of the command line that the launcher passes on and the worker reads, split the same way by both.
//
// Tokens are separated by blanks (0x20 only). A token is quoted when a double quote comes before the next
// blank: it then runs to the closing quote, may hold blanks and "-", and may be empty ("" keeps a position
// free so that a later token can be given). Text before the opening quote is dropped and text between the
// closing quote and the next blank is skipped. An unquoted token that starts with "-" is an option token and
// takes no position. All searches step over double-byte characters whole.
#pragma once

enum CommandTokenKind {
    COMMAND_TOKEN_POSITIONAL,
    COMMAND_TOKEN_OPTION,   // the token's text starts with its "-"
    COMMAND_TOKEN_END,      // nothing is left but blanks
    COMMAND_TOKEN_MALFORMED, // a quote that is never closed
};

struct CommandToken {
    const char *start;
    unsigned length;
};

// Reads the token at *position (in text ending at `end`) and moves *position past it.
CommandTokenKind NextCommandToken(const char **position, const char *end, CommandToken *token);

// Copies the positional token `index` (0 for the first) of `text` into `buffer`; false when there is no such
// token, the line is malformed before it, or it does not fit in `capacity` bytes.
bool FindPositionalToken(const char *text, unsigned index, char *buffer, unsigned capacity);
