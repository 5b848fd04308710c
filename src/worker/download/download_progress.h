// The arithmetic of the downloads: the transfer buffer's size, the reads' sizes, the processors of a checked
// body's two threads, and the progress positions.
#pragma once

// dividend / divisor, rounded down; divisor is not 0. A loop of shifts and subtractions: on 32-bit x86 the
// compiler's 64-bit division is a runtime routine that brings its own code and an unwind table into the worker.
unsigned long long WideQuotient(unsigned long long dividend, unsigned divisor);

// The value in decimal digits, written at the end of `number` (24 bytes); returns where they start.
const char *WideDecimal(unsigned long long value, char *number);

// Reads decimal digits at `at` into *number; the position after them, or 0 when there are none or they
// overflow.
const char *ReadWideDecimal(const char *at, unsigned long long *number);

// The platform's MulDiv: a * b / c rounded to the nearest integer; -1 when c is 0.
int RoundedMulDiv(int a, unsigned b, unsigned c);

// The bytes that a download must bring within its stall limit; fewer is a stall.
static const unsigned STALL_BYTES = 4096;

// How long a body's read is meant to last at the link's last speed.
static const unsigned READ_TARGET_MS = 250;

// The size of a body's first read: STALL_BYTES, or `most` when that is smaller.
unsigned FirstReadSize(unsigned most);

// The size of a body's next read, after a read of `asked` bytes brought `got` in `elapsedMs`. A blocking read
// returns only once it is full, and the stall clock sees progress only between reads; so a read asks for what
// the link brought in READ_TARGET_MS, which keeps a slow link's progress in sight and lets a fast one use few
// calls. It grows at most fourfold, as a read served from bytes that had already arrived says little of the
// link. Between STALL_BYTES and `most` (`most` when that is smaller).
unsigned NextReadSize(unsigned asked, unsigned got, unsigned elapsedMs, unsigned most);

// The processors for a checked body's two busy threads, out of the process's `available` ones: the hash gets
// the highest, the reads all the others, so that neither ever waits behind the other on one processor. False,
// and nothing set, with fewer than two.
bool SplitProcessors(unsigned long long available, unsigned long long *reader, unsigned long long *hasher);

// The transfer buffer's size for a download: what the server has ready, at least 1024 bytes and at most
// the cap; the current size when the ready count could not be queried.
unsigned TransferBufferSize(bool queried, unsigned ready, unsigned current, unsigned cap);

// The position for a received-bytes notification, or false when the notification has none. Without an
// announced total the bar creeps one position per notification (base moves on, span shrinks). With a total,
// `received` is what one read brought, as the platform reports it: it is added to *receivedSoFar, the
// body's running count, and the position is base + span * count / total, at least base + 1 and at most
// base + span.
bool NextDownloadPosition(short *base, short *span, unsigned total, unsigned received, unsigned *receivedSoFar,
                          int *position);

// The least time between two positions of one download that go to the dialog. Each is a message that the
// reading thread sends and waits for; a fast download would otherwise pay for a report of every position.
static const unsigned DOWNLOAD_REPORT_MS = 100;

// What a download has reported so far: the last position (0 for none yet) and its time in milliseconds.
struct DownloadReports {
    int lastPosition;
    unsigned lastAt;
};

// Whether `position` goes to the dialog at time `now`: a new position that is the body's first, reaches
// `end` (the stage's base + span) or comes at least DOWNLOAD_REPORT_MS after the last one.
bool DownloadReportDue(int position, int end, const DownloadReports &reports, unsigned now);
