// The update information file, parsed once from its verified bytes into one record that the stages read.
#pragma once

const unsigned FEED_VALUE_CAP = 2084; // INTERNET_MAX_URL_LENGTH: the longest URL the download takes

// The values of the application's section. Later keys get their fields here, read in ReadUpdateFeed.
struct UpdateFeed {
    char version[FEED_VALUE_CAP];    // APP_VER, "" when absent
    char archiveUrl[FEED_VALUE_CAP]; // APP_URL, "" when absent
    bool haveSize;                   // APP_SIZE given (non-empty)
    bool sizeValid;                  // ... and well-formed
    unsigned long long size;
    bool haveSha256; // APP_SHA256 given
    bool sha256Valid;
    unsigned char sha256[32];
    bool haveExpiry; // APP_EXPIRES given
    bool expiryValid;
    unsigned long long expires; // seconds since 1601-01-01T00:00:00Z
    char expiryText[24];        // as written, for the log
    bool haveSerial; // APP_SERIAL given
    bool serialValid;
    unsigned serial;
};

// Reads the section's values from the verified bytes into the record. False when a value is too long for its
// field (never cut), or on bad arguments.
bool ReadUpdateFeed(const char *text, unsigned length, const char *section, UpdateFeed *feed);
