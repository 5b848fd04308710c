// Which redirects a download follows. Redirects are followed by hand rather than by the platform, which
// follows any number of them and from https to plain http.
#pragma once

const unsigned MOST_REDIRECTS = 10;

// True for the statuses that send the client elsewhere: 301, 302, 303, 307 and 308.
bool IsRedirectStatus(unsigned status);

// True when the URL's scheme is http or https (either case).
bool IsWebUrl(const char *url);

// True when the URL's scheme is https (either case).
bool IsSecureUrl(const char *url);

// A redirect may lead only to an http or https URL, and never from https to anything but https.
bool RedirectAllowed(const char *from, const char *to);
