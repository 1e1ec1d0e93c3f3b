// The band thread pool, the inline executor and the band rule.
#include "platform/threads/PXBandPool.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "platform/base/PXErrors.h"

namespace pixora {

namespace {

// The pool whose task the current thread is running (workers: always their own pool).
thread_local const TBandPool* tActivePool = nullptr;

// Runs every task inline; the first exception is rethrown once all have run.
void RunInline(int taskCount, const std::function<void(int)>& task) {
    std::exception_ptr error;
    for (int i = 0; i < taskCount; ++i) {
        try {
            task(i);
        } catch (...) {
            if (!error) error = std::current_exception();
        }
    }
    if (error) std::rethrow_exception(error);
}

// Polls done() until it holds or KStayAwakeMicroseconds have passed; returns done()'s last value.
// The processor is offered to other runnable threads between rounds of polling, so that on a
// busy machine the thread being waited for is not kept off it by the waiting one.
template <class TDone>
bool StayAwakeUntil(TDone done) noexcept {
    using TClock = std::chrono::steady_clock;
    const TClock::time_point end = TClock::now() + std::chrono::microseconds(TBandPool::KStayAwakeMicroseconds);
    for (;;) {
        for (int i = 0; i < 16; ++i) {
            if (done()) return true;
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
        }
        if (TClock::now() >= end) return done();
        sched_yield();
    }
}

}  // namespace

void TDirectExecutor::Run(int taskCount, const std::function<void(int index)>& task) {
    RunInline(taskCount, task);
}

TBandPool& TBandPool::Instance() {
    // Never destroyed: components may still run bands while other static objects go away.
    static TBandPool* const pool =
        new TBandPool(std::max(1, static_cast<int>(std::thread::hardware_concurrency())));
    return *pool;
}

TBandPool::TBandPool(int threadCount) : FThreadCount(threadCount) {
    if (threadCount < 1)
        throw ERangeError("Band pool thread count must be at least 1, got " + std::to_string(threadCount));
}

TBandPool::~TBandPool() {
    std::lock_guard resize(FResizeLock);
    StopWorkers();
}

int TBandPool::ThreadCount() const { return FThreadCount.load(std::memory_order_relaxed); }

void TBandPool::SetThreadCount(int n) {
    if (n < 1) throw ERangeError("Band pool thread count must be at least 1, got " + std::to_string(n));
    if (tActivePool == this)
        throw EPXError("Band pool thread count cannot change from inside one of its own tasks");
    std::lock_guard resize(FResizeLock);
    if (n == FThreadCount.load()) return;
    if (!FWorkersStarted.load(std::memory_order_acquire)) {
        FThreadCount.store(n);
        return;
    }
    StopWorkers();
    FThreadCount.store(n);
    StartWorkers(n - 1);
}

void TBandPool::StartWorkers(int workerCount) {
    // No job is in a slot here (the first start, or paused by StopWorkers): the shares can be
    // replaced.
    for (auto& slot : FSlots) slot.Shares = std::make_unique<TShare[]>(static_cast<std::size_t>(workerCount) + 1);
    FWorkers.reserve(static_cast<std::size_t>(workerCount));
    for (int i = 0; i < workerCount; ++i) FWorkers.emplace_back([this, i] { WorkerLoop(i + 1); });
    {
        std::lock_guard lock(FLock);
        FWorkerCount = workerCount;
        FPaused = false;
    }
    FWorkersStarted.store(true, std::memory_order_release);
    FSlotChanged.notify_all();  // callers held back while the workers were replaced
}

void TBandPool::StopWorkers() {
    {
        std::unique_lock lock(FLock);
        FPaused = true;
        FSlotChanged.wait(lock, [this] { return FActiveJobs == 0; });
        FQuit = true;
    }
    FWorkAvailable.notify_all();
    for (auto& worker : FWorkers) worker.join();
    FWorkers.clear();
    // New jobs stay held back (FPaused) until StartWorkers has cut the shares for the new workers.
    std::lock_guard lock(FLock);
    FWorkerCount = 0;
    FQuit = false;
}

TBandPool::TJobSlot* TBandPool::FindPendingSlot() noexcept {
    for (auto& slot : FSlots)
        if (slot.Task && slot.Left.load(std::memory_order_relaxed) > 0) return &slot;
    return nullptr;
}

void TBandPool::RunTasks(TJobSlot& slot, int own) noexcept {
    const std::function<void(int)>& task = *slot.Task;
    const int chunk = slot.Chunk;
    const int shares = slot.ShareCount;
    // Workers are replaced only between jobs, so `own` is always one of the job's shares; were it
    // not, the thread would start with the first share.
    const int first = own < shares ? own : 0;
    for (int k = 0; k < shares && slot.Left.load(std::memory_order_relaxed) > 0; ++k) {
        TShare& share = slot.Shares[static_cast<std::size_t>((first + k) % shares)];
        for (;;) {
            const std::int64_t begin = share.Next.fetch_add(chunk, std::memory_order_relaxed);
            if (begin >= share.End) break;
            const int end = static_cast<int>(std::min<std::int64_t>(share.End, begin + chunk));
            slot.Left.fetch_sub(end - static_cast<int>(begin), std::memory_order_relaxed);
            for (int index = static_cast<int>(begin); index < end; ++index) {
                try {
                    task(index);
                } catch (...) {
                    if (!slot.Failed.exchange(true, std::memory_order_relaxed)) slot.Error = std::current_exception();
                }
            }
        }
    }
}

void TBandPool::WorkerLoop(int share) {
    tActivePool = this;
    pthread_setname_np(pthread_self(), "PXBandPool");
    std::unique_lock lock(FLock);
    for (;;) {
        TJobSlot* slot = nullptr;
        if (!FQuit && FindPendingSlot() == nullptr) {
            // Watch for the next job before sleeping; the wait below checks again under the lock.
            const std::uint64_t seen = FJobsPublished.load(std::memory_order_relaxed);
            lock.unlock();
            StayAwakeUntil([&] { return FJobsPublished.load(std::memory_order_acquire) != seen; });
            lock.lock();
        }
        FWorkAvailable.wait(lock, [&] { return FQuit || (slot = FindPendingSlot()) != nullptr; });
        if (FQuit) return;
        ++slot->Helpers;
        lock.unlock();
        RunTasks(*slot, share);
        lock.lock();
        // The caller may be waiting for the last helper to leave.
        if (--slot->Helpers == 0) FSlotChanged.notify_all();
    }
}

void TBandPool::Run(int taskCount, const std::function<void(int index)>& task) {
    if (taskCount <= 0) return;
    if (taskCount == 1 || tActivePool == this || FThreadCount.load(std::memory_order_relaxed) == 1) {
        RunInline(taskCount, task);
        return;
    }
    if (!FWorkersStarted.load(std::memory_order_acquire)) {
        std::lock_guard resize(FResizeLock);
        if (!FWorkersStarted.load(std::memory_order_relaxed)) StartWorkers(FThreadCount.load() - 1);
    }

    TJobSlot* slot = nullptr;
    int workerCount;
    {
        std::unique_lock lock(FLock);
        FSlotChanged.wait(lock, [&] {
            if (FPaused) return false;
            for (auto& s : FSlots)
                if (!s.Task) {
                    slot = &s;
                    return true;
                }
            return false;
        });
        slot->Task = &task;
        const int shares = FWorkerCount + 1;
        slot->Chunk = std::max(1, taskCount / (shares * 8));
        slot->ShareCount = shares;
        for (int i = 0; i < shares; ++i) {
            TShare& share = slot->Shares[static_cast<std::size_t>(i)];
            share.Next.store(static_cast<std::int64_t>(taskCount) * i / shares, std::memory_order_relaxed);
            share.End = static_cast<int>(static_cast<std::int64_t>(taskCount) * (i + 1) / shares);
        }
        slot->Left.store(taskCount, std::memory_order_relaxed);
        slot->Failed.store(false, std::memory_order_relaxed);
        ++FActiveJobs;
        workerCount = FWorkerCount;
        FJobsPublished.fetch_add(1, std::memory_order_release);
    }
    // Wake only as many workers as there are tasks beyond the caller's first.
    if (taskCount - 1 >= workerCount)
        FWorkAvailable.notify_all();
    else
        for (int i = 0; i < taskCount - 1; ++i) FWorkAvailable.notify_one();

    const TBandPool* const outerPool = tActivePool;
    tActivePool = this;
    RunTasks(*slot, 0);
    tActivePool = outerPool;

    // Every index is handed out: the workers still inside are finishing their last tasks.
    StayAwakeUntil([&] { return slot->Helpers.load(std::memory_order_acquire) == 0; });
    std::exception_ptr error;
    {
        std::unique_lock lock(FLock);
        // Every index is handed out; wait until the workers that entered have left.
        FSlotChanged.wait(lock, [&] { return slot->Helpers == 0; });
        error = std::move(slot->Error);
        slot->Error = nullptr;
        slot->Task = nullptr;
        --FActiveJobs;
    }
    FSlotChanged.notify_all();  // a caller or SetThreadCount may wait for this slot
    if (error) std::rethrow_exception(error);
}

void RunBands(IBandExecutor* executor, int rectY, int rectHeight, int rowBytes, int blockSize,
              const std::function<void(int y, int h)>& band) {
    if (rectHeight < 0 || rowBytes < 0 || blockSize < 0)
        throw ERangeError("Band rectangle needs non-negative sizes, got height " + std::to_string(rectHeight) +
                          ", row bytes " + std::to_string(rowBytes) + ", block size " +
                          std::to_string(blockSize));
    if (rectHeight == 0 || rowBytes == 0) return;
    // A block smaller than one row gives 0 rows per band: such bands are one row high.
    const int rowsPerBand = std::clamp(blockSize / rowBytes, 1, rectHeight);
    if (!executor || rowsPerBand == rectHeight) {
        band(rectY, rectHeight);
        return;
    }
    const int bandCount = (rectHeight - 1) / rowsPerBand + 1;
    struct TBands {
        int Top, Bottom, Rows;
        const std::function<void(int, int)>* Band;
    } bands{rectY, rectY + rectHeight, rowsPerBand, &band};
    // One captured pointer keeps the std::function in its small buffer: no allocation.
    executor->Run(bandCount, [b = &bands](int index) {
        const int y = b->Top + index * b->Rows;
        (*b->Band)(y, std::min(b->Rows, b->Bottom - y));
    });
}

}  // namespace pixora
