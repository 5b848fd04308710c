#include "range_request.h"
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
    char digits[24];
    unsigned length = 0;
    for (unsigned long long rest = offset; rest; rest /= 10)
        digits[length++] = static_cast<char>('0' + rest % 10);
    char number[24];
    for (unsigned i = 0; i < length; i++)
        number[i] = digits[length - 1 - i];
    number[length] = 0;
    bool composed = AppendText(headers, capacity, "Range: bytes=") && AppendText(headers, capacity, number) &&
                    AppendText(headers, capacity, "-\r\n");
    if (composed && validator && validator[0])
        composed = ValidatorIsOneLine(validator) && AppendText(headers, capacity, "If-Range: ") &&
                   AppendText(headers, capacity, validator) && AppendText(headers, capacity, "\r\n");
    if (!composed)
        headers[0] = 0;
    return composed;
}
