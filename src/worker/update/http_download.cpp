// HTTP download with progress.
//
// The opens and reads run on the run's network thread while the update thread waits for each a quarter
// second at a time. A server that stalls would otherwise hold the update thread inside the platform's read
// for ever: the platform's read neither times out nor returns when its handle is closed from another
// thread. While it waits, the update thread can ask the user to confirm an abort and can give up a
// download that has had no byte for 60 seconds; a read still blocked then is left behind with its
// buffers, which the network thread frees when the read returns or the process ends.
#include "http_download.h"
#include "download_progress.h"
#include "redirect_rule.h"
#include "../../common/heap.h"
#include "../../common/text.h"

unsigned largestReceived;
// The current body's reports to the dialog; only the progress notifications use it.
static DownloadReports downloadReports;

// Fewer than STALL_BYTES in STALL_LIMIT_MS is a stall: a drip never keeps a download alive.
static const DWORD STALL_LIMIT_MS = 60000;
// Connecting, sending the request and receiving the response headers, redirects included.
static const DWORD OPEN_LIMIT_MS = 60000;
static const DWORD WAIT_SLICE_MS = 250;
static const DWORD CLOSE_LIMIT_MS = 1000;
// The most that one read asks for. Under Wine each read costs a call to its server, and reads of this size
// were measured a quarter faster than reads of 409,600 bytes; larger ones no longer stay in the cache.
static const DWORD READ_CALL_BYTES = 4 * 409600;
static const unsigned SMALLEST_TRANSFER = 260;

// The most slots that a hashed body's reads cycle through.
static const LONG MOST_SLOTS = 8;
// The processor's page, the unit in which fresh memory is faulted in.
static const unsigned PAGE_BYTES = 4096;

enum BodyOutcome { BODY_ENDED, BODY_READ_FAILED, BODY_WRITE_FAILED, BODY_TOO_LONG };

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
    int end = record->base + record->span;
    int position;
    if (!NextDownloadPosition(&record->base, &record->span, record->total, received, &largestReceived, &position))
        return;
    DWORD now = GetTickCount();
    if (!DownloadReportDue(position, end, downloadReports, now))
        return;
    downloadReports.lastPosition = position;
    downloadReports.lastAt = now;
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

// An open handed to the network thread. Whoever is last frees it: the update thread when the open ended in
// time, the network thread when it was given up (it closes its late request too).
struct OpenJob {
    HINTERNET internet;
    ProgressRecord *context;
    HINTERNET request;
    char url[INTERNET_MAX_URL_LENGTH];
};

static void OpenCall(void *job)
{
    OpenJob *open = static_cast<OpenJob *>(job);
    open->request = OpenUrlNow(open->internet, open->url, open->context);
}

static void ReleaseOpen(void *job)
{
    OpenJob *open = static_cast<OpenJob *>(job);
    if (open->request)
        InternetCloseHandle(open->request);
    FreeBytes(open);
}

HINTERNET OpenUrl(NetworkThread **network, HINTERNET internet, const char *url, ProgressRecord *context,
                  StatusBlock *block)
{
    OpenJob *open = static_cast<OpenJob *>(AllocateBytes(sizeof(OpenJob)));
    if (!open)
        return 0;
    open->internet = internet;
    open->context = context;
    open->request = 0;
    if (!CopyText(open->url, sizeof open->url, url) || !PostNetworkCall(network, OpenCall, ReleaseOpen, open)) {
        FreeBytes(open);
        return 0;
    }
    DWORD started = GetTickCount();
    while (!WaitNetworkCall(*network, WAIT_SLICE_MS)) {
        bool stop = StopRequested(block);
        if ((stop || GetTickCount() - started >= OPEN_LIMIT_MS) && AbandonNetworkCall(network)) {
            if (!stop && block->state == STATE_RUNNING)
                block->state = STATE_FAILED;
            return 0;
        }
    }
    HINTERNET request = open->request;
    FreeBytes(open);
    return request;
}

static void CloseCall(void *request)
{
    InternetCloseHandle(static_cast<HINTERNET>(request));
}

void CloseUrl(NetworkThread **network, HINTERNET request)
{
    if (!PostNetworkCall(network, CloseCall, 0, request)) {
        InternetCloseHandle(request);
        return;
    }
    if (!WaitNetworkCall(*network, CLOSE_LIMIT_MS))
        AbandonNetworkCall(network);
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

// A body, read and written on the network thread in one call, as the plain loop of read and write would:
// each read lands in a slot of the transfer buffer and is written at once. When the body is hashed, the
// update thread hashes the slots behind the reads, and a read waits only while every slot is still to be
// hashed; otherwise one slot serves every read, which keeps it in the processor's cache.
//
// Whoever is last frees the record: the update thread after a normal end, the network thread when it was
// left behind in a read. The lock keeps a read that returns late from writing to a file that the update
// thread has closed by then: giving up takes it, and a write happens under it only while nobody has given up.
struct BodyJob {
    HINTERNET request;
    HANDLE file;
    char *buffer;
    DWORD slotSize;
    DWORD readSize;                // what the next read asks for, at most slotSize
    LONG slots;
    bool hashing;
    DWORD_PTR readerProcessors;    // where the reads run while the body is hashed; 0 leaves them be
    unsigned long long room;       // what the body may still bring; more is not written
    unsigned long long written;
    DWORD got[MOST_SLOTS];
    volatile LONG filled;          // reads written, counted from the body's start
    volatile LONG hashed;          // reads hashed by the update thread
    volatile LONG hasherWaits;     // 1 while the update thread waits for a read
    volatile LONG readerWaits;     // 1 while the reader waits for a slot
    HANDLE readDone;               // set for a waiting update thread after a read, and at the body's end
    HANDLE slotFree;               // set for a waiting reader after a slot is hashed
    volatile DWORD lastProgress;   // when the last STALL_BYTES had all arrived
    volatile bool ended;
    BodyOutcome outcome;
    CRITICAL_SECTION lock;
    volatile bool givenUp;
};

static void FreeBodyJob(BodyJob *body, bool withBuffer)
{
    if (withBuffer)
        FreeBytes(body->buffer);
    if (body->readDone)
        CloseHandle(body->readDone);
    if (body->slotFree)
        CloseHandle(body->slotFree);
    DeleteCriticalSection(&body->lock);
    FreeBytes(body);
}

// Lets the calling thread run only on the given processors; returns the ones it had, 0 on failure.
static DWORD_PTR RunOn(DWORD_PTR processors)
{
    return SetThreadAffinityMask(GetCurrentThread(), processors);
}

// Sets the event for the other side only when it waits: most reads and hashes then cost no call at all.
static void Wake(volatile LONG *waits, HANDLE event)
{
    if (InterlockedCompareExchange(waits, 0, 1) == 1)
        SetEvent(event);
}

// Waits on the event unless `ready` already holds; the flag is raised first, so a wake between the test
// and the wait leaves the event set rather than lost.
static void WaitUnless(volatile LONG *waits, HANDLE event, bool (*ready)(BodyJob *), BodyJob *body)
{
    InterlockedExchange(waits, 1);
    if (!ready(body))
        WaitForSingleObject(event, WAIT_SLICE_MS);
    InterlockedExchange(waits, 0);
}

static bool SlotFree(BodyJob *body)
{
    return body->filled - body->hashed < body->slots || body->givenUp;
}

static bool ReadWaiting(BodyJob *body)
{
    return body->hashed < body->filled || body->ended;
}

// Writes what one read brought, unless it is more than the body may still bring or the download was given up.
static BodyOutcome WriteRead(BodyJob *body, const char *data, DWORD size)
{
    if (size > body->room)
        return BODY_TOO_LONG;
    EnterCriticalSection(&body->lock);
    DWORD done = 0;
    bool written = !body->givenUp && WriteFile(body->file, data, size, &done, 0) && done == size;
    LeaveCriticalSection(&body->lock);
    body->room -= size;
    body->written += size;
    return written ? BODY_ENDED : BODY_WRITE_FAILED;
}

static void ReadBody(void *job)
{
    BodyJob *body = static_cast<BodyJob *>(job);
    BodyOutcome outcome = BODY_ENDED;
    unsigned sinceProgress = 0;
    DWORD_PTR formerProcessors = 0;
    if (body->readerProcessors)
        formerProcessors = RunOn(body->readerProcessors);
    while (!body->givenUp) {
        if (body->hashing && !SlotFree(body)) {
            while (!SlotFree(body))
                WaitUnless(&body->readerWaits, body->slotFree, SlotFree, body);
            // Time spent waiting for the hash, or for the user to answer the abort question, is not the
            // server's silence.
            body->lastProgress = GetTickCount();
        }
        if (body->givenUp)
            break;
        LONG slot = body->filled % body->slots;
        char *data = body->buffer + slot * body->slotSize;
        DWORD got = 0;
        DWORD started = GetTickCount();
        if (!InternetReadFile(body->request, data, body->readSize, &got)) {
            outcome = BODY_READ_FAILED;
            break;
        }
        if (got == 0)
            break;
        body->readSize = NextReadSize(body->readSize, got, GetTickCount() - started, body->slotSize);
        outcome = WriteRead(body, data, got);
        if (outcome != BODY_ENDED)
            break;
        body->got[slot] = got;
        InterlockedIncrement(&body->filled);
        // The hasher is woken for half the slots at a time: each wake costs a call to Wine's server.
        if (body->hashing && body->filled - body->hashed >= body->slots / 2)
            Wake(&body->hasherWaits, body->readDone);
        sinceProgress += got;
        if (sinceProgress >= STALL_BYTES) {
            sinceProgress = 0;
            body->lastProgress = GetTickCount();
        }
    }
    if (formerProcessors)
        RunOn(formerProcessors);
    body->outcome = outcome;
    body->ended = true;
    SetEvent(body->readDone);
}

static void ReleaseBody(void *job)
{
    FreeBodyJob(static_cast<BodyJob *>(job), true);
}

// The slots share the caller's buffer; a body that is not hashed needs only the first slot.
static BodyJob *NewBodyJob(HINTERNET request, HANDLE file, char *buffer, unsigned size, const DownloadRules *rules)
{
    BodyJob *body = static_cast<BodyJob *>(AllocateBytes(sizeof(BodyJob)));
    if (!body)
        return 0;
    body->request = request;
    body->file = file;
    body->buffer = buffer;
    body->slotSize = size < READ_CALL_BYTES ? size : READ_CALL_BYTES;
    body->readSize = FirstReadSize(body->slotSize);
    body->hashing = rules->hash != 0;
    body->readerProcessors = 0;
    body->slots = body->hashing ? size / body->slotSize : 1;
    if (body->slots > MOST_SLOTS)
        body->slots = MOST_SLOTS;
    body->room = rules->maxBytes;
    body->written = 0;
    body->filled = 0;
    body->hashed = 0;
    body->hasherWaits = 0;
    body->readerWaits = 0;
    body->lastProgress = GetTickCount();
    body->ended = false;
    body->outcome = BODY_ENDED;
    body->givenUp = false;
    InitializeCriticalSection(&body->lock);
    body->readDone = CreateEventA(0, FALSE, FALSE, 0);
    body->slotFree = CreateEventA(0, FALSE, FALSE, 0);
    if (body->readDone && body->slotFree)
        return body;
    FreeBodyJob(body, false);
    return 0;
}

// Hashes the reads that are written and not yet hashed, and frees their slots.
static void HashReads(BodyJob *body, Sha256 *hash)
{
    while (body->hashed < body->filled) {
        LONG slot = body->hashed % body->slots;
        Sha256Update(hash, body->buffer + slot * body->slotSize, body->got[slot]);
        InterlockedIncrement(&body->hashed);
        Wake(&body->readerWaits, body->slotFree);
    }
}

// Ends the download's use of the network thread. A read still in the network is left behind with the
// buffer; once this returns, nothing more is written.
static void EndBody(NetworkThread **network, BodyJob *body, bool reading, char **buffer)
{
    if (reading) {
        EnterCriticalSection(&body->lock);
        body->givenUp = true;
        LeaveCriticalSection(&body->lock);
        SetEvent(body->slotFree);
        if (AbandonNetworkCall(network)) {
            *buffer = 0;
            return;
        }
    }
    FreeBodyJob(body, false);
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

// Touches each page of the slots that the body will use, before its first read. Each page of a fresh buffer
// costs a fault when it is first written; taken by the reads, the faults land inside the network's copy, on
// the processor that the reads share with the connection: measured under Wine, the checked download of 100 MB
// was 3-6% faster with the pages touched here first. A body announced shorter than the slots touches no more.
static void TouchSlots(const BodyJob *body, unsigned long long announced)
{
    unsigned long long used = static_cast<unsigned long long>(body->slots) * body->slotSize;
    if (announced && announced < used)
        used = announced;
    for (unsigned long long at = 0; at < used; at += PAGE_BYTES)
        body->buffer[at] = 0;
}

// Keeps a hashed body's reads and hash on different processors while it downloads. The scheduler may wake the
// reader on the processor where the hash runs and leave it waiting there for the hash's whole time slice
// while another processor stands idle: measured on two processors, the checked download took 5-12% longer
// so. Returns the update thread's former processors, 0 when nothing was changed.
static DWORD_PTR KeepReadsAndHashApart(BodyJob *body)
{
    DWORD_PTR process = 0, system = 0;
    unsigned long long reader, hasher;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system) || !SplitProcessors(process, &reader, &hasher))
        return 0;
    DWORD_PTR former = RunOn(static_cast<DWORD_PTR>(hasher));
    if (former)
        body->readerProcessors = static_cast<DWORD_PTR>(reader);
    return former;
}

// Waits for the body's call to return, hashing behind its reads. False when the download is given up
// first: stopped, or stalled.
static bool WaitForBody(NetworkThread *network, BodyJob *body, Sha256 *hash, StatusBlock *block,
                        DownloadOutcome *outcome)
{
    for (;;) {
        if (hash) {
            HashReads(body, hash);
            if (body->ended) {
                // The call is returning: what it read last is hashed once it has.
                while (!WaitNetworkCall(network, WAIT_SLICE_MS)) {
                }
                HashReads(body, hash);
                return true;
            }
            WaitUnless(&body->hasherWaits, body->readDone, ReadWaiting, body);
        } else if (WaitNetworkCall(network, WAIT_SLICE_MS)) {
            return true;
        }
        if (StopRequested(block)) {
            *outcome = DOWNLOAD_STOPPED;
            return false;
        }
        if (GetTickCount() - body->lastProgress >= STALL_LIMIT_MS) {
            *outcome = DOWNLOAD_FAILED;
            return false;
        }
    }
}

DownloadOutcome DownloadToFile(NetworkThread **network, HINTERNET request, HANDLE file, char **buffer,
                               unsigned size, const DownloadRules *rules, ProgressRecord *record, StatusBlock *block)
{
    unsigned long long announced = AnnouncedLength(request);
    record->total = static_cast<unsigned>(announced);
    largestReceived = 0;
    downloadReports.lastPosition = 0;

    DownloadOutcome outcome = DOWNLOAD_FAILED;
    BodyJob *body = 0;
    // An announced length beyond the limit fails before a byte is read.
    if (announced > rules->maxBytes)
        outcome = DOWNLOAD_TOO_LONG;
    else if (!ContentEncoded(request))
        body = NewBodyJob(request, file, *buffer, size, rules);
    if (!body) {
        if (block->state == STATE_RUNNING)
            block->state = STATE_FAILED;
        record->span = 0;
        return outcome;
    }

    TouchSlots(body, announced);
    bool reading = false;
    DWORD_PTR formerProcessors = 0;
    if (StopRequested(block)) {
        outcome = DOWNLOAD_STOPPED;
    } else {
        if (rules->hash)
            formerProcessors = KeepReadsAndHashApart(body);
        reading = PostNetworkCall(network, ReadBody, ReleaseBody, body);
    }
    if (reading && WaitForBody(*network, body, rules->hash, block, &outcome)) {
        reading = false;
        // A body that ends before its promised or announced length is incomplete, not done.
        unsigned long long expected = rules->exactLength ? rules->maxBytes : record->total;
        if (body->outcome == BODY_TOO_LONG)
            outcome = DOWNLOAD_TOO_LONG;
        else if (body->outcome == BODY_ENDED && body->written >= expected)
            outcome = DOWNLOAD_COMPLETE;
    }
    EndBody(network, body, reading, buffer);
    if (formerProcessors)
        RunOn(formerProcessors);
    if (outcome != DOWNLOAD_COMPLETE && outcome != DOWNLOAD_STOPPED && block->state == STATE_RUNNING)
        block->state = STATE_FAILED;
    record->span = 0;
    return outcome;
}
