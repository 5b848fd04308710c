// The network thread: calls served in turn by one thread, and a call given up while it blocks.
#include <gtest/gtest.h>
#include <windows.h>
#include "../../../src/worker/download/network_thread.h"

namespace {

struct Job {
    HANDLE mayReturn; // none: return at once
    DWORD threadId;
    volatile LONG calls;
    volatile LONG released;
    DWORD releasedOn;
};

void Call(void *job)
{
    Job *record = static_cast<Job *>(job);
    if (record->mayReturn)
        WaitForSingleObject(record->mayReturn, 10000);
    record->threadId = GetCurrentThreadId();
    InterlockedIncrement(&record->calls);
}

void Release(void *job)
{
    Job *record = static_cast<Job *>(job);
    record->releasedOn = GetCurrentThreadId();
    InterlockedExchange(&record->released, 1);
}

bool WaitFor(volatile LONG *flag, DWORD milliseconds)
{
    for (DWORD waited = 0; waited < milliseconds; waited += 10) {
        if (*flag)
            return true;
        Sleep(10);
    }
    return *flag != 0;
}

// Posts a call that blocks until it is let go: the wait ends only once it has returned.
void ExpectTheWaitToFollowTheCall(NetworkThread **thread, Job *blocked)
{
    blocked->mayReturn = CreateEventA(0, TRUE, FALSE, 0);
    ASSERT_TRUE(PostNetworkCall(thread, Call, Release, blocked));
    EXPECT_FALSE(WaitNetworkCall(*thread, 50));
    SetEvent(blocked->mayReturn);
    EXPECT_TRUE(WaitNetworkCall(*thread, 10000));
    EXPECT_EQ(blocked->calls, 1);
    CloseHandle(blocked->mayReturn);
}

bool ThreadEnded(DWORD threadId)
{
    HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, threadId);
    if (!thread)
        return true;
    bool ended = WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return ended;
}

TEST(NetworkThread, ServesEveryCallOnOneThreadOfItsOwn)
{
    NetworkThread *thread = 0;
    Job first = {};
    Job second = {};
    // Started ahead of its first call, the thread is the one that serves it, and starting again changes nothing.
    ASSERT_TRUE(StartNetworkThread(&thread));
    NetworkThread *started = thread;
    ASSERT_TRUE(StartNetworkThread(&thread));
    EXPECT_EQ(thread, started);
    ASSERT_TRUE(PostNetworkCall(&thread, Call, Release, &first));
    EXPECT_EQ(thread, started);
    ASSERT_TRUE(WaitNetworkCall(thread, 10000));
    ASSERT_TRUE(PostNetworkCall(&thread, Call, Release, &second));
    EXPECT_EQ(thread, started);
    ASSERT_TRUE(WaitNetworkCall(thread, 10000));

    EXPECT_EQ(first.calls, 1);
    EXPECT_EQ(second.calls, 1);
    EXPECT_NE(first.threadId, GetCurrentThreadId());
    EXPECT_EQ(second.threadId, first.threadId);
    EXPECT_EQ(first.released + second.released, 0);

    EndNetworkThread(&thread);
    EXPECT_EQ(thread, nullptr);
    EXPECT_TRUE(ThreadEnded(first.threadId));
    EndNetworkThread(&thread); // nothing left to end
}

TEST(NetworkThread, WaitsOnlyAsLongAsAskedForABlockedCall)
{
    NetworkThread *thread = 0;
    Job blocked = {};
    ExpectTheWaitToFollowTheCall(&thread, &blocked);
    EndNetworkThread(&thread);
}

TEST(NetworkThread, ACallGivenUpIsReleasedByItsThreadWhenItReturns)
{
    NetworkThread *thread = 0;
    Job *blocked = new Job();
    blocked->mayReturn = CreateEventA(0, TRUE, FALSE, 0);
    ASSERT_TRUE(PostNetworkCall(&thread, Call, Release, blocked));
    ASSERT_FALSE(WaitNetworkCall(thread, 50));

    EXPECT_TRUE(AbandonNetworkCall(&thread));
    EXPECT_EQ(thread, nullptr);
    EXPECT_EQ(blocked->released, 0); // still in its call

    // A new call is served at once by a new thread while the old one is still blocked.
    Job next = {};
    ASSERT_TRUE(PostNetworkCall(&thread, Call, Release, &next));
    ASSERT_TRUE(WaitNetworkCall(thread, 10000));
    EXPECT_EQ(next.calls, 1);
    EXPECT_EQ(blocked->calls, 0);

    SetEvent(blocked->mayReturn);
    ASSERT_TRUE(WaitFor(&blocked->released, 10000));
    EXPECT_EQ(blocked->calls, 1);
    EXPECT_EQ(blocked->releasedOn, blocked->threadId);
    EXPECT_NE(blocked->threadId, next.threadId);
    EXPECT_TRUE(ThreadEnded(blocked->threadId));
    EXPECT_EQ(next.released, 0);

    EndNetworkThread(&thread);
    CloseHandle(blocked->mayReturn);
    delete blocked;
}

TEST(NetworkThread, ACallThatReturnedBeforeTheGiveUpStaysTheCallers)
{
    NetworkThread *thread = 0;
    Job quick = {};
    ASSERT_TRUE(PostNetworkCall(&thread, Call, Release, &quick));
    ASSERT_TRUE(WaitNetworkCall(thread, 10000));
    EXPECT_TRUE(WaitNetworkCall(thread, 0)); // seen returned, and still so
    EXPECT_FALSE(AbandonNetworkCall(&thread));
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(quick.released, 0);

    // The next call's wait does not end before that call has returned.
    Job blocked = {};
    ExpectTheWaitToFollowTheCall(&thread, &blocked);
    EXPECT_EQ(blocked.threadId, quick.threadId);
    EndNetworkThread(&thread);
}

} // namespace
