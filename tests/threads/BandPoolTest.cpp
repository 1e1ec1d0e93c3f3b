// Band pool, inline executor and the band rule: every task and every row exactly once, with
// any thread count, under concurrent callers, with failing tasks, and without allocation.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "platform/base/PXErrors.h"
#include "platform/threads/PXBandPool.h"
#include "threads/AllocationCounter.h"

namespace pixora {
namespace {

struct TBand {
    int Y, H;
    bool operator==(const TBand&) const = default;
};

// Collects the bands RunBands produces, sorted by their first row.
std::vector<TBand> CollectBands(IBandExecutor* executor, int rectY, int rectHeight, int rowBytes, int blockSize) {
    std::mutex lock;
    std::vector<TBand> bands;
    RunBands(executor, rectY, rectHeight, rowBytes, blockSize, [&](int y, int h) {
        std::lock_guard guard(lock);
        bands.push_back({y, h});
    });
    std::sort(bands.begin(), bands.end(), [](const TBand& a, const TBand& b) { return a.Y < b.Y; });
    return bands;
}

// ---- the band rule, worked by hand

TEST(BandRule, BlockOfSeveralRowsCutsFromTheTopWithAShorterLastBand) {
    TBandPool pool(2);
    // 300-byte blocks over 100-byte rows: 3 rows per band; 10 rows starting at row 5.
    const std::vector<TBand> expected{{5, 3}, {8, 3}, {11, 3}, {14, 1}};
    EXPECT_EQ(CollectBands(&pool, 5, 10, 100, 300), expected);
    // A block of 2.5 rows rounds down to 2 rows.
    const std::vector<TBand> halves{{0, 2}, {2, 2}, {4, 1}};
    EXPECT_EQ(CollectBands(&pool, 0, 5, 100, 250), halves);
}

TEST(BandRule, BlockSmallerThanARowGivesOneRowBands) {
    TBandPool pool(3);
    const std::vector<TBand> expected{{7, 1}, {8, 1}, {9, 1}, {10, 1}};
    EXPECT_EQ(CollectBands(&pool, 7, 4, 1920 * 3, 1000), expected);
    EXPECT_EQ(CollectBands(&pool, 7, 4, 100, 99), expected);
    EXPECT_EQ(CollectBands(&pool, 7, 4, 100, 0), expected);
}

TEST(BandRule, BlockOfExactlyOneRowGivesOneRowBands) {
    TBandPool pool(2);
    const std::vector<TBand> expected{{0, 1}, {1, 1}, {2, 1}};
    EXPECT_EQ(CollectBands(&pool, 0, 3, 640, 640), expected);
}

TEST(BandRule, BlockCoveringTheRectangleGivesOneBandOnTheCaller) {
    TBandPool pool(3);
    const std::thread::id caller = std::this_thread::get_id();
    for (const int blockSize : {1000, 1001, 1 << 30}) {  // exactly the rectangle, more, far more
        std::vector<std::pair<TBand, std::thread::id>> calls;
        RunBands(&pool, 4, 10, 100, blockSize, [&](int y, int h) { calls.push_back({{y, h}, std::this_thread::get_id()}); });
        ASSERT_EQ(calls.size(), 1u) << "block size " << blockSize;
        EXPECT_EQ(calls[0].first, (TBand{4, 10}));
        EXPECT_EQ(calls[0].second, caller);
    }
}

TEST(BandRule, WithoutExecutorOneBandCoversTheRectangle) {
    const std::vector<TBand> expected{{3, 17}};
    EXPECT_EQ(CollectBands(nullptr, 3, 17, 100, 1), expected);
}

TEST(BandRule, EmptyRectangleCallsNothing) {
    TBandPool pool(2);
    EXPECT_TRUE(CollectBands(&pool, 0, 0, 100, 100).empty());
    EXPECT_TRUE(CollectBands(&pool, 0, 10, 0, 100).empty());
    EXPECT_TRUE(CollectBands(nullptr, 5, 0, 100, 100).empty());
}

TEST(BandRule, NegativeSizesAreRejectedWithTheirNames) {
    TBandPool pool(2);
    const auto none = [](int, int) {};
    try {
        RunBands(&pool, 0, -1, 100, 100, none);
        FAIL() << "negative height accepted";
    } catch (const ERangeError& e) {
        EXPECT_NE(std::string(e.what()).find("height -1"), std::string::npos) << e.what();
    }
    EXPECT_THROW(RunBands(&pool, 0, 10, -3, 100, none), ERangeError);
    EXPECT_THROW(RunBands(&pool, 0, 10, 100, -5, none), ERangeError);
}

// ---- bands on 1, 2 and 3 threads give the same image as one call over the rectangle

struct TBandCase {
    int Threads, Width, Height, RectY, RectHeight, BlockSize;
};

class BandsOnThreads : public testing::TestWithParam<TBandCase> {};

TEST_P(BandsOnThreads, CoverEveryRowOnceAndMatchTheSingleCall) {
    const TBandCase c = GetParam();
    TBandPool pool(c.Threads);
    const int rowBytes = c.Width * 3;
    std::vector<unsigned char> source(static_cast<std::size_t>(rowBytes) * c.Height);
    for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<unsigned char>(i * 7 + 3);

    // Reference: invert the rectangle's rows in one pass, sample by sample.
    std::vector<unsigned char> expected = source;
    for (int y = c.RectY; y < c.RectY + c.RectHeight; ++y)
        for (int x = 0; x < rowBytes; ++x) expected[y * rowBytes + x] = static_cast<unsigned char>(255 - source[y * rowBytes + x]);

    std::vector<unsigned char> banded = source;
    std::vector<std::atomic<int>> visits(static_cast<std::size_t>(c.Height));
    RunBands(&pool, c.RectY, c.RectHeight, rowBytes, c.BlockSize, [&](int y, int h) {
        for (int row = y; row < y + h; ++row) {
            visits[row].fetch_add(1);
            for (int x = 0; x < rowBytes; ++x) banded[row * rowBytes + x] = static_cast<unsigned char>(255 - banded[row * rowBytes + x]);
        }
    });
    for (int row = 0; row < c.Height; ++row) {
        const bool inside = row >= c.RectY && row < c.RectY + c.RectHeight;
        EXPECT_EQ(visits[row].load(), inside ? 1 : 0) << "row " << row;
    }
    EXPECT_TRUE(banded == expected);
}

INSTANTIATE_TEST_SUITE_P(
    ThreadCountsAndBlocks, BandsOnThreads,
    testing::Values(TBandCase{1, 37, 23, 0, 23, 10}, TBandCase{2, 37, 23, 0, 23, 10},
                    TBandCase{3, 37, 23, 0, 23, 10},                                        // below a row
                    TBandCase{1, 37, 23, 5, 11, 111}, TBandCase{2, 37, 23, 5, 11, 111},
                    TBandCase{3, 37, 23, 5, 11, 111},                                       // one row
                    TBandCase{2, 37, 23, 1, 22, 111 * 4}, TBandCase{3, 37, 23, 0, 23, 111 * 5},  // several
                    TBandCase{3, 37, 23, 0, 23, 1 << 20},                                   // above the frame
                    TBandCase{3, 1, 1, 0, 1, 1}, TBandCase{2, 2, 1, 0, 1, 3},
                    TBandCase{3, 1920, 1080, 0, 1080, 4096}, TBandCase{2, 1920, 1080, 100, 880, 1}));

// ---- Run

TEST(BandPool, RunsEveryIndexExactlyOnce) {
    for (const int threads : {1, 2, 3, 5}) {
        TBandPool pool(threads);
        for (const int count : {0, 1, 2, 3, 7, 100, 1080}) {
            std::vector<std::atomic<int>> hits(static_cast<std::size_t>(std::max(count, 1)));
            pool.Run(count, [&](int i) { hits[i].fetch_add(1); });
            for (int i = 0; i < count; ++i) ASSERT_EQ(hits[i].load(), 1) << threads << " threads, " << count << " tasks, index " << i;
        }
    }
}

TEST(BandPool, CallerAndWorkersRunTasksAtTheSameTime) {
    // Three tasks that each wait for the other two can finish only on three threads at once.
    TBandPool pool(3);
    std::mutex lock;
    std::condition_variable arrived;
    int present = 0;
    std::atomic<int> met{0};
    std::set<std::thread::id> threads;
    pool.Run(3, [&](int) {
        std::unique_lock guard(lock);
        threads.insert(std::this_thread::get_id());
        ++present;
        arrived.notify_all();
        if (arrived.wait_for(guard, std::chrono::seconds(30), [&] { return present == 3; })) met.fetch_add(1);
    });
    EXPECT_EQ(met.load(), 3);
    EXPECT_EQ(threads.size(), 3u);
    EXPECT_EQ(threads.count(std::this_thread::get_id()), 1u);
}

TEST(BandPool, WorkersPickUpJobsWhetherStillAwakeOrAsleep) {
    // Runs back to back find the worker still watching for work; after a pause longer than it
    // stays awake it has gone to sleep and must be woken. Either way both tasks of every Run
    // meet (so both threads took part) and each runs once; a pool destroyed right after a Run,
    // while its worker still watches, stops.
    for (int round = 0; round < 3; ++round) {
        TBandPool pool(2);
        for (int run = 0; run < 60; ++run) {
            if (run % 20 == 19)
                std::this_thread::sleep_for(std::chrono::microseconds(TBandPool::KStayAwakeMicroseconds * 5));
            std::mutex lock;
            std::condition_variable arrived;
            int present = 0;
            std::atomic<int> hits[2] = {0, 0};
            std::atomic<int> met{0};
            std::set<std::thread::id> threads;
            pool.Run(2, [&](int i) {
                hits[i].fetch_add(1);
                std::unique_lock guard(lock);
                threads.insert(std::this_thread::get_id());
                ++present;
                arrived.notify_all();
                if (arrived.wait_for(guard, std::chrono::seconds(30), [&] { return present == 2; })) met.fetch_add(1);
            });
            ASSERT_EQ(met.load(), 2) << "round " << round << ", run " << run;
            ASSERT_EQ(threads.size(), 2u) << "round " << round << ", run " << run;
            ASSERT_EQ(hits[0].load() + 10 * hits[1].load(), 11) << "round " << round << ", run " << run;
        }
    }
}

TEST(BandPool, EachThreadRunsItsOwnShareFrameAfterFrame) {
    // 2 tasks per thread (one at a time each): thread p's share is tasks 2p and 2p + 1, the
    // caller's share 0. Every first task of a share waits until all first tasks have begun,
    // every second task until all second tasks have: that completes only if each thread starts
    // on its own share and goes on with it before helping elsewhere (threads taking tasks from
    // the front of one counter would have the first two tasks waiting for two different rounds).
    // The same worker must get the same share in every run.
    for (const int threads : {2, 3}) {
        TBandPool pool(threads);
        const int count = 2 * threads;
        std::vector<std::thread::id> owner(static_cast<std::size_t>(threads));
        for (int run = 0; run < 20; ++run) {
            std::mutex lock;
            std::condition_variable arrived;
            int present[2] = {0, 0};
            std::atomic<int> met{0};
            std::vector<std::thread::id> ranOn(static_cast<std::size_t>(count));
            pool.Run(count, [&](int i) {
                std::unique_lock guard(lock);
                ranOn[static_cast<std::size_t>(i)] = std::this_thread::get_id();
                const int round = i % 2;
                ++present[round];
                arrived.notify_all();
                if (arrived.wait_for(guard, std::chrono::seconds(30), [&] { return present[round] == threads; }))
                    met.fetch_add(1);
            });
            ASSERT_EQ(met.load(), count) << threads << " threads, run " << run;
            EXPECT_EQ(ranOn[0], std::this_thread::get_id()) << threads << " threads, run " << run;
            std::set<std::thread::id> distinct;
            for (int p = 0; p < threads; ++p) {
                const std::thread::id first = ranOn[static_cast<std::size_t>(2 * p)];
                EXPECT_EQ(ranOn[static_cast<std::size_t>(2 * p + 1)], first) << threads << " threads, run " << run << ", share " << p;
                if (run == 0) owner[static_cast<std::size_t>(p)] = first;
                EXPECT_EQ(first, owner[static_cast<std::size_t>(p)]) << threads << " threads, run " << run << ", share " << p;
                distinct.insert(first);
            }
            EXPECT_EQ(distinct.size(), static_cast<std::size_t>(threads)) << threads << " threads, run " << run;
        }
    }
}

TEST(BandPool, CallerFinishesTheJobAloneWhenNoWorkerComes) {
    // A worker busy with another caller's job cannot start on a new one: the second caller
    // takes the worker's share too and returns without waiting for it.
    TBandPool pool(2);
    std::mutex lock;
    std::condition_variable changed;
    bool workerHeld = false, release = false;
    std::thread first([&] {
        pool.Run(2, [&](int i) {
            if (i != 1) return;
            std::unique_lock guard(lock);
            workerHeld = true;
            changed.notify_all();
            changed.wait_for(guard, std::chrono::seconds(30), [&] { return release; });
        });
    });
    {
        std::unique_lock guard(lock);
        ASSERT_TRUE(changed.wait_for(guard, std::chrono::seconds(30), [&] { return workerHeld; }));
    }
    // Task 1 of the first job is held on some thread; whichever it is, the other thread may be
    // the first caller, which waits for it. Either way this caller can count only on itself.
    std::vector<std::atomic<int>> hits(64);
    std::set<std::thread::id> ranOn;
    std::mutex ranLock;
    pool.Run(64, [&](int i) {
        hits[static_cast<std::size_t>(i)].fetch_add(1);
        std::lock_guard guard(ranLock);
        ranOn.insert(std::this_thread::get_id());
    });
    for (int i = 0; i < 64; ++i) EXPECT_EQ(hits[static_cast<std::size_t>(i)].load(), 1) << "index " << i;
    EXPECT_EQ(ranOn.count(std::this_thread::get_id()), 1u);
    {
        std::lock_guard guard(lock);
        release = true;
    }
    changed.notify_all();
    first.join();
}

TEST(BandPool, FirstExceptionIsRethrownAfterAllTasksRan) {
    TBandPool pool(3);
    std::atomic<int> ran{0};
    try {
        pool.Run(50, [&](int i) {
            ran.fetch_add(1);
            if (i == 17) throw std::runtime_error("band 17 failed");
        });
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "band 17 failed");
    }
    EXPECT_EQ(ran.load(), 50);

    // Several failures: exactly one of them arrives.
    try {
        pool.Run(40, [&](int i) {
            if (i % 10 == 3) throw std::runtime_error(std::to_string(i));
        });
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        const std::string what = e.what();
        EXPECT_TRUE(what == "3" || what == "13" || what == "23" || what == "33") << what;
    }

    // The pool works normally afterwards.
    std::atomic<int> sum{0};
    pool.Run(10, [&](int i) { sum.fetch_add(i); });
    EXPECT_EQ(sum.load(), 45);
}

TEST(BandPool, ConcurrentCallersEachGetTheirOwnTasks) {
    TBandPool pool(3);
    // More callers than job slots, so some wait for a slot.
    constexpr int KCallers = TBandPool::KJobSlots + 4;
    std::atomic<int> failures{0};
    std::vector<std::thread> callers;
    for (int c = 0; c < KCallers; ++c) {
        callers.emplace_back([&, c] {
            for (int round = 0; round < 60; ++round) {
                const int count = 1 + (c * 31 + round * 7) % 90;
                std::vector<int> out(static_cast<std::size_t>(count), -1);
                pool.Run(count, [&](int i) { out[i] = i * 3 + c; });
                for (int i = 0; i < count; ++i)
                    if (out[i] != i * 3 + c) failures.fetch_add(1);
            }
        });
    }
    for (auto& t : callers) t.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST(BandPool, NestedRunFromATaskCompletes) {
    TBandPool pool(2);
    std::vector<std::atomic<int>> hits(8 * 8);
    pool.Run(8, [&](int outer) { pool.Run(8, [&](int inner) { hits[outer * 8 + inner].fetch_add(1); }); });
    for (auto& h : hits) EXPECT_EQ(h.load(), 1);
}

TEST(BandPool, ThreadCountChangesWhileOthersRun) {
    TBandPool pool(2);
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    std::thread runner([&] {
        while (!stop.load()) {
            std::vector<int> out(64, 0);
            pool.Run(64, [&](int i) { out[i] = i + 1; });
            for (int i = 0; i < 64; ++i)
                if (out[i] != i + 1) failures.fetch_add(1);
        }
    });
    for (const int n : {3, 1, 4, 2, 1, 3}) {
        pool.SetThreadCount(n);
        EXPECT_EQ(pool.ThreadCount(), n);
    }
    stop.store(true);
    runner.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST(BandPool, BadThreadCountsAreRejected) {
    EXPECT_THROW(TBandPool(0), ERangeError);
    TBandPool pool(2);
    try {
        pool.SetThreadCount(-2);
        FAIL() << "accepted -2";
    } catch (const ERangeError& e) {
        EXPECT_NE(std::string(e.what()).find("-2"), std::string::npos) << e.what();
    }
    EXPECT_EQ(pool.ThreadCount(), 2);
    std::atomic<int> refused{0};
    pool.Run(4, [&](int) {
        try {
            pool.SetThreadCount(3);
        } catch (const EPXError&) {
            refused.fetch_add(1);
        }
    });
    EXPECT_EQ(refused.load(), 4);
}

TEST(BandPool, InstanceStartsWithOneThreadPerCore) {
    TBandPool& pool = TBandPool::Instance();
    EXPECT_EQ(&pool, &TBandPool::Instance());
    EXPECT_EQ(pool.ThreadCount(), std::max(1, static_cast<int>(std::thread::hardware_concurrency())));
}

TEST(BandPool, RunAndRunBandsAllocateNothingOnceWarm) {
    TBandPool pool(3);
    std::atomic<long> sum{0};
    const std::function<void(int)> task = [&](int i) { sum.fetch_add(i, std::memory_order_relaxed); };
    const std::function<void(int, int)> band = [&](int y, int h) { sum.fetch_add(y + h, std::memory_order_relaxed); };
    pool.Run(16, task);  // starts the workers
    long allocations;
    {
        testing_support::TAllocationCounter counter;
        for (int round = 0; round < 200; ++round) {
            pool.Run(1080, task);
            pool.Run(2, task);
            RunBands(&pool, 0, 1080, 5760, 4096, band);
        }
        allocations = counter.Count();
    }
    EXPECT_EQ(allocations, 0);
    EXPECT_GT(sum.load(), 0);
}

TEST(DirectExecutor, RunsInOrderOnTheCallerAndRethrowsAfterAll) {
    TDirectExecutor direct;
    EXPECT_EQ(direct.ThreadCount(), 1);
    std::vector<int> order;
    const std::thread::id caller = std::this_thread::get_id();
    bool sameThread = true;
    RunBands(&direct, 2, 7, 10, 20, [&](int y, int h) {
        order.push_back(y);
        order.push_back(h);
        sameThread = sameThread && std::this_thread::get_id() == caller;
    });
    EXPECT_EQ(order, (std::vector<int>{2, 2, 4, 2, 6, 2, 8, 1}));
    EXPECT_TRUE(sameThread);

    int ran = 0;
    EXPECT_THROW(direct.Run(5,
                            [&](int i) {
                                ++ran;
                                if (i == 1) throw std::logic_error("one");
                            }),
                 std::logic_error);
    EXPECT_EQ(ran, 5);
}

}  // namespace
}  // namespace pixora
