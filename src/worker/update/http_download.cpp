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
#include "../../common/heap.h"

unsigned largestReceived;

static const DWORD STALL_LIMIT_MS = 60000;
static const DWORD WAIT_SLICE_MS = 250;
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

HINTERNET OpenUrl(HINTERNET internet, const char *url, ProgressRecord *context)
{
    // Always from the server: a cached copy of the information file would hide a new version.
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
    HINTERNET request = InternetOpenUrlA(internet, url, 0, 0, flags, reinterpret_cast<DWORD_PTR>(context));
    if (!request)
        return 0;
    DWORD code = 0;
    DWORD length = sizeof code;
    if (HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &length, 0) && code >= 400) {
        InternetCloseHandle(request);
        return 0;
    }
    return request;
}

HANDLE CreateOutputFile(const char *path)
{
    return CreateFileA(path, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN, 0);
}

bool AllocateTransferBuffer(HINTERNET request, unsigned cap, char **buffer, unsigned *size)
{
    DWORD ready = 0;
    bool queried = InternetQueryDataAvailable(request, &ready, 0, 0) != FALSE;
    unsigned tried = TransferBufferSize(queried, ready, *size, cap);
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

// What the update thread and the reader share. Whoever is last frees it: the update thread after a normal
// end, the reader when it was left behind.
struct PendingRead {
    HINTERNET request;
    char *buffer;
    DWORD size;
    DWORD got;
    BOOL ok;
    HANDLE wanted;         // set by the update thread: read one chunk, or end when abandoned is set
    HANDLE done;           // set by the reader: the chunk is in the buffer
    volatile LONG abandoned;
};

static void FreePendingRead(PendingRead *read, bool withBuffer)
{
    if (withBuffer)
        FreeBytes(read->buffer);
    CloseHandle(read->wanted);
    CloseHandle(read->done);
    FreeBytes(read);
}

static DWORD WINAPI ReaderThread(void *parameter)
{
    PendingRead *read = static_cast<PendingRead *>(parameter);
    for (;;) {
        WaitForSingleObject(read->wanted, INFINITE);
        if (read->abandoned)
            break;
        read->ok = InternetReadFile(read->request, read->buffer, read->size, &read->got);
        if (read->abandoned)
            break;
        SetEvent(read->done);
    }
    // Left behind by a given-up download: the buffer and the record are the reader's to free.
    if (read->abandoned == 2)
        FreePendingRead(read, true);
    return 0;
}

// Ends the reader. A finished reader is waited for; one still blocked in the network keeps the buffer.
static void EndReader(PendingRead *read, HANDLE thread, bool blocked, char **buffer)
{
    if (blocked) {
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

DownloadOutcome DownloadToFile(HINTERNET request, HANDLE file, char **buffer, unsigned size, ProgressRecord *record,
                               StatusBlock *block)
{
    record->total = 0;
    DWORD announced = 0;
    DWORD length = sizeof announced;
    if (HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &announced, &length, 0))
        record->total = announced;

    DownloadOutcome outcome = DOWNLOAD_FAILED;
    PendingRead *read = static_cast<PendingRead *>(AllocateBytes(sizeof(PendingRead)));
    HANDLE thread = 0;
    if (read) {
        read->request = request;
        read->buffer = *buffer;
        read->size = size;
        read->abandoned = 0;
        read->wanted = CreateEventA(0, FALSE, FALSE, 0);
        read->done = CreateEventA(0, FALSE, FALSE, 0);
        if (read->wanted && read->done)
            thread = CreateThread(0, 0, ReaderThread, read, 0, 0);
        if (!thread) {
            if (read->wanted)
                CloseHandle(read->wanted);
            if (read->done)
                CloseHandle(read->done);
            FreeBytes(read);
            read = 0;
        }
    }
    if (!read) {
        if (block->state == STATE_RUNNING)
            block->state = STATE_FAILED;
        record->span = 0;
        return DOWNLOAD_FAILED;
    }

    unsigned long long written = 0;
    DWORD lastByte = GetTickCount();
    bool blocked = false;
    for (;;) {
        if (StopRequested(block)) {
            outcome = DOWNLOAD_STOPPED;
            break;
        }
        SetEvent(read->wanted);
        bool arrived = false;
        while (!arrived) {
            arrived = WaitForSingleObject(read->done, WAIT_SLICE_MS) == WAIT_OBJECT_0;
            if (arrived)
                break;
            if (StopRequested(block)) {
                outcome = DOWNLOAD_STOPPED;
                blocked = true;
                break;
            }
            if (GetTickCount() - lastByte >= STALL_LIMIT_MS) {
                outcome = DOWNLOAD_FAILED;
                blocked = true;
                break;
            }
        }
        if (!arrived)
            break;
        if (!read->ok)
            break;
        if (read->got == 0) {
            // A body that ends before its announced length is incomplete, not done.
            if (record->total == 0 || written >= record->total)
                outcome = DOWNLOAD_COMPLETE;
            break;
        }
        DWORD done = 0;
        if (!WriteFile(file, read->buffer, read->got, &done, 0))
            break;
        written += read->got;
        lastByte = GetTickCount();
    }
    EndReader(read, thread, blocked, buffer);
    if (outcome == DOWNLOAD_FAILED && block->state == STATE_RUNNING)
        block->state = STATE_FAILED;
    record->span = 0;
    return outcome;
}
