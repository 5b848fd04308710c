// Fetching one URL into a sink that the caller owns.
//
// The download knows no file, dialog or global: the body's bytes go to the sink's write (and, for a hash, to
// its check), the progress notifications to its meter, and a stop is a state that the caller's side sets and
// the download only polls. The platform's blocking calls run on the session's network thread, so that a
// silent server or a stop never holds the calling thread inside them.
#pragma once
#include <windows.h>
#include <wininet.h>
#include "network_thread.h"

// One run's network: the root Internet handle and the thread that makes the blocking calls.
struct DownloadSession {
    HINTERNET internet;
    NetworkThread *network;
};

// Opens the root handle (agent "Kovrel", the system's proxy settings); with `withProgress` the platform's
// notifications reach the meters of the fetches. False when it cannot be opened.
bool BeginDownloadSession(DownloadSession *session, bool withProgress);

// Ends the network thread and closes the root handle.
void EndDownloadSession(DownloadSession *session);

// Told the bytes of each of the platform's received-bytes notifications while a body is read. It is the
// request's context, and a notification may still come from a read left behind after the fetch gave up: a
// meter lives as long as the process.
struct DownloadMeter {
    void (*received)(DownloadMeter *meter, unsigned bytes);
    unsigned long long total; // set by the fetch before the body: the announced length, 0 when none
};

// What the response says before its body is read.
struct FetchResponse {
    unsigned status;              // 200, or 206 for a part
    unsigned long long announced; // the announced length, 0 when none
    bool tail;                    // a 206 whose Content-Range runs from rangeFirst to the file's end
    unsigned long long rangeFirst;
    unsigned long long rangeTotal;
    char validator[256];          // the ETag, else the Last-Modified date, as sent; "" when neither
};

// Where the body goes. The caller owns it and everything that it writes to.
struct DownloadSink {
    void *context;
    // Once the response is in and the transfer buffer is had, before the first read: false refuses the body.
    bool (*begin)(void *context, const FetchResponse &response);
    // The bytes of each read, in order, on the network thread; false fails the fetch.
    bool (*write)(void *context, const char *data, unsigned size);
    // When set, every byte once more, in order, on the calling thread behind the reads (a hash).
    void (*check)(void *context, const char *data, unsigned size);
    DownloadMeter *meter; // none: no progress is told
};

struct FetchLimits {
    unsigned long long maxBytes; // a body, or its announced length, past this is refused
    bool exactLength;            // the body must be exactly maxBytes long
    unsigned bufferBytes;        // the largest transfer buffer
    bool bufferFromReady;        // size the buffer from what the server has ready (a small body)
};

// Where a fetch starts: 0 and none for a whole body. From a later offset it asks for the rest with a range
// and, given a validator (an ETag or a Last-Modified date), only while the file is still that one.
struct FetchStart {
    unsigned long long offset;
    const char *validator;
};

enum FetchOutcome {
    FETCH_COMPLETE,
    FETCH_OPEN_FAILED, // no connection or response, a status of 400 or more, a refused redirect, 60 s silent
    FETCH_REFUSED,     // the sink's begin refused the body, or no transfer buffer could be had
    FETCH_FAILED,      // a read or a write failed, the body ended short, was encoded, or stalled
    FETCH_TOO_LONG,    // the body, or its announced length, went past maxBytes
    FETCH_STOPPED,     // the stop state left 0
};

// Fetches the URL: opens it (following at most MOST_REDIRECTS redirects, never from https to http, always
// from the server), reads its body into the sink under the limits, and closes it again. `stop` is polled at
// least every quarter second; the fetch ends as soon as it is not 0.
FetchOutcome FetchUrl(DownloadSession *session, const char *url, const FetchStart &start, const FetchLimits &limits,
                      DownloadSink *sink, const volatile unsigned short *stop);
