// HTTP downloads over WinINet: one Internet handle per run, one request per URL, a sized transfer buffer
// and a read-and-write loop that keeps the progress bar moving.
#pragma once
#include <windows.h>
#include <wininet.h>
#include "network_thread.h"
#include "status_channel.h"
#include "../verify/sha256.h"

// The bytes of the current body that the progress notifications have counted; each download starts it at 0.
extern unsigned largestReceived;

// The root handle: agent "Kovrel", the system's proxy settings. None on failure.
HINTERNET OpenInternet();

// Moves the progress bar while data arrives; the request's context is its ProgressRecord.
void CALLBACK DownloadStatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID information,
                                     DWORD informationLength);

// Opens the URL with HTTP GET, always from the server, following at most MOST_REDIRECTS redirects, never
// from https to plain http. A response whose status is 400 or more is not a file: the request is closed and
// the result is none. The open is given up after 60 seconds (STATE_FAILED) or when the user confirms an
// abort (STATE_ABORTED); the result is then none too. The open runs on *network, which is started when none.
HINTERNET OpenUrl(NetworkThread **network, HINTERNET internet, const char *url, ProgressRecord *context,
                  StatusBlock *block);

// Closes a request on *network, waiting for it at most a second. A close may first read the rest of an
// unread body (Wine's does, which at local speed takes minutes for a large archive): it then finishes behind
// the run, and the run goes on.
void CloseUrl(NetworkThread **network, HINTERNET request);

// The body length that the server announced; 0 when none.
unsigned long long AnnouncedLength(HINTERNET request);

// Creates (or truncates) the hidden output file. INVALID_HANDLE_VALUE on failure.
HANDLE CreateOutputFile(const char *path);

// Allocates the transfer buffer for the request, halving the size while the allocation fails. With
// fromReady it is sized from what the server has ready (at least 1024 bytes, at most `cap`); otherwise it
// is `cap`: right after a request opens only a few bytes are ready, and a large body read in such small
// chunks costs many times the platform's own speed. False when even a size below 260 bytes cannot be had.
// `size` holds the current size on entry and the new one on return.
bool AllocateTransferBuffer(HINTERNET request, unsigned cap, bool fromReady, char **buffer, unsigned *size);

enum DownloadOutcome {
    DOWNLOAD_COMPLETE,
    DOWNLOAD_FAILED,   // read or write error, a body shorter than promised or announced, or under 4 KiB in 60 s
    DOWNLOAD_STOPPED,  // the run was stopped: an abort the user confirmed, or the dialog went away
    DOWNLOAD_TOO_LONG, // the body (or its announced length) went past the limit
};

// What a body must be: never longer than maxBytes; exactly that long when exactLength is set. When hash is
// given, every byte is fed to it as it arrives.
struct DownloadRules {
    unsigned long long maxBytes;
    bool exactLength;
    Sha256 *hash;
};

// Downloads the body of the request into the file under the rules. An abort request is put to the user
// within a quarter second: declined, the download goes on; confirmed, the state becomes STATE_ABORTED. Any
// other outcome but a complete one sets STATE_FAILED. The reads run on *network. `buffer` may be left with a
// read that is still blocked in the network when the download is given up; it is then none on return.
DownloadOutcome DownloadToFile(NetworkThread **network, HINTERNET request, HANDLE file, char **buffer,
                               unsigned size, const DownloadRules *rules, ProgressRecord *record, StatusBlock *block);
