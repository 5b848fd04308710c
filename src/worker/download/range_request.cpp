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
    // Digits from the last one on; WideQuotient rather than the compiler's 64-bit division, which on 32-bit
    // x86 is a runtime routine.
    char number[24];
    char *digit = number + sizeof number - 1;
    *digit = 0;
    for (unsigned long long rest = offset; rest;) {
        unsigned long long quotient = WideQuotient(rest, 10);
        *--digit = static_cast<char>('0' + static_cast<unsigned>(rest - quotient * 10));
        rest = quotient;
    }
    bool composed = AppendText(headers, capacity, "Range: bytes=") && AppendText(headers, capacity, digit) &&
                    AppendText(headers, capacity, "-\r\n");
    if (composed && validator && validator[0])
        composed = ValidatorIsOneLine(validator) && AppendText(headers, capacity, "If-Range: ") &&
                   AppendText(headers, capacity, validator) && AppendText(headers, capacity, "\r\n");
    if (!composed)
        headers[0] = 0;
    return composed;
}
