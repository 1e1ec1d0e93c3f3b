// Events and critical sections: the small synchronisation objects the components wait on.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace pixora {

// A recursive lock: the thread that holds it may take it again.
using TCriticalSection = std::recursive_mutex;

// A signal one thread raises and others wait for.
//
// A manual-reset event stays signalled until ResetEvent and releases every waiter. An
// auto-reset event releases exactly one waiter per SetEvent and clears itself when that waiter
// returns; a SetEvent with nobody waiting is kept until the next wait (it does not accumulate:
// two SetEvent calls before a wait release one waiter).
class TEvent {
public:
    // WaitFor's timeout meaning "wait as long as it takes".
    static constexpr std::int64_t KInfinite = -1;

    explicit TEvent(bool manualReset = true, bool initiallySet = false)
        : FManualReset(manualReset), FSet(initiallySet) {}
    TEvent(const TEvent&) = delete;
    TEvent& operator=(const TEvent&) = delete;

    void SetEvent() {
        // Notified under the lock: a released waiter may destroy the event as soon as it returns.
        std::lock_guard lock(FLock);
        FSet = true;
        if (FManualReset)
            FChanged.notify_all();
        else
            FChanged.notify_one();
    }

    void ResetEvent() {
        std::lock_guard lock(FLock);
        FSet = false;
    }

    // True when the event is signalled now (does not consume an auto-reset signal).
    bool IsSet() const {
        std::lock_guard lock(FLock);
        return FSet;
    }

    // Waits until the event is signalled or timeoutMs milliseconds have passed. A negative
    // timeout (KInfinite) waits without limit; 0 only tests. Returns true when signalled; an
    // auto-reset event is then cleared.
    bool WaitFor(std::int64_t timeoutMs = KInfinite) {
        std::unique_lock lock(FLock);
        if (timeoutMs < 0) {
            FChanged.wait(lock, [this] { return FSet; });
        } else {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
            if (!FChanged.wait_until(lock, deadline, [this] { return FSet; })) return false;
        }
        if (!FManualReset) FSet = false;
        return true;
    }

private:
    const bool FManualReset;
    bool FSet;
    mutable std::mutex FLock;
    std::condition_variable FChanged;
};

}  // namespace pixora
