// Opening a URL. The opens run on the session's network thread while the calling thread waits for each a
// quarter second at a time: a server that stalls would otherwise hold it inside the platform's call for ever,
// as that call neither times out nor returns when its handle is closed from another thread.
#include "url_request.h"
#include "wininet_library.h"
#include "range_request.h"
#include "redirect_rule.h"
#include "../run/run_log.h"
#include "../../common/heap.h"
#include "../../common/text.h"

// Connecting, sending the request and receiving the response headers, redirects included.
static const DWORD OPEN_LIMIT_MS = 60000;
static const DWORD WAIT_SLICE_MS = 250;
static const DWORD CLOSE_LIMIT_MS = 1000;
// A range and a validator of up to 256 bytes.
static const unsigned HEADERS_CAP = 64 + 256;

void CALLBACK MeterCallback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID information, DWORD)
{
    DownloadMeter *meter = reinterpret_cast<DownloadMeter *>(context);
    if (meter && status == INTERNET_STATUS_RESPONSE_RECEIVED && meter->received)
        meter->received(meter, information ? *static_cast<DWORD *>(information) : 0);
}

// Why an open failed: the platform's error, or the status that is no file, and the URL that failed.
struct OpenFailure {
    DWORD error;
    unsigned status;
    char url[INTERNET_MAX_URL_LENGTH];
};

static HINTERNET OpenUrlNow(HINTERNET internet, const char *url, const char *headers, DownloadMeter *meter,
                            OpenFailure *failure)
{
    // Always from the server: a cached copy of the information file would hide a new version. Redirects are
    // followed here, so that their number is bounded and https never leads to plain http.
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                  INTERNET_FLAG_NO_AUTO_REDIRECT;
    char *current = failure->url;
    char location[INTERNET_MAX_URL_LENGTH];
    failure->error = ERROR_FILENAME_EXCED_RANGE;
    if (!CopyText(current, sizeof failure->url, url))
        return 0;
    DWORD headersLength = headers[0] ? static_cast<DWORD>(-1) : 0;
    for (unsigned hops = 0;; hops++) {
        HINTERNET request = winInet.InternetOpenUrlA(internet, current, headers[0] ? headers : 0, headersLength, flags,
                                             reinterpret_cast<DWORD_PTR>(meter));
        failure->error = GetLastError();
        if (!request)
            return 0;
        DWORD code = 0;
        DWORD length = sizeof code;
        if (!winInet.HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &length, 0) ||
            (code < 400 && !IsRedirectStatus(code)))
            return request;
        length = sizeof location;
        bool follow = IsRedirectStatus(code) && hops < MOST_REDIRECTS &&
                      winInet.HttpQueryInfoA(request, HTTP_QUERY_LOCATION, location, &length, 0);
        winInet.InternetCloseHandle(request);
        failure->status = code;
        // A status of 400 or more is not a file; a redirect is followed only where the rule allows.
        char next[INTERNET_MAX_URL_LENGTH];
        DWORD nextLength = sizeof next;
        if (!follow || !winInet.InternetCombineUrlA(current, location, next, &nextLength, ICU_ENCODE_SPACES_ONLY) ||
            !RedirectAllowed(current, next) || !CopyText(current, sizeof failure->url, next))
            return 0;
        failure->status = 0;
    }
}

// An open handed to the network thread. Whoever is last frees it: the calling thread when the open ended in
// time, the network thread when it was given up (it closes its late request too).
struct OpenJob {
    HINTERNET internet;
    DownloadMeter *meter;
    HINTERNET request;
    char url[INTERNET_MAX_URL_LENGTH];
    char headers[HEADERS_CAP];
    OpenFailure failure;
};

static void OpenCall(void *job)
{
    OpenJob *open = static_cast<OpenJob *>(job);
    open->request = OpenUrlNow(open->internet, open->url, open->headers, open->meter, &open->failure);
}

static void ReleaseOpen(void *job)
{
    OpenJob *open = static_cast<OpenJob *>(job);
    if (open->request)
        winInet.InternetCloseHandle(open->request);
    FreeBytes(open);
}

HINTERNET OpenUrl(DownloadSession *session, const char *url, const FetchStart &start, DownloadMeter *meter,
                  const volatile unsigned short *stop, bool *stopped)
{
    *stopped = false;
    OpenJob *open = static_cast<OpenJob *>(AllocateBytes(sizeof(OpenJob)));
    if (!open)
        return 0;
    open->internet = session->internet;
    open->meter = meter;
    open->request = 0;
    open->failure.status = 0;
    if (!url || !url[0] || !CopyText(open->url, sizeof open->url, url) ||
        !ComposeRangeHeaders(start.offset, start.validator, open->headers, sizeof open->headers) ||
        !PostNetworkCall(&session->network, OpenCall, ReleaseOpen, open)) {
        FreeBytes(open);
        return 0;
    }
    DWORD started = GetTickCount();
    while (!WaitNetworkCall(session->network, WAIT_SLICE_MS)) {
        *stopped = *stop != 0;
        if ((*stopped || GetTickCount() - started >= OPEN_LIMIT_MS) && AbandonNetworkCall(&session->network)) {
            if (!*stopped)
                NoteFailure(ERROR_TIMEOUT, url);
            return 0;
        }
        *stopped = false;
    }
    HINTERNET request = open->request;
    if (!request && open->failure.status)
        NoteHttpStatus(open->failure.status, open->failure.url);
    else if (!request)
        NoteFailure(open->failure.error, open->failure.url);
    FreeBytes(open);
    return request;
}

static void CloseCall(void *request)
{
    winInet.InternetCloseHandle(static_cast<HINTERNET>(request));
}

void CloseUrl(DownloadSession *session, HINTERNET request)
{
    if (!PostNetworkCall(&session->network, CloseCall, 0, request)) {
        winInet.InternetCloseHandle(request);
        return;
    }
    if (!WaitNetworkCall(session->network, CLOSE_LIMIT_MS))
        AbandonNetworkCall(&session->network);
}

FetchResponse ResponseOf(HINTERNET request)
{
    FetchResponse response = {};
    DWORD value = 0;
    DWORD length = sizeof value;
    if (winInet.HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &value, &length, 0))
        response.status = value;
    value = 0;
    length = sizeof value;
    if (winInet.HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &value, &length, 0))
        response.announced = value;
    char range[96];
    length = sizeof range;
    response.tail = response.status == 206 &&
                    winInet.HttpQueryInfoA(request, HTTP_QUERY_CONTENT_RANGE, range, &length, 0) &&
                    ParseContentRange(range, &response.rangeFirst, &response.rangeTotal);
    length = sizeof response.validator;
    if (!winInet.HttpQueryInfoA(request, HTTP_QUERY_ETAG, response.validator, &length, 0)) {
        length = sizeof response.validator;
        if (!winInet.HttpQueryInfoA(request, HTTP_QUERY_LAST_MODIFIED, response.validator, &length, 0))
            response.validator[0] = 0;
    }
    return response;
}

bool ContentEncoded(HINTERNET request)
{
    char encoding[32];
    DWORD size = sizeof encoding;
    if (winInet.HttpQueryInfoA(request, HTTP_QUERY_CONTENT_ENCODING, encoding, &size, 0))
        return lstrcmpiA(encoding, "identity") != 0;
    return GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}
