// One fetch: open, size the transfer buffer, let the sink begin, read the body, close.
#include "fetch.h"
#include "wininet_library.h"
#include "body_transfer.h"
#include "download_progress.h"
#include "url_request.h"
#include "../run/run_log.h"
#include "../../common/heap.h"

// The buffer's size when what the server has ready cannot be queried, and the least worth halving to.
static const unsigned FALLBACK_TRANSFER = 1024;
static const unsigned SMALLEST_TRANSFER = 260;

bool BeginDownloadSession(DownloadSession *session, bool withProgress)
{
    session->internet = 0;
    if (!LoadWinInet())
        return false;
    session->internet = winInet.InternetOpenA("Kovrel", INTERNET_OPEN_TYPE_PRECONFIG, 0, 0, 0);
    if (session->internet && withProgress)
        winInet.InternetSetStatusCallback(session->internet, MeterCallback);
    return session->internet != 0;
}

void EndDownloadSession(DownloadSession *session)
{
    EndNetworkThread(&session->network);
    if (session->internet)
        winInet.InternetCloseHandle(session->internet);
    session->internet = 0;
}

// The transfer buffer, halved while the allocation fails. Sized from what the server has ready for a small
// body; at its largest otherwise: right after a request opens only a few bytes are ready, and a large body read
// in such small chunks costs many times the platform's own speed.
static char *AllocateTransferBuffer(HINTERNET request, const FetchLimits &limits, unsigned *size)
{
    DWORD ready = 0;
    bool queried = limits.bufferFromReady && winInet.InternetQueryDataAvailable(request, &ready, 0, 0) != FALSE;
    unsigned tried = limits.bufferFromReady ? TransferBufferSize(queried, ready, FALLBACK_TRANSFER, limits.bufferBytes)
                                            : limits.bufferBytes;
    for (;;) {
        char *buffer = static_cast<char *>(AllocateBytes(tried));
        if (buffer) {
            *size = tried;
            return buffer;
        }
        if (tried < SMALLEST_TRANSFER)
            return 0;
        tried >>= 1;
    }
}

FetchOutcome FetchUrl(DownloadSession *session, const char *url, const FetchStart &start, const FetchLimits &limits,
                      DownloadSink *sink, const volatile unsigned short *stop)
{
    bool stopped = false;
    HINTERNET request = OpenUrl(session, url, start, sink->meter, stop, &stopped);
    if (!request)
        return stopped ? FETCH_STOPPED : FETCH_OPEN_FAILED;
    FetchResponse response = ResponseOf(request);
    if (sink->meter)
        sink->meter->total = response.announced;
    FetchOutcome outcome = FETCH_REFUSED;
    unsigned size = 0;
    char *buffer = AllocateTransferBuffer(request, limits, &size);
    if (buffer && sink->begin(sink->context, response)) {
        // An announced length beyond the limit fails before a byte is read.
        DWORD error = ERROR_FILE_TOO_LARGE;
        if (response.announced > limits.maxBytes) {
            outcome = FETCH_TOO_LONG;
        } else if (ContentEncoded(request)) {
            outcome = FETCH_FAILED;
            error = ERROR_NOT_SUPPORTED;
        } else {
            outcome = TransferBody(session, request, limits, response.announced, &buffer, size, sink, stop);
            error = GetLastError();
        }
        if (outcome == FETCH_TOO_LONG || outcome == FETCH_FAILED)
            NoteFailure(error, url);
    } else if (!buffer) {
        NoteFailure(ERROR_NOT_ENOUGH_MEMORY, url);
    }
    FreeBytes(buffer);
    CloseUrl(session, request);
    return outcome;
}
