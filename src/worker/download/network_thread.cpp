// The network thread: one call at a time, handed over through two events and a state that decides, without
// a lock, who owns a call that returns just as it is given up.
#include <windows.h>
#include "network_thread.h"
#include "../../common/heap.h"

enum { CALL_IDLE, CALL_RUNNING, CALL_RETURNED, CALL_LEFT_BEHIND, THREAD_ENDING };

struct NetworkThread {
    HANDLE handle;
    HANDLE posted;   // a call is waiting for the thread, or the thread is to end
    HANDLE returned; // the call has returned; stays set until the next call is posted
    NetworkCall call;
    NetworkCall release;
    void *job;
    volatile LONG state;
};

static void FreeNetworkThread(NetworkThread *thread)
{
    if (thread->posted)
        CloseHandle(thread->posted);
    if (thread->returned)
        CloseHandle(thread->returned);
    FreeBytes(thread);
}

static DWORD WINAPI NetworkLoop(void *parameter)
{
    NetworkThread *thread = static_cast<NetworkThread *>(parameter);
    for (;;) {
        WaitForSingleObject(thread->posted, INFINITE);
        if (thread->state == THREAD_ENDING)
            return 0;
        thread->call(thread->job);
        if (InterlockedCompareExchange(&thread->state, CALL_RETURNED, CALL_RUNNING) == CALL_LEFT_BEHIND) {
            // Given up while in the network: nobody waits for this call any more.
            if (thread->release)
                thread->release(thread->job);
            FreeNetworkThread(thread);
            return 0;
        }
        SetEvent(thread->returned);
    }
}

static NetworkThread *NewNetworkThread()
{
    NetworkThread *thread = static_cast<NetworkThread *>(AllocateBytes(sizeof(NetworkThread)));
    if (!thread)
        return 0;
    thread->state = CALL_IDLE;
    thread->posted = CreateEventA(0, FALSE, FALSE, 0);
    thread->returned = CreateEventA(0, TRUE, FALSE, 0);
    thread->handle = thread->posted && thread->returned ? CreateThread(0, 0, NetworkLoop, thread, 0, 0) : 0;
    if (thread->handle)
        return thread;
    FreeNetworkThread(thread);
    return 0;
}

bool StartNetworkThread(NetworkThread **thread)
{
    if (!*thread)
        *thread = NewNetworkThread();
    return *thread != 0;
}

bool PostNetworkCall(NetworkThread **thread, NetworkCall call, NetworkCall release, void *job)
{
    if (!StartNetworkThread(thread))
        return false;
    NetworkThread *current = *thread;
    current->call = call;
    current->release = release;
    current->job = job;
    ResetEvent(current->returned);
    InterlockedExchange(&current->state, CALL_RUNNING);
    SetEvent(current->posted);
    return true;
}

bool WaitNetworkCall(NetworkThread *thread, unsigned milliseconds)
{
    return WaitForSingleObject(thread->returned, milliseconds) == WAIT_OBJECT_0;
}

bool AbandonNetworkCall(NetworkThread **thread)
{
    NetworkThread *current = *thread;
    if (InterlockedCompareExchange(&current->state, CALL_LEFT_BEHIND, CALL_RUNNING) == CALL_RUNNING) {
        CloseHandle(current->handle);
        *thread = 0;
        return true;
    }
    // It returned first; its signal is set or about to be. Waiting for it keeps the thread from still being
    // between the two when the next call is posted.
    WaitForSingleObject(current->returned, INFINITE);
    return false;
}

void EndNetworkThread(NetworkThread **thread)
{
    NetworkThread *current = *thread;
    if (!current)
        return;
    InterlockedExchange(&current->state, THREAD_ENDING);
    SetEvent(current->posted);
    WaitForSingleObject(current->handle, INFINITE);
    CloseHandle(current->handle);
    FreeNetworkThread(current);
    *thread = 0;
}
