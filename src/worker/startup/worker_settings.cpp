#include "worker_settings.h"

// The colours that come from the system are filled in by LoadSettings; until then they read as black.
WorkerSettings workerSettings = {OPT_DEFAULTS, 0, 0, 0, NO_COLOR, 0, 0, NO_COLOR, 256, NO_COLOR};

static int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Only a lower-case "0x" is a prefix. A character that is not a hexadecimal digit ends the number, after
// the value has been shifted for it: "12G" reads as 0x120.
unsigned ParseColor(const char *text)
{
    if (!text)
        return 0;
    if (text[0] == '0' && text[1] == 'x')
        text += 2;
    else if (text[0] == '#')
        text += 1;
    unsigned value = 0;
    for (; *text; text++) {
        value <<= 4;
        int digit = HexDigit(*text);
        if (digit < 0)
            break;
        value += static_cast<unsigned>(digit);
    }
    return value;
}
