// The thread that makes the platform's blocking network calls for the update thread.
//
// Those calls neither time out everywhere nor return when their handles are closed from another thread, so
// the update thread hands each one over and waits for it in slices, free meanwhile to put an abort to the
// user or to give up a silent server. One thread serves every call of a run: under Wine a thread costs
// milliseconds to start and to end, which a download at local speed would feel on every request.
//
// A call that is given up is left behind: the thread keeps its job, runs the job's release once the call
// returns, frees itself and ends. The next call then starts a new thread.
#pragma once

typedef void (*NetworkCall)(void *job);

struct NetworkThread;

// Starts the thread ahead of its first call when *thread is none, so that its start overlaps the work before
// that call. False when none could be started.
bool StartNetworkThread(NetworkThread **thread);

// Hands call(job) to the thread, starting one first when *thread is none. False when none could be started.
bool PostNetworkCall(NetworkThread **thread, NetworkCall call, NetworkCall release, void *job);

// Waits up to `milliseconds` for the posted call; true once it has returned, and for every wait after that
// until the next call is posted.
bool WaitNetworkCall(NetworkThread *thread, unsigned milliseconds);

// Gives up the posted call. True when it was still running: the job is the thread's from now on and
// *thread becomes none. False when the call had returned, seen or not: its job and results are the caller's.
bool AbandonNetworkCall(NetworkThread **thread);

// Ends an idle thread and waits for it; does nothing when *thread is none.
void EndNetworkThread(NetworkThread **thread);
