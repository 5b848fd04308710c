// Splitting the worker's command line into positional tokens and option letters (common/command_tokens.h).
// Each letter of an option token switches one flag at once, so a failure later in the line keeps the options
// read before it.
#include "worker_command_line.h"
#include "worker_settings.h"
#include "../../common/cleanup_argument.h"
#include "../../common/command_tokens.h"
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
    FreeBytes(workerArgs.stagedArchive);
    workerArgs.stagedArchive = 0;
    workerArgs.runArguments = 0;
}

// What a letter alone means: backup and caption are switched on, restart, silent and check mode off.
static bool ApplyOptionLetter(char letter, char next)
{
    unsigned flag;
    bool aloneSets;
    switch (letter) {
    case 'b': flag = OPT_BACKUP; aloneSets = true; break;
    case 'c': flag = OPT_CAPTION; aloneSets = true; break;
    case 'r': flag = OPT_RESTART; aloneSets = false; break;
    case 's': flag = OPT_SILENT; aloneSets = false; break;
    case 'k': flag = OPT_CHECK; aloneSets = false; break;
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

static bool StoreText(char **slot, const char *start, unsigned length)
{
    char *copy = static_cast<char *>(AllocateBytes(length + 1));
    if (!copy)
        return false;
    CopyBytes(copy, start, length);
    copy[length] = 0;
    FreeBytes(*slot);
    *slot = copy;
    return true;
}

static bool StoreToken(unsigned index, const char *start, unsigned length)
{
    return index >= WORKER_ARG_SLOTS || StoreText(WorkerArgSlot(index), start, length);
}

static bool IsApplyToken(const CommandToken &token)
{
    const unsigned length = sizeof APPLY_ARGUMENT - 1;
    if (token.length != length)
        return false;
    for (unsigned i = 0; i < length; i++)
        if (token.start[i] != APPLY_ARGUMENT[i])
            return false;
    return true;
}

bool ParseWorkerCommandLine(const char *text)
{
    if (!text)
        return false;
    const char *end = text + TextLength(text);
    const char *position = text;
    unsigned count = 0;
    FreeBytes(workerArgs.stagedArchive);
    workerArgs.stagedArchive = 0;
    workerArgs.runArguments = 0;
    for (;;) {
        CommandToken token;
        CommandTokenKind kind = NextCommandToken(&position, end, &token);
        if (kind == COMMAND_TOKEN_END)
            break;
        if (kind == COMMAND_TOKEN_MALFORMED)
            return false;
        if (kind == COMMAND_TOKEN_OPTION) {
            ApplyOptionToken(token.start, token.start + token.length);
        } else if (count == 1 && !workerArgs.stagedArchive && IsApplyToken(token)) {
            // The archive's path follows: "" when the step only undoes an interrupted replacement.
            kind = NextCommandToken(&position, end, &token);
            if (kind != COMMAND_TOKEN_POSITIONAL || !StoreText(&workerArgs.stagedArchive, token.start, token.length))
                return false;
            workerArgs.runArguments = position;
        } else if (!StoreToken(count++, token.start, token.length)) {
            return false;
        }
        if (count == 1 && !workerArgs.runArguments)
            workerArgs.runArguments = position;
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

void ComposeWorkerIdentity(char (&identity)[IDENTITY_BYTES])
{
    ComposeApplicationIdentity(workerArgs.infoSection, workerArgs.appPath, identity);
}
