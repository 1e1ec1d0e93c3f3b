// Threads that call back on their own: every period (TPeriodicThread), as fast as the callback
// returns (TRepeatThread), and on the ticks of a frame clock (TQNClockGen).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "platform/threads/PXProcessingThread.h"  // TThreadErrorHandler
#include "platform/threads/PXWorkerThread.h"

namespace pixora {

// The drift-free schedule of a clock: tick n is due at start + n × period, exactly (the anchor
// moves only when the period changes, so no rounding accumulates). Used by the clock threads;
// it only computes, it never waits.
class TTickSchedule {
public:
    using TClock = std::chrono::steady_clock;

    // period100ns > 0 (100 ns units), else ERangeError. Tick 0 is due at start.
    TTickSchedule(TClock::time_point start, std::int64_t period100ns);

    // The next tick to deliver, when it is due, and its nominal stamp (100 ns units since start).
    std::int64_t Next() const noexcept { return FNext; }
    TClock::time_point Due() const noexcept { return DueOf(FNext); }
    std::int64_t Stamp() const noexcept;

    // Tick Next was delivered and the callback returned at `now`: moves to the following tick.
    // When that one is already a whole period or more overdue, the ticks at least a period
    // overdue are skipped, so the next one is the newest tick due; returns how many were skipped.
    std::int64_t Advance(TClock::time_point now) noexcept;

    // A new period (> 0, else ERangeError), counted from the last tick that fell due: the next
    // tick is due one new period after it and its stamp continues from that tick's stamp.
    void SetPeriod(std::int64_t period100ns);

private:
    TClock::time_point DueOf(std::int64_t n) const noexcept { return FAnchorTime + (n - FAnchorIndex) * FPeriod; }

    TClock::time_point FAnchorTime;
    std::int64_t FAnchorIndex = 0;
    std::int64_t FAnchorStamp = 0;
    std::int64_t FNext = 0;
    std::int64_t FPeriod100ns = 0;
    TClock::duration FPeriod{};
};

// A thread that runs Loop() until stopped; the base of the three callback threads.
//
// Stop wakes the thread at once wherever it waits and, from any other thread, returns when the
// callback running at that moment has returned and the thread has ended. Called from inside
// the callback, Stop only asks: the thread ends as soon as the callback returns, and is joined
// by the next Start, Stop or Join from another thread, or the destructor. Exceptions thrown by
// the callback go to the error handler (or are only counted) and the thread goes on. The object
// must not be destroyed from inside its own callback.
class TLoopThread {
public:
    TLoopThread(const TLoopThread&) = delete;
    TLoopThread& operator=(const TLoopThread&) = delete;

    // Starts the thread; does nothing while it runs. Raises EPXError from the callback.
    void Start();
    void Stop();
    // Waits for the thread to end; false without waiting when called from the thread itself.
    bool Join() { return FThread.Join(); }

    bool IsRunning() const noexcept { return FThread.IsRunning(); }
    bool IsWorkerThread() const noexcept { return FThread.IsCurrent(); }
    std::uint64_t ErrorCount() const noexcept { return FErrorCount.load(std::memory_order_relaxed); }

protected:
    enum class TWaitResult { Deadline, Stopped, Woken };

    TLoopThread(std::string name, TThreadErrorHandler onError);
    ~TLoopThread();

    // Runs in Start before the thread is launched (reset per-run state).
    virtual void Prepare() {}
    virtual void Loop() = 0;

    bool StopRequested() const noexcept { return FStop.load(std::memory_order_acquire); }
    // Sleeps until deadline, or until Stop or Wake interrupts the sleep.
    TWaitResult WaitUntil(std::chrono::steady_clock::time_point deadline);
    // Interrupts the thread's current WaitUntil (settings changed).
    void Wake();

    template <class F>
    void Invoke(F&& callback) noexcept {
        try {
            callback();
        } catch (...) {
            ReportError(std::current_exception());
        }
    }

private:
    void ReportError(std::exception_ptr error) noexcept;

    std::mutex FControl;  // serialises Start and Stop from outside the thread
    TWorkerThread FThread;
    TThreadErrorHandler FOnError;
    std::atomic<std::uint64_t> FErrorCount{0};
    std::mutex FLock;
    std::condition_variable FWakeUp;
    std::atomic<bool> FStop{false};
    bool FWoken = false;
};

// Calls a callback once at Start and then every period, until stopped.
//
// Calls are due at start + n × period (no drift from the callback's own duration). A call that
// overruns delays the next one, which then comes at once; when it overran by more than a whole
// period, the calls that fell due meanwhile are skipped, not made up in a burst.
class TPeriodicThread final : public TLoopThread {
public:
    TPeriodicThread(std::chrono::milliseconds period, std::function<void()> callback,
                    TThreadErrorHandler onError = {}, std::string name = "PXPeriodic");
    ~TPeriodicThread() { Stop(); }

    // period > 0, else ERangeError. A running thread measures the next call from its last one.
    void SetPeriod(std::chrono::milliseconds period);
    std::chrono::milliseconds GetPeriod() const;

private:
    void Loop() override;

    std::function<void()> FCallback;
    std::atomic<std::int64_t> FPeriod100ns;
};

// Calls a callback again and again, as soon as it returns, until stopped. The callback is
// expected to wait for its own work (a capture with a time-out, for example); Stop from another
// thread waits for the call in progress.
class TRepeatThread final : public TLoopThread {
public:
    explicit TRepeatThread(std::function<void()> callback, TThreadErrorHandler onError = {},
                           std::string name = "PXRepeat");
    ~TRepeatThread() { Stop(); }

private:
    void Loop() override;

    std::function<void()> FCallback;
};

// A clock generator: ticks at a period in 100-nanosecond units, free of drift.
//
// Tick n is due at start + n × period on the steady clock (tick 0 at Start), so the callback's
// own time never accumulates into the schedule. The callback receives the tick index n and the
// nominal time stamp of the tick, in 100 ns units since Start (n × period while the period is
// unchanged). A late tick fires at once. When a callback overran by more than a period, the
// ticks that fell due more than a period ago are skipped: their indices are not delivered
// (the next index jumps) and MissedTicks counts them. SetPeriod takes effect from the last tick
// that fell due: the next one comes one new period after it, with stamps continuing from it.
class TQNClockGen final : public TLoopThread {
public:
    // tickIndex: n as above; stamp: nominal time of the tick in 100 ns units since Start.
    using TTickCallback = std::function<void(std::int64_t tickIndex, std::int64_t stamp)>;

    TQNClockGen(std::int64_t period100ns, TTickCallback onTick, TThreadErrorHandler onError = {},
                std::string name = "PXClockGen");
    ~TQNClockGen() { Stop(); }

    // period > 0, in 100 ns units (333667 for 29.97 frames per second), else ERangeError.
    void SetPeriod(std::int64_t period100ns);
    std::int64_t GetPeriod() const { return FPeriod100ns.load(std::memory_order_relaxed); }

    // Ticks delivered and ticks skipped since the last Start.
    std::int64_t TickCount() const { return FTickCount.load(std::memory_order_relaxed); }
    std::int64_t MissedTicks() const { return FMissedTicks.load(std::memory_order_relaxed); }

private:
    void Prepare() override;
    void Loop() override;

    TTickCallback FOnTick;
    std::atomic<std::int64_t> FPeriod100ns;
    std::atomic<std::int64_t> FTickCount{0};
    std::atomic<std::int64_t> FMissedTicks{0};
};

}  // namespace pixora
