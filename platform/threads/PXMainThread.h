// The main-thread executor: components hand it work (mostly raising their events) that must run
// on the application's main thread, one item after another.
#pragma once

#include <functional>

#include "platform/threads/PXProcessingThread.h"  // TThreadErrorHandler

namespace pixora {

// A process-wide queue of work for the main thread.
//
// The host makes its main thread known with SetMainThread and runs the queued work from its
// loop with ProcessPending or WaitAndProcess. Work runs in the order it was queued. Until a main
// thread is set (or after ClearMainThread), queued work runs on a dedicated dispatcher thread
// instead, in the same order and one item at a time, so events still fire in a process without
// a main loop (a command-line run, a test). Work queued while a main thread is set waits for
// that thread's next ProcessPending.
//
// An exception escaping a work item goes to the error handler (without one, its message is
// written to standard error); the next items still run. Work still queued when the process
// exits is dropped.
class TMainThread {
public:
    TMainThread() = delete;

    // Queues work for the main thread. Called on the main thread itself (or, without a main
    // thread, on the dispatcher), it runs work at once, before anything still queued. An empty
    // function raises EPXError.
    static void Execute(std::function<void()> work);

    // The calling thread becomes the main thread. The dispatcher, if running, finishes its
    // current item and ends; what is still queued waits for ProcessPending. Raises EPXError
    // when called from a work item on the dispatcher.
    static void SetMainThread();

    // Forgets the main thread: queued and future work runs on the dispatcher again.
    static void ClearMainThread();

    // True on the thread set with SetMainThread.
    static bool IsMainThread();

    // True while some thread is the main thread (work does not go to the dispatcher).
    static bool HasMainThread();

    // Runs the work queued before this call, in order, on the calling thread, which must be
    // the main thread (else EPXError). Returns how many items ran. Work queued while it runs
    // waits for the next call, so the host's loop cannot be starved.
    static int ProcessPending();

    // Waits until work is queued or timeoutMs milliseconds have passed (negative: no limit),
    // then runs ProcessPending. Returns true when any work ran. Main thread only.
    static bool WaitAndProcess(int timeoutMs);

    // Receives exceptions escaping work items; an empty handler restores the default.
    static void SetErrorHandler(TThreadErrorHandler onError);
};

}  // namespace pixora
