#include "command_tokens.h"
#include "multibyte_path.h"
#include "text.h"

CommandTokenKind NextCommandToken(const char **position, const char *end, CommandToken *token)
{
    const char *p = *position;
    while (p < end && *p == ' ')
        p++;
    // Trailing blanks end the line; they do not make an empty token.
    if (p >= end) {
        *position = end;
        return COMMAND_TOKEN_END;
    }
    const char *blank = FindCharMultibyte(p, ' ');
    const char *quote = FindCharMultibyte(p, '"');
    CommandTokenKind kind = COMMAND_TOKEN_POSITIONAL;
    if (quote && (!blank || quote < blank)) {
        token->start = quote + 1;
        const char *closing = FindCharMultibyte(token->start, '"');
        if (!closing)
            return COMMAND_TOKEN_MALFORMED;
        token->length = static_cast<unsigned>(closing - token->start);
        blank = FindCharMultibyte(closing + 1, ' ');
    } else {
        if (*p == '-')
            kind = COMMAND_TOKEN_OPTION;
        token->start = p;
        token->length = static_cast<unsigned>((blank ? blank : end) - p);
    }
    *position = blank ? blank + 1 : end;
    return kind;
}

bool FindPositionalToken(const char *text, unsigned index, char *buffer, unsigned capacity)
{
    if (!text)
        return false;
    const char *position = text, *end = text + TextLength(text);
    CommandToken token;
    for (unsigned count = 0;;) {
        CommandTokenKind kind = NextCommandToken(&position, end, &token);
        if (kind == COMMAND_TOKEN_END || kind == COMMAND_TOKEN_MALFORMED)
            return false;
        if (kind == COMMAND_TOKEN_OPTION)
            continue;
        if (count++ == index) {
            if (token.length >= capacity)
                return false;
            CopyBytes(buffer, token.start, token.length);
            buffer[token.length] = 0;
            return true;
        }
    }
}
