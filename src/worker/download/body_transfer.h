// Reading one body into a sink, on the session's network thread.
#pragma once
#include "fetch.h"

// Reads the open request's body into the sink: never more than limits.maxBytes, and, for a body with a known
// length (limits.exactLength, or an announced one), exactly that much. `*buffer` (`size` bytes) holds the
// reads; it is left with a read still blocked in the network when the body is given up, and is none on return
// then. The read gives up after 60 seconds with fewer than 4 KiB, or when `stop` is not 0. A failure leaves its
// cause in the thread's last error.
FetchOutcome TransferBody(DownloadSession *session, HINTERNET request, const FetchLimits &limits,
                          unsigned long long announced, char **buffer, unsigned size, DownloadSink *sink,
                          const volatile unsigned short *stop);
