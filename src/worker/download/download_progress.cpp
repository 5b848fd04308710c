#include "download_progress.h"

static const unsigned MINIMUM_TRANSFER = 1024;

unsigned long long WideQuotient(unsigned long long dividend, unsigned divisor)
{
    unsigned long long quotient = 0, remainder = 0;
    for (int bit = 63; bit >= 0; bit--) {
        remainder = remainder << 1 | (dividend >> bit & 1);
        if (remainder >= divisor) {
            remainder -= divisor;
            quotient |= 1ull << bit;
        }
    }
    return quotient;
}

const char *WideDecimal(unsigned long long value, char *number)
{
    char *digit = number + 23;
    *digit = 0;
    do {
        unsigned long long quotient = WideQuotient(value, 10);
        *--digit = static_cast<char>('0' + static_cast<unsigned>(value - quotient * 10));
        value = quotient;
    } while (value);
    return digit;
}

const char *ReadWideDecimal(const char *at, unsigned long long *number)
{
    const char *start = at;
    unsigned long long value = 0;
    for (; *at >= '0' && *at <= '9'; at++) {
        if (value > (~0ull - 9) / 10)
            return 0;
        value = value * 10 + static_cast<unsigned>(*at - '0');
    }
    *number = value;
    return at == start ? 0 : at;
}

int RoundedMulDiv(int a, unsigned b, unsigned c)
{
    if (c == 0)
        return -1;
    // The half rounds away from zero: the magnitude is rounded, then given a's sign.
    unsigned size = a < 0 ? 0u - static_cast<unsigned>(a) : static_cast<unsigned>(a);
    unsigned long long magnitude = static_cast<unsigned long long>(size) * b;
    long long quotient = static_cast<long long>(WideQuotient(magnitude + c / 2, c));
    return static_cast<int>(a < 0 ? -quotient : quotient);
}

unsigned TransferBufferSize(bool queried, unsigned ready, unsigned current, unsigned cap)
{
    if (!queried)
        return current;
    unsigned size = ready > MINIMUM_TRANSFER ? ready : MINIMUM_TRANSFER;
    return size < cap ? size : cap;
}

bool SplitProcessors(unsigned long long available, unsigned long long *reader, unsigned long long *hasher)
{
    unsigned long long highest = 1ull << 63;
    while (highest && !(available & highest))
        highest >>= 1;
    if (!(available & ~highest))
        return false;
    *hasher = highest;
    *reader = available & ~highest;
    return true;
}

unsigned FirstReadSize(unsigned most)
{
    return STALL_BYTES < most ? STALL_BYTES : most;
}

unsigned NextReadSize(unsigned asked, unsigned got, unsigned elapsedMs, unsigned most)
{
    unsigned long long next = 4ull * asked;
    if (elapsedMs) {
        unsigned long long bySpeed = WideQuotient(static_cast<unsigned long long>(got) * READ_TARGET_MS, elapsedMs);
        if (bySpeed < next)
            next = bySpeed;
    }
    if (next < STALL_BYTES)
        next = STALL_BYTES;
    return next < most ? static_cast<unsigned>(next) : most;
}

// The bar's position for a running count: base + span * received / total, at least base + 1, at most base + span.
static int PositionFor(short base, short span, unsigned total, unsigned received)
{
    int step = RoundedMulDiv(span, received, total);
    if (step < 1)
        step = 1;
    if (step > span)
        step = span;
    return base + step;
}

bool NextDownloadPosition(short *base, short *span, unsigned total, unsigned received, unsigned *receivedSoFar,
                          int *position)
{
    if (*span <= 0)
        return false;
    if (total == 0) {
        *position = *base;
        *base = static_cast<short>(*base + 1);
        *span = static_cast<short>(*span - 1);
        return true;
    }
    if (received == 0)
        return false;
    unsigned after = *receivedSoFar + received;
    if (after < received)
        after = 0xFFFFFFFFu;
    *receivedSoFar = after;
    *position = PositionFor(*base, *span, total, after);
    return true;
}

bool DownloadReportDue(int position, int end, const DownloadReports &reports, unsigned now)
{
    if (position == reports.lastPosition)
        return false;
    return reports.lastPosition == 0 || position >= end || now - reports.lastAt >= DOWNLOAD_REPORT_MS;
}
