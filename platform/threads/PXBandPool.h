// The process-wide thread pool that runs a frame's horizontal bands in parallel, the inline
// executor that runs them one after another, and the band rule that cuts a rectangle into bands.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace pixora {

// Runs taskCount numbered tasks and returns when all have finished.
class IBandExecutor {
public:
    virtual ~IBandExecutor() = default;

    // How many threads work on one Run at most, the caller included.
    virtual int ThreadCount() const = 0;

    // Calls task(0) .. task(taskCount - 1), each exactly once, in any order and on any of the
    // executor's threads, and returns when every call has returned. If tasks throw, the
    // remaining tasks still run and the first exception caught is rethrown here afterwards.
    // taskCount <= 0 does nothing.
    virtual void Run(int taskCount, const std::function<void(int index)>& task) = 0;
};

// Runs the tasks inline on the calling thread, in index order.
class TDirectExecutor final : public IBandExecutor {
public:
    int ThreadCount() const override { return 1; }
    void Run(int taskCount, const std::function<void(int index)>& task) override;
};

// The thread pool of multi-core bands. Components use the one process-wide Instance().
//
// A Run publishes its job in one of a fixed number of job slots. The task indices are cut into
// one contiguous share per thread of the pool (the caller takes the first, worker i share
// i + 1); each thread takes indices from its own share's atomic counter (in chunks of about an
// eighth of a share, so that many small tasks do not make every thread fight over a counter),
// then helps with the other shares until none is left, so that uneven tasks and late threads
// still balance out. Frame after frame the same rows of a frame thus tend to go to the same
// thread, and its output lines stay in that core's cache instead of moving between cores. The
// caller returns when every thread that entered the slot has left it. Up to KJobSlots callers
// (different filter threads) run jobs at the same time and the workers share out among them; a
// further caller waits for a free slot. Run makes no heap allocation once the workers exist
// (they start at the first Run that can use them), except to carry an exception.
//
// Waking a sleeping thread can cost far more than a band of a cheap filter (on a virtual machine
// whose idle processor has halted, tens to hundreds of microseconds), so a worker that runs out
// of jobs watches for the next one for a short while (KStayAwake) before it sleeps, and a caller
// whose tasks are all handed out watches for the workers to leave for as long before it sleeps.
// Frames that run filters back to back then find the workers awake.
//
// A task that itself calls Run on the same pool gets its tasks run inline on its own thread:
// nested jobs never wait for the pool, so they cannot deadlock it.
class TBandPool final : public IBandExecutor {
public:
    static constexpr int KJobSlots = 8;
    static constexpr int KStayAwakeMicroseconds = 100;

    // The pool shared by every component; it starts with std::thread::hardware_concurrency()
    // threads (at least 1).
    static TBandPool& Instance();

    // A separate pool (tests, benchmarks). threadCount >= 1 counts the calling thread.
    explicit TBandPool(int threadCount);
    ~TBandPool() override;
    TBandPool(const TBandPool&) = delete;
    TBandPool& operator=(const TBandPool&) = delete;

    // Threads working on one job, the caller included: 1 runs everything on the caller.
    int ThreadCount() const override;

    // Changes the thread count (n >= 1, else ERangeError). Waits for running jobs to finish,
    // then replaces the workers. Raises EPXError when called from inside a task of this pool.
    void SetThreadCount(int n);

    void Run(int taskCount, const std::function<void(int index)>& task) override;

private:
    // One thread's share of a job's task indices: Next is the next index to hand out (64-bit:
    // never wraps), End the share's end.
    struct alignas(64) TShare {
        std::atomic<std::int64_t> Next{0};
        int End = 0;
    };
    struct alignas(64) TJobSlot {
        const std::function<void(int)>* Task = nullptr;  // non-null while the slot holds a job
        int Chunk = 1;                  // indices a thread takes at once
        int ShareCount = 0;             // shares in use: the threads of the pool when published
        std::unique_ptr<TShare[]> Shares;  // one per thread of the pool, sized when workers start
        std::atomic<std::int64_t> Left{0};  // indices not yet handed out, across the shares
        std::atomic<int> Helpers{0};    // workers inside the slot (changed under FLock)
        std::atomic<bool> Failed{false};
        std::exception_ptr Error;       // written by the thread that set Failed first
    };

    void WorkerLoop(int share);
    // Both with FResizeLock held. StopWorkers waits for running jobs and holds new ones back;
    // StartWorkers cuts every slot's shares for its workers and lets jobs start again.
    void StartWorkers(int workerCount);
    void StopWorkers();
    // Runs tasks of the slot, from share `own` first, then from the others.
    static void RunTasks(TJobSlot& slot, int own) noexcept;
    TJobSlot* FindPendingSlot() noexcept;  // FLock held

    mutable std::mutex FResizeLock;  // serialises SetThreadCount and worker start
    std::atomic<int> FThreadCount;
    std::vector<std::thread> FWorkers;
    std::atomic<bool> FWorkersStarted{false};

    std::mutex FLock;                     // guards slots' Task, shares and Helpers, and the flags below
    std::condition_variable FWorkAvailable;  // workers wait here
    std::condition_variable FSlotChanged;    // callers wait here for completion or a free slot
    bool FQuit = false;
    bool FPaused = false;  // SetThreadCount is replacing the workers; no new jobs start
    int FActiveJobs = 0;
    int FWorkerCount = 0;  // FWorkers.size(), readable under FLock
    std::atomic<std::uint64_t> FJobsPublished{0};  // counts Runs that published a job
    std::array<TJobSlot, KJobSlots> FSlots;
};

// Cuts the rectangle rows [rectY, rectY + rectHeight) into horizontal bands and calls
// band(y, h) for each, on the executor's threads. Rows per band = blockSize / rowBytes; when
// the block is smaller than one row that is 0 and every band is one row. Bands start at the
// rectangle's top, each rowsPerBand high, the last one shorter. With executor == nullptr, or
// when one band covers everything, band(rectY, rectHeight) runs once on the calling thread.
// An empty rectangle (height or row bytes 0) calls nothing. Negative sizes raise ERangeError.
void RunBands(IBandExecutor* executor, int rectY, int rectHeight, int rowBytes, int blockSize,
              const std::function<void(int y, int h)>& band);

}  // namespace pixora
