// Periodic, repeating and clock-generator threads.
#include "platform/threads/PXPeriodicThread.h"

#include "platform/base/PXErrors.h"

namespace pixora {

namespace {

using TClock = std::chrono::steady_clock;
using T100ns = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;

std::int64_t CheckedPeriod(std::int64_t period100ns, const char* owner) {
    if (period100ns <= 0)
        throw ERangeError(std::string(owner) + " period must be positive, got " + std::to_string(period100ns) +
                          " (100 ns units)");
    return period100ns;
}

std::int64_t MillisecondsTo100ns(std::chrono::milliseconds period, const char* owner) {
    if (period.count() <= 0)
        throw ERangeError(std::string(owner) + " period must be positive, got " + std::to_string(period.count()) +
                          " ms");
    return std::chrono::duration_cast<T100ns>(period).count();
}

}  // namespace

// ---- TTickSchedule

TTickSchedule::TTickSchedule(TClock::time_point start, std::int64_t period100ns) : FAnchorTime(start) {
    SetPeriod(period100ns);
}

std::int64_t TTickSchedule::Stamp() const noexcept { return FAnchorStamp + (FNext - FAnchorIndex) * FPeriod100ns; }

std::int64_t TTickSchedule::Advance(TClock::time_point now) noexcept {
    ++FNext;
    const TClock::duration late = now - Due();
    if (late < FPeriod) return 0;
    const std::int64_t skipped = late / FPeriod;
    FNext += skipped;
    return skipped;
}

void TTickSchedule::SetPeriod(std::int64_t period100ns) {
    CheckedPeriod(period100ns, "Tick schedule");
    if (FNext > FAnchorIndex) {
        const std::int64_t last = FNext - 1;
        FAnchorTime = DueOf(last);
        FAnchorStamp += (last - FAnchorIndex) * FPeriod100ns;
        FAnchorIndex = last;
    }
    FPeriod100ns = period100ns;
    FPeriod = std::chrono::duration_cast<TClock::duration>(T100ns(period100ns));
}

// ---- TLoopThread

TLoopThread::TLoopThread(std::string name, TThreadErrorHandler onError)
    : FThread(std::move(name)), FOnError(std::move(onError)) {}

TLoopThread::~TLoopThread() = default;

void TLoopThread::Start() {
    if (FThread.IsCurrent()) throw EPXError("Thread \"" + FThread.Name() + "\" cannot restart itself from its callback");
    std::lock_guard control(FControl);
    if (FThread.IsRunning() && !StopRequested()) return;
    FThread.Join();  // a thread that stopped itself finishes first
    {
        std::lock_guard lock(FLock);
        FStop.store(false, std::memory_order_release);
        FWoken = false;
    }
    Prepare();
    FThread.Launch([this] { Loop(); });
}

void TLoopThread::Stop() {
    {
        std::lock_guard lock(FLock);
        FStop.store(true, std::memory_order_release);
    }
    FWakeUp.notify_all();
    if (FThread.IsCurrent()) return;  // only a request: the loop ends when the callback returns
    std::lock_guard control(FControl);
    FThread.Join();
}

TLoopThread::TWaitResult TLoopThread::WaitUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(FLock);
    FWakeUp.wait_until(lock, deadline, [this] { return FStop.load(std::memory_order_relaxed) || FWoken; });
    if (FStop.load(std::memory_order_relaxed)) return TWaitResult::Stopped;
    if (FWoken) {
        FWoken = false;
        return TWaitResult::Woken;
    }
    return TWaitResult::Deadline;
}

void TLoopThread::Wake() {
    {
        std::lock_guard lock(FLock);
        FWoken = true;
    }
    FWakeUp.notify_all();
}

void TLoopThread::ReportError(std::exception_ptr error) noexcept {
    FErrorCount.fetch_add(1, std::memory_order_relaxed);
    if (!FOnError) return;
    try {
        FOnError(std::move(error));
    } catch (...) {
        // The thread must survive a failing error handler as well.
    }
}

// ---- TPeriodicThread

TPeriodicThread::TPeriodicThread(std::chrono::milliseconds period, std::function<void()> callback,
                                 TThreadErrorHandler onError, std::string name)
    : TLoopThread(std::move(name), std::move(onError)),
      FCallback(std::move(callback)),
      FPeriod100ns(MillisecondsTo100ns(period, "Periodic thread")) {
    if (!FCallback) throw EPXError("Periodic thread needs a callback");
}

void TPeriodicThread::SetPeriod(std::chrono::milliseconds period) {
    FPeriod100ns.store(MillisecondsTo100ns(period, "Periodic thread"), std::memory_order_relaxed);
    Wake();
}

std::chrono::milliseconds TPeriodicThread::GetPeriod() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(T100ns(FPeriod100ns.load(std::memory_order_relaxed)));
}

void TPeriodicThread::Loop() {
    TTickSchedule grid(TClock::now(), FPeriod100ns.load(std::memory_order_relaxed));
    for (;;) {
        switch (WaitUntil(grid.Due())) {
        case TWaitResult::Stopped:
            return;
        case TWaitResult::Woken:
            grid.SetPeriod(FPeriod100ns.load(std::memory_order_relaxed));
            continue;
        case TWaitResult::Deadline:
            break;
        }
        Invoke(FCallback);
        if (StopRequested()) return;
        grid.Advance(TClock::now());
    }
}

// ---- TRepeatThread

TRepeatThread::TRepeatThread(std::function<void()> callback, TThreadErrorHandler onError, std::string name)
    : TLoopThread(std::move(name), std::move(onError)), FCallback(std::move(callback)) {
    if (!FCallback) throw EPXError("Repeat thread needs a callback");
}

void TRepeatThread::Loop() {
    while (!StopRequested()) Invoke(FCallback);
}

// ---- TQNClockGen

TQNClockGen::TQNClockGen(std::int64_t period100ns, TTickCallback onTick, TThreadErrorHandler onError,
                         std::string name)
    : TLoopThread(std::move(name), std::move(onError)),
      FOnTick(std::move(onTick)),
      FPeriod100ns(CheckedPeriod(period100ns, "Clock generator")) {
    if (!FOnTick) throw EPXError("Clock generator needs a tick callback");
}

void TQNClockGen::SetPeriod(std::int64_t period100ns) {
    FPeriod100ns.store(CheckedPeriod(period100ns, "Clock generator"), std::memory_order_relaxed);
    Wake();
}

void TQNClockGen::Prepare() {
    FTickCount.store(0, std::memory_order_relaxed);
    FMissedTicks.store(0, std::memory_order_relaxed);
}

void TQNClockGen::Loop() {
    TTickSchedule grid(TClock::now(), FPeriod100ns.load(std::memory_order_relaxed));
    for (;;) {
        switch (WaitUntil(grid.Due())) {
        case TWaitResult::Stopped:
            return;
        case TWaitResult::Woken:
            grid.SetPeriod(FPeriod100ns.load(std::memory_order_relaxed));
            continue;
        case TWaitResult::Deadline:
            break;
        }
        const std::int64_t index = grid.Next();
        const std::int64_t stamp = grid.Stamp();
        Invoke([&] { FOnTick(index, stamp); });
        FTickCount.fetch_add(1, std::memory_order_relaxed);
        if (StopRequested()) return;
        FMissedTicks.fetch_add(grid.Advance(TClock::now()), std::memory_order_relaxed);
    }
}

}  // namespace pixora
