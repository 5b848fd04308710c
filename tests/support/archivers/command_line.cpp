// Command-line splitting for the stand-ins. Works on the ANSI bytes as received: the blank and the double
// quote are never trail bytes of a code page 932 character, so splitting byte by byte is safe.
#include "command_line.h"

std::vector<CommandToken> SplitCommandLine(const char *line)
{
    std::vector<CommandToken> tokens;
    if (!line)
        return tokens;
    CommandToken current{std::string(), false};
    bool inToken = false;
    bool inQuotes = false;
    for (const char *p = line; *p; ++p) {
        char c = *p;
        if (c == '"') {
            inQuotes = !inQuotes;
            inToken = true;
            current.quoted = true;
        } else if ((c == ' ' || c == '\t') && !inQuotes) {
            if (inToken)
                tokens.push_back(current);
            current = CommandToken{std::string(), false};
            inToken = false;
        } else {
            current.text += c;
            inToken = true;
        }
    }
    if (inToken)
        tokens.push_back(current);
    return tokens;
}

bool ArchiveAndDestination(const char *line, std::string &archive, std::string &destination)
{
    std::vector<CommandToken> tokens = SplitCommandLine(line);
    std::vector<std::string> operands;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const CommandToken &token = tokens[i];
        if (i == 0 && !token.quoted && token.text == "x")
            continue;
        // A quoted token is a path, even one that starts with a dash.
        if (!token.quoted && !token.text.empty() && token.text[0] == '-')
            continue;
        operands.push_back(token.text);
    }
    if (operands.size() < 2 || operands[0].empty() || operands[1].empty())
        return false;
    archive = operands[0];
    destination = operands[1];
    return true;
}
