// Splitting the launcher's command line.
//
// The program name is either quoted, and then may hold blanks, or runs up to the first blank. Both searches
// step over double-byte characters whole: in code page 932 the second byte of a character in a folder name
// may be 0x20 or 0x22, and taking it for a blank or a quote would split the name inside a character.
// Only the blank (0x20) separates; a tab is an ordinary character here.
#include "launcher_command_line.h"
#include "../common/cleanup_argument.h"
#include "../common/command_tokens.h"
#include "../common/multibyte_path.h"
#include "../common/text.h"

static const char *SkipBlanks(const char *text)
{
    while (*text == ' ')
        text++;
    return text;
}

bool FindLauncherArguments(const char *commandLine, const char **arguments)
{
    if (!commandLine)
        return false;
    const char *start = SkipBlanks(commandLine);
    const char *blank = FindCharMultibyte(start, ' ');
    const char *quote = FindCharMultibyte(start, '"');
    const char *rest = blank;
    if (quote && (!blank || quote < blank)) {
        const char *closing = FindCharMultibyte(quote + 1, '"');
        if (!closing)
            return false;
        rest = FindCharMultibyte(closing + 1, ' ');
    }
    if (!rest)
        rest = start + TextLength(start);
    *arguments = SkipBlanks(rest);
    return true;
}

bool CopyPositionalToken(const char *arguments, unsigned index, TextBuffer &token)
{
    // No token is longer than the arguments that hold it.
    if (token.Reserve(TextLength(arguments) + 1) && FindPositionalToken(arguments, index, token.text, token.capacity))
        return true;
    if (token.text)
        token.text[0] = 0;
    return false;
}

bool IsCleanupArgument(const char *arguments, char (&identity)[IDENTITY_BYTES])
{
    identity[0] = 0;
    TextBuffer token = {};
    bool cleanup = CopyPositionalToken(arguments, 0, token) && TextEquals(token.text, CLEANUP_ARGUMENT);
    if (cleanup && !CopyPositionalToken(arguments, 2, token) && CopyPositionalToken(arguments, 1, token) &&
        IsApplicationIdentity(token.text))
        CopyText(identity, IDENTITY_BYTES, token.text);
    token.Free();
    return cleanup;
}

void FindApplicationIdentity(const char *arguments, unsigned applicationToken, char (&identity)[IDENTITY_BYTES])
{
    TextBuffer path = {}, section = {};
    CopyPositionalToken(arguments, applicationToken, path);
    CopyPositionalToken(arguments, applicationToken + 1, section);
    ComposeApplicationIdentity(section.text, path.text, identity);
    path.Free();
    section.Free();
}

bool IsApplyStep(const char *arguments)
{
    char first[sizeof APPLY_ARGUMENT];
    return FindPositionalToken(arguments, 0, first, sizeof first) && TextEquals(first, APPLY_ARGUMENT);
}

bool IsOptionOn(const char *arguments, char letter)
{
    const char *position = arguments, *end = arguments + TextLength(arguments);
    bool on = false;
    CommandToken token;
    CommandTokenKind kind;
    while ((kind = NextCommandToken(&position, end, &token)) != COMMAND_TOKEN_END && kind != COMMAND_TOKEN_MALFORMED) {
        const char *stop = token.start + token.length;
        for (const char *p = token.start + 1; kind == COMMAND_TOKEN_OPTION && p < stop; p++) {
            if (IsLeadByte(static_cast<unsigned char>(*p)) && p + 1 < stop)
                p++;
            else if (*p == letter)
                on = p + 1 < stop && p[1] == '1';
        }
    }
    return on;
}

bool ComposeWorkerCommandLine(TextBuffer &commandLine, const char *launcherPath, const char *arguments)
{
    unsigned pathLength = TextLength(launcherPath);
    unsigned argumentsLength = TextLength(arguments);
    if (!commandLine.Reserve(argumentsLength + pathLength + 32))
        return false;
    char *out = commandLine.text;
    *out++ = '"';
    CopyBytes(out, launcherPath, pathLength);
    out += pathLength;
    *out++ = '"';
    *out++ = ' ';
    CopyBytes(out, arguments, argumentsLength);
    out[argumentsLength] = 0;
    return true;
}
