// Splitting the worker's command line into positional tokens and option letters.
//
// Tokens are separated by blanks (0x20 only). A token is quoted when a double quote comes before the next
// blank: it then runs to the closing quote, may hold blanks and "-", and may be empty ("" keeps a position
// free so that a later token can be given). Text before the opening quote is dropped and text between the
// closing quote and the next blank is skipped. An unquoted token that starts with "-" is an option token:
// it takes no position, and each of its letters switches one flag at once, so a failure later in the line
// keeps the options read before it. All searches step over double-byte characters whole.
#include "worker_command_line.h"
#include "worker_settings.h"
#include "../../common/heap.h"
#include "../../common/multibyte_path.h"
#include "../../common/text.h"

WorkerArgs workerArgs;

static char **WorkerArgSlot(unsigned index)
{
    switch (index) {
    case 0: return &workerArgs.launcherPath;
    case 1: return &workerArgs.infoUrl;
    case 2: return &workerArgs.appPath;
    case 3: return &workerArgs.infoSection;
    case 4: return &workerArgs.installedVersion;
    case 5: return &workerArgs.caption;
    case 6: return &workerArgs.restartProgram;
    default: return &workerArgs.restartParams;
    }
}

void FreeWorkerArgs()
{
    for (unsigned i = 0; i < WORKER_ARG_SLOTS; i++) {
        char **slot = WorkerArgSlot(i);
        FreeBytes(*slot);
        *slot = 0;
    }
}

// What a letter alone means: backup and caption are switched on, restart and silent mode off.
static bool ApplyOptionLetter(char letter, char next)
{
    unsigned flag;
    bool aloneSets;
    switch (letter) {
    case 'b': flag = OPT_BACKUP; aloneSets = true; break;
    case 'c': flag = OPT_CAPTION; aloneSets = true; break;
    case 'r': flag = OPT_RESTART; aloneSets = false; break;
    case 's': flag = OPT_SILENT; aloneSets = false; break;
    default: return false;
    }
    bool set = next == '1' ? true : next == '0' ? false : aloneSets;
    workerSettings.options &= ~flag;
    if (set)
        workerSettings.options |= flag;
    return true;
}

static void ApplyOptionToken(const char *token, const char *end)
{
    for (const char *p = token + 1; p < end;) {
        if (IsLeadByte(static_cast<unsigned char>(*p)) && p + 1 < end) {
            p += 2;
            continue;
        }
        ApplyOptionLetter(*p, p + 1 < end ? p[1] : 0);
        p++;
    }
}

static bool StoreToken(unsigned index, const char *start, unsigned length)
{
    if (index >= WORKER_ARG_SLOTS)
        return true;
    char *copy = static_cast<char *>(AllocateBytes(length + 1));
    if (!copy)
        return false;
    CopyBytes(copy, start, length);
    copy[length] = 0;
    char **slot = WorkerArgSlot(index);
    FreeBytes(*slot);
    *slot = copy;
    return true;
}

bool ParseWorkerCommandLine(const char *text)
{
    if (!text)
        return false;
    const char *end = text + TextLength(text);
    const char *position = text;
    unsigned count = 0;
    while (position < end) {
        while (*position == ' ')
            position++;
        // Trailing blanks end the line; they do not make an empty token.
        if (position >= end)
            break;
        const char *blank = FindCharMultibyte(position, ' ');
        const char *quote = FindCharMultibyte(position, '"');
        const char *tokenStart;
        const char *tokenEnd;
        if (quote && (!blank || quote < blank)) {
            tokenStart = quote + 1;
            tokenEnd = FindCharMultibyte(tokenStart, '"');
            if (!tokenEnd)
                return false;
            blank = FindCharMultibyte(tokenEnd + 1, ' ');
        } else if (*position == '-') {
            ApplyOptionToken(position, blank ? blank : end);
            if (!blank)
                break;
            position = blank + 1;
            continue;
        } else {
            tokenStart = position;
            tokenEnd = blank ? blank : end;
        }
        if (!StoreToken(count, tokenStart, static_cast<unsigned>(tokenEnd - tokenStart)))
            return false;
        count++;
        if (!blank)
            break;
        position = blank + 1;
    }
    return count >= 4;
}

const char *SkipWorkerProgramName(const char *commandLine)
{
    if (!commandLine)
        return 0;
    const char *p = commandLine;
    if (*p == '"') {
        const char *closing = FindCharMultibyte(p + 1, '"');
        p = closing ? closing + 1 : p + TextLength(p);
    }
    // Lead and trail bytes of double-byte characters are all above 0x20, so a byte walk is safe here.
    while (static_cast<unsigned char>(*p) > 0x20)
        p++;
    while (*p && static_cast<unsigned char>(*p) <= 0x20)
        p++;
    return p;
}
