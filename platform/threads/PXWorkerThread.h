// One named OS thread with a safe join: the common core of the processing, periodic, repeat
// and clock threads.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace pixora {

// Owns at most one running thread at a time.
//
// Join may be called from any number of threads at once; called on the worker thread itself
// it returns at once instead of deadlocking, and the thread is joined later (by the next
// Launch, Join from another thread, or the destructor). The owner must not be destroyed on its
// own worker thread.
class TWorkerThread {
public:
    // name: shown by debuggers and `top -H` (the system keeps the first 15 characters).
    explicit TWorkerThread(std::string name = {});
    ~TWorkerThread();
    TWorkerThread(const TWorkerThread&) = delete;
    TWorkerThread& operator=(const TWorkerThread&) = delete;

    // Starts body on a new thread. A previous thread that already finished is joined first;
    // one still running, or a call from the worker itself, raises EPXError. An exception that
    // escapes body is swallowed (the callers catch and report their own).
    void Launch(std::function<void()> body);

    // Waits for the thread to end. Returns false without waiting when called on the worker
    // itself, true otherwise (also when no thread was started).
    bool Join();

    // True while called from this object's worker thread.
    bool IsCurrent() const noexcept;

    // True between Launch and the end of body.
    bool IsRunning() const noexcept;

    const std::string& Name() const noexcept { return FName; }

private:
    const std::string FName;
    mutable std::mutex FJoinLock;  // guards FThread against concurrent Launch/Join
    std::thread FThread;
    std::atomic<bool> FRunning{false};
};

}  // namespace pixora
