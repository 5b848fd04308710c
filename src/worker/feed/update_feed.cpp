// A size, digest, expiry or serial whose text is too long for its buffer is given but malformed, as a wrong
// one is; only a version or URL that does not fit its field fails the whole reading.
#include "update_feed.h"
#include "feed_text.h"
#include "feed_values.h"
#include "../../common/text.h"

// Room for the longest well-formed value (64 hex digits) and then some, so that a longer text is seen as given.
const unsigned NUMBER_CAP = 80;

static bool ReadText(const char *text, unsigned length, const char *section, const char *key, char *field)
{
    bool tooLong = false;
    FindFeedValue(text, length, section, key, field, FEED_VALUE_CAP, &tooLong);
    return !tooLong;
}

// True when the key is given; `number` then holds its text, or "" when it was too long to hold.
static bool ReadNumber(const char *text, unsigned length, const char *section, const char *key,
                       char (&number)[NUMBER_CAP])
{
    bool tooLong = false;
    return FindFeedValue(text, length, section, key, number, NUMBER_CAP, &tooLong) != 0 || tooLong;
}

bool ReadUpdateFeed(const char *text, unsigned length, const char *section, UpdateFeed *feed)
{
    if (!feed)
        return false;
    feed->version[0] = '\0';
    feed->archiveUrl[0] = '\0';
    feed->haveSize = feed->sizeValid = false;
    feed->size = 0;
    feed->haveSha256 = feed->sha256Valid = false;
    for (unsigned char &byte : feed->sha256)
        byte = 0;
    feed->haveExpiry = feed->expiryValid = feed->haveSerial = feed->serialValid = false;
    feed->expires = 0;
    feed->expiryText[0] = '\0';
    feed->serial = 0;
    if (!text || !section || !section[0])
        return false;
    if (!ReadText(text, length, section, "APP_VER", feed->version) ||
        !ReadText(text, length, section, "APP_URL", feed->archiveUrl))
        return false;
    char number[NUMBER_CAP];
    feed->haveSize = ReadNumber(text, length, section, "APP_SIZE", number);
    feed->sizeValid = feed->haveSize && ParseArchiveSize(number, &feed->size);
    feed->haveSha256 = ReadNumber(text, length, section, "APP_SHA256", number);
    feed->sha256Valid = feed->haveSha256 && ParseSha256Text(number, feed->sha256);
    feed->haveExpiry = ReadNumber(text, length, section, "APP_EXPIRES", number);
    feed->expiryValid = feed->haveExpiry && ParseExpiryTime(number, &feed->expires) &&
                        CopyText(feed->expiryText, sizeof feed->expiryText, number);
    feed->haveSerial = ReadNumber(text, length, section, "APP_SERIAL", number);
    feed->serialValid = feed->haveSerial && ParseFeedSerial(number, &feed->serial);
    return true;
}
