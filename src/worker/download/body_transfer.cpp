// Reading a body on the session's network thread.
//
// The reads run on the network thread while the calling thread waits for the body a quarter second at a time,
// free meanwhile to poll the stop state and to give up a download that has had no 4 KiB for 60 seconds; a read
// still blocked then is left behind with its buffer, which the network thread frees when the read returns or
// the process ends.
#include "body_transfer.h"
#include "wininet_library.h"
#include "download_progress.h"
#include "../../common/heap.h"

// Fewer than STALL_BYTES in STALL_LIMIT_MS is a stall: a drip never keeps a download alive.
static const DWORD STALL_LIMIT_MS = 60000;
static const DWORD WAIT_SLICE_MS = 250;
// The most that one read asks for: under Wine each read costs a call to its server, and larger reads no longer
// stay in the processor's cache.
static const DWORD READ_CALL_BYTES = 4 * 409600;
// The most slots that a checked body's reads cycle through.
static const LONG MOST_SLOTS = 8;
// The processor's page, the unit in which fresh memory is faulted in.
static const unsigned PAGE_BYTES = 4096;

enum BodyOutcome { BODY_ENDED, BODY_READ_FAILED, BODY_WRITE_FAILED, BODY_TOO_LONG };

// A body, read and written on the network thread in one call, as the plain loop of read and write would:
// each read lands in a slot of the transfer buffer and goes to the sink at once. When the sink checks the
// body (a hash), the calling thread checks the slots behind the reads, and a read waits only while every slot is still to be
// hashed; otherwise one slot serves every read, which keeps it in the processor's cache.
//
// Whoever is last frees the record: the update thread after a normal end, the network thread when it was
// left behind in a read. The lock keeps a read that returns late from writing to a sink that its caller has let
// go by then: giving up takes it, and a write happens under it only while nobody has given up.
struct BodyJob {
    HINTERNET request;
    DownloadSink *sink;
    char *buffer;
    DWORD slotSize;
    DWORD readSize;                // what the next read asks for, at most slotSize
    LONG slots;
    bool hashing;                  // the sink checks every byte behind the reads
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
    DWORD error;                   // why a read or a write failed
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
    bool written = !body->givenUp && body->sink->write(body->sink->context, data, size);
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
        if (!winInet.InternetReadFile(body->request, data, body->readSize, &got)) {
            body->error = GetLastError();
            outcome = BODY_READ_FAILED;
            break;
        }
        if (got == 0)
            break;
        body->readSize = NextReadSize(body->readSize, got, GetTickCount() - started, body->slotSize);
        outcome = WriteRead(body, data, got);
        if (outcome != BODY_ENDED) {
            body->error = outcome == BODY_WRITE_FAILED ? GetLastError() : ERROR_FILE_TOO_LARGE;
            break;
        }
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
static BodyJob *NewBodyJob(HINTERNET request, DownloadSink *sink, char *buffer, unsigned size, const FetchLimits &limits)
{
    BodyJob *body = static_cast<BodyJob *>(AllocateBytes(sizeof(BodyJob)));
    if (!body)
        return 0;
    body->request = request;
    body->sink = sink;
    body->buffer = buffer;
    body->slotSize = size < READ_CALL_BYTES ? size : READ_CALL_BYTES;
    body->readSize = FirstReadSize(body->slotSize);
    body->hashing = sink->check != 0;
    body->readerProcessors = 0;
    body->slots = body->hashing ? size / body->slotSize : 1;
    if (body->slots > MOST_SLOTS)
        body->slots = MOST_SLOTS;
    body->room = limits.maxBytes;
    body->written = 0;
    body->filled = 0;
    body->hashed = 0;
    body->hasherWaits = 0;
    body->readerWaits = 0;
    body->lastProgress = GetTickCount();
    body->ended = false;
    body->outcome = BODY_ENDED;
    body->error = 0;
    body->givenUp = false;
    InitializeCriticalSection(&body->lock);
    body->readDone = CreateEventA(0, FALSE, FALSE, 0);
    body->slotFree = CreateEventA(0, FALSE, FALSE, 0);
    if (body->readDone && body->slotFree)
        return body;
    FreeBodyJob(body, false);
    return 0;
}

// Gives the reads that are written and not yet checked to the sink's check, and frees their slots.
static void HashReads(BodyJob *body)
{
    DownloadSink *sink = body->sink;
    while (body->hashed < body->filled) {
        LONG slot = body->hashed % body->slots;
        sink->check(sink->context, body->buffer + slot * body->slotSize, body->got[slot]);
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

// Touches each page of the slots that the body will use, before its first read. Each page of a fresh buffer
// costs a fault when it is first written; taken by the reads, the faults land inside the network's copy, on
// the processor that the reads share with the connection (bench/README.md has the measurements). A body
// announced shorter than the slots touches no more.
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
// while another processor stands idle (bench/README.md has the measurements). Returns the update thread's former processors, 0 when nothing was changed.
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

// Waits for the body's call to return, checking behind its reads. False when the download is given up first:
// stopped, or stalled.
static bool WaitForBody(NetworkThread *network, BodyJob *body, const volatile unsigned short *stop,
                        FetchOutcome *outcome)
{
    for (;;) {
        if (body->hashing) {
            HashReads(body);
            if (body->ended) {
                // The call is returning: what it read last is checked once it has.
                while (!WaitNetworkCall(network, WAIT_SLICE_MS)) {
                }
                HashReads(body);
                return true;
            }
            WaitUnless(&body->hasherWaits, body->readDone, ReadWaiting, body);
        } else if (WaitNetworkCall(network, WAIT_SLICE_MS)) {
            return true;
        }
        if (*stop) {
            *outcome = FETCH_STOPPED;
            return false;
        }
        if (GetTickCount() - body->lastProgress >= STALL_LIMIT_MS) {
            *outcome = FETCH_FAILED;
            return false;
        }
    }
}

FetchOutcome TransferBody(DownloadSession *session, HINTERNET request, const FetchLimits &limits,
                          unsigned long long announced, char **buffer, unsigned size, DownloadSink *sink,
                          const volatile unsigned short *stop)
{
    BodyJob *body = NewBodyJob(request, sink, *buffer, size, limits);
    if (!body)
        return FETCH_FAILED;
    TouchSlots(body, announced);
    FetchOutcome outcome = FETCH_FAILED;
    // Why it failed, told through the thread's last error: a body given up for its silence, unless it ended.
    DWORD error = ERROR_TIMEOUT;
    bool reading = false;
    DWORD_PTR formerProcessors = 0;
    if (*stop) {
        outcome = FETCH_STOPPED;
    } else {
        if (body->hashing)
            formerProcessors = KeepReadsAndHashApart(body);
        reading = PostNetworkCall(&session->network, ReadBody, ReleaseBody, body);
    }
    if (reading && WaitForBody(session->network, body, stop, &outcome)) {
        reading = false;
        // A body that ends before its promised or announced length is incomplete, not done.
        unsigned long long expected = limits.exactLength ? limits.maxBytes : announced;
        if (body->outcome == BODY_TOO_LONG)
            outcome = FETCH_TOO_LONG;
        else if (body->outcome == BODY_ENDED && body->written >= expected)
            outcome = FETCH_COMPLETE;
        error = body->outcome == BODY_ENDED ? ERROR_HANDLE_EOF : body->error;
    }
    EndBody(&session->network, body, reading, buffer);
    if (formerProcessors)
        RunOn(formerProcessors);
    SetLastError(error);
    return outcome;
}
