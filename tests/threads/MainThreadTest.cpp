// Main-thread executor: order, which thread runs the work, the dispatcher stand-in, the hand-over
// between them, errors.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/PXErrors.h"
#include "platform/threads/PXEvent.h"
#include "platform/threads/PXMainThread.h"
#include "threads/ThreadTestSupport.h"

namespace pixora {
namespace {

using testing_support::Eventually;

// Every test starts and ends without a main thread and with the default error handler.
class MainThread : public testing::Test {
protected:
    void SetUp() override { TMainThread::ClearMainThread(); }
    void TearDown() override {
        if (TMainThread::IsMainThread()) TMainThread::ProcessPending();
        TMainThread::ClearMainThread();
        TMainThread::SetErrorHandler({});
    }
};

TEST_F(MainThread, WithoutAMainThreadWorkRunsInOrderOnOneDispatcherThread) {
    constexpr int KProducers = 3, KItems = 200;
    std::mutex lock;
    std::vector<std::pair<int, int>> ran;
    std::vector<std::thread::id> runners;
    TEvent done;
    std::atomic<int> remaining{KProducers * KItems};
    std::vector<std::thread> producers;
    for (int p = 0; p < KProducers; ++p)
        producers.emplace_back([&, p] {
            for (int i = 0; i < KItems; ++i)
                TMainThread::Execute([&, p, i] {
                    {
                        std::lock_guard guard(lock);
                        ran.emplace_back(p, i);
                        runners.push_back(std::this_thread::get_id());
                    }
                    if (remaining.fetch_sub(1) == 1) done.SetEvent();
                });
        });
    for (auto& t : producers) t.join();
    ASSERT_TRUE(done.WaitFor(30000));
    std::lock_guard guard(lock);
    ASSERT_EQ(ran.size(), static_cast<std::size_t>(KProducers * KItems));
    std::vector<int> next(KProducers, 0);
    for (const auto& [p, i] : ran) {
        EXPECT_EQ(i, next[p]) << "producer " << p;
        next[p] = i + 1;
    }
    for (const auto& id : runners) {
        EXPECT_EQ(id, runners.front()) << "work ran on more than one thread";
        EXPECT_NE(id, std::this_thread::get_id());
    }
}

TEST_F(MainThread, WorkFromOtherThreadsWaitsForProcessPendingOnTheMainThread) {
    TMainThread::SetMainThread();
    EXPECT_TRUE(TMainThread::IsMainThread());
    std::vector<int> order;  // touched only on this thread
    std::thread other([&] {
        EXPECT_FALSE(TMainThread::IsMainThread());
        for (int i = 0; i < 5; ++i) TMainThread::Execute([&order, i] { order.push_back(i); });
    });
    other.join();
    EXPECT_TRUE(order.empty()) << "work ran before the main thread asked for it";
    EXPECT_EQ(TMainThread::ProcessPending(), 5);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(TMainThread::ProcessPending(), 0);
}

TEST_F(MainThread, ExecuteOnTheMainThreadRunsAtOnce) {
    TMainThread::SetMainThread();
    bool ran = false;
    TMainThread::Execute([&] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_EQ(TMainThread::ProcessPending(), 0);
}

TEST_F(MainThread, WorkQueuedDuringProcessingWaitsForTheNextCall) {
    TMainThread::SetMainThread();
    std::vector<std::string> order;
    std::thread([&] {
        TMainThread::Execute([&] {
            order.push_back("first");
            // Queued from another thread while the main thread is busy with this item.
            std::thread([&] { TMainThread::Execute([&] { order.push_back("later"); }); }).join();
        });
    }).join();
    EXPECT_EQ(TMainThread::ProcessPending(), 1);
    EXPECT_EQ(order, (std::vector<std::string>{"first"}));
    EXPECT_EQ(TMainThread::ProcessPending(), 1);
    EXPECT_EQ(order, (std::vector<std::string>{"first", "later"}));
}

TEST_F(MainThread, WaitAndProcessWakesForWorkAndTimesOutWithout) {
    TMainThread::SetMainThread();
    EXPECT_FALSE(TMainThread::WaitAndProcess(5));
    int ran = 0;
    std::thread other([&] { TMainThread::Execute([&] { ++ran; }); });
    EXPECT_TRUE(TMainThread::WaitAndProcess(-1));
    other.join();
    EXPECT_EQ(ran, 1);
}

TEST_F(MainThread, ProcessingOffTheMainThreadIsRefused) {
    EXPECT_THROW(TMainThread::ProcessPending(), EPXError);  // no main thread at all
    TMainThread::SetMainThread();
    std::thread([] {
        EXPECT_THROW(TMainThread::ProcessPending(), EPXError);
        EXPECT_THROW(TMainThread::WaitAndProcess(0), EPXError);
    }).join();
    EXPECT_THROW(TMainThread::Execute(nullptr), EPXError);
}

TEST_F(MainThread, DispatcherHandsOverToANewMainThreadWithoutReordering) {
    std::mutex lock;
    std::vector<int> order;
    std::vector<bool> onMain;
    TEvent started, release;
    const auto record = [&](int i) {
        std::lock_guard guard(lock);
        order.push_back(i);
        onMain.push_back(TMainThread::IsMainThread());
    };
    // Item 0 holds the dispatcher while 1..4 queue up behind it.
    TMainThread::Execute([&] {
        started.SetEvent();
        release.WaitFor();
        record(0);
    });
    ASSERT_TRUE(started.WaitFor(30000));
    for (int i = 1; i <= 4; ++i) TMainThread::Execute([&, i] { record(i); });
    std::thread releaser([&] {
        EXPECT_TRUE(Eventually([] { return TMainThread::HasMainThread(); }));
        release.SetEvent();
    });
    TMainThread::SetMainThread();  // returns once the dispatcher has finished item 0
    releaser.join();
    {
        std::lock_guard guard(lock);
        EXPECT_EQ(order, (std::vector<int>{0}));
    }
    EXPECT_EQ(TMainThread::ProcessPending(), 4);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(onMain, (std::vector<bool>{false, true, true, true, true}));
}

TEST_F(MainThread, ClearingTheMainThreadSendsQueuedWorkToTheDispatcher) {
    TMainThread::SetMainThread();
    std::atomic<int> ran{0};
    std::thread([&] { TMainThread::Execute([&] { ran.fetch_add(1); }); }).join();
    TMainThread::ClearMainThread();
    EXPECT_TRUE(Eventually([&] { return ran.load() == 1; }));
    EXPECT_FALSE(TMainThread::IsMainThread());
    EXPECT_FALSE(TMainThread::HasMainThread());
}

TEST_F(MainThread, FailingWorkIsReportedAndTheQueueGoesOn) {
    std::vector<std::string> errors;
    TMainThread::SetErrorHandler([&](std::exception_ptr e) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& ex) {
            errors.push_back(ex.what());
        }
    });
    TMainThread::SetMainThread();
    std::vector<int> ran;
    std::thread([&] {
        TMainThread::Execute([&] { ran.push_back(1); });
        TMainThread::Execute([] { throw std::runtime_error("event handler failed"); });
        TMainThread::Execute([&] { ran.push_back(3); });
    }).join();
    EXPECT_EQ(TMainThread::ProcessPending(), 3);
    EXPECT_EQ(ran, (std::vector<int>{1, 3}));
    EXPECT_EQ(errors, (std::vector<std::string>{"event handler failed"}));
}

TEST_F(MainThread, SwitchingBetweenModesManyTimesLosesNothing) {
    std::atomic<int> ran{0};
    int queued = 0;
    for (int round = 0; round < 100; ++round) {
        std::thread([&] {
            for (int i = 0; i < 3; ++i) TMainThread::Execute([&] { ran.fetch_add(1); });
        }).join();
        queued += 3;
        if (round % 2 == 0) {
            TMainThread::SetMainThread();
            TMainThread::ProcessPending();
        } else {
            TMainThread::ClearMainThread();
        }
    }
    TMainThread::ClearMainThread();
    EXPECT_TRUE(Eventually([&] { return ran.load() == queued; }));
}

}  // namespace
}  // namespace pixora
