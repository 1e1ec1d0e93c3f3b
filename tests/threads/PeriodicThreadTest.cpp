// Tick schedule arithmetic, and the periodic, repeat and clock-generator threads: stamps,
// skipped ticks, stopping from outside and from the callback, restarts.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/threads/PXEvent.h"
#include "platform/threads/PXPeriodicThread.h"
#include "threads/ThreadTestSupport.h"

namespace pixora {
namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;
using testing_support::Eventually;

// 100 ns units as steady-clock time, computed independently of the schedule.
TClock::duration Units(std::int64_t units) { return std::chrono::nanoseconds(units * 100); }

constexpr std::int64_t KNtscFrame = 333667;  // 29.97 frames per second

// ---- TTickSchedule: no clock involved, every expectation is exact

TEST(TickSchedule, DueTimesDoNotDriftOverLongRuns) {
    const TClock::time_point start{std::chrono::seconds(1000)};
    TTickSchedule schedule(start, KNtscFrame);
    for (std::int64_t n = 0; n < 100000; ++n) {
        ASSERT_EQ(schedule.Next(), n);
        ASSERT_EQ(schedule.Due(), start + Units(n * KNtscFrame)) << "tick " << n;
        ASSERT_EQ(schedule.Stamp(), n * KNtscFrame);
        // The callback took 90% of a period: never late enough to skip.
        ASSERT_EQ(schedule.Advance(schedule.Due() + Units(KNtscFrame * 9 / 10)), 0);
    }
}

TEST(TickSchedule, OverrunByMoreThanAPeriodSkipsToTheNewestDueTick) {
    const TClock::time_point start{};
    TTickSchedule schedule(start, 100000);  // 10 ms
    // Tick 0's callback returns at 35 ms: ticks 1 (10 ms) and 2 (20 ms) are a period or more
    // overdue, tick 3 (30 ms) is the newest due.
    EXPECT_EQ(schedule.Advance(start + 35ms), 2);
    EXPECT_EQ(schedule.Next(), 3);
    EXPECT_EQ(schedule.Due(), start + 30ms);
    EXPECT_EQ(schedule.Stamp(), 300000);
    // Returning at 45 ms, less than a period after tick 4 was due: tick 4 fires late, no skip.
    EXPECT_EQ(schedule.Advance(start + 45ms), 0);
    EXPECT_EQ(schedule.Next(), 4);
    // Exactly one period overdue counts as missed.
    EXPECT_EQ(schedule.Advance(start + 60ms), 1);
    EXPECT_EQ(schedule.Next(), 6);
    // Back on time.
    EXPECT_EQ(schedule.Advance(start + 61ms), 0);
    EXPECT_EQ(schedule.Due(), start + 70ms);
}

TEST(TickSchedule, NewPeriodCountsFromTheLastTick) {
    const TClock::time_point start{};
    TTickSchedule schedule(start, 100000);  // 10 ms
    for (int n = 0; n < 5; ++n) schedule.Advance(schedule.Due());
    ASSERT_EQ(schedule.Next(), 5);  // ticks 0..4 delivered, tick 4 at 40 ms
    schedule.SetPeriod(250000);     // 25 ms
    EXPECT_EQ(schedule.Next(), 5);
    EXPECT_EQ(schedule.Due(), start + 65ms);
    EXPECT_EQ(schedule.Stamp(), 650000);
    schedule.Advance(schedule.Due());
    EXPECT_EQ(schedule.Due(), start + 90ms);
    EXPECT_EQ(schedule.Stamp(), 900000);
    // Before any tick, a new period leaves tick 0 at the start.
    TTickSchedule fresh(start, 100000);
    fresh.SetPeriod(1);
    EXPECT_EQ(fresh.Due(), start);
    fresh.Advance(start);
    EXPECT_EQ(fresh.Due(), start + 100ns);
}

TEST(TickSchedule, PeriodMustBePositive) {
    EXPECT_THROW(TTickSchedule(TClock::now(), 0), ERangeError);
    TTickSchedule schedule(TClock::now(), 10);
    EXPECT_THROW(schedule.SetPeriod(-5), ERangeError);
}

// ---- TQNClockGen

struct TTick {
    std::int64_t Index, Stamp;
    TClock::time_point At;
    std::int64_t MissedSoFar;
};

TEST(ClockGen, StampsAreNominalAndTicksNeverComeEarly) {
    constexpr std::int64_t KPeriod = 20000;  // 2 ms
    std::mutex lock;
    std::vector<TTick> ticks;
    TEvent enough;
    TQNClockGen* self = nullptr;
    TQNClockGen clock(KPeriod, [&](std::int64_t index, std::int64_t stamp) {
        std::lock_guard guard(lock);
        ticks.push_back({index, stamp, TClock::now(), self->MissedTicks()});
        if (ticks.size() == 40) enough.SetEvent();
    });
    self = &clock;
    const TClock::time_point before = TClock::now();
    clock.Start();
    ASSERT_TRUE(enough.WaitFor(30000));
    clock.Stop();
    std::lock_guard guard(lock);
    ASSERT_GE(ticks.size(), 40u);
    EXPECT_EQ(ticks[0].Index, 0);
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        const TTick& t = ticks[i];
        EXPECT_EQ(t.Stamp, t.Index * KPeriod);
        EXPECT_GE(t.At - before, Units(t.Index * KPeriod)) << "tick " << t.Index << " came early";
        // Index gaps are exactly the ticks counted as missed.
        EXPECT_EQ(t.Index, static_cast<std::int64_t>(i) + t.MissedSoFar);
        if (i > 0) {
            EXPECT_GT(t.Index, ticks[i - 1].Index);
        }
    }
    EXPECT_EQ(clock.TickCount(), static_cast<std::int64_t>(ticks.size()));
    EXPECT_EQ(clock.TickCount() + clock.MissedTicks(), ticks.back().Index + 1);
}

TEST(ClockGen, CallbackOverrunSkipsAndCountsTicks) {
    constexpr std::int64_t KPeriod = 50000;  // 5 ms
    std::vector<TTick> ticks;
    TEvent second;
    TQNClockGen* self = nullptr;
    TQNClockGen clock(KPeriod, [&](std::int64_t index, std::int64_t stamp) {
        ticks.push_back({index, stamp, TClock::now(), self->MissedTicks()});
        if (index == 0) std::this_thread::sleep_for(Units(KPeriod * 7 / 2));  // overrun by 3.5 periods
        if (ticks.size() == 2) {
            self->Stop();
            second.SetEvent();
        }
    });
    self = &clock;
    clock.Start();
    ASSERT_TRUE(second.WaitFor(30000));
    ASSERT_TRUE(clock.Join());
    ASSERT_EQ(ticks.size(), 2u);
    // Tick 0 returned at least 3.5 periods after the start: ticks 1 and 2 at least are skipped.
    EXPECT_GE(clock.MissedTicks(), 2);
    EXPECT_EQ(ticks[1].Index, 1 + clock.MissedTicks());
    EXPECT_EQ(ticks[1].Stamp, ticks[1].Index * KPeriod);
}

TEST(ClockGen, StopReturnsWithoutWaitingForTheNextTick) {
    TEvent first;
    std::atomic<int> count{0};
    TQNClockGen clock(36'000'000'000LL, [&](std::int64_t, std::int64_t) {  // one tick per hour
        count.fetch_add(1);
        first.SetEvent();
    });
    clock.Start();
    ASSERT_TRUE(first.WaitFor(30000));
    const auto before = TClock::now();
    clock.Stop();
    EXPECT_LT(TClock::now() - before, 10s);
    EXPECT_FALSE(clock.IsRunning());
    EXPECT_EQ(count.load(), 1);
}

TEST(ClockGen, StopFromTheTickCallbackEndsTheClock) {
    std::atomic<int> count{0};
    std::atomic<std::int64_t> last{-1};
    TEvent stopped;
    TQNClockGen* self = nullptr;
    TQNClockGen clock(10000, [&](std::int64_t index, std::int64_t) {
        count.fetch_add(1);
        if (index >= 3 && last.load() < 0) {
            last.store(index);
            self->Stop();  // only a request: must return at once
            stopped.SetEvent();
        }
    });
    self = &clock;
    clock.Start();
    ASSERT_TRUE(stopped.WaitFor(30000));
    EXPECT_TRUE(clock.Join());
    EXPECT_FALSE(clock.IsRunning());
    EXPECT_EQ(clock.TickCount(), count.load());
    EXPECT_EQ(count.load() + clock.MissedTicks(), last.load() + 1);  // no tick after the stop
}

TEST(ClockGen, ShorterPeriodWakesAWaitingClock) {
    std::atomic<int> count{0};
    TEvent several;
    TQNClockGen clock(36'000'000'000LL, [&](std::int64_t, std::int64_t) {
        if (count.fetch_add(1) + 1 == 5) several.SetEvent();
    });
    clock.Start();
    ASSERT_TRUE(Eventually([&] { return count.load() == 1; }));
    clock.SetPeriod(10000);  // 1 ms instead of an hour
    EXPECT_EQ(clock.GetPeriod(), 10000);
    EXPECT_TRUE(several.WaitFor(30000));
    clock.Stop();
}

TEST(ClockGen, ExceptionsFromTheCallbackAreReportedAndTicksContinue) {
    std::atomic<int> errors{0};
    TEvent done;
    TQNClockGen clock(
        10000,
        [&](std::int64_t index, std::int64_t) {
            if (index >= 5) done.SetEvent();
            throw std::runtime_error("tick failed");
        },
        [&](std::exception_ptr) { errors.fetch_add(1); });
    clock.Start();
    ASSERT_TRUE(done.WaitFor(30000));
    clock.Stop();
    EXPECT_GE(errors.load(), 2);
    EXPECT_EQ(static_cast<std::int64_t>(errors.load()), clock.TickCount());
}

TEST(ClockGen, StartsAndStopsAHundredTimes) {
    std::atomic<int> count{0};
    TQNClockGen clock(1000, [&](std::int64_t, std::int64_t) { count.fetch_add(1); });
    for (int i = 0; i < 100; ++i) {
        clock.Start();
        if (i % 3 == 0) {
            ASSERT_TRUE(Eventually([&] { return clock.TickCount() > 0; }));
        }
        clock.Stop();
        ASSERT_FALSE(clock.IsRunning());
    }
    const int after = count.load();
    std::this_thread::sleep_for(5ms);
    EXPECT_EQ(count.load(), after) << "ticks after Stop returned";
}

TEST(ClockGen, BadArgumentsAreRejected) {
    EXPECT_THROW(TQNClockGen(0, [](std::int64_t, std::int64_t) {}), ERangeError);
    EXPECT_THROW(TQNClockGen(10, nullptr), EPXError);
    TQNClockGen clock(10, [](std::int64_t, std::int64_t) {});
    EXPECT_THROW(clock.SetPeriod(-1), ERangeError);
    EXPECT_EQ(clock.GetPeriod(), 10);
}

// ---- TPeriodicThread

TEST(PeriodicThread, CallsAtOnceAndStopsWithoutWaitingAPeriod) {
    std::atomic<int> count{0};
    TEvent called;
    TPeriodicThread thread(std::chrono::hours(1), [&] {
        count.fetch_add(1);
        called.SetEvent();
    });
    thread.Start();
    ASSERT_TRUE(called.WaitFor(30000));
    const auto before = TClock::now();
    thread.Stop();
    EXPECT_LT(TClock::now() - before, 10s);
    EXPECT_EQ(count.load(), 1);
}

TEST(PeriodicThread, KeepsCallingUntilStoppedAndNotAfter) {
    std::atomic<int> count{0};
    TPeriodicThread thread(1ms, [&] { count.fetch_add(1); });
    thread.Start();
    ASSERT_TRUE(Eventually([&] { return count.load() >= 5; }));
    thread.Stop();
    const int after = count.load();
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(count.load(), after);
}

TEST(PeriodicThread, StopFromTheCallbackEndsAfterThatCall) {
    std::atomic<int> count{0};
    TPeriodicThread* self = nullptr;
    TPeriodicThread thread(1ms, [&] {
        if (count.fetch_add(1) + 1 == 3) self->Stop();
    });
    self = &thread;
    thread.Start();
    ASSERT_TRUE(Eventually([&] { return !thread.IsRunning(); }));
    EXPECT_TRUE(thread.Join());
    EXPECT_EQ(count.load(), 3);
}

TEST(PeriodicThread, NewPeriodWakesTheThread) {
    std::atomic<int> count{0};
    TPeriodicThread thread(std::chrono::hours(1), [&] { count.fetch_add(1); });
    thread.Start();
    ASSERT_TRUE(Eventually([&] { return count.load() == 1; }));
    thread.SetPeriod(1ms);
    EXPECT_EQ(thread.GetPeriod(), 1ms);
    EXPECT_TRUE(Eventually([&] { return count.load() >= 4; }));
    thread.Stop();
    EXPECT_THROW(thread.SetPeriod(0ms), ERangeError);
}

TEST(PeriodicThread, StartsAndStopsAHundredTimes) {
    std::atomic<int> count{0};
    TPeriodicThread thread(1ms, [&] { count.fetch_add(1); });
    for (int i = 0; i < 100; ++i) {
        thread.Start();
        thread.Stop();
        ASSERT_FALSE(thread.IsRunning());
    }
    EXPECT_LE(count.load(), 100 * 1000);
}

// ---- TRepeatThread

TEST(RepeatThread, RepeatsUntilStoppedAndReportsErrors) {
    std::atomic<int> count{0};
    std::atomic<int> errors{0};
    TRepeatThread thread(
        [&] {
            if (count.fetch_add(1) % 2 == 0) throw std::runtime_error("odd call");
        },
        [&](std::exception_ptr) { errors.fetch_add(1); });
    thread.Start();
    ASSERT_TRUE(Eventually([&] { return count.load() >= 100; }));
    thread.Stop();
    const int after = count.load();
    EXPECT_EQ(errors.load(), (after + 1) / 2);
    EXPECT_EQ(thread.ErrorCount(), static_cast<std::uint64_t>(errors.load()));
    std::this_thread::sleep_for(5ms);
    EXPECT_EQ(count.load(), after);
}

TEST(RepeatThread, StopFromTheCallbackAndRestart) {
    std::atomic<int> count{0};
    TRepeatThread* self = nullptr;
    TRepeatThread thread([&] {
        if (count.fetch_add(1) + 1 == 10) self->Stop();
    });
    self = &thread;
    thread.Start();
    ASSERT_TRUE(Eventually([&] { return !thread.IsRunning(); }));
    EXPECT_EQ(count.load(), 10);
    EXPECT_THROW(TRepeatThread(nullptr), EPXError);
    for (int i = 0; i < 100; ++i) {
        thread.Start();
        thread.Stop();
    }
    EXPECT_FALSE(thread.IsRunning());
}

TEST(LoopThread, RestartFromTheCallbackIsRefused) {
    std::atomic<int> refused{0};
    TEvent done;
    TRepeatThread* self = nullptr;
    TRepeatThread thread([&] {
        try {
            self->Start();
        } catch (const EPXError&) {
            refused.fetch_add(1);
        }
        self->Stop();
        done.SetEvent();
    });
    self = &thread;
    thread.Start();
    ASSERT_TRUE(done.WaitFor(30000));
    thread.Join();
    EXPECT_EQ(refused.load(), 1);
}

}  // namespace
}  // namespace pixora
