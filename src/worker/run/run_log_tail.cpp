// Which lines of a capped log survive: the newest that fit, whole.
#include "run_log.h"

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
