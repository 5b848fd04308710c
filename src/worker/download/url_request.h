// Opening and closing one request on the session's network thread, within a time limit.
#pragma once
#include <windows.h>
#include <wininet.h>
#include "fetch.h"

// Opens the URL with HTTP GET from `start` on. A status of 400 or more, or a redirect that the rule refuses,
// is no file: the result is none. The open is given up after 60 seconds or as soon as `stop` is not 0; the
// result is then none too, and *stopped tells which. A failure that was not a stop is noted in the run log.
HINTERNET OpenUrl(DownloadSession *session, const char *url, const FetchStart &start, DownloadMeter *meter,
                  const volatile unsigned short *stop, bool *stopped);

// Closes a request on the network thread, waiting for it at most a second. A close may first read the rest of
// an unread body (Wine's does, which at local speed takes minutes for a large archive): it then finishes
// behind the run, and the run goes on.
void CloseUrl(DownloadSession *session, HINTERNET request);

// The response's status code and announced length (0 when none).
FetchResponse ResponseOf(HINTERNET request);

// True when the server encoded the body (gzip, deflate...): that is not the file that was published.
bool ContentEncoded(HINTERNET request);

// The notification callback that passes received bytes to the request's meter.
void CALLBACK MeterCallback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID information, DWORD length);
