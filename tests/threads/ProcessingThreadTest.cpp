// Bounded queue and processing thread: back-pressure without loss, order, closing and aborting,
// stopping from outside and from the handler, errors, and restarts.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/threads/PXEvent.h"
#include "platform/threads/PXProcessingThread.h"
#include "threads/ThreadTestSupport.h"

namespace pixora {
namespace {

using namespace std::chrono_literals;

using testing_support::Eventually;

// ---- TBoundedQueue

TEST(BoundedQueue, ProducerBlocksWhenFullAndResumesInOrder) {
    TBoundedQueue<int> queue(4);
    std::atomic<int> pushed{0};
    std::thread producer([&] {
        for (int i = 0; i < 6; ++i) {
            ASSERT_TRUE(queue.Push(i));
            pushed.store(i + 1);
        }
    });
    ASSERT_TRUE(Eventually([&] { return pushed.load() == 4; }));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(pushed.load(), 4) << "a full queue accepted more";
    EXPECT_EQ(queue.Size(), 4u);
    EXPECT_FALSE(queue.TryPush(99));

    std::vector<int> popped;
    for (int i = 0; i < 6; ++i) popped.push_back(*queue.Pop());
    producer.join();
    EXPECT_EQ(popped, (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(queue.Size(), 0u);
}

TEST(BoundedQueue, ManyProducersLoseNothingAndKeepEachOnesOrder) {
    constexpr int KProducers = 4, KItems = 5000;
    TBoundedQueue<std::pair<int, int>> queue(3);
    std::vector<std::thread> producers;
    for (int p = 0; p < KProducers; ++p)
        producers.emplace_back([&, p] {
            for (int i = 0; i < KItems; ++i) queue.Push(std::make_pair(p, i));
        });
    std::vector<int> next(KProducers, 0);
    int outOfOrder = 0;
    for (int n = 0; n < KProducers * KItems; ++n) {
        const auto item = queue.Pop();
        ASSERT_TRUE(item.has_value());
        if (item->second != next[item->first]) ++outOfOrder;
        next[item->first] = item->second + 1;
    }
    for (auto& t : producers) t.join();
    EXPECT_EQ(outOfOrder, 0);
    for (int p = 0; p < KProducers; ++p) EXPECT_EQ(next[p], KItems);
    EXPECT_FALSE(queue.TryPop().has_value());
}

TEST(BoundedQueue, CloseWakesBlockedProducerAndConsumer) {
    TBoundedQueue<int> full(1);
    ASSERT_TRUE(full.Push(1));
    auto producer = std::async(std::launch::async, [&] { return full.Push(2); });
    TBoundedQueue<int> empty(2);
    auto consumer = std::async(std::launch::async, [&] { return empty.Pop(); });
    std::this_thread::sleep_for(10ms);  // let both block (the result does not depend on it)
    full.Close();
    empty.Close();
    EXPECT_FALSE(producer.get());
    EXPECT_FALSE(consumer.get().has_value());
    // Items queued before Close still come out, then the end.
    EXPECT_EQ(full.Pop(), std::optional<int>(1));
    EXPECT_FALSE(full.Pop().has_value());
    EXPECT_FALSE(full.Push(3));
}

TEST(BoundedQueue, AbortDiscardsAndReopenAcceptsAgain) {
    auto payload = std::make_shared<int>(7);
    TBoundedQueue<std::shared_ptr<int>> queue(3);
    queue.Push(payload);
    queue.Push(payload);
    EXPECT_EQ(payload.use_count(), 3);
    queue.Abort();
    EXPECT_EQ(payload.use_count(), 1) << "aborted items were not released";
    EXPECT_FALSE(queue.Pop().has_value());
    EXPECT_TRUE(queue.IsClosed());
    queue.Reopen();
    EXPECT_TRUE(queue.Push(payload));
    EXPECT_EQ(*queue.Pop().value(), 7);
}

TEST(BoundedQueue, WrapsAroundWithMoveOnlyItems) {
    TBoundedQueue<std::unique_ptr<int>> queue(3);
    int expected = 0;
    for (int i = 0; i < 20; ++i) {
        auto item = std::make_unique<int>(i);
        ASSERT_TRUE(queue.Push(std::move(item)));
        if (i % 2 == 1) {
            EXPECT_EQ(**queue.Pop(), expected++);
            EXPECT_EQ(**queue.Pop(), expected++);
        }
    }
    EXPECT_EQ(queue.Size(), 0u);
    EXPECT_FALSE(queue.PopFor(1ms).has_value());
}

TEST(BoundedQueue, RefusedPushLeavesTheItemWithTheCaller) {
    TBoundedQueue<std::unique_ptr<int>> queue(1);
    queue.Close();
    auto item = std::make_unique<int>(5);
    EXPECT_FALSE(queue.Push(std::move(item)));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(*item, 5);
}

TEST(BoundedQueue, ZeroCapacityIsRejected) { EXPECT_THROW(TBoundedQueue<int>(0), ERangeError); }

// ---- TProcessingThread

// An operation as a filter would queue it.
struct TOperation {
    enum TKind { Start, Frame, Stop } Kind;
    int Value;
};

TEST(ProcessingThread, HandlesOperationsInOrderUnderBackPressure) {
    std::vector<int> handled;
    std::thread::id worker;
    TProcessingThread<TOperation> thread(2, [&](TOperation& op) {
        worker = std::this_thread::get_id();
        if (op.Kind == TOperation::Frame) {
            if (op.Value % 100 == 0) std::this_thread::sleep_for(1ms);  // a slow consumer now and then
            handled.push_back(op.Value);
        }
    });
    thread.Start();
    EXPECT_TRUE(thread.Push(TOperation{TOperation::Start, 0}));
    for (int i = 0; i < 1000; ++i) ASSERT_TRUE(thread.Push(TOperation{TOperation::Frame, i}));
    EXPECT_TRUE(thread.Push(TOperation{TOperation::Stop, 0}));
    thread.Stop(TStopMode::Drain);
    ASSERT_EQ(handled.size(), 1000u);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(handled[i], i);
    EXPECT_NE(worker, std::this_thread::get_id());
    EXPECT_FALSE(thread.IsRunning());
}

TEST(ProcessingThread, RefusesItemsWhenNotRunning) {
    std::atomic<int> handled{0};
    TProcessingThread<int> thread(4, [&](int&) { handled.fetch_add(1); });
    EXPECT_FALSE(thread.Push(1)) << "accepted before Start";
    EXPECT_FALSE(thread.IsAccepting());
    thread.Start();
    EXPECT_TRUE(thread.IsAccepting());
    EXPECT_TRUE(thread.Push(1));
    thread.Stop();
    EXPECT_FALSE(thread.Push(2)) << "accepted after Stop";
    EXPECT_EQ(handled.load(), 1);
}

TEST(ProcessingThread, DiscardDropsQueuedItemsButFinishesTheCurrentOne) {
    TEvent entered, release;
    std::atomic<int> handled{0};
    TProcessingThread<int> thread(8, [&](int&) {
        entered.SetEvent();
        release.WaitFor();
        handled.fetch_add(1);
    });
    thread.Start();
    thread.Push(0);
    ASSERT_TRUE(entered.WaitFor(30000));
    for (int i = 1; i <= 5; ++i) thread.Push(i);
    auto stopper = std::async(std::launch::async, [&] { thread.Stop(TStopMode::Discard); });
    ASSERT_TRUE(Eventually([&] { return !thread.IsAccepting(); }));
    EXPECT_FALSE(thread.Push(99));  // the queue is closed
    release.SetEvent();
    stopper.get();
    EXPECT_EQ(handled.load(), 1);
}

TEST(ProcessingThread, DrainHandlesEverythingQueuedBeforeStop) {
    TEvent release;
    std::atomic<int> handled{0};
    TProcessingThread<int> thread(8, [&](int&) {
        release.WaitFor();
        handled.fetch_add(1);
    });
    thread.Start();
    for (int i = 0; i < 6; ++i) thread.Push(i);
    auto stopper = std::async(std::launch::async, [&] { thread.Stop(TStopMode::Drain); });
    ASSERT_TRUE(Eventually([&] { return !thread.IsAccepting(); }));
    EXPECT_FALSE(thread.Push(99));
    release.SetEvent();
    stopper.get();
    EXPECT_EQ(handled.load(), 6);
}

TEST(ProcessingThread, HandlerExceptionsGoToTheErrorCallbackAndTheThreadGoesOn) {
    std::vector<std::string> errors;
    std::vector<int> handled;
    TProcessingThread<int> thread(
        4,
        [&](int& v) {
            if (v % 3 == 0) throw std::runtime_error("bad item " + std::to_string(v));
            handled.push_back(v);
        },
        [&](std::exception_ptr e) {
            try {
                std::rethrow_exception(e);
            } catch (const std::exception& ex) {
                errors.push_back(ex.what());
            }
        });
    thread.Start();
    for (int i = 1; i <= 7; ++i) thread.Push(i);
    thread.Stop();
    EXPECT_EQ(handled, (std::vector<int>{1, 2, 4, 5, 7}));
    EXPECT_EQ(errors, (std::vector<std::string>{"bad item 3", "bad item 6"}));
    EXPECT_EQ(thread.ErrorCount(), 2u);
}

TEST(ProcessingThread, StopFromTheHandlerOnlyRequestsIt) {
    std::vector<int> handled;
    TEvent allQueued;
    TProcessingThread<int>* self = nullptr;
    TProcessingThread<int> thread(16, [&](int& v) {
        if (v == 0) allQueued.WaitFor();
        handled.push_back(v);
        if (v == 2) self->Stop(TStopMode::Drain);  // must not wait for itself
    });
    self = &thread;
    thread.Start();
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(thread.Push(i));
    allQueued.SetEvent();
    ASSERT_TRUE(Eventually([&] { return !thread.IsRunning(); }));
    EXPECT_TRUE(thread.Join());
    // Items queued before the stop request are still handled in Drain mode; none after.
    EXPECT_EQ(handled, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_FALSE(thread.Push(9));
}

TEST(ProcessingThread, PushFromTheHandlerIntoItsFullQueueRaisesInsteadOfDeadlocking) {
    std::atomic<int> errors{0};
    TEvent gate;
    TProcessingThread<int>* self = nullptr;
    TProcessingThread<int> thread(
        1,
        [&](int& v) {
            if (v == 0) {
                gate.WaitFor();  // the producer fills the only slot meanwhile
                self->Push(100);
            }
        },
        [&](std::exception_ptr) { errors.fetch_add(1); });
    self = &thread;
    thread.Start();
    thread.Push(0);
    ASSERT_TRUE(Eventually([&] { return thread.TryPush(1); }));
    gate.SetEvent();
    EXPECT_TRUE(Eventually([&] { return errors.load() == 1; }));
    thread.Stop();
    EXPECT_EQ(errors.load(), 1);
}

TEST(ProcessingThread, StartsAndStopsAHundredTimes) {
    std::atomic<int> handled{0};
    TProcessingThread<int> thread(3, [&](int&) { handled.fetch_add(1); });
    for (int round = 0; round < 100; ++round) {
        thread.Start();
        thread.Start();  // a second Start while running changes nothing
        for (int i = 0; i < 5; ++i) ASSERT_TRUE(thread.Push(i));
        thread.Stop(round % 2 ? TStopMode::Drain : TStopMode::Discard);
        ASSERT_FALSE(thread.IsRunning());
    }
    EXPECT_GE(handled.load(), 50 * 5);  // every Drain round handled all its items
    EXPECT_LE(handled.load(), 100 * 5);
}

TEST(ProcessingThread, DestroyingARunningThreadWithQueuedItemsReturns) {
    auto payload = std::make_shared<int>(1);
    {
        TEvent release;
        TProcessingThread<std::shared_ptr<int>> thread(4, [&](std::shared_ptr<int>&) { release.WaitFor(50); });
        thread.Start();
        for (int i = 0; i < 4; ++i) thread.Push(payload);
    }
    EXPECT_EQ(payload.use_count(), 1);
}

TEST(ProcessingThread, RestartsAfterStoppingItself) {
    std::atomic<int> handled{0};
    TEvent stopped;
    TProcessingThread<int>* self = nullptr;
    TProcessingThread<int> thread(4, [&](int& v) {
        handled.fetch_add(1);
        if (v < 0) {
            self->Stop();
            stopped.SetEvent();
        }
    });
    self = &thread;
    thread.Start();
    thread.Push(-1);
    ASSERT_TRUE(stopped.WaitFor(30000));
    EXPECT_FALSE(thread.Push(0));
    thread.Start();  // waits for the old worker, then runs again
    EXPECT_TRUE(thread.Push(1));
    thread.Stop();
    EXPECT_EQ(handled.load(), 2);
}

TEST(ProcessingThread, NeedsAHandler) {
    EXPECT_THROW(TProcessingThread<int>(2, nullptr), EPXError);
}

// ---- TEvent

TEST(Event, ManualResetReleasesEveryWaiterAndStaysSet) {
    TEvent event(true);
    EXPECT_FALSE(event.WaitFor(0));
    std::vector<std::future<bool>> waiters;
    for (int i = 0; i < 3; ++i) waiters.push_back(std::async(std::launch::async, [&] { return event.WaitFor(); }));
    event.SetEvent();
    for (auto& w : waiters) EXPECT_TRUE(w.get());
    EXPECT_TRUE(event.WaitFor(0));
    event.ResetEvent();
    EXPECT_FALSE(event.WaitFor(0));
}

TEST(Event, AutoResetReleasesOneWaiterPerSignal) {
    TEvent event(false);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i)
        waiters.emplace_back([&] {
            if (event.WaitFor()) released.fetch_add(1);
        });
    event.SetEvent();
    ASSERT_TRUE(Eventually([&] { return released.load() == 1; }));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(released.load(), 1) << "one signal released two waiters";
    event.SetEvent();
    for (auto& w : waiters) w.join();
    EXPECT_EQ(released.load(), 2);
    EXPECT_FALSE(event.IsSet());
}

TEST(Event, TimesOutWhenNeverSet) {
    TEvent event(false, false);
    EXPECT_FALSE(event.WaitFor(5));
    TEvent initially(false, true);
    EXPECT_TRUE(initially.WaitFor(0));
    EXPECT_FALSE(initially.WaitFor(0)) << "auto-reset event stayed set";
}

}  // namespace
}  // namespace pixora
