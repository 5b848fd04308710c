// The archive's promised size (APP_SIZE, decimal bytes) and SHA-256 (APP_SHA256, 64 hex digits), as text.
#pragma once

// A size is decimal digits only, at most 18 of them. False for anything else, the empty text included.
bool ParseArchiveSize(const char *text, unsigned long long *size);

// A digest is exactly 64 hex digits of either case.
bool ParseSha256Text(const char *text, unsigned char digest[32]);
