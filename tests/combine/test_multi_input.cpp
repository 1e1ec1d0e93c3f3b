// The multi-input base through a small test-only descendant: frame sets by time stamps and by
// a rate channel, start geometry, format negotiation, stop and after-stop behaviour, pumping,
// the output thread, and stopping while frames flow.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <thread>

#include "platform/filters/PXCommonGen.h"
#include "platform/filters/PXMultiInput.h"
#include "tests/support/FilterHarness.h"

namespace pixora {
namespace {

using namespace std::chrono_literals;

constexpr uint8_t KAbsent = 255;

// Every input frame is grey with a first sample that identifies it. The output is one row with
// one sample per input: that input's identifying sample, or KAbsent when it had no frame.
class TProbeMulti final : public TPXMultiInput {
public:
    explicit TProbeMulti(int inputs) : InputPins(this, "InputPins") {
        PublishPinList(InputPins);
        for (int i = 0; i < inputs; ++i) AddQueuedPin(InputPins);
    }
    ~TProbeMulti() override { ShutdownMultiInput(); }
    static const TPropertyTable& Properties() {
        static const TPropertyTable table = TPropertyTable::Of<TProbeMulti, TPXMultiInput>("TProbeMulti", {});
        return table;
    }
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TLRPinList InputPins;
    std::atomic<int> RateChannel{-1};
    std::atomic<bool> StartIfNotAll{false};
    std::atomic<bool> StopOnAll{true};
    std::vector<TPXPoint> Offsets;  // set before the streams start
    std::optional<TPXStartGeometry> Geometry;
    std::atomic<int> Computations{0};
    std::atomic<int> ActiveChanges{0};

    TLRSinkPin& In(int i) { return static_cast<TLRSinkPin&>(InputPins[i]); }
    void Remove(int i) { RemoveQueuedPin(InputPins, static_cast<TPXLRQueuedImageSinkPin&>(InputPins[i])); }
    using TPXMultiInput::NegotiateFormat;

protected:
    int GetRateChannel() const override { return RateChannel.load(); }
    bool CanStartIfNotAllRunning() const override { return StartIfNotAll.load(); }
    bool GetStopOnAll() const override { return StopOnAll.load(); }
    TPXPoint GetInputOffset(int index) const override {
        return std::size_t(index) < Offsets.size() ? Offsets[std::size_t(index)] : TPXPoint{};
    }
    void ActiveChannelsChanged() override { ++ActiveChanges; }
    void CalculateSendStart(const TPXStreamValues& values, const TPXStartGeometry& geometry) override {
        TPXMultiInput::CalculateSendStart(values, geometry);
        Geometry = geometry;
        SubmitStart(QueuedPinCount(), 1);
    }
    IPXImageBuffer CalculateGetOutput(const std::vector<TPXLRQueuedImageSinkPin*>& pins,
                                      TPXLRQueuedImageSinkPin&) override {
        ++Computations;
        IPXImageBuffer out = TPXImageBuffer::CreateSize(int(pins.size()), 1, vfGray8);
        uint8_t* row = out->GetWritePointer();
        for (std::size_t i = 0; i < pins.size(); ++i) row[i] = pins[i]->Frame ? pins[i]->Frame->GetReadPointer()[0] : KAbsent;
        return out;
    }
};

// What leaves the output pin, with the thread that delivered each operation.
class TRecorder {
public:
    TRecorder()
        : Pin(nullptr, "Recorder", TPinDataType::Video, [this](TLRSinkPin&, const ILRNotifyOperation& op) {
              std::lock_guard guard(FMutex);
              Threads.insert(std::this_thread::get_id());
              if (auto* start = As<TLRStartFrameOperation>(op)) {
                  Starts.push_back(*start);
                  Order.push_back('S');
              }
              if (auto* buffer = As<TLRSuppliedBufferOperation>(op)) {
                  Frames.push_back(TPXImageBuffer::CreateUniversal(buffer->Data));
                  Order.push_back('F');
              }
              if (op.Kind() == TOperationKind::Stop) {
                  ++Stops;
                  Order.push_back('E');
              }
              FChanged.notify_all();
              return true;
          }) {}

    bool WaitFrames(std::size_t count) {
        std::unique_lock lock(FMutex);
        return FChanged.wait_for(lock, 20s, [&] { return Frames.size() >= count; });
    }
    bool WaitStops(int count) {
        std::unique_lock lock(FMutex);
        return FChanged.wait_for(lock, 20s, [&] { return Stops >= count; });
    }
    std::size_t FrameCount() {
        std::lock_guard guard(FMutex);
        return Frames.size();
    }
    // The output rows as (sample of input 0, sample of input 1, ...).
    std::vector<std::vector<int>> Rows() {
        std::lock_guard guard(FMutex);
        std::vector<std::vector<int>> rows;
        for (const auto& frame : Frames) {
            std::vector<int> row;
            for (int x = 0; x < frame->GetWidth(); ++x) row.push_back(frame->GetReadPointer()[x]);
            rows.push_back(row);
        }
        return rows;
    }

    TLRSinkPin Pin;
    std::vector<TLRStartFrameOperation> Starts;
    std::vector<IPXImageBuffer> Frames;
    std::string Order;
    int Stops = 0;
    std::set<std::thread::id> Threads;
    std::mutex FMutex;

private:
    std::condition_variable FChanged;
};

// A stand-in for an upstream component: connects to an input and counts the pump operations
// that come back up.
class TFeeder {
public:
    TFeeder()
        : Pin(nullptr, "Feeder", TPinDataType::Video, [this](TLRSourcePin&, const ILRNotifyOperation& op) {
              if (op.Kind() == TOperationKind::PumpRequest) ++PumpRequests;
              if (op.Kind() == TOperationKind::MasterPump) ++MasterPumps;
              return true;
          }) {}
    void Start(int width, int height, TPXVideoFormat format, int64_t duration) {
        Pin.Notify(TLRStartFrameOperation::Make(width, height, format, duration));
    }
    // A frame of that size and format whose every sample is `id`, stamped [start, start + duration).
    void Send(uint8_t id, int64_t start, int64_t duration, int width = 2, int height = 2, TPXVideoFormat format = vfGray8) {
        IPXImageBuffer frame = TPXImageBuffer::CreateSize(width, height, format);
        frame->Clear();
        std::fill_n(frame->GetWritePointer(), std::size_t(frame->GetLineSize()) * std::size_t(height), id);
        frame->SetTimeStamp({true, start, start + duration});
        Pin.Notify(TLRSuppliedBufferOperation::Make(frame));
    }
    void Stop() { Pin.Notify(TLRStopOperation::Make()); }

    TLRSourcePin Pin;
    std::atomic<int> PumpRequests{0};
    std::atomic<int> MasterPumps{0};
};

struct TRig {
    explicit TRig(int inputs) : Feeders(std::size_t(inputs)), Multi(inputs) {
        for (int i = 0; i < inputs; ++i) Feeders[std::size_t(i)].Pin.Connect(Multi.In(i));
        Multi.OutputPin.Connect(Out.Pin);
    }
    TFeeder& F(int i) { return Feeders[std::size_t(i)]; }
    // Declared so that the component goes first: its threads end before the pins it feeds.
    TRecorder Out;
    std::vector<TFeeder> Feeders;
    TProbeMulti Multi;
};

// ---- Independent model of set completion by time stamps

struct TArrival {
    int Input;
    uint8_t Id;
    int64_t Stamp;
};

// The rule as described: each input holds its latest frame; an arrival completes a set when
// every input holds a frame and either all held stamps are equal or the arriving frame carries
// the smallest; a completed set is consumed.
std::vector<std::vector<int>> ModelSets(int inputs, const std::vector<TArrival>& arrivals) {
    std::vector<std::optional<std::pair<uint8_t, int64_t>>> held(static_cast<std::size_t>(inputs));
    std::vector<std::vector<int>> outputs;
    for (const TArrival& a : arrivals) {
        held[std::size_t(a.Input)] = std::make_pair(a.Id, a.Stamp);
        bool all = true, equal = true;
        int64_t smallest = a.Stamp;
        for (const auto& h : held) {
            if (!h) {
                all = false;
                break;
            }
            if (h->second != held[0]->second) equal = false;
            smallest = std::min(smallest, h->second);
        }
        if (all && (equal || a.Stamp == smallest)) {
            std::vector<int> row;
            for (auto& h : held) {
                row.push_back(h->first);
                h.reset();
            }
            outputs.push_back(row);
        }
    }
    return outputs;
}

TEST(MultiInputSets, CompletedByEqualOrSmallestTimeStampsMatchTheModel) {
    std::mt19937 random(7);
    for (int trial = 0; trial < 40; ++trial) {
        const int inputs = 2 + trial % 3;
        TRig rig(inputs);
        for (int i = 0; i < inputs; ++i) rig.F(i).Start(2, 2, vfGray8, 400000);
        // Each input sends its frames in stamp order; inputs interleave at random.
        std::vector<int64_t> next(std::size_t(inputs), 0);
        std::vector<TArrival> arrivals;
        for (int n = 0; n < 30; ++n) {
            const int input = int(random() % unsigned(inputs));
            const int64_t stamp = next[std::size_t(input)];
            next[std::size_t(input)] += 400000 * int64_t(1 + random() % 2);
            arrivals.push_back({input, uint8_t(n), stamp});
        }
        for (const TArrival& a : arrivals) rig.F(a.Input).Send(a.Id, a.Stamp, 400000);
        EXPECT_EQ(rig.Out.Rows(), ModelSets(inputs, arrivals)) << "trial " << trial;
    }
}

TEST(MultiInputSets, ThirtyAndTenFramesPerSecondWithSynchronisedStampsPaceAtTheCompleteSets) {
    TRig rig(2);
    const int64_t fast = 333333, slow = 1000000;
    rig.F(0).Start(2, 2, vfGray8, fast);
    rig.F(1).Start(2, 2, vfGray8, slow);
    ASSERT_EQ(rig.Out.Starts.size(), 1u);
    EXPECT_EQ(rig.Out.Starts[0].FrameDuration, fast) << "the output follows the fastest input";
    // Frames arrive in stamp order, the fast input first at equal stamps. Stamps are those of
    // a 30 fps clock, k × 10 000 000 / 30 to the nearest tick, so every third one meets the
    // slow input's.
    std::vector<TArrival> arrivals;
    for (int k = 0; k < 30; ++k) {
        arrivals.push_back({0, uint8_t(k), (k * KTicksPerSecond + 15) / 30});
        if (k % 3 == 0) arrivals.push_back({1, uint8_t(100 + k / 3), (k / 3) * slow});
    }
    for (const TArrival& a : arrivals) rig.F(a.Input).Send(a.Id, a.Stamp, a.Input ? slow : fast);
    const auto rows = rig.Out.Rows();
    EXPECT_EQ(rows, ModelSets(2, arrivals));
    ASSERT_EQ(rows.size(), 10u) << "one output per slow frame";
    for (std::size_t k = 0; k < rows.size(); ++k) {
        EXPECT_EQ(rows[k][0], int(3 * k)) << "the fast frame with the same stamp";
        EXPECT_EQ(rows[k][1], int(100 + k));
        EXPECT_EQ(rig.Out.Frames[k]->GetTimeStamp().Start, int64_t(k) * slow);
    }
}

TEST(MultiInputSets, RateChannelComputesOnEveryItsFrameWithTheOthersLatest) {
    TRig rig(2);
    rig.Multi.RateChannel = 1;
    rig.F(0).Start(2, 2, vfGray8, 1000000);
    rig.F(1).Start(2, 2, vfGray8, 333333);
    ASSERT_EQ(rig.Out.Starts.size(), 1u);
    EXPECT_EQ(rig.Out.Starts[0].FrameDuration, 333333);
    rig.F(1).Send(1, 0, 333333);       // input 0 has nothing yet
    rig.F(0).Send(10, 0, 1000000);     // not the rate channel: held only
    rig.F(1).Send(2, 333333, 333333);
    rig.F(1).Send(3, 666666, 333333);  // input 0's frame is still the latest
    rig.F(0).Send(11, 1000000, 1000000);
    rig.F(0).Send(12, 2000000, 1000000);
    rig.F(1).Send(4, 999999, 333333);
    const std::vector<std::vector<int>> expected{{KAbsent, 1}, {10, 2}, {10, 3}, {12, 4}};
    EXPECT_EQ(rig.Out.Rows(), expected);
    EXPECT_EQ(rig.Multi.Computations.load(), 4);
}

TEST(MultiInputSets, ConnectedInputThatNeverStartsBlocksComputationButNothingHangs) {
    TRig rig(2);
    rig.F(0).Start(2, 2, vfGray8, 400000);
    for (int i = 0; i < 5; ++i) rig.F(0).Send(uint8_t(i), i * 400000, 400000);
    rig.F(0).Stop();
    EXPECT_TRUE(rig.Out.Starts.empty());
    EXPECT_EQ(rig.Out.FrameCount(), 0u);
    EXPECT_EQ(rig.Multi.Computations.load(), 0);
    EXPECT_FALSE(rig.Multi.IsRunning());
    rig.Multi.Close();
    EXPECT_EQ(rig.Out.Stops, 0) << "a stream that never started does not end";
}

TEST(MultiInputSets, StartIfNotAllRunningAnnouncesEarlyAndNegotiatesAgainForALateInput) {
    TRig rig(2);
    rig.Multi.StartIfNotAll = true;
    rig.Multi.Offsets = {{0, 0}, {3, 1}};
    rig.F(0).Start(4, 4, vfGray8, 400000);
    ASSERT_EQ(rig.Out.Starts.size(), 1u) << "announced with one input running";
    EXPECT_EQ(rig.Multi.Geometry->Wrapping, (TRect{0, 0, 4, 4}));
    rig.F(0).Send(1, 0, 400000);
    EXPECT_EQ(rig.Out.FrameCount(), 0u) << "nothing computed while a connected input has not started";
    rig.F(1).Start(4, 4, vfGray16, 400000);
    ASSERT_EQ(rig.Out.Starts.size(), 2u) << "no frame went out yet: the start is negotiated again";
    EXPECT_EQ(rig.Multi.Geometry->Wrapping, (TRect{0, 0, 7, 5}));
    EXPECT_EQ(rig.Out.Starts[1].Format, vfRGB24);
    rig.F(0).Send(2, 0, 400000);
    rig.F(1).Send(3, 0, 400000, 4, 4, vfGray16);
    ASSERT_EQ(rig.Out.FrameCount(), 1u);
    rig.F(1).Stop();
    rig.F(1).Start(6, 6, vfGray16, 400000);
    EXPECT_EQ(rig.Out.Starts.size(), 2u) << "after a frame went out the stream is not announced again";
    rig.F(1).Stop();
    rig.F(1).Start(6, 6, vfGray8, 400000);
    ASSERT_EQ(rig.Out.Starts.size(), 3u) << "a new negotiated format is announced";
    EXPECT_EQ(rig.Out.Starts[2].Format, vfGray8);
    EXPECT_EQ(rig.Out.Starts[2].Width, rig.Out.Starts[1].Width) << "with the same size";
}

TEST(MultiInputSets, UnconnectedInputIsNotWaitedFor) {
    TProbeMulti multi(3);
    TFeeder a, b;
    TRecorder out;
    a.Pin.Connect(multi.In(0));
    b.Pin.Connect(multi.In(2));
    multi.OutputPin.Connect(out.Pin);
    a.Start(2, 2, vfGray8, 400000);
    b.Start(2, 2, vfGray8, 400000);
    a.Send(5, 0, 400000);
    b.Send(6, 0, 400000);
    const std::vector<std::vector<int>> expected{{5, KAbsent, 6}};
    EXPECT_EQ(out.Rows(), expected);
}

TEST(MultiInputLifecycle, InputStopsMidStreamAndRestartsWithAnotherSize) {
    TRig rig(2);
    rig.F(0).Start(4, 4, vfGray8, 400000);
    rig.F(1).Start(4, 4, vfGray8, 400000);
    rig.F(0).Send(1, 0, 400000, 4, 4);
    rig.F(1).Send(2, 0, 400000, 4, 4);
    rig.F(0).Stop();
    EXPECT_EQ(rig.Out.Stops, 0) << "input 1 still runs";
    EXPECT_TRUE(rig.Multi.IsRunning());
    rig.F(1).Send(3, 400000, 400000, 4, 4);  // alone now: nothing to wait for
    rig.F(0).Start(8, 6, vfGray8, 400000);
    EXPECT_EQ(rig.Multi.QueuedPin(0).Width, 8);
    EXPECT_EQ(rig.Multi.QueuedPin(0).Height, 6);
    rig.F(0).Send(4, 800000, 400000, 8, 6);
    rig.F(1).Send(5, 800000, 400000, 4, 4);
    const std::vector<std::vector<int>> expected{{1, 2}, {KAbsent, 3}, {4, 5}};
    EXPECT_EQ(rig.Out.Rows(), expected);
    EXPECT_EQ(rig.Out.Starts.size(), 1u) << "the output stream went on";
    rig.F(0).Stop();
    rig.F(1).Stop();
    EXPECT_EQ(rig.Out.Stops, 1);
    EXPECT_FALSE(rig.Multi.IsRunning());
    EXPECT_EQ(rig.Out.Order, "SFFFE");
}

TEST(MultiInputLifecycle, StopOnFirstWhenNotStopOnAll) {
    TRig rig(2);
    rig.Multi.StopOnAll = false;
    rig.F(0).Start(2, 2, vfGray8, 400000);
    rig.F(1).Start(2, 2, vfGray8, 400000);
    rig.F(1).Stop();
    EXPECT_EQ(rig.Out.Stops, 1);
    rig.F(0).Send(1, 0, 400000);
    EXPECT_EQ(rig.Out.FrameCount(), 0u);
}

TEST(MultiInputLifecycle, RestartAfterAFullStopAnnouncesANewStream) {
    TRig rig(2);
    for (int run = 0; run < 2; ++run) {
        rig.F(0).Start(2, 2, vfGray8, 400000);
        rig.F(1).Start(2, 2, vfGray8, 400000);
        rig.F(0).Send(uint8_t(run), 0, 400000);
        rig.F(1).Send(uint8_t(10 + run), 0, 400000);
        rig.F(0).Stop();
        rig.F(1).Stop();
    }
    EXPECT_EQ(rig.Out.Order, "SFESFE");
    const std::vector<std::vector<int>> expected{{0, 10}, {1, 11}};
    EXPECT_EQ(rig.Out.Rows(), expected);
}

TEST(MultiInputAfterStop, LastFrameKeepsBeingSentAtTheStreamPeriodUntilClosed) {
    TRig rig(2);
    rig.Multi.SetAfterStop(asLastFrame);
    const int64_t period = 50000;  // 5 ms
    rig.F(0).Start(2, 2, vfGray8, period);
    rig.F(1).Start(2, 2, vfGray8, period);
    rig.F(0).Send(7, 0, period);
    rig.F(1).Send(9, 0, period);
    rig.F(0).Stop();
    rig.F(1).Stop();
    EXPECT_TRUE(rig.Multi.IsStopPending());
    EXPECT_TRUE(rig.Multi.IsSelfMaster());
    ASSERT_TRUE(rig.Out.WaitFrames(5));
    rig.Multi.Close();
    const std::size_t after = rig.Out.FrameCount();
    rig.Multi.WaitIdle();
    EXPECT_EQ(rig.Out.FrameCount(), after) << "nothing is sent after Close";
    EXPECT_EQ(rig.Out.Stops, 1);
    const auto rows = rig.Out.Rows();
    std::lock_guard guard(rig.Out.FMutex);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i], (std::vector<int>{7, 9})) << "frame " << i;
        EXPECT_EQ(rig.Out.Frames[i]->GetTimeStamp(), (TPXTimeStamp{true, int64_t(i) * period, int64_t(i + 1) * period}))
            << "after-stop frames continue the time line, frame " << i;
    }
    EXPECT_EQ(rig.Out.Order.back(), 'E');
}

TEST(MultiInputAfterStop, ZeroSendsZeroedFramesOfTheOutputSizeAndFormat) {
    TRig rig(3);
    rig.Multi.SetAfterStop(asZero);
    for (int i = 0; i < 3; ++i) rig.F(i).Start(2, 2, vfGray8, 50000);
    for (int i = 0; i < 3; ++i) rig.F(i).Send(uint8_t(20 + i), 0, 50000);
    for (int i = 0; i < 3; ++i) rig.F(i).Stop();
    ASSERT_TRUE(rig.Out.WaitFrames(4));
    rig.Multi.Close();
    std::lock_guard guard(rig.Out.FMutex);
    ASSERT_GE(rig.Out.Frames.size(), 4u);
    for (std::size_t i = 1; i < rig.Out.Frames.size(); ++i) {
        const auto& frame = rig.Out.Frames[i];
        EXPECT_EQ(frame->GetWidth(), 3);
        EXPECT_EQ(frame->GetHeight(), 1);
        EXPECT_EQ(frame->GetFormat(), vfGray8);
        for (int x = 0; x < 3; ++x) EXPECT_EQ(frame->GetReadPointer()[x], 0) << "frame " << i;
    }
    EXPECT_EQ(rig.Out.Stops, 1);
}

TEST(MultiInputAfterStop, InputThatComesBackEndsTheAfterStopOutput) {
    TRig rig(1);
    rig.Multi.SetAfterStop(asLastFrame);
    rig.F(0).Start(2, 2, vfGray8, 50000);
    rig.F(0).Send(1, 0, 50000);
    rig.F(0).Stop();
    ASSERT_TRUE(rig.Out.WaitFrames(3));
    rig.F(0).Start(2, 2, vfGray8, 50000);
    EXPECT_FALSE(rig.Multi.IsStopPending());
    rig.F(0).Send(2, 0, 50000);
    rig.Multi.Close();
    const auto rows = rig.Out.Rows();
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.back(), std::vector<int>{2}) << "no repeated frame after the input came back";
}

TEST(MultiInputAfterStop, DownstreamMasterPacesTheAfterStopFrames) {
    TRig rig(1);
    rig.Multi.SetAfterStop(asLastFrame);
    ASSERT_TRUE(rig.Out.Pin.NotifyUpstream(TLRPumpRequestOperation()));
    EXPECT_FALSE(rig.Multi.IsSelfMaster());
    EXPECT_EQ(rig.F(0).PumpRequests.load(), 1) << "the request goes on to the inputs";
    rig.F(0).Start(2, 2, vfGray8, 50000);
    rig.F(0).Send(3, 0, 50000);
    rig.F(0).Stop();
    EXPECT_EQ(rig.Out.FrameCount(), 1u) << "no own clock";
    for (int i = 0; i < 4; ++i) rig.Out.Pin.NotifyUpstream(TLRMasterPumpOperation());
    EXPECT_EQ(rig.Out.FrameCount(), 5u) << "one repeated frame per master pump";
    rig.Multi.Close();
}

TEST(MultiInputPumping, MasterPumpsEachInputInProportionToItsRate) {
    for (const auto& [fast, slowA, slowB] :
         std::vector<std::tuple<int64_t, int64_t, int64_t>>{{333333, 1000000, 666666}, {400000, 400000, 1200000}, {200000, 500000, 0}}) {
        TRig rig(3);
        rig.Out.Pin.NotifyUpstream(TLRPumpRequestOperation());
        rig.F(0).Start(2, 2, vfGray8, fast);
        rig.F(1).Start(2, 2, vfGray8, slowA);
        rig.F(2).Start(2, 2, vfGray8, slowB);
        const int n = 25;
        for (int k = 0; k < n; ++k) rig.Out.Pin.NotifyUpstream(TLRMasterPumpOperation());
        // An input of duration d is due at every j·d up to the time of the last output frame,
        // (n − 1) × the output duration; an input without a duration is pumped every time.
        const int64_t out = fast;
        const auto due = [&](int64_t d) { return d <= 0 ? n : int((n - 1) * out / d) + 1; };
        EXPECT_EQ(rig.F(0).MasterPumps.load(), due(fast));
        EXPECT_EQ(rig.F(1).MasterPumps.load(), due(slowA));
        EXPECT_EQ(rig.F(2).MasterPumps.load(), due(slowB));
    }
}

// ---- Start geometry and format

// The geometry by brute force: pixels covered by every input, pixels covered by any.
TPXStartGeometry ModelGeometry(const std::vector<TPXPoint>& at, const std::vector<TSize>& sizes) {
    int x0 = 1 << 20, y0 = 1 << 20, x1 = -(1 << 20), y1 = -(1 << 20);
    for (std::size_t i = 0; i < at.size(); ++i) {
        x0 = std::min(x0, at[i].X);
        y0 = std::min(y0, at[i].Y);
        x1 = std::max(x1, at[i].X + sizes[i].Width);
        y1 = std::max(y1, at[i].Y + sizes[i].Height);
    }
    TRect all{1 << 20, 1 << 20, 0, 0}, any{1 << 20, 1 << 20, 0, 0};
    int allX1 = -(1 << 20), allY1 = -(1 << 20), anyX1 = -(1 << 20), anyY1 = -(1 << 20);
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            int covering = 0;
            for (std::size_t i = 0; i < at.size(); ++i)
                covering += x >= at[i].X && x < at[i].X + sizes[i].Width && y >= at[i].Y && y < at[i].Y + sizes[i].Height;
            if (covering > 0) {
                any.X = std::min(any.X, x), any.Y = std::min(any.Y, y);
                anyX1 = std::max(anyX1, x + 1), anyY1 = std::max(anyY1, y + 1);
            }
            if (covering == int(at.size())) {
                all.X = std::min(all.X, x), all.Y = std::min(all.Y, y);
                allX1 = std::max(allX1, x + 1), allY1 = std::max(allY1, y + 1);
            }
        }
    any.Width = anyX1 - any.X, any.Height = anyY1 - any.Y;
    if (allX1 > all.X) all.Width = allX1 - all.X, all.Height = allY1 - all.Y;
    return {all, any};
}

TEST(MultiInputStart, GeometryOverInputsAtTheirOffsets) {
    std::mt19937 random(11);
    for (int trial = 0; trial < 30; ++trial) {
        const int inputs = 2 + trial % 3;
        TRig rig(inputs);
        std::vector<TPXPoint> at;
        std::vector<TSize> sizes;
        for (int i = 0; i < inputs; ++i) {
            at.push_back({int(random() % 31) - 15, int(random() % 31) - 15});
            sizes.push_back({1 + int(random() % 20), 1 + int(random() % 20)});
        }
        rig.Multi.Offsets = at;
        for (int i = 0; i < inputs; ++i) rig.F(i).Start(sizes[std::size_t(i)].Width, sizes[std::size_t(i)].Height, vfGray8, 400000);
        ASSERT_TRUE(rig.Multi.Geometry);
        const TPXStartGeometry expected = ModelGeometry(at, sizes);
        EXPECT_EQ(rig.Multi.Geometry->Wrapping, expected.Wrapping) << "trial " << trial;
        if (expected.Intersection.Width > 0) {
            EXPECT_EQ(rig.Multi.Geometry->Intersection, expected.Intersection) << "trial " << trial;
        } else {
            EXPECT_TRUE(rig.Multi.Geometry->Intersection.Empty()) << "no common pixel, trial " << trial;
        }
    }
}

TEST(MultiInputStart, ZeroPixelOverlapGivesAnEmptyIntersection) {
    TRig rig(2);
    rig.Multi.Offsets = {{0, 0}, {10, 0}};  // touching edges, no common pixel
    rig.F(0).Start(10, 5, vfGray8, 400000);
    rig.F(1).Start(10, 5, vfGray8, 400000);
    ASSERT_TRUE(rig.Multi.Geometry);
    EXPECT_EQ(rig.Multi.Geometry->Intersection.Width, 0);
    EXPECT_EQ(rig.Multi.Geometry->Wrapping, (TRect{0, 0, 20, 5}));
}

TPXVideoFormat StartFormat(std::vector<TPXVideoFormat> formats, TPXOutputFormatChoice choice = fcNegotiated) {
    TRig rig(int(formats.size()));
    rig.Multi.GetVideoFormat().SetFormat(choice);
    for (std::size_t i = 0; i < formats.size(); ++i) rig.F(int(i)).Start(2, 2, formats[i], 400000);
    return rig.Out.Starts.empty() ? TPXVideoFormat(255) : rig.Out.Starts[0].Format;
}

TEST(MultiInputStart, FormatNegotiationNeverYieldsGreyFromMixedInputs) {
    const TPXVideoFormat all[] = {vfRGB24, vfRGBA32, vfGray8, vfGray16};
    for (TPXVideoFormat a : all)
        for (TPXVideoFormat b : all) {
            const TPXVideoFormat got = StartFormat({a, b});
            TPXVideoFormat expected = vfRGB24;
            if (a == b) expected = a;
            else if (a == vfRGBA32 || b == vfRGBA32) expected = vfRGBA32;
            EXPECT_EQ(int(got), int(expected)) << FormatName(a) << " + " << FormatName(b);
            if (a != b) {
                EXPECT_NE(got, vfGray8);
                EXPECT_NE(got, vfGray16);
            }
        }
    EXPECT_EQ(StartFormat({vfGray8, vfGray8, vfRGB24}), vfRGB24);
    EXPECT_EQ(StartFormat({vfGray16, vfGray8}, fcRGBA32), vfRGBA32) << "the settings replace the choice";
    EXPECT_EQ(StartFormat({vfRGB24, vfRGB24}, fcGray16), vfGray16);
}

TEST(MultiInputStart, BadStartIsReportedAndIgnored) {
    testharness::TErrorLog errors;
    TRig rig(1);
    rig.F(0).Start(0, 4, vfGray8, 400000);
    EXPECT_TRUE(rig.Out.Starts.empty());
    ASSERT_EQ(errors.Messages().size(), 1u);
    EXPECT_NE(errors.Messages()[0].find("0 x 4"), std::string::npos) << errors.Joined();
}

TEST(MultiInputStart, FailingComputationIsReportedAndTheStreamGoesOn) {
    class TFailing final : public TPXMultiInput {
    public:
        TFailing() : InputPins(this, "InputPins") { AddQueuedPin(InputPins); }
        ~TFailing() override { ShutdownMultiInput(); }
        TLRPinList InputPins;
        int Calls = 0;
    protected:
        IPXImageBuffer CalculateGetOutput(const std::vector<TPXLRQueuedImageSinkPin*>& pins, TPXLRQueuedImageSinkPin&) override {
            if (++Calls == 1) throw ERangeError("probe: first frame refused");
            return TPXImageBuffer::CreateCopy(pins[0]->Frame);
        }
    };
    testharness::TErrorLog errors;
    TFailing multi;
    TFeeder feeder;
    TRecorder out;
    feeder.Pin.Connect(static_cast<TLRSinkPin&>(multi.InputPins[0]));
    multi.OutputPin.Connect(out.Pin);
    feeder.Start(3, 2, vfRGB24, 400000);
    ASSERT_EQ(out.Starts.size(), 1u);
    EXPECT_EQ(out.Starts[0].Width, 3) << "the base's own start: the intersection";
    feeder.Send(1, 0, 400000, 3, 2, vfRGB24);
    feeder.Send(2, 400000, 400000, 3, 2, vfRGB24);
    EXPECT_EQ(out.FrameCount(), 1u);
    ASSERT_EQ(errors.Messages().size(), 1u);
    EXPECT_NE(errors.Messages()[0].find("first frame refused"), std::string::npos);
}

// ---- Output thread

TEST(MultiInputThreading, OutputThreadSendsInOrderOnAnotherThread) {
    for (bool threading : {false, true}) {
        TRig rig(2);
        rig.Multi.GetThreading().SetEnabled(threading);
        rig.F(0).Start(2, 2, vfGray8, 400000);
        rig.F(1).Start(2, 2, vfGray8, 400000);
        for (int i = 0; i < 20; ++i) {
            rig.F(0).Send(uint8_t(i), i * 400000, 400000);
            rig.F(1).Send(uint8_t(100 + i), i * 400000, 400000);
        }
        rig.F(0).Stop();
        rig.F(1).Stop();
        ASSERT_TRUE(rig.Out.WaitStops(1));
        rig.Multi.WaitIdle();
        const auto rows = rig.Out.Rows();
        std::lock_guard guard(rig.Out.FMutex);
        EXPECT_EQ(rig.Out.Order, "S" + std::string(20, 'F') + "E");
        ASSERT_EQ(rows.size(), 20u);
        for (int i = 0; i < 20; ++i) EXPECT_EQ(rows[std::size_t(i)], (std::vector<int>{i, 100 + i}));
        ASSERT_EQ(rig.Out.Threads.size(), 1u);
        const bool elsewhere = *rig.Out.Threads.begin() != std::this_thread::get_id();
        EXPECT_EQ(elsewhere, threading)
            << (threading ? "an output thread sends" : "the delivering thread sends");
    }
}

// ---- Stopping while frames flow

class TCountingSource final : public TPXCommonGen {
public:
    static const TPropertyTable& Properties() {
        static const TPropertyTable table = TPropertyTable::Of<TCountingSource, TPXCommonGen>("TCountingSource", {});
        return table;
    }
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }
    ~TCountingSource() override { Stop(); }

protected:
    TSize GetImageSize() const override { return {16, 8}; }
    TPXVideoFormat GetVideoFormat() const override { return vfGray8; }
    bool GenerateFrame(IPXImageBuffer& frame) override {
        frame->FillColor(KDRGB(uint8_t(FMade), uint8_t(FMade), uint8_t(FMade)));
        ++FMade;
        return true;
    }

private:
    int FMade = 0;
};

TEST(MultiInputPumping, OfflineSourcesOfDifferentRatesAreDrivenInStep) {
    for (bool threading : {false, true}) {
        TRecorder out;
        TProbeMulti multi(2);
        TCountingSource fast, slow;  // destroyed first: their threads end before the component goes
        multi.GetThreading().SetEnabled(threading);
        fast.SetFrameRate(25.0);  // 400 000 ticks
        slow.SetFrameRate(12.5);  // 800 000 ticks: every second fast frame meets a slow one
        fast.OutputPin.Connect(multi.In(0));
        slow.OutputPin.Connect(multi.In(1));
        multi.OutputPin.Connect(out.Pin);
        // The last frames of both meet: 19 fast frames (0..18) and 10 slow ones (0..9).
        fast.Start({TRunMode::Offline, 19});
        slow.Start({TRunMode::Offline, 10});
        ASSERT_TRUE(out.WaitStops(1));
        multi.WaitIdle();
        // Free-running sources would race each other; driven in rounds, every slow frame meets
        // the fast frame with its stamp.
        std::vector<std::vector<int>> expected;
        for (int k = 0; k < 10; ++k) expected.push_back({2 * k, k});
        EXPECT_EQ(out.Rows(), expected) << (threading ? "threading" : "direct");
        EXPECT_EQ(fast.FramesSent(), 19);
        EXPECT_EQ(slow.FramesSent(), 10);
    }
}

// An offline source that fed only the removed input was driven by this component's pumps: it
// must run out on its own instead of waiting for pumps that never come, and the other input is
// then driven to its end alone. The removed input's source starts first: pumped by the
// component, it waits (the rounds begin once every input runs), so it cannot have run ahead.
TEST(MultiInputPumping, SourceOfARemovedInputRunsOutAndTheOtherIsStillDriven) {
    for (bool threading : {false, true}) {
        TRecorder out;
        TProbeMulti multi(2);
        TCountingSource kept, orphan;
        multi.GetThreading().SetEnabled(threading);
        kept.OutputPin.Connect(multi.In(0));
        orphan.OutputPin.Connect(multi.In(1));
        multi.OutputPin.Connect(out.Pin);
        orphan.Start({TRunMode::Offline, 40});
        std::this_thread::sleep_for(30ms);
        EXPECT_EQ(orphan.FramesSent(), 0) << "it waits for the component's pumps";
        multi.Remove(1);
        EXPECT_FALSE(orphan.OutputPin.IsConnected());
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (orphan.FramesSent() < 40 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(2ms);
        EXPECT_EQ(orphan.FramesSent(), 40) << (threading ? "threading" : "direct");
        kept.Start({TRunMode::Offline, 40});
        ASSERT_TRUE(out.WaitStops(1)) << "the kept input runs to its end";
        EXPECT_EQ(kept.FramesSent(), 40);
    }
}

TEST(MultiInputConcurrency, CloseWhileTwoSourcesPumpFramesDoesNotHang) {
    for (bool threading : {false, true})
        for (TPXMixerAfterStop after : {asStop, asLastFrame}) {
            TProbeMulti multi(2);
            multi.GetThreading().SetEnabled(threading);
            multi.SetAfterStop(after);
            TCountingSource a, b;
            a.SetFrameRate(500.0);
            b.SetFrameRate(250.0);
            TRecorder out;
            a.OutputPin.Connect(multi.In(0));
            b.OutputPin.Connect(multi.In(1));
            multi.OutputPin.Connect(out.Pin);
            a.Start({TRunMode::Live, -1});
            b.Start({TRunMode::Offline, -1});
            ASSERT_TRUE(out.WaitFrames(5));
            multi.Close();  // while both keep sending
            a.Stop();
            b.Stop();
            multi.Close();
            multi.WaitIdle();
            std::lock_guard guard(out.FMutex);
            EXPECT_GE(out.Stops, 1);
        }
}

}  // namespace
}  // namespace pixora
