#include "range_request.h"
#include "download_progress.h"
#include "../../common/text.h"

static bool ValidatorIsOneLine(const char *validator)
{
    for (const char *at = validator; *at; at++)
        if (static_cast<unsigned char>(*at) < 0x20 || *at == 0x7F)
            return false;
    return true;
}

bool ComposeRangeHeaders(unsigned long long offset, const char *validator, char *headers, unsigned capacity)
{
    if (!headers || capacity == 0)
        return false;
    headers[0] = 0;
    if (offset == 0)
        return true;
    char number[24];
    const char *digit = WideDecimal(offset, number);
    bool composed = AppendText(headers, capacity, "Range: bytes=") && AppendText(headers, capacity, digit) &&
                    AppendText(headers, capacity, "-\r\n");
    if (composed && validator && validator[0])
        composed = ValidatorIsOneLine(validator) && AppendText(headers, capacity, "If-Range: ") &&
                   AppendText(headers, capacity, validator) && AppendText(headers, capacity, "\r\n");
    if (!composed)
        headers[0] = 0;
    return composed;
}

bool ParseContentRange(const char *value, unsigned long long *first, unsigned long long *total)
{
    static const char UNIT[] = "bytes ";
    for (unsigned i = 0; i < sizeof UNIT - 1; i++)
        if (!value || value[i] != UNIT[i])
            return false;
    unsigned long long last = 0;
    const char *at = ReadWideDecimal(value + sizeof UNIT - 1, first);
    at = at && *at == '-' ? ReadWideDecimal(at + 1, &last) : 0;
    at = at && *at == '/' ? ReadWideDecimal(at + 1, total) : 0;
    return at && !*at && *first <= last && last + 1 == *total;
}
