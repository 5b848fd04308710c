// A value that is present but malformed is an error for the caller, never taken as absent: these only say
// whether the text is well formed.
#include "feed_values.h"
#include "../../common/text.h"

bool ParseArchiveSize(const char *text, unsigned long long *size)
{
    unsigned length = TextLength(text);
    if (length == 0 || length > 18)
        return false;
    unsigned long long value = 0;
    for (unsigned i = 0; i < length; i++) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    *size = value;
    return true;
}

bool ParseSha256Text(const char *text, unsigned char digest[32])
{
    return TextLength(text) == 64 && DecodeHex(text, 32, digest);
}

bool ParseFeedSerial(const char *text, unsigned *serial)
{
    unsigned long long value = 0;
    // A leading zero could be read as octal elsewhere: one spelling per serial.
    if (!ParseArchiveSize(text, &value) || value > FEED_SERIAL_MAX || (text[0] == '0' && text[1]))
        return false;
    *serial = static_cast<unsigned>(value);
    return true;
}

// Days before each month of a common year.
static const unsigned short DAYS_BEFORE[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};

bool ParseExpiryTime(const char *text, unsigned long long *seconds)
{
    // '0' stands for a digit; the form's terminating zero must meet the text's.
    static const char FORM[] = "0000-00-00T00:00:00Z";
    unsigned field[6] = {}; // year, month, day, hour, minute, second
    unsigned at = 0;
    for (unsigned i = 0; i < sizeof FORM; i++) {
        if (FORM[i] != '0') {
            if (text[i] != FORM[i])
                return false;
            at++;
        } else if (text[i] >= '0' && text[i] <= '9') {
            field[at] = field[at] * 10 + static_cast<unsigned>(text[i] - '0');
        } else {
            return false;
        }
    }
    unsigned year = field[0], month = field[1], day = field[2];
    bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    if (year < 1601 || month < 1 || month > 12 || field[3] > 23 || field[4] > 59 || field[5] > 59)
        return false;
    unsigned monthDays = static_cast<unsigned>(DAYS_BEFORE[month] - DAYS_BEFORE[month - 1]) + (leap && month == 2);
    if (day < 1 || day > monthDays)
        return false;
    // 1601 opens a 400-year cycle, so the leap days before `year` count from it alone.
    unsigned years = year - 1601;
    unsigned days = years * 365 + years / 4 - years / 100 + years / 400 + DAYS_BEFORE[month - 1] +
                    (leap && month > 2) + day - 1;
    *seconds = days * 86400ull + (field[3] * 60 + field[4]) * 60 + field[5];
    return true;
}
