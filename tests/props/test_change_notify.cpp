// The change-notify lock behind every published setter: one notification per effective change
// (none for an unchanged or clamped-to-current value), follow-ups after the store, listeners
// called under the lock, and setters on several threads against readers.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <limits>
#include <set>
#include <thread>

#include "filters/point/PXSolarize.h"
#include "generators/PXJaehneGen.h"
#include "tests/props/PropTestObjects.h"

namespace pixora::proptest {
namespace {

// Records the property names a lock announces.
struct TRecorder {
    explicit TRecorder(TChangeNotifyLock& lock) : Lock(lock) {
        Id = lock.Subscribe([this](std::string_view name) { Names.emplace_back(name); });
    }
    ~TRecorder() { Lock.Unsubscribe(Id); }
    TChangeNotifyLock& Lock;
    int Id;
    std::vector<std::string> Names;
};

TEST(PropNotify, OneNotificationPerEffectiveChange) {
    TPXSolarize solarize;
    TRecorder changes(solarize.GetLock());
    const unsigned long start = solarize.GetLock().ChangeCount();

    solarize.SetLevel(0.7f);
    solarize.SetLevel(0.7f);                   // unchanged
    SetPropertyText(solarize, "Level", "0.7");  // unchanged, through text
    EXPECT_EQ(changes.Names, (std::vector<std::string>{"Level"}));

    SetPropertyText(solarize, "Level", "1.5");  // clamped to 1.0: a change
    SetPropertyText(solarize, "Level", "2");    // clamped to 1.0 again: no change
    solarize.SetLevel(1.0f);                    // no change
    LoadProperties(solarize, nlohmann::json{{"Level", 9.0}});  // clamped, no change
    EXPECT_EQ(changes.Names.size(), 2u);

    SetPropertyText(solarize, "Level", "-1");  // clamped to 0.0
    SetPropertyText(solarize, "Level", "-5");  // still 0.0
    EXPECT_EQ(changes.Names, (std::vector<std::string>{"Level", "Level", "Level"}));
    EXPECT_EQ(solarize.GetLock().ChangeCount() - start, 3u);

    // A refused value announces nothing.
    EXPECT_THROW(SetPropertyText(solarize, "Level", "abc"), EPropertyError);
    EXPECT_EQ(changes.Names.size(), 3u);
}

TEST(PropNotify, SubObjectsAndCollectionsAnnounceOnTheOwnersLock) {
    TPXSolarize solarize;
    TRecorder changes(solarize.GetLock());
    SetPropertyText(solarize, "RegionOfInterest.Width", "50");
    SetPropertyText(solarize, "RegionOfInterest.Width", "50");
    SetPropertyText(solarize, "RegionOfInterest.Enabled", "True");
    EXPECT_EQ(changes.Names, (std::vector<std::string>{"Width", "Enabled"}));

    TPXJaehneGen gen;
    TRecorder genChanges(gen.GetLock());
    LoadProperties(gen, nlohmann::json{{"ImageSize", {{"Width", 640}, {"Height", 20}}}});
    EXPECT_EQ(genChanges.Names, (std::vector<std::string>{"Height"})) << "Width was already 640";

    TGadget g;
    TRecorder gadgetChanges(g.GetLock());
    g.Items.Add();
    EXPECT_EQ(gadgetChanges.Names.size(), 1u) << "adding an item is a change";
    SetPropertyText(g, "Items[0].Offset", "8");
    SetPropertyText(g, "Items[0].Offset", "8");
    EXPECT_EQ(gadgetChanges.Names.size(), 2u);
    EXPECT_EQ(gadgetChanges.Names.back(), "Offset");
    g.Items.Clear();
    g.Items.Clear();  // already empty: no change
    EXPECT_EQ(gadgetChanges.Names.size(), 3u);
}

TEST(PropNotify, UnsubscribedListenersHearNothing) {
    TGadget g;
    int first = 0, second = 0;
    const int a = g.GetLock().Subscribe([&](std::string_view) { ++first; });
    const int b = g.GetLock().Subscribe([&](std::string_view) { ++second; });
    SetPropertyText(g, "Count", "1");
    g.GetLock().Unsubscribe(a);
    SetPropertyText(g, "Count", "2");
    g.GetLock().Unsubscribe(b);
    SetPropertyText(g, "Count", "3");
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 2);
}

// A one-shot listener takes itself off the lock from inside its notification; the listeners
// after it must still hear that change once, and nobody may be called twice.
TEST(PropNotify, AListenerMayUnsubscribeItselfWhileBeingNotified) {
    TGadget g;
    std::vector<int> calls(4, 0);
    int oneShot = 0;
    oneShot = g.GetLock().Subscribe([&](std::string_view) {
        ++calls[0];
        g.GetLock().Unsubscribe(oneShot);
    });
    for (int i = 1; i < 4; ++i) g.GetLock().Subscribe([&calls, i](std::string_view) { ++calls[std::size_t(i)]; });
    SetPropertyText(g, "Count", "1");
    EXPECT_EQ(calls, (std::vector<int>{1, 1, 1, 1}));
    SetPropertyText(g, "Count", "2");
    EXPECT_EQ(calls, (std::vector<int>{1, 2, 2, 2}));
}

// A listener that subscribes another one from inside its notification: the new listener hears
// the following changes.
TEST(PropNotify, AListenerMaySubscribeAnotherWhileBeingNotified) {
    TGadget g;
    int first = 0, late = 0;
    bool added = false;
    g.GetLock().Subscribe([&](std::string_view) {
        ++first;
        if (!added) {
            added = true;
            // Enough new entries to make the listener list grow.
            for (int i = 0; i < 64; ++i) g.GetLock().Subscribe([&late](std::string_view) { ++late; });
        }
    });
    SetPropertyText(g, "Count", "1");
    EXPECT_EQ(first, 1);
    const int lateAfterFirst = late;
    EXPECT_TRUE(lateAfterFirst == 0 || lateAfterFirst == 64) << lateAfterFirst;
    SetPropertyText(g, "Count", "2");
    EXPECT_EQ(first, 2);
    EXPECT_EQ(late - lateAfterFirst, 64);
}

TEST(PropNotify, FollowUpRunsAfterTheStoreAndOnlyOnAChange) {
    TGadget g;
    TRecorder changes(g.GetLock());
    SetPropertyText(g, "Followed", "4");
    SetPropertyText(g, "Followed", "4");
    LoadProperties(g, nlohmann::json{{"Followed", 9}});
    EXPECT_EQ(g.FollowUpSaw, (std::vector<int32_t>{4, 9})) << "the follow-up sees the new value";
    EXPECT_EQ(changes.Names, (std::vector<std::string>{"Followed", "Followed"}));
}

TEST(PropNotify, ListenersRunWhileTheSetterHoldsTheLock) {
    TGadget g;
    std::vector<bool> otherThreadCouldLock;
    const int id = g.GetLock().Subscribe([&](std::string_view) {
        otherThreadCouldLock.push_back(std::async(std::launch::async, [&] {
                                           const bool locked = g.GetLock().try_lock();
                                           if (locked) g.GetLock().unlock();
                                           return locked;
                                       }).get());
    });
    SetPropertyText(g, "Count", "5");
    g.Region.SetEnabled(true);
    g.GetLock().Unsubscribe(id);
    EXPECT_EQ(otherThreadCouldLock, (std::vector<bool>{false, false}));
}

TEST(PropNotify, NotifySettersClampCompareAndAnnounceOnce) {
    TChangeNotifyLock lock;
    TRecorder changes(lock);
    int field = 0;
    EXPECT_TRUE(lock.NotifySetterMinMax(field, 15, 0, 10, "F"));
    EXPECT_EQ(field, 10);
    EXPECT_FALSE(lock.NotifySetterMinMax(field, 11, 0, 10, "F")) << "clamps to the current value";
    EXPECT_TRUE(lock.NotifySetterMinMax(field, -3, 0, 10, "F"));
    EXPECT_EQ(field, 0);
    EXPECT_TRUE(lock.NotifySetterMin(field, -7, -5, "F"));
    EXPECT_EQ(field, -5);
    EXPECT_FALSE(lock.NotifySetterMin(field, -9, -5, "F"));
    EXPECT_TRUE(lock.NotifySetterMax(field, 99, 20, "F"));
    EXPECT_EQ(field, 20);
    EXPECT_FALSE(lock.NotifySetterMax(field, 20, 30, "F"));
    EXPECT_EQ(changes.Names.size(), 4u);
    EXPECT_EQ(lock.ChangeCount(), 4u);

    std::string text = "a";
    int followUps = 0;
    EXPECT_FALSE(lock.NotifySetter(text, std::string("a"), [&] { ++followUps; }));
    EXPECT_TRUE(lock.NotifySetter(text, std::string("b"), [&] { ++followUps; }));
    EXPECT_EQ(followUps, 1);
    EXPECT_EQ(changes.Names.size(), 5u);
}

// Every thread stores values no other thread uses, so every call is an effective change: the
// number of notifications is exact however the threads interleave.
TEST(PropThreads, ConcurrentSettersAnnounceEveryChangeExactlyOnce) {
    TGadget g;
    std::atomic<long> heard{0};
    g.GetLock().Subscribe([&](std::string_view) { heard.fetch_add(1, std::memory_order_relaxed); });
    const unsigned long start = g.GetLock().ChangeCount();
    constexpr int KThreads = 4, KPerThread = 2000;
    std::vector<std::thread> threads;
    for (int t = 0; t < KThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 1; i <= KPerThread; ++i) {
                if (t % 2) SetPropertyText(g, "Big", std::to_string(int64_t(t) * 1'000'000 + i));
                else g.SetBig(int64_t(t) * 1'000'000 + i);
            }
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(heard.load(), long(KThreads) * KPerThread);
    EXPECT_EQ(g.GetLock().ChangeCount() - start, static_cast<unsigned long>(KThreads) * KPerThread);
    const int64_t last = g.ReadLocked(g.Big);
    EXPECT_EQ(last % 1'000'000, KPerThread) << "the last store of some thread wins";
}

TEST(PropThreads, ReadersNeverSeeATornValue) {
    TPXSolarize solarize;
    TGadget g;
    const std::string longA(200, 'a'), longB(300, 'b');
    constexpr int KWriters = 3;
    std::atomic<int> finished{0};
    std::atomic<long> reads{0};
    std::atomic<bool> readerDone{false};
    std::vector<std::thread> writers;
    // Writers go on until the reader has read many times, so that the two overlap.
    for (int t = 0; t < KWriters; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < 3000 || (reads.load() < 2000 && !readerDone.load()); ++i) {
                const bool odd = (i + t) % 2;
                solarize.SetLevel(odd ? 0.25f : 0.75f);
                SetPropertyText(g, "Label", odd ? longA : longB);
                g.Region.SetRectangle(odd ? TRect{1, 2, 3, 4} : TRect{40, 30, 20, 10});
                g.SetBig(odd ? -1 : std::numeric_limits<int64_t>::max());
            }
            finished.fetch_add(1);
        });
    bool clean = true;
    // Reads until every writer is done (and once more after that).
    for (bool last = false; !last && clean; reads.fetch_add(1)) {
        last = finished.load() == KWriters;
        const float level = solarize.GetLevel();
        clean &= level == 0.5f || level == 0.25f || level == 0.75f;
        EXPECT_TRUE(clean) << "level " << level;
        const std::string label = GetPropertyText(g, "Label");
        clean &= label == "none" || label == longA || label == longB;
        EXPECT_TRUE(clean) << "label of " << label.size() << " characters";
        const TRect rect = g.Region.GetRectangle();
        clean &= rect == (TRect{0, 0, 100, 100}) || rect == (TRect{1, 2, 3, 4}) || rect == (TRect{40, 30, 20, 10});
        EXPECT_TRUE(clean) << rect.X << "," << rect.Y << "," << rect.Width << "," << rect.Height;
        const int64_t big = g.ReadLocked(g.Big);
        clean &= big == -1 || big == std::numeric_limits<int64_t>::max();
        EXPECT_TRUE(clean) << big;
        // A whole-object save reads each value consistently as well.
        nlohmann::json saved;
        SaveProperties(g, saved);
        const std::string savedLabel = saved["Label"].get<std::string>();
        clean &= savedLabel == "none" || savedLabel == longA || savedLabel == longB;
        EXPECT_TRUE(clean) << "saved label of " << savedLabel.size() << " characters";
    }
    readerDone = true;
    for (auto& w : writers) w.join();
    if (clean) {
        EXPECT_GE(reads.load(), 2000);
    }
}

}  // namespace
}  // namespace pixora::proptest
