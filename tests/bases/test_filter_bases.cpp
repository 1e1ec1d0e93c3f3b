// The filter bases a component stands on: the geometric output-size policy, mask size and
// anchor change hooks, region narrowing, the sink filter, and generator pacing (offline with
// back-pressure, pumped by a master, live by the clock).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/filters/PXBasicVideoOut.h"
#include "platform/filters/PXCommonGen.h"
#include "platform/filters/PXROIFilters.h"
#include "platform/filters/PXSinkFilter.h"

namespace pixora {
namespace {

// Doubles the width of its input: asBoundingRect asks for (2W, H), asMaxBoundingRect for (3W, 2H).
class TWideningFilter final : public TPXGeometricTransfromFilter {
public:
    static const TPropertyTable& Properties() {
        static const TPropertyTable table =
            TPropertyTable::Of<TWideningFilter, TPXGeometricTransfromFilter>("TWideningFilter", {});
        return table;
    }
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }
    TSize Seen{};

protected:
    TSize GetBoundingRect(int w, int h) const override { return {2 * w, h}; }
    TSize GetMaxBoundingRect(int w, int h) const override { return {3 * w, 2 * h}; }
    void FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) override { Seen = out->GetSize(); }
};

TEST(GeometricBase, OutputSizeFollowsThePolicy) {
    TWideningFilter filter;
    filter.SetThreaded(false);
    const IPXImageBuffer in = TPXImageBuffer::CreateSize(10, 7, vfRGB24);
    in->FillColor(KDRGB(1, 2, 3));

    EXPECT_EQ(filter.GetAutoSize(), asBoundingRect);
    IPXImageBuffer out = filter.ProcessFrame(in);
    EXPECT_EQ(out->GetSize(), (TSize{20, 7}));

    filter.SetAutoSize(asMaxBoundingRect);
    EXPECT_EQ(filter.ProcessFrame(in)->GetSize(), (TSize{30, 14}));
    filter.SetAutoSize(asInputSize);
    EXPECT_EQ(filter.ProcessFrame(in)->GetSize(), (TSize{10, 7}));
    filter.SetAutoSize(asCustom);
    filter.CustomSize().SetSize(5, 9);
    EXPECT_EQ(filter.ProcessFrame(in)->GetSize(), (TSize{5, 9}));
    EXPECT_EQ(filter.InputSize(), (TSize{10, 7}));
    EXPECT_EQ(filter.OutputSize(), (TSize{5, 9}));
}

TEST(GeometricBase, OutputStartsWithBackgroundInTheChosenFormat) {
    TWideningFilter filter;
    filter.SetThreaded(false);
    filter.SetBackgroundColor(KDRGB(10, 20, 30));
    filter.SetOutputFormat(ofRGBA32);
    const IPXImageBuffer in = TPXImageBuffer::CreateSize(4, 3, vfRGB24);
    in->Clear();
    in->SetTimeStamp({true, 100, 200});
    const IPXImageBuffer out = filter.ProcessFrame(in);
    ASSERT_EQ(out->GetFormat(), vfRGBA32);
    const uint8_t* row = out->GetReadPointer() + out->GetLineSize() * 2;
    EXPECT_EQ(row[7 * 4 + 0], 30);  // blue first
    EXPECT_EQ(row[7 * 4 + 1], 20);
    EXPECT_EQ(row[7 * 4 + 2], 10);
    EXPECT_EQ(out->GetTimeStamp(), (TPXTimeStamp{true, 100, 200}));
}

TEST(GeometricBase, InterpolationFlagIsOneShiftedByOrdinal) {
    TWideningFilter filter;
    EXPECT_EQ(filter.InterpolationFlag(), 2);  // itLinear by default
    SetPropertyText(filter, "InterpolationType", "itCubic");
    EXPECT_EQ(filter.InterpolationFlag(), 4);
    EXPECT_THROW(SetPropertyText(filter, "InterpolationType", "itBogus"), EPropertyError);
}

class TMaskFilter final : public TPXCommonROIMatrixSizeAnchorFilter {
public:
    static const TPropertyTable& Properties() {
        static const TPropertyTable table =
            TPropertyTable::Of<TMaskFilter, TPXCommonROIMatrixSizeAnchorFilter>("TMaskFilter", {});
        return table;
    }
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }
    int ChangedCalls = 0;
    TSize Size() const {
        TSize size;
        TPoint anchor;
        GetMaskAnchor(size, anchor);
        return size;
    }

protected:
    void Changed() override { ++ChangedCalls; }
    void FilterInternalOperation(const IPXImageBuffer&, IPXImageBuffer&) override {}
};

// A plain region filter, to see how it narrows a frame to its region.
class TRegionFilter final : public TPXCommonROIFilter {
public:
    static const TPropertyTable& Properties() {
        static const TPropertyTable table = TPropertyTable::Of<TRegionFilter, TPXCommonROIFilter>("TRegionFilter", {});
        return table;
    }
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }
    TRect Narrowed(int w, int h, std::ptrdiff_t& offset) const {
        TSize size{w, h};
        static const uint8_t block[8192] = {};
        const uint8_t* data = block;
        ReclaculateRoiAndOffsetI(size, data, 100, vfRGB24);
        offset = data - block;
        return {0, 0, size.Width, size.Height};
    }

protected:
    void FilterInternalOperation(const IPXImageBuffer&, IPXImageBuffer&) override {}
};

TEST(MatrixSizeAnchorBase, ChangedRunsOncePerEffectiveChange) {
    TMaskFilter filter;
    EXPECT_EQ(filter.Size(), (TSize{3, 3}));
    SetPropertyText(filter, "MaskSize.Width", "5");
    SetPropertyText(filter, "MaskSize.Width", "5");
    EXPECT_EQ(filter.ChangedCalls, 1);
    SetPropertyText(filter, "Anchor.CX", "2");
    EXPECT_EQ(filter.ChangedCalls, 2);
    SetPropertyText(filter, "MaskSize.Height", "1");
    EXPECT_EQ(filter.Size(), (TSize{5, 1}));
    EXPECT_EQ(filter.ChangedCalls, 3);
    // An empty mask is refused with the allowed range, and nothing changes.
    try {
        SetPropertyText(filter, "MaskSize.Height", "0");
        ADD_FAILURE() << "MaskSize.Height 0 was accepted";
    } catch (const EPropertyError& e) {
        EXPECT_NE(std::string(e.what()).find("0 is out of range 1 to 1024"), std::string::npos) << e.what();
    }
    EXPECT_THROW(SetPropertyText(filter, "MaskSize.Width", "1025"), EPropertyError);
    EXPECT_EQ(filter.Size(), (TSize{5, 1}));
    EXPECT_EQ(filter.ChangedCalls, 3);
}

TEST(ROIFilterBase, NarrowsSizeAndPointerToTheRegion) {
    TRegionFilter filter;
    std::ptrdiff_t offset = -1;
    EXPECT_EQ(filter.Narrowed(40, 30, offset), (TRect{0, 0, 40, 30}));
    EXPECT_EQ(offset, 0);
    filter.RegionOfInterest().SetRectangle({5, 4, 100, 10});
    filter.RegionOfInterest().SetEnabled(true);
    EXPECT_EQ(filter.Narrowed(40, 30, offset), (TRect{0, 0, 35, 10}));
    EXPECT_EQ(offset, 4 * 100 + 5 * 3);
    filter.RegionOfInterest().SetRectangle({50, 4, 10, 10});
    EXPECT_EQ(filter.Narrowed(40, 30, offset), (TRect{0, 0, 0, 0}));
}

// Records what reaches a sink filter.
class TRecordingSink final : public TPXSinkFilter {
public:
    static const TPropertyTable& Properties() {
        static const TPropertyTable table = TPropertyTable::Of<TRecordingSink, TPXSinkFilter>("TRecordingSink", {});
        return table;
    }
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }
    std::vector<std::string> Events;

protected:
    void VideoStreamStart(const TLRStartFrameOperation& start) override {
        Events.push_back("start " + std::to_string(start.Width) + "x" + std::to_string(start.Height));
    }
    void ProcessImage(const IPXImageBuffer& frame) override { Events.push_back("frame " + std::to_string(frame->GetWidth())); }
    void VideoStreamStop(bool aborted) override { Events.push_back(aborted ? "abort" : "stop"); }
};

TEST(SinkFilterBase, DispatchesInOrderOnItsThreadAndSkipsFramesWhileDisabled) {
    TRecordingSink sink;  // threaded by default
    sink.InputPin.Receive(TLRStartFrameOperation::Make(8, 6, vfGray8, 400000));
    sink.InputPin.Receive(TLRSuppliedBufferOperation::Make(TPXImageBuffer::CreateSize(8, 6, vfGray8)));
    sink.WaitIdle();
    sink.SetEnabled(false);
    sink.InputPin.Receive(TLRSuppliedBufferOperation::Make(TPXImageBuffer::CreateSize(8, 6, vfGray8)));
    sink.InputPin.Receive(TLRStopOperation::Make(true));
    sink.WaitIdle();
    EXPECT_EQ(sink.Events, (std::vector<std::string>{"start 8x6", "frame 8", "abort"}));
}

// A generator of tiny grey frames whose value is the frame index.
class TCountingGen final : public TPXCommonGen {
public:
    static const TPropertyTable& Properties() {
        static const TPropertyTable table = TPropertyTable::Of<TCountingGen, TPXCommonGen>("TCountingGen", {});
        return table;
    }
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }
    std::atomic<int> Made{0};

protected:
    TSize GetImageSize() const override { return {4, 2}; }
    TPXVideoFormat GetVideoFormat() const override { return vfGray8; }
    bool GenerateFrame(IPXImageBuffer& frame) override {
        frame->FillColor(KDRGB(uint8_t(Made), uint8_t(Made), uint8_t(Made)));
        ++Made;
        return true;
    }
};

// Collects frames; optionally slow, and optionally asks to drive the chain.
class TCollector final : public TPXBasicVideoOut {
public:
    static const TPropertyTable& Properties() {
        static const TPropertyTable table = TPropertyTable::Of<TCollector, TPXBasicVideoOut>("TCollector", {});
        return table;
    }
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }
    std::mutex Mutex;
    std::vector<int> Values;
    std::vector<TPXTimeStamp> Stamps;
    int Stops = 0;
    bool WantsMaster = false;
    bool MasterAccepted = false;
    std::chrono::milliseconds Delay{0};
    int Count() {
        std::lock_guard lock(Mutex);
        return int(Values.size());
    }

protected:
    bool InputDispatch(TLRSinkPin& pin, const ILRNotifyOperation& op) override {
        if (op.Kind() == TOperationKind::StartFrame && WantsMaster) MasterAccepted = pin.NotifyUpstream(TLRPumpRequestOperation());
        if (auto* buffer = As<TLRSuppliedBufferOperation>(op)) {
            if (Delay.count()) std::this_thread::sleep_for(Delay);
            const IPXImageBuffer frame = TPXImageBuffer::CreateUniversal(buffer->Data);
            std::lock_guard lock(Mutex);
            Values.push_back(frame->GetReadPointer()[0]);
            Stamps.push_back(frame->GetTimeStamp());
        }
        if (op.Kind() == TOperationKind::Stop) {
            std::lock_guard lock(Mutex);
            ++Stops;
        }
        return true;
    }
};

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Passes frames on untouched (the output keeps the input's pixels).
class TPassFilter final : public TPXCommonFilter {
public:
    static const TPropertyTable& Properties() {
        static const TPropertyTable table = TPropertyTable::Of<TPassFilter, TPXCommonFilter>("TPassFilter", {});
        return table;
    }
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

protected:
    void FilterInternalOperation(const IPXImageBuffer&, IPXImageBuffer&) override {}
};

TEST(GeneratorBase, OfflineRunDeliversEveryFrameThroughASlowThreadedFilterWithStamps) {
    TCountingGen gen;
    gen.SetFrameRate(50.0);
    TPassFilter filter;  // threaded, queue of 4: the generator must wait for it
    TCollector sink;
    sink.Delay = std::chrono::milliseconds(2);
    gen.OutputPin.Connect(filter.InputPin);
    filter.OutputPin.Connect(sink.InputPin);
    gen.Start({TRunMode::Offline, 40});
    ASSERT_TRUE(WaitFor([&] { return gen.IsFinished(); }));
    filter.WaitIdle();
    std::lock_guard lock(sink.Mutex);
    ASSERT_EQ(sink.Values.size(), 40u);
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(sink.Values[std::size_t(i)], i);
        EXPECT_EQ(sink.Stamps[std::size_t(i)], (TPXTimeStamp{true, i * 200000LL, (i + 1) * 200000LL}));
    }
    EXPECT_EQ(sink.Stops, 1);
}

TEST(GeneratorBase, PumpedByAMasterSendsOneFramePerMasterPump) {
    TCountingGen gen;
    TCollector sink;
    sink.WantsMaster = true;
    gen.OutputPin.Connect(sink.InputPin);
    gen.Start({TRunMode::Offline, -1});
    ASSERT_TRUE(sink.MasterAccepted);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // At most the frames sent before the request reached the generator; none after.
    const int before = sink.Count();
    EXPECT_LE(before, 1);
    for (int i = 0; i < 3; ++i) gen.OutputPin.ReceiveUpstream(TLRMasterPumpOperation());
    ASSERT_TRUE(WaitFor([&] { return sink.Count() == before + 3; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(sink.Count(), before + 3);
    gen.Stop();
    EXPECT_EQ(sink.Stops, 1);
}

TEST(GeneratorBase, LiveRunIsPacedByTheFrameRate) {
    TCountingGen gen;
    gen.SetFrameRate(100.0);  // 10 ms a frame
    TCollector sink;
    gen.OutputPin.Connect(sink.InputPin);
    const auto start = std::chrono::steady_clock::now();
    gen.Start({TRunMode::Live, 10});
    ASSERT_TRUE(WaitFor([&] { return gen.IsFinished(); }));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(sink.Count(), 10);
    // Ten ticks at 10 ms cannot all come at once: at least the nine periods between them.
    EXPECT_GE(elapsed, std::chrono::milliseconds(85));
}

TEST(GeneratorBase, AnInvalidSizeFailsAtStartWithoutAnnouncingAStream) {
    class TEmptyGen final : public TPXCommonGen {
    public:
        static const TPropertyTable& Properties() {
            static const TPropertyTable table = TPropertyTable::Of<TEmptyGen, TPXCommonGen>("TEmptyGen", {});
            return table;
        }
        const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    protected:
        TSize GetImageSize() const override { return {0, 480}; }
        bool GenerateFrame(IPXImageBuffer&) override { return true; }
    } gen;
    TCollector sink;
    gen.OutputPin.Connect(sink.InputPin);
    try {
        gen.Start({});
        FAIL() << "a 0x480 stream must not start";
    } catch (const ERangeError& e) {
        EXPECT_NE(std::string(e.what()).find("0x480"), std::string::npos) << e.what();
    }
    EXPECT_EQ(sink.Count(), 0);
}

}  // namespace
}  // namespace pixora
