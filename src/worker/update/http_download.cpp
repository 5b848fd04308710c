// HTTP download with progress.
//
// The reads run on a reader thread of their own while the update thread waits for each chunk a quarter
// second at a time. A server that stalls would otherwise hold the update thread inside the platform's read
// for ever: the platform's read neither times out nor returns when its handle is closed from another
// thread. While it waits, the update thread can ask the user to confirm an abort and can give up a
// download that has had no byte for 60 seconds; a reader still blocked then is left behind with its
// buffer and frees both when its read returns or the process ends.
#include "http_download.h"
#include "download_progress.h"
#include "redirect_rule.h"
#include "../../common/heap.h"
#include "../../common/text.h"

unsigned largestReceived;

// Fewer than STALL_BYTES in STALL_LIMIT_MS is a stall: a drip never keeps a download alive.
static const DWORD STALL_LIMIT_MS = 60000;
static const unsigned STALL_BYTES = 4096;
// Connecting, sending the request and receiving the response headers, redirects included.
static const DWORD OPEN_LIMIT_MS = 60000;
static const DWORD WAIT_SLICE_MS = 250;
// The longest a chunk of the body collects before it is handed over, however slow the link.
static const DWORD CHUNK_TIME_MS = 1000;
static const DWORD READ_CALL_BYTES = 409600;
static const unsigned SMALLEST_TRANSFER = 260;

HINTERNET OpenInternet()
{
    return InternetOpenA("Kovrel", INTERNET_OPEN_TYPE_PRECONFIG, 0, 0, 0);
}

void CALLBACK DownloadStatusCallback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID information, DWORD)
{
    ProgressRecord *record = reinterpret_cast<ProgressRecord *>(context);
    if (!record || record->counter != DOWNLOAD_TAG || status != INTERNET_STATUS_RESPONSE_RECEIVED ||
        record->span <= 0)
        return;
    unsigned received = information ? *static_cast<DWORD *>(information) : 0;
    int position;
    if (NextDownloadPosition(&record->base, &record->span, record->total, received, &largestReceived, &position))
        SendStatus(record->block, STATUS_PROGRESS, position);
}

static HINTERNET OpenUrlNow(HINTERNET internet, const char *url, ProgressRecord *context)
{
    // Always from the server: a cached copy of the information file would hide a new version. Redirects are
    // followed here, so that their number is bounded and https never leads to plain http.
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                  INTERNET_FLAG_NO_AUTO_REDIRECT;
    char current[INTERNET_MAX_URL_LENGTH];
    char location[INTERNET_MAX_URL_LENGTH];
    if (!CopyText(current, sizeof current, url))
        return 0;
    for (unsigned hops = 0;; hops++) {
        HINTERNET request = InternetOpenUrlA(internet, current, 0, 0, flags, reinterpret_cast<DWORD_PTR>(context));
        if (!request)
            return 0;
        DWORD code = 0;
        DWORD length = sizeof code;
        if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &length, 0) ||
            (code < 400 && !IsRedirectStatus(code)))
            return request;
        length = sizeof location;
        bool follow = IsRedirectStatus(code) && hops < MOST_REDIRECTS &&
                      HttpQueryInfoA(request, HTTP_QUERY_LOCATION, location, &length, 0);
        InternetCloseHandle(request);
        // A status of 400 or more is not a file; a redirect is followed only where the rule allows.
        char next[INTERNET_MAX_URL_LENGTH];
        DWORD nextLength = sizeof next;
        if (!follow || !InternetCombineUrlA(current, location, next, &nextLength, ICU_ENCODE_SPACES_ONLY) ||
            !RedirectAllowed(current, next) || !CopyText(current, sizeof current, next))
            return 0;
    }
}

// An abort request is put to the user at once; a declined one lets the download go on.
static bool StopRequested(StatusBlock *block)
{
    if (block->state == STATE_RUNNING)
        return false;
    if (ShouldStop(block)) {
        if (block->state >= STATE_ABORT_REQUESTED)
            block->state = STATE_ABORTED; // confirmed: the end of the run asks no second time
        return true;
    }
    return false;
}

// What the update thread and the opening thread share. Whoever is last frees it: the update thread when the
// open ended in time, the opening thread when it was left behind (it closes its late request too).
struct PendingOpen {
    HINTERNET internet;
    ProgressRecord *context;
    HINTERNET request;
    volatile LONG state; // OPEN_PENDING, OPEN_FINISHED or OPEN_ABANDONED
    char url[INTERNET_MAX_URL_LENGTH];
};

enum { OPEN_PENDING, OPEN_FINISHED, OPEN_ABANDONED };

static DWORD WINAPI OpenThread(void *parameter)
{
    PendingOpen *open = static_cast<PendingOpen *>(parameter);
    open->request = OpenUrlNow(open->internet, open->url, open->context);
    if (InterlockedCompareExchange(&open->state, OPEN_FINISHED, OPEN_PENDING) == OPEN_ABANDONED) {
        if (open->request)
            InternetCloseHandle(open->request);
        FreeBytes(open);
    }
    return 0;
}

HINTERNET OpenUrl(HINTERNET internet, const char *url, ProgressRecord *context, StatusBlock *block)
{
    // The platform's own time-outs are not honoured everywhere, and its calls are not woken by closing
    // their handles: the open runs on a thread of its own, waited for a quarter second at a time.
    PendingOpen *open = static_cast<PendingOpen *>(AllocateBytes(sizeof(PendingOpen)));
    if (!open)
        return 0;
    open->internet = internet;
    open->context = context;
    open->request = 0;
    open->state = OPEN_PENDING;
    HANDLE thread = CopyText(open->url, sizeof open->url, url) ? CreateThread(0, 0, OpenThread, open, 0, 0) : 0;
    if (!thread) {
        FreeBytes(open);
        return 0;
    }
    DWORD started = GetTickCount();
    while (WaitForSingleObject(thread, WAIT_SLICE_MS) == WAIT_TIMEOUT) {
        bool stop = StopRequested(block);
        if ((stop || GetTickCount() - started >= OPEN_LIMIT_MS) &&
            InterlockedCompareExchange(&open->state, OPEN_ABANDONED, OPEN_PENDING) == OPEN_PENDING) {
            CloseHandle(thread);
            if (!stop && block->state == STATE_RUNNING)
                block->state = STATE_FAILED;
            return 0;
        }
    }
    CloseHandle(thread);
    HINTERNET request = open->request;
    FreeBytes(open);
    return request;
}

unsigned long long AnnouncedLength(HINTERNET request)
{
    DWORD announced = 0;
    DWORD length = sizeof announced;
    return HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &announced, &length, 0)
               ? announced
               : 0;
}

HANDLE CreateOutputFile(const char *path)
{
    return CreateFileA(path, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN, 0);
}

bool AllocateTransferBuffer(HINTERNET request, unsigned cap, bool fromReady, char **buffer, unsigned *size)
{
    DWORD ready = 0;
    bool queried = fromReady && InternetQueryDataAvailable(request, &ready, 0, 0) != FALSE;
    unsigned tried = fromReady ? TransferBufferSize(queried, ready, *size, cap) : cap;
    for (;;) {
        *buffer = static_cast<char *>(AllocateBytes(tried));
        if (*buffer) {
            *size = tried;
            return true;
        }
        if (tried < SMALLEST_TRANSFER)
            return false;
        tried >>= 1;
    }
}

// What the update thread and the reader share. The reader fills a buffer; the update thread writes it, asks
// for the next chunk in the other buffer, and hashes this one while the next is read. Reading while writing
// was measured slower on two cores, where the server, the reader and the writer then compete for them. The
// reader exists so that a silent server or an abort never holds the update thread. Whoever is last frees the
// record: the update thread after a normal end, the reader when it was left behind with a read in the network.
struct PendingRead {
    HINTERNET request;
    char *buffers[2];
    volatile LONG next;    // the buffer that the next read fills
    DWORD size;
    DWORD got;
    BOOL ok;
    HANDLE wanted;         // set by the update thread: read one chunk, or end when abandoned is set
    HANDLE done;           // set by the reader: the chunk is in the buffer
    volatile LONG abandoned;
};

static void FreePendingRead(PendingRead *read, bool withBuffers)
{
    if (withBuffers)
        FreeBytes(read->buffers[0]);
    FreeBytes(read->buffers[1]);
    CloseHandle(read->wanted);
    CloseHandle(read->done);
    FreeBytes(read);
}

// Fills the next buffer with what arrives: until it is full, the body ends, or a second has passed. Each
// read asks for a part of the buffer only, since a synchronous read may wait until all it asked for has come,
// which a slow link would take minutes to bring.
static void FillChunk(PendingRead *read)
{
    char *buffer = read->buffers[read->next];
    DWORD filled = 0;
    DWORD started = GetTickCount();
    BOOL ok = TRUE;
    while (filled < read->size && !read->abandoned) {
        DWORD wanted = read->size - filled < READ_CALL_BYTES ? read->size - filled : READ_CALL_BYTES;
        DWORD got = 0;
        ok = InternetReadFile(read->request, buffer + filled, wanted, &got);
        filled += ok ? got : 0;
        if (!ok || got == 0 || GetTickCount() - started >= CHUNK_TIME_MS)
            break;
    }
    read->got = filled;
    read->ok = ok;
}

static DWORD WINAPI ReaderThread(void *parameter)
{
    PendingRead *read = static_cast<PendingRead *>(parameter);
    for (;;) {
        WaitForSingleObject(read->wanted, INFINITE);
        if (read->abandoned)
            break;
        FillChunk(read);
        if (read->abandoned)
            break;
        SetEvent(read->done);
    }
    // Left behind by a given-up download: the buffers and the record are the reader's to free.
    if (read->abandoned == 2)
        FreePendingRead(read, true);
    return 0;
}

static PendingRead *StartReader(HINTERNET request, char *buffer, unsigned size, HANDLE *thread)
{
    PendingRead *read = static_cast<PendingRead *>(AllocateBytes(sizeof(PendingRead)));
    if (!read)
        return 0;
    read->request = request;
    read->buffers[0] = buffer;
    read->buffers[1] = static_cast<char *>(AllocateBytes(size));
    read->next = 0;
    read->size = size;
    read->abandoned = 0;
    read->wanted = CreateEventA(0, FALSE, FALSE, 0);
    read->done = CreateEventA(0, FALSE, FALSE, 0);
    *thread = read->buffers[1] && read->wanted && read->done ? CreateThread(0, 0, ReaderThread, read, 0, 0) : 0;
    if (*thread)
        return read;
    if (read->wanted)
        CloseHandle(read->wanted);
    if (read->done)
        CloseHandle(read->done);
    FreeBytes(read->buffers[1]);
    FreeBytes(read);
    return 0;
}

// Ends the reader. An idle reader is waited for; one with a read still in the network keeps the buffers.
static void EndReader(PendingRead *read, HANDLE thread, bool reading, char **buffer)
{
    if (reading) {
        *buffer = 0;
        InterlockedExchange(&read->abandoned, 2);
        SetEvent(read->wanted);
        CloseHandle(thread);
        return;
    }
    InterlockedExchange(&read->abandoned, 1);
    SetEvent(read->wanted);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    FreePendingRead(read, false);
}

// A body the server encoded (gzip, deflate...) is not the file that was published; it is refused rather
// than stored as if it were.
static bool ContentEncoded(HINTERNET request)
{
    char encoding[32];
    DWORD size = sizeof encoding;
    if (HttpQueryInfoA(request, HTTP_QUERY_CONTENT_ENCODING, encoding, &size, 0))
        return lstrcmpiA(encoding, "identity") != 0;
    return GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

// Waits for the chunk being read. False when the download is given up first: stopped, or stalled.
static bool WaitForChunk(PendingRead *read, StatusBlock *block, DWORD lastProgress, DownloadOutcome *outcome)
{
    for (;;) {
        if (WaitForSingleObject(read->done, WAIT_SLICE_MS) == WAIT_OBJECT_0)
            return true;
        if (StopRequested(block)) {
            *outcome = DOWNLOAD_STOPPED;
            return false;
        }
        if (GetTickCount() - lastProgress >= STALL_LIMIT_MS) {
            *outcome = DOWNLOAD_FAILED;
            return false;
        }
    }
}

DownloadOutcome DownloadToFile(HINTERNET request, HANDLE file, char **buffer, unsigned size,
                               const DownloadRules *rules, ProgressRecord *record, StatusBlock *block)
{
    unsigned long long announced = AnnouncedLength(request);
    record->total = static_cast<unsigned>(announced);

    DownloadOutcome outcome = DOWNLOAD_FAILED;
    HANDLE thread = 0;
    PendingRead *read = 0;
    // An announced length beyond the limit fails before a byte is read.
    if (announced > rules->maxBytes)
        outcome = DOWNLOAD_TOO_LONG;
    else if (!ContentEncoded(request))
        read = StartReader(request, *buffer, size, &thread);
    if (!read) {
        if (block->state == STATE_RUNNING)
            block->state = STATE_FAILED;
        record->span = 0;
        return outcome;
    }

    unsigned long long written = 0;
    // The stall clock restarts each time another STALL_BYTES have arrived.
    DWORD lastProgress = GetTickCount();
    unsigned sinceProgress = 0;
    bool reading = false;
    if (!StopRequested(block)) {
        SetEvent(read->wanted);
        reading = true;
    } else {
        outcome = DOWNLOAD_STOPPED;
    }
    while (reading) {
        if (!WaitForChunk(read, block, lastProgress, &outcome))
            break;
        reading = false;
        char *chunk = read->buffers[read->next];
        DWORD got = read->got;
        if (!read->ok)
            break;
        if (got == 0) {
            // A body that ends before its promised or announced length is incomplete, not done.
            unsigned long long expected = rules->exactLength ? rules->maxBytes : record->total;
            if (written >= expected)
                outcome = DOWNLOAD_COMPLETE;
            break;
        }
        if (got > rules->maxBytes - written) {
            outcome = DOWNLOAD_TOO_LONG;
            break;
        }
        DWORD done = 0;
        if (!WriteFile(file, chunk, got, &done, 0) || done != got) {
            outcome = DOWNLOAD_FAILED;
            break;
        }
        if (!StopRequested(block)) {
            InterlockedExchange(&read->next, read->next ^ 1);
            SetEvent(read->wanted);
            reading = true;
        } else {
            outcome = DOWNLOAD_STOPPED;
        }
        if (rules->hash)
            Sha256Update(rules->hash, chunk, got);
        written += got;
        sinceProgress += got;
        if (sinceProgress >= STALL_BYTES) {
            sinceProgress = 0;
            lastProgress = GetTickCount();
        } else if (GetTickCount() - lastProgress >= STALL_LIMIT_MS) {
            outcome = DOWNLOAD_FAILED; // a drip: too few bytes for too long
            break;
        }
    }
    EndReader(read, thread, reading, buffer);
    if (outcome != DOWNLOAD_COMPLETE && outcome != DOWNLOAD_STOPPED && block->state == STATE_RUNNING)
        block->state = STATE_FAILED;
    record->span = 0;
    return outcome;
}
