// The arithmetic of the downloads: the transfer buffer's size and the progress positions.
#pragma once

// The platform's MulDiv: a * b / c rounded to the nearest integer; -1 when c is 0.
int RoundedMulDiv(int a, unsigned b, unsigned c);

// The transfer buffer's size for a download: what the server has ready, at least 1024 bytes and at most
// the cap; the current size when the ready count could not be queried.
unsigned TransferBufferSize(bool queried, unsigned ready, unsigned current, unsigned cap);

// The position for a received-bytes notification, or false when the bar does not move. Without an
// announced total the bar creeps one position per notification (base moves on, span shrinks). With a total
// only a count larger than any seen before moves it, to base + span * received / total (at least base + 1).
bool NextDownloadPosition(short *base, short *span, unsigned total, unsigned received, unsigned *largestReceived,
                          int *position);
