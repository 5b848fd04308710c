// The archive's promised size (APP_SIZE, decimal bytes) and SHA-256 (APP_SHA256, 64 hex digits), and the
// signed file's freshness (APP_EXPIRES, APP_SERIAL), as text.
#pragma once

// A size is decimal digits only, at most 18 of them. False for anything else, the empty text included.
bool ParseArchiveSize(const char *text, unsigned long long *size);

// A digest is exactly 64 hex digits of either case.
bool ParseSha256Text(const char *text, unsigned char digest[32]);

// The largest serial: nine digits, so that it fits any unsigned and prints with %u.
const unsigned FEED_SERIAL_MAX = 999999999;

// A serial is decimal digits only, without a leading zero (other than "0" itself), at most FEED_SERIAL_MAX.
bool ParseFeedSerial(const char *text, unsigned *serial);

// An expiry is a UTC time written exactly "YYYY-MM-DDTHH:MM:SSZ", a real date and time (no leap second) of
// the years 1601 to 9999, those of the platform's FILETIME. It becomes seconds since 1601-01-01T00:00:00Z.
bool ParseExpiryTime(const char *text, unsigned long long *seconds);
