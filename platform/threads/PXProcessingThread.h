// A filter's processing thread: one worker that takes items (frames, stream operations) from a
// bounded queue and hands each to a handler, with back-pressure on the producers.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/base/PXErrors.h"
#include "platform/threads/PXWorkerThread.h"

namespace pixora {

// A first-in first-out queue of fixed capacity shared by producers and consumers.
//
// Push blocks while the queue is full, so a fast producer is held back to the consumer's pace
// and nothing is dropped. Close stops further pushes (blocked producers return false) while the
// queued items can still be popped; Abort also discards them and wakes consumers at once. The
// ring is allocated once at construction; pushing and popping allocate nothing themselves.
template <class TItem>
class TBoundedQueue {
public:
    explicit TBoundedQueue(std::size_t capacity) : FCapacity(capacity) {
        if (capacity == 0) throw ERangeError("Bounded queue capacity must be at least 1");
        FItems = std::make_unique<std::optional<TItem>[]>(capacity);
    }
    TBoundedQueue(const TBoundedQueue&) = delete;
    TBoundedQueue& operator=(const TBoundedQueue&) = delete;

    // Waits for room, then appends item. Returns false (item left untouched) when the queue is
    // or becomes closed before there is room.
    template <class U>
    bool Push(U&& item) {
        std::unique_lock lock(FLock);
        FNotFull.wait(lock, [this] { return FClosed || FCount < FCapacity; });
        if (FClosed) return false;
        Append(std::forward<U>(item));
        lock.unlock();
        FNotEmpty.notify_one();
        return true;
    }

    // Appends item if there is room now; false when full or closed.
    template <class U>
    bool TryPush(U&& item) {
        std::unique_lock lock(FLock);
        if (FClosed || FCount == FCapacity) return false;
        Append(std::forward<U>(item));
        lock.unlock();
        FNotEmpty.notify_one();
        return true;
    }

    // Waits for an item and removes it. Empty result once the queue is closed and drained, or
    // aborted.
    std::optional<TItem> Pop() {
        std::unique_lock lock(FLock);
        FNotEmpty.wait(lock, [this] { return FCount > 0 || FClosed; });
        return TakeFront(lock);
    }

    // As Pop, but gives up (empty result) after timeout.
    template <class Rep, class Period>
    std::optional<TItem> PopFor(std::chrono::duration<Rep, Period> timeout) {
        std::unique_lock lock(FLock);
        FNotEmpty.wait_for(lock, timeout, [this] { return FCount > 0 || FClosed; });
        return TakeFront(lock);
    }

    // Removes the front item if there is one.
    std::optional<TItem> TryPop() {
        std::unique_lock lock(FLock);
        return TakeFront(lock);
    }

    // No more pushes; items already queued can still be popped.
    void Close() {
        {
            std::lock_guard lock(FLock);
            FClosed = true;
        }
        FNotFull.notify_all();
        FNotEmpty.notify_all();
    }

    // Close and discard every queued item.
    void Abort() {
        {
            std::lock_guard lock(FLock);
            FClosed = true;
            DiscardAll();
        }
        FNotFull.notify_all();
        FNotEmpty.notify_all();
    }

    // Discards what is queued and accepts pushes again.
    void Reopen() {
        std::lock_guard lock(FLock);
        DiscardAll();
        FClosed = false;
    }

    std::size_t Size() const {
        std::lock_guard lock(FLock);
        return FCount;
    }
    std::size_t Capacity() const noexcept { return FCapacity; }
    bool IsClosed() const {
        std::lock_guard lock(FLock);
        return FClosed;
    }

private:
    template <class U>
    void Append(U&& item) {
        FItems[(FHead + FCount) % FCapacity].emplace(std::forward<U>(item));
        ++FCount;
    }

    std::optional<TItem> TakeFront(std::unique_lock<std::mutex>& lock) {
        if (FCount == 0) return std::nullopt;
        std::optional<TItem> result(std::in_place, std::move(*FItems[FHead]));
        FItems[FHead].reset();
        FHead = (FHead + 1) % FCapacity;
        --FCount;
        lock.unlock();
        FNotFull.notify_one();
        return result;
    }

    void DiscardAll() {
        for (; FCount > 0; --FCount) {
            FItems[FHead].reset();
            FHead = (FHead + 1) % FCapacity;
        }
        FHead = 0;
    }

    const std::size_t FCapacity;
    std::unique_ptr<std::optional<TItem>[]> FItems;
    std::size_t FHead = 0;
    std::size_t FCount = 0;
    bool FClosed = false;
    mutable std::mutex FLock;
    std::condition_variable FNotFull;
    std::condition_variable FNotEmpty;
};

// What Stop does with items still queued.
enum class TStopMode {
    Drain,    // the worker handles every queued item, then ends
    Discard,  // queued items are dropped; the item being handled is finished
};

// Called with an exception that escaped a handler or callback; the thread keeps running.
using TThreadErrorHandler = std::function<void(std::exception_ptr)>;

// The item-independent part of TProcessingThread: lifetime of the worker and error reporting.
class TProcessingThreadBase {
public:
    TProcessingThreadBase(const TProcessingThreadBase&) = delete;
    TProcessingThreadBase& operator=(const TProcessingThreadBase&) = delete;

    // Opens the queue and starts the worker. Does nothing while running; a thread that was
    // asked to stop is first waited for. Raises EPXError when called from the worker.
    void Start();

    // Closes the queue (pushes return false from now on) and, from any thread but the worker,
    // waits until the worker has ended: after Drain every item queued before Stop was handled.
    // Called from the worker (inside the handler) it only requests the stop and returns at
    // once; the worker ends when the handler returns, and the thread is joined by the next
    // Start, Stop, Join or the destructor. Stopping a thread that is not running does nothing.
    void Stop(TStopMode mode = TStopMode::Drain);

    // Waits for the worker to end (after a Stop requested from the worker). Returns false
    // without waiting when called on the worker itself.
    bool Join() { return FThread.Join(); }

    bool IsRunning() const noexcept { return FThread.IsRunning(); }
    bool IsWorkerThread() const noexcept { return FThread.IsCurrent(); }

    // Exceptions that escaped the handler so far.
    std::uint64_t ErrorCount() const noexcept { return FErrorCount.load(std::memory_order_relaxed); }

protected:
    TProcessingThreadBase(std::string name, TThreadErrorHandler onError);
    ~TProcessingThreadBase();

    virtual void OpenQueue() = 0;
    virtual void CloseQueue(TStopMode mode) = 0;
    virtual bool QueueClosed() const = 0;
    // Handles one item; false once the queue is closed and empty.
    virtual bool HandleNext() = 0;

    void ReportError(std::exception_ptr error) noexcept;

private:
    std::mutex FControl;  // serialises Start and Stop from outside the worker
    TWorkerThread FThread;
    TThreadErrorHandler FOnError;
    std::atomic<std::uint64_t> FErrorCount{0};
};

// A worker thread that handles the items pushed to it, one at a time, in push order.
//
// TItem is whatever the owner queues: a frame handle, or a small struct describing an
// operation (start, frame, stop). Producers block in Push while the queue is full. Handler
// exceptions go to the error handler (or are counted only, without one) and the worker goes on
// with the next item. The object must not be destroyed from inside its own handler; destroying
// it stops the worker and discards what is still queued.
template <class TItem>
class TProcessingThread final : public TProcessingThreadBase {
public:
    using THandler = std::function<void(TItem& item)>;

    TProcessingThread(std::size_t capacity, THandler handler, TThreadErrorHandler onError = {},
                      std::string name = "PXProcessing")
        : TProcessingThreadBase(std::move(name), std::move(onError)),
          FQueue(capacity),
          FHandler(std::move(handler)) {
        if (!FHandler) throw EPXError("Processing thread needs a handler");
        FQueue.Close();  // nothing is accepted before Start
    }
    ~TProcessingThread() { Stop(TStopMode::Discard); }

    // Queues item, waiting while the queue is full. Returns false when the thread is not
    // running or is stopping. From the handler itself a full queue raises EPXError rather than
    // waiting for the only thread that could make room.
    template <class U>
    bool Push(U&& item) {
        if (IsWorkerThread()) {
            if (FQueue.TryPush(std::forward<U>(item))) return true;
            if (FQueue.IsClosed()) return false;
            throw EPXError("Processing thread queue is full and Push was called from its own handler");
        }
        return FQueue.Push(std::forward<U>(item));
    }

    // Queues item only if there is room now.
    template <class U>
    bool TryPush(U&& item) {
        return FQueue.TryPush(std::forward<U>(item));
    }

    // True while Push accepts items (started, and no stop requested).
    bool IsAccepting() const { return !FQueue.IsClosed(); }
    std::size_t QueuedCount() const { return FQueue.Size(); }
    std::size_t Capacity() const noexcept { return FQueue.Capacity(); }

private:
    void OpenQueue() override { FQueue.Reopen(); }
    void CloseQueue(TStopMode mode) override {
        if (mode == TStopMode::Discard)
            FQueue.Abort();
        else
            FQueue.Close();
    }
    bool QueueClosed() const override { return FQueue.IsClosed(); }
    bool HandleNext() override {
        std::optional<TItem> item = FQueue.Pop();
        if (!item) return false;
        try {
            FHandler(*item);
        } catch (...) {
            ReportError(std::current_exception());
        }
        return true;
    }

    TBoundedQueue<TItem> FQueue;
    THandler FHandler;
};

}  // namespace pixora
