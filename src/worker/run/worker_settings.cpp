#include "worker_settings.h"
#include "../../common/text.h"

// The colours that come from the system are filled in by LoadSettings; until then they read as black.
WorkerSettings workerSettings = {OPT_DEFAULTS, 0, 0, 0, NO_COLOR, 0, 0, NO_COLOR, 256, NO_COLOR};

// A blank, a tab or ';' ends the value: settings files put comments after their values, and the profile
// reader hands them over with the value.
static bool EndsColorText(char c)
{
    return !c || c == ' ' || c == '\t' || c == ';';
}

bool HasColorValue(const char *text)
{
    return text && !EndsColorText(text[0]);
}

// Only a lower-case "0x" is a prefix. Any other character that is not a hexadecimal digit ends the number,
// after the value has been shifted for it: "12G" reads as 0x120.
unsigned ParseColor(const char *text)
{
    if (!text)
        return 0;
    if (text[0] == '0' && text[1] == 'x')
        text += 2;
    else if (text[0] == '#')
        text += 1;
    unsigned value = 0;
    for (; !EndsColorText(*text); text++) {
        value <<= 4;
        int digit = HexDigitValue(*text);
        if (digit < 0)
            break;
        value += static_cast<unsigned>(digit);
    }
    return value;
}
