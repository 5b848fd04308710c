// The download's decisions that need no platform: buffer and read sizes, the processors of a checked download,
// progress positions, the range request's headers and the redirect rule.
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include "../../../src/worker/download/download_progress.h"
#include "../../../src/worker/download/range_request.h"
#include "../../../src/worker/download/cache_record.h"
#include "../../../src/worker/download/redirect_rule.h"

TEST(DownloadProgress, RoundedMulDiv)
{
    EXPECT_EQ(1, RoundedMulDiv(8, 100, 1000)) << "0.8 rounds to 1";
    EXPECT_EQ(5, RoundedMulDiv(8, 600, 1000)) << "4.8 rounds to 5";
    EXPECT_EQ(0, RoundedMulDiv(8, 62, 1000)) << "0.496 rounds to 0";
    EXPECT_EQ(28, RoundedMulDiv(28, 7, 7));
    EXPECT_EQ(-1, RoundedMulDiv(28, 1, 0));
    EXPECT_EQ(24, RoundedMulDiv(24, 4000000000u, 4000000000u)) << "no overflow";
    EXPECT_EQ(-1, RoundedMulDiv(-8, 100, 1000)) << "-0.8 rounds to -1";
    EXPECT_EQ(-5, RoundedMulDiv(-9, 500, 1000)) << "-4.5 rounds away from zero";
    EXPECT_EQ(5, RoundedMulDiv(9, 500, 1000)) << "4.5 rounds away from zero";
    EXPECT_EQ(0, RoundedMulDiv(-8, 62, 1000));
    EXPECT_EQ(-2147483647 - 1, RoundedMulDiv(-2147483647 - 1, 4000000000u, 4000000000u));
    EXPECT_EQ(2147483647, RoundedMulDiv(2147483647, 0xFFFFFFFFu, 0xFFFFFFFFu));
}

TEST(DownloadProgress, WideQuotientIsTheExactQuotient)
{
    const unsigned long long dividends[] = {0, 1, 2, 3, 0xFFFFFFFFull, 0x100000000ull, 0x1FFFFFFFFull,
                                            409600ull * 250, 0x8000000000000000ull, 0xFFFFFFFFFFFFFFFFull};
    const unsigned divisors[] = {1, 2, 3, 7, 1000, 65536, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFEu, 0xFFFFFFFFu};
    for (unsigned long long dividend : dividends)
        for (unsigned divisor : divisors)
            EXPECT_EQ(dividend / divisor, WideQuotient(dividend, divisor)) << dividend << " / " << divisor;
    // A spread of other values, from a fixed linear congruential sequence.
    unsigned long long state = 88172645463325252ull;
    for (int i = 0; i < 2000; i++) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        unsigned long long dividend = state >> (i % 40);
        unsigned divisor = static_cast<unsigned>(state >> 32) >> (i % 32);
        if (divisor == 0)
            divisor = 1;
        ASSERT_EQ(dividend / divisor, WideQuotient(dividend, divisor)) << dividend << " / " << divisor;
    }
}

TEST(DownloadProgress, TransferBufferSize)
{
    EXPECT_EQ(1024u, TransferBufferSize(true, 100, 1024, 4096));
    EXPECT_EQ(4096u, TransferBufferSize(true, 10000, 1024, 4096));
    EXPECT_EQ(10000u, TransferBufferSize(true, 10000, 4096, 409600));
    EXPECT_EQ(409600u, TransferBufferSize(true, 1000000, 4096, 409600));
    EXPECT_EQ(2048u, TransferBufferSize(false, 1000000, 2048, 409600)) << "a failed query keeps the size";
}

TEST(DownloadProgress, ReadsAndHashGetDifferentProcessors)
{
    unsigned long long reader = 7, hasher = 7;
    EXPECT_FALSE(SplitProcessors(0, &reader, &hasher));
    EXPECT_FALSE(SplitProcessors(0x1, &reader, &hasher)) << "one processor: nothing to keep apart";
    EXPECT_FALSE(SplitProcessors(0x80, &reader, &hasher)) << "one processor, not the first";
    EXPECT_EQ(7u, reader) << "nothing is set when there is nothing to split";
    EXPECT_EQ(7u, hasher);

    ASSERT_TRUE(SplitProcessors(0x3, &reader, &hasher));
    EXPECT_EQ(0x1u, reader);
    EXPECT_EQ(0x2u, hasher);

    // The hash takes only the highest; the reads keep every other, gaps and all.
    ASSERT_TRUE(SplitProcessors(0xF0F0, &reader, &hasher));
    EXPECT_EQ(0x70F0u, reader);
    EXPECT_EQ(0x8000u, hasher);

    // A 64-processor mask: the top bit is a processor like any other.
    ASSERT_TRUE(SplitProcessors(~0ull, &reader, &hasher));
    EXPECT_EQ(1ull << 63, hasher);
    EXPECT_EQ(~0ull >> 1, reader);
    EXPECT_EQ(0u, reader & hasher);
}

TEST(DownloadProgress, ReadSizeFollowsTheLink)
{
    const unsigned most = 1638400;
    EXPECT_EQ(4096u, FirstReadSize(most));
    EXPECT_EQ(1024u, FirstReadSize(1024)) << "a small buffer bounds even the first read";

    // A fast link: reads that take no measurable time grow fourfold up to the most.
    unsigned size = FirstReadSize(most);
    unsigned reads = 0;
    while (size < most && reads < 20) {
        unsigned next = NextReadSize(size, size, 0, most);
        EXPECT_LE(next, 4 * size);
        size = next;
        reads++;
    }
    EXPECT_EQ(most, size);
    EXPECT_EQ(5u, reads) << "4 KB to 1.6 MB takes a handful of reads";
    EXPECT_EQ(most, NextReadSize(most, most, 1, most));

    // A slow link: a read asks for about a quarter second of it, so that the stall clock hears of it often.
    EXPECT_EQ(10000u, NextReadSize(409600, 409600, 10240, most)) << "40,000 bytes a second";
    EXPECT_EQ(4096u, NextReadSize(16384, 5000, 1000, most)) << "never below the stall rule's bytes";
    EXPECT_EQ(250000u, NextReadSize(409600, 100000, 100, most));

    // A read served from bytes already there does not make the next one huge.
    EXPECT_EQ(16384u, NextReadSize(4096, 4096, 0, most));
    EXPECT_EQ(16384u, NextReadSize(4096, 4096, 1, most));

    // Large counts do not wrap.
    EXPECT_EQ(0xFFFFFFFFu, NextReadSize(0xFFFFFFFFu, 0xFFFFFFFFu, 1, 0xFFFFFFFFu));
}

TEST(DownloadProgress, AnnouncedLengthFollowsTheRunningCount)
{
    // Each notification carries what one read brought; the bar follows their sum.
    short base = 16, span = 8;
    unsigned received = 0;
    int position = 0;
    ASSERT_TRUE(NextDownloadPosition(&base, &span, 1000, 10, &received, &position));
    EXPECT_EQ(17, position) << "the first bytes move the bar at least one position";
    ASSERT_TRUE(NextDownloadPosition(&base, &span, 1000, 590, &received, &position));
    EXPECT_EQ(21, position) << "600 of 1000 bytes";
    EXPECT_FALSE(NextDownloadPosition(&base, &span, 1000, 0, &received, &position)) << "an empty read";
    ASSERT_TRUE(NextDownloadPosition(&base, &span, 1000, 400, &received, &position));
    EXPECT_EQ(24, position);
    EXPECT_EQ(16, base);
    EXPECT_EQ(8, span);
    EXPECT_EQ(1000u, received);

    // Many equal reads of a large body walk the whole span.
    base = 38, span = 26;
    received = 0;
    int last = 0;
    for (int read = 0; read < 64; read++) {
        ASSERT_TRUE(NextDownloadPosition(&base, &span, 64u * 1638400, 1638400, &received, &position));
        EXPECT_GE(position, last);
        last = position;
    }
    EXPECT_EQ(64, last);

    // More than announced never passes the end of the span, and the count does not wrap.
    received = 0;
    ASSERT_TRUE(NextDownloadPosition(&base, &span, 1000, 5000, &received, &position));
    EXPECT_EQ(64, position);
    received = 0xFFFFFF00u;
    ASSERT_TRUE(NextDownloadPosition(&base, &span, 1000, 0x1000, &received, &position));
    EXPECT_EQ(64, position);
    EXPECT_EQ(0xFFFFFFFFu, received);
}

TEST(DownloadProgress, ReportsAreNewPositionsAtMostEveryTenthOfASecond)
{
    DownloadReports reports = {0, 0};
    const int end = 64;
    EXPECT_TRUE(DownloadReportDue(39, end, reports, 5000)) << "the body's first position goes at once";
    reports = {39, 5000};
    EXPECT_FALSE(DownloadReportDue(39, end, reports, 9000)) << "the same position is not sent again";
    EXPECT_FALSE(DownloadReportDue(40, end, reports, 5000 + DOWNLOAD_REPORT_MS - 1));
    EXPECT_TRUE(DownloadReportDue(40, end, reports, 5000 + DOWNLOAD_REPORT_MS));
    EXPECT_TRUE(DownloadReportDue(64, end, reports, 5001)) << "the end of the span is never held back";
    reports = {40, 0xFFFFFFF0u};
    EXPECT_TRUE(DownloadReportDue(41, end, reports, 0x60)) << "the tick count wrapped";
    EXPECT_FALSE(DownloadReportDue(41, end, reports, 0x10));

    // A fast download of a large body reports a few positions, and its last.
    short base = 38, span = 26;
    unsigned received = 0;
    reports = {0, 0};
    int sent = 0;
    int position = 0;
    for (unsigned read = 0; read < 64; read++) {
        ASSERT_TRUE(NextDownloadPosition(&base, &span, 64u * 1638400, 1638400, &received, &position));
        unsigned now = 1000 + read * 2; // a read every 2 ms
        if (DownloadReportDue(position, end, reports, now)) {
            EXPECT_GT(position, reports.lastPosition);
            reports = {position, now};
            sent++;
        }
    }
    EXPECT_EQ(64, reports.lastPosition);
    EXPECT_EQ(3, sent) << "39 at the start, one a tenth of a second later, 64 at the end";
}

TEST(DownloadProgress, NoAnnouncedLengthCreepsOnePositionAtATime)
{
    short base = 16, span = 8;
    unsigned largest = 0;
    int position = 0;
    for (int expected = 16; expected <= 23; expected++) {
        ASSERT_TRUE(NextDownloadPosition(&base, &span, 0, 99, &largest, &position));
        EXPECT_EQ(expected, position);
    }
    EXPECT_FALSE(NextDownloadPosition(&base, &span, 0, 99, &largest, &position)) << "the span is used up";
    short off = 0;
    EXPECT_FALSE(NextDownloadPosition(&base, &off, 1000, 500, &largest, &position)) << "span 0 reports nothing";
}

TEST(RangeRequest, HeadersForTheRestOfAFile)
{
    const std::string longValidator(300, 'e');
    struct {
        const char *label;
        unsigned long long offset;
        const char *validator;
        unsigned capacity;
        bool composed;
        const char *headers;
    } cases[] = {
        {"a whole file asks for no range", 0, "\"tag\"", 320, true, ""},
        {"an offset alone", 60000, 0, 320, true, "Range: bytes=60000-\r\n"},
        {"an empty validator is none", 1, "", 320, true, "Range: bytes=1-\r\n"},
        {"an ETag", 18446744073709551615ull, "\"5f-1a\"", 320, true,
         "Range: bytes=18446744073709551615-\r\nIf-Range: \"5f-1a\"\r\n"},
        {"a Last-Modified date", 4096, "Wed, 09 Dec 2026 10:00:00 GMT", 320, true,
         "Range: bytes=4096-\r\nIf-Range: Wed, 09 Dec 2026 10:00:00 GMT\r\n"},
        {"a validator that would end its line", 4096, "\"a\"\r\nX-Evil: 1", 320, false, ""},
        {"a validator with another control character", 4096, "\"a\tb\"", 320, false, ""},
        {"too long for the buffer", 4096, longValidator.c_str(), 320, false, ""},
        {"exactly filling the buffer", 7, 0, 18, true, "Range: bytes=7-\r\n"},
        {"one byte short", 7, 0, 17, false, ""},
    };
    for (const auto &c : cases) {
        char headers[320] = "untouched";
        EXPECT_EQ(c.composed, ComposeRangeHeaders(c.offset, c.validator, headers, c.capacity)) << c.label;
        EXPECT_STREQ(c.headers, headers) << c.label;
    }
}

// A part is appended only when it runs from where the kept bytes end to the end of the file.
TEST(ContentRange, OnlyAPartThatRunsToTheEnd)
{
    struct {
        const char *value;
        bool tail;
        unsigned long long first, total;
    } cases[] = {
        {"bytes 60-99/100", true, 60, 100},
        {"bytes 0-0/1", true, 0, 1},
        {"bytes 60-98/100", false, 0, 0},  // stops short of the end
        {"bytes 60-100/100", false, 0, 0}, // runs past it
        {"bytes 61-60/100", false, 0, 0},
        {"bytes 60-99/*", false, 0, 0},    // total unknown
        {"bytes */100", false, 0, 0},      // the 416 form
        {"bytes 60-99/100 ", false, 0, 0},
        {"Bytes 60-99/100", false, 0, 0},
        {"bytes -60-99/100", false, 0, 0},
        {"bytes 60-18446744073709551616/18446744073709551617", false, 0, 0}, // overflows
        {"", false, 0, 0},
    };
    for (const auto &c : cases) {
        unsigned long long first = 0, total = 0;
        EXPECT_EQ(c.tail, ParseContentRange(c.value, &first, &total)) << c.value;
        if (c.tail)
            EXPECT_EQ(c.first * 1000 + c.total, first * 1000 + total) << c.value;
    }
}

TEST(CacheRecord, RoundTripAndRefusals)
{
    CacheRecord record = {"http://h/a.zip", 100311040, "\"5f1-abc\""}, read = {};
    char text[CACHE_RECORD_CAP];
    ASSERT_TRUE(FormatCacheRecord(record, text, sizeof text));
    EXPECT_STREQ("http://h/a.zip\r\n100311040\r\n\"5f1-abc\"\r\n", text);
    ASSERT_TRUE(ParseCacheRecord(text, static_cast<unsigned>(strlen(text)), &read));
    EXPECT_STREQ(record.url, read.url);
    EXPECT_EQ(record.size, read.size);
    EXPECT_STREQ(record.validator, read.validator);
    CacheRecord broken = {"http://h/a\r\nX: y", 1, ""};
    EXPECT_FALSE(FormatCacheRecord(broken, text, sizeof text)) << "a line break in a value";
    const char *bad[] = {"u\r\n1\r\nv", "u\r\n\r\nv\r\n", "u\r\n1x\r\nv\r\n", "u\r\n1\r\nv\r\nmore",
                         "u\n1\nv\n", ""};
    for (const char *text : bad)
        EXPECT_FALSE(ParseCacheRecord(text, static_cast<unsigned>(strlen(text)), &read)) << text;
}

TEST(RedirectRule, NeverFromHttpsToPlainHttp)
{
    struct {
        const char *from;
        const char *to;
        bool allowed;
    } cases[] = {
        {"http://a/x", "http://b/y", true},
        {"http://a/x", "https://b/y", true},
        {"https://a/x", "https://b/y", true},
        {"HTTPS://a/x", "hTTps://b/y", true},
        {"https://a/x", "http://b/y", false},
        {"HTTPS://a/x", "HTTP://b/y", false},
        {"http://a/x", "ftp://b/y", false},
        {"http://a/x", "file:///c:/y", false},
        {"https://a/x", "", false},
        {"http://a/x", "httpx://b/y", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.allowed, RedirectAllowed(c.from, c.to)) << c.from << " -> " << c.to;
    for (unsigned status : {301u, 302u, 303u, 307u, 308u})
        EXPECT_TRUE(IsRedirectStatus(status)) << status;
    for (unsigned status : {200u, 300u, 304u, 305u, 306u, 400u})
        EXPECT_FALSE(IsRedirectStatus(status)) << status;
}
