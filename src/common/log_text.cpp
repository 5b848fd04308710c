// The run log's text: the time stamp, the start of a run's first line, and the tail kept under the cap.
#include "log_text.h"
#include "kovrel_version.h"
#include "text.h"

static char *PutDigits(char *at, unsigned value, unsigned count)
{
    for (unsigned i = count; i > 0; i--) {
        at[i - 1] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    return at + count;
}

void FormatIsoTime(const LogTime &time, char (&text)[ISO_TIME_BYTES])
{
    char *at = PutDigits(text, time.year, 4);
    const unsigned short parts[] = {time.month, time.day, time.hour, time.minute, time.second};
    const char separators[] = "--T::";
    for (unsigned i = 0; i < 5; i++) {
        *at++ = separators[i];
        at = PutDigits(at, parts[i], 2);
    }
    at[0] = 'Z';
    at[1] = 0;
}

bool ComposeLogStart(char *buffer, unsigned capacity, const LogTime &time, const char *launcherPath)
{
    char stamp[ISO_TIME_BYTES];
    FormatIsoTime(time, stamp);
    const char *parts[] = {"start: ", stamp, ", Kovrel " KOVREL_VERSION_TEXT ", launcher ",
                           launcherPath ? launcherPath : "", "; "};
    if (!capacity)
        return false;
    buffer[0] = 0;
    for (const char *part : parts)
        if (!AppendText(buffer, capacity, part)) {
            buffer[0] = 0;
            return false;
        }
    return true;
}

unsigned KeptLogTail(const char *text, unsigned length, unsigned cap)
{
    if (length <= cap)
        return 0;
    unsigned start = length - cap;
    // Only whole lines are kept: move on to the start of the next line.
    while (start < length && (start == 0 || text[start - 1] != '\n'))
        start++;
    return start;
}
