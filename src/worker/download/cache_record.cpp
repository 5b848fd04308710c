#include "cache_record.h"
#include "download_progress.h"
#include "../../common/text.h"

static bool IsOneLine(const char *text)
{
    for (; *text; text++)
        if (*text == '\r' || *text == '\n')
            return false;
    return true;
}

bool FormatCacheRecord(const CacheRecord &record, char *text, unsigned capacity)
{
    char number[24];
    const char *digit = WideDecimal(record.size, number);
    text[0] = 0;
    return IsOneLine(record.url) && IsOneLine(record.validator) && AppendText(text, capacity, record.url) &&
           AppendText(text, capacity, "\r\n") && AppendText(text, capacity, digit) &&
           AppendText(text, capacity, "\r\n") && AppendText(text, capacity, record.validator) &&
           AppendText(text, capacity, "\r\n");
}

// The line at *at, up to "\r\n", into `value`; false when it has no line end or does not fit.
static bool ReadLine(const char **at, const char *end, char *value, unsigned capacity)
{
    unsigned length = 0;
    while (*at + length + 1 < end && !((*at)[length] == '\r' && (*at)[length + 1] == '\n'))
        length++;
    if (*at + length + 1 >= end || length >= capacity)
        return false;
    CopyBytes(value, *at, length);
    value[length] = 0;
    *at += length + 2;
    return true;
}

bool ParseCacheRecord(const char *text, unsigned length, CacheRecord *record)
{
    const char *at = text, *end = text + length;
    char size[24];
    if (!ReadLine(&at, end, record->url, sizeof record->url) || !ReadLine(&at, end, size, sizeof size) ||
        !ReadLine(&at, end, record->validator, sizeof record->validator) || at != end)
        return false;
    const char *after = ReadWideDecimal(size, &record->size);
    return after && !*after;
}
