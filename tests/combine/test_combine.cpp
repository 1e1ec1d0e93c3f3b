// TPXCombine: whole output frames (placement, background, operation, coefficients) against a
// slow per-pixel reference, through its pins and through ProcessFrame; rate source, formats,
// settings changes between frames, bad coefficients and registration.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "filters/combine/PXCombine.h"
#include "frame/PixoraPkg.h"
#include "platform/registry/PXRegistry.h"
#include "tests/support/FilterHarness.h"

namespace pixora {
namespace {

using namespace std::chrono_literals;
using testharness::TErrorLog;

// ---- Frames and the reference -----------------------------------------------------------------

int BytesOf(TPXVideoFormat f) { return f == vfRGBA32 ? 4 : f == vfRGB24 ? 3 : f == vfGray16 ? 2 : 1; }

IPXImageBuffer RandomFrame(int w, int h, TPXVideoFormat format, uint32_t seed) {
    IPXImageBuffer f = TPXImageBuffer::CreateSize(w, h, format);
    std::mt19937 rng(seed);
    uint8_t* p = f->GetWritePointer();
    for (int y = 0; y < h; ++y)
        for (int i = 0; i < w * BytesOf(format); ++i) p[y * f->GetLineSize() + i] = uint8_t(rng());
    return f;
}

const uint8_t* PixelOf(const IPXImageBuffer& f, int x, int y) {
    return f->GetReadPointer() + std::ptrdiff_t(y) * f->GetLineSize() + std::ptrdiff_t(x) * BytesOf(f->GetFormat());
}

// Saturating per-sample arithmetic of the operations the tests use.
int ReferenceSample(TPXCombineOperation op, int a, int b, int max) {
    switch (op) {
    case coAdd: return std::min(a + b, max);
    case coSubtract: return std::max(b - a, 0);
    case coAbsDiff: return std::abs(a - b);
    case coXor: return a ^ b;
    case coCopy: return b;
    default: ADD_FAILURE() << "reference lacks operation " << int(op); return 0;
    }
}

// The expected output of a combine of a (input 1) at offset (h, v) from b (input 2), wrapping
// size mode, 8-bit formats other than vfRGBA32, coefficients 1.
std::vector<uint8_t> ReferenceWrapped(const IPXImageBuffer& a, const IPXImageBuffer& b, int h, int v,
                                      TPXCombineOperation op, uint32_t background, int& outW, int& outH) {
    const TPXVideoFormat format = a->GetFormat();
    const int n = BytesOf(format);
    const int p1x = std::max(h, 0), p1y = std::max(v, 0), p2x = std::max(-h, 0), p2y = std::max(-v, 0);
    outW = std::max(p1x + a->GetWidth(), p2x + b->GetWidth());
    outH = std::max(p1y + a->GetHeight(), p2y + b->GetHeight());
    const uint8_t bg[3] = {uint8_t(background), uint8_t(background >> 8), uint8_t(background >> 16)};
    std::vector<uint8_t> out(std::size_t(outW * outH * n));
    for (int y = 0; y < outH; ++y)
        for (int x = 0; x < outW; ++x) {
            const bool in1 = x >= p1x && x < p1x + a->GetWidth() && y >= p1y && y < p1y + a->GetHeight();
            const bool in2 = x >= p2x && x < p2x + b->GetWidth() && y >= p2y && y < p2y + b->GetHeight();
            uint8_t* o = &out[std::size_t((y * outW + x) * n)];
            for (int c = 0; c < n; ++c) {
                const int bgc = format == vfGray8 ? bg[2] : bg[c];
                if (in1 && in2)
                    o[c] = uint8_t(ReferenceSample(op, PixelOf(a, x - p1x, y - p1y)[c], PixelOf(b, x - p2x, y - p2y)[c], 255));
                else if (in1)
                    o[c] = PixelOf(a, x - p1x, y - p1y)[c];
                else if (in2)
                    o[c] = PixelOf(b, x - p2x, y - p2y)[c];
                else
                    o[c] = uint8_t(bgc);
            }
        }
    return out;
}

void ExpectFrameEquals(const IPXImageBuffer& got, const std::vector<uint8_t>& want, int w, int h,
                       const std::string& what) {
    ASSERT_TRUE(got) << what;
    ASSERT_EQ(got->GetWidth(), w) << what;
    ASSERT_EQ(got->GetHeight(), h) << what;
    const int n = BytesOf(got->GetFormat());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < n; ++c)
                ASSERT_EQ(PixelOf(got, x, y)[c], want[std::size_t((y * w + x) * n + c)])
                    << what << " at " << x << "," << y << " channel " << c;
}

// ---- Pin rig ------------------------------------------------------------------------------------

class TOutput {
public:
    TOutput()
        : Pin(nullptr, "Out", TPinDataType::Video, [this](TLRSinkPin&, const ILRNotifyOperation& op) {
              std::lock_guard guard(FMutex);
              if (auto* start = As<TLRStartFrameOperation>(op)) Starts.push_back(*start);
              if (auto* buffer = As<TLRSuppliedBufferOperation>(op))
                  Frames.push_back(TPXImageBuffer::CreateUniversal(buffer->Data));
              FChanged.notify_all();
              return true;
          }) {}
    bool WaitFrames(std::size_t n) {
        std::unique_lock lock(FMutex);
        return FChanged.wait_for(lock, 10s, [&] { return Frames.size() >= n; });
    }
    std::vector<IPXImageBuffer> Taken() {
        std::lock_guard guard(FMutex);
        return Frames;
    }
    TLRSinkPin Pin;
    std::vector<TLRStartFrameOperation> Starts;
    std::vector<IPXImageBuffer> Frames;
    std::mutex FMutex;

private:
    std::condition_variable FChanged;
};

class TInput {
public:
    TInput() : Pin(nullptr, "In", TPinDataType::Video, [](TLRSourcePin&, const ILRNotifyOperation&) { return true; }) {}
    void Start(int w, int h, TPXVideoFormat format, int64_t duration = 400000) {
        Pin.Notify(TLRStartFrameOperation::Make(w, h, format, duration));
    }
    void Send(const IPXImageBuffer& frame, int64_t stamp) {
        frame->SetTimeStamp({true, stamp, stamp + 400000});
        Pin.Notify(TLRSuppliedBufferOperation::Make(frame));
    }
    void Stop() { Pin.Notify(TLRStopOperation::Make()); }
    TLRSourcePin Pin;
};

struct TCombineRig {
    TCombineRig() {
        In1.Pin.Connect(static_cast<TLRSinkPin&>(Combine.FindPin("InputPins[0]")));
        In2.Pin.Connect(static_cast<TLRSinkPin&>(Combine.FindPin("InputPins[1]")));
        Combine.OutputPin.Connect(Out.Pin);
    }
    TOutput Out;
    TInput In1, In2;
    TPXCombine Combine;
};

// ---- Through the pins -------------------------------------------------------------------------

TEST(Combine, FramesThroughThePinsMatchTheReferenceForSizesOffsetsAndOperations) {
    struct TCase {
        TPXVideoFormat Format;
        int W1, H1, W2, H2, H, V;
        TPXCombineOperation Op;
    };
    const TCase cases[] = {
        {vfRGB24, 37, 23, 37, 23, 0, 0, coAdd},         // equal, fully overlapping
        {vfRGB24, 20, 10, 31, 17, 5, 4, coSubtract},    // input 1 inside input 2
        {vfGray8, 16, 12, 10, 9, -6, 3, coAbsDiff},     // partial overlap, negative offset
        {vfGray8, 8, 6, 9, 5, 9, 0, coXor},             // touching: overlap of zero pixels
        {vfRGB24, 6, 4, 5, 4, 15, 2, coAdd},            // apart: background gap
        {vfRGB24, 1, 1, 2, 1, 1, 0, coCopy},            // tiny
    };
    uint32_t seed = 1;
    for (const TCase& c : cases) {
        TErrorLog errors;
        TCombineRig rig;
        rig.Combine.SetCombineOperation(c.Op);
        rig.Combine.GetOffset().SetHorizontal(c.H);
        rig.Combine.GetOffset().SetVertical(c.V);
        rig.Combine.SetBackgroundColor(0x00405060u);
        rig.In1.Start(c.W1, c.H1, c.Format);
        rig.In2.Start(c.W2, c.H2, c.Format);
        const IPXImageBuffer a = RandomFrame(c.W1, c.H1, c.Format, seed++), b = RandomFrame(c.W2, c.H2, c.Format, seed++);
        const auto aBefore = TPXImageBuffer::CreateCopy(a), bBefore = TPXImageBuffer::CreateCopy(b);
        rig.In1.Send(a, 0);
        rig.In2.Send(b, 0);
        ASSERT_TRUE(rig.Out.WaitFrames(1)) << errors.Joined();
        int w = 0, h = 0;
        const auto want = ReferenceWrapped(a, b, c.H, c.V, c.Op, 0x00405060u, w, h);
        ExpectFrameEquals(rig.Out.Taken()[0], want, w, h, "op " + std::to_string(int(c.Op)));
        ASSERT_FALSE(rig.Out.Starts.empty());
        // The last start (the first may announce input 1 alone, before input 2 started).
        EXPECT_EQ(rig.Out.Starts.back().Width, w);
        EXPECT_EQ(rig.Out.Starts.back().Height, h);
        // The inputs are never written.
        EXPECT_EQ(std::memcmp(a->GetReadPointer(), aBefore->GetReadPointer(), a->GetDataSize()), 0);
        EXPECT_EQ(std::memcmp(b->GetReadPointer(), bBefore->GetReadPointer(), b->GetDataSize()), 0);
        EXPECT_TRUE(errors.Messages().empty()) << errors.Joined();
    }
}

TEST(Combine, RateSourceChannel2GivesAnOutputPerInput2FrameWithInput1sLatest) {
    TErrorLog errors;
    TCombineRig rig;
    rig.Combine.SetRateSource(frsChannel2);
    rig.Combine.SetCombineOperation(coXor);
    rig.In1.Start(4, 3, vfGray8);
    rig.In2.Start(4, 3, vfGray8);
    const IPXImageBuffer a = RandomFrame(4, 3, vfGray8, 5);
    rig.In1.Send(a, 0);
    std::vector<IPXImageBuffer> bs;
    for (int i = 0; i < 3; ++i) {
        bs.push_back(RandomFrame(4, 3, vfGray8, 10 + uint32_t(i)));
        rig.In2.Send(bs.back(), int64_t(i) * 400000);
    }
    ASSERT_TRUE(rig.Out.WaitFrames(3)) << errors.Joined();
    const auto frames = rig.Out.Taken();
    ASSERT_EQ(frames.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        int w = 0, h = 0;
        const auto want = ReferenceWrapped(a, bs[std::size_t(i)], 0, 0, coXor, 0, w, h);
        ExpectFrameEquals(frames[std::size_t(i)], want, w, h, "output " + std::to_string(i));
    }
}

TEST(Combine, InputsOfDifferentFormatsGiveTheNegotiatedFormat) {
    TErrorLog errors;
    TCombineRig rig;
    rig.Combine.SetCombineOperation(coAbsDiff);
    rig.In1.Start(5, 4, vfRGB24);
    rig.In2.Start(6, 3, vfRGBA32);
    rig.In1.Send(RandomFrame(5, 4, vfRGB24, 1), 0);
    rig.In2.Send(RandomFrame(6, 3, vfRGBA32, 2), 0);
    ASSERT_TRUE(rig.Out.WaitFrames(1)) << errors.Joined();
    EXPECT_EQ(rig.Out.Taken()[0]->GetFormat(), vfRGBA32);
    EXPECT_EQ(rig.Out.Starts.back().Format, vfRGBA32);
    EXPECT_EQ(rig.Out.Taken()[0]->GetWidth(), 6);
    EXPECT_EQ(rig.Out.Taken()[0]->GetHeight(), 4);
}

TEST(Combine, AnOffsetChangeBetweenFramesAnnouncesTheNewSizeFirst) {
    TErrorLog errors;
    TCombineRig rig;
    rig.In1.Start(8, 8, vfGray8);
    rig.In2.Start(8, 8, vfGray8);
    rig.In1.Send(RandomFrame(8, 8, vfGray8, 1), 0);
    rig.In2.Send(RandomFrame(8, 8, vfGray8, 2), 0);
    ASSERT_TRUE(rig.Out.WaitFrames(1)) << errors.Joined();
    rig.Combine.GetOffset().SetHorizontal(3);
    const IPXImageBuffer a = RandomFrame(8, 8, vfGray8, 3), b = RandomFrame(8, 8, vfGray8, 4);
    rig.In1.Send(a, 400000);
    rig.In2.Send(b, 400000);
    ASSERT_TRUE(rig.Out.WaitFrames(2)) << errors.Joined();
    int w = 0, h = 0;
    const auto want = ReferenceWrapped(a, b, 3, 0, coAdd, 0, w, h);
    ExpectFrameEquals(rig.Out.Taken()[1], want, w, h, "after the change");
    ASSERT_GE(rig.Out.Starts.size(), 2u);
    EXPECT_EQ(rig.Out.Starts.back().Width, 11);
}

TEST(Combine, CoefficientsOutOfRangeDropTheFrameWithAClearMessage) {
    struct TBad {
        double C1, C2;
        const char* Name;
    };
    for (const TBad& bad : {TBad{1.0, 2.0, "Coefficient2"}, TBad{-0.5, 1.0, "Coefficient1"},
                            TBad{1.002, 1.0, "Coefficient1"}}) {
        TErrorLog errors;
        TCombineRig rig;
        rig.Combine.SetCoefficient1(bad.C1);
        rig.Combine.SetCoefficient2(bad.C2);
        rig.In1.Start(4, 4, vfRGB24);
        rig.In2.Start(4, 4, vfRGB24);
        rig.In1.Send(RandomFrame(4, 4, vfRGB24, 1), 0);
        rig.In2.Send(RandomFrame(4, 4, vfRGB24, 2), 0);
        rig.Combine.WaitIdle();
        EXPECT_EQ(rig.Out.Taken().size(), 0u) << bad.Name;
        const std::string log = errors.Joined();
        EXPECT_NE(log.find(bad.Name), std::string::npos) << log;
        EXPECT_NE(log.find("0..255"), std::string::npos) << log;
        IPXImageBuffer result;
        EXPECT_THROW(rig.Combine.ProcessFrame(RandomFrame(4, 4, vfRGB24, 1), RandomFrame(4, 4, vfRGB24, 2), result),
                     ERangeError);
        // The same coefficient is fine on 16-bit samples when its scale fits 0..65535.
        if (bad.C1 == 1.002) {
            rig.Combine.ProcessFrame(RandomFrame(4, 4, vfGray16, 1), RandomFrame(4, 4, vfGray16, 2), result);
            EXPECT_TRUE(result);
        }
    }
}

TEST(Combine, NotANumberCoefficientIsRefusedByTheSetter) {
    TPXCombine combine;
    combine.SetCoefficient1(0.5);
    try {
        combine.SetCoefficient1(std::nan(""));
        ADD_FAILURE() << "no error";
    } catch (const EPXError& e) {
        EXPECT_NE(std::string(e.what()).find("Coefficient1"), std::string::npos) << e.what();
    }
    EXPECT_EQ(combine.GetCoefficient1(), 0.5);
    EXPECT_THROW(SetPropertyText(combine, "Coefficient2", "nan"), EPXError);
}

// ---- ProcessFrame -----------------------------------------------------------------------------

TEST(Combine, CoefficientZeroOnInput1WithAddGivesBackgroundPlusInput2) {
    TPXCombine combine;
    combine.SetCoefficient1(0.0);
    combine.SetBackgroundColor(0x00102030u);  // red 0x10, green 0x20, blue 0x30
    const IPXImageBuffer a = RandomFrame(9, 7, vfRGB24, 1), b = RandomFrame(9, 7, vfRGB24, 2);
    IPXImageBuffer out;
    combine.ProcessFrame(a, b, out);
    const int bg[3] = {0x30, 0x20, 0x10};
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(PixelOf(out, x, y)[c], std::min(255, bg[c] + PixelOf(b, x, y)[c])) << x << "," << y;
}

TEST(Combine, CoefficientsScaleBothInputsBeforeTheOperation) {
    TPXCombine combine;
    combine.SetCoefficient1(0.5);
    combine.SetCoefficient2(0.25);
    const IPXImageBuffer a = RandomFrame(11, 5, vfGray16, 3), b = RandomFrame(11, 5, vfGray16, 4);
    IPXImageBuffer out;
    combine.ProcessFrame(a, b, out);
    const double k1 = std::nearbyint(0.5 * 65280), k2 = std::nearbyint(0.25 * 65280);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 11; ++x) {
            uint16_t sa, sb, so;
            std::memcpy(&sa, PixelOf(a, x, y), 2);
            std::memcpy(&sb, PixelOf(b, x, y), 2);
            std::memcpy(&so, PixelOf(out, x, y), 2);
            const long want = std::min(65535L, std::lround(sa * k1 / 65535.0) + std::lround(sb * k2 / 65535.0));
            ASSERT_EQ(long(so), want) << x << "," << y;
        }
}

TEST(Combine, RgbaCopyShowsInput1WhereInput2IsTransparent) {
    TPXCombine combine;
    combine.SetCombineOperation(coCopy);
    IPXImageBuffer a = RandomFrame(4, 2, vfRGBA32, 1), b = RandomFrame(4, 2, vfRGBA32, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) {
            a->GetModifyPointer()[y * a->GetLineSize() + x * 4 + 3] = 255;
            b->GetModifyPointer()[y * b->GetLineSize() + x * 4 + 3] = 0;
        }
    IPXImageBuffer out;
    combine.ProcessFrame(a, b, out);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(std::memcmp(PixelOf(out, x, y), PixelOf(a, x, y), 4), 0) << x << "," << y;
}

TEST(Combine, OffsetPastInput2LeavesATenPixelBackgroundGap) {
    TPXCombine combine;
    combine.SetCombineOperation(coSubtract);
    combine.SetBackgroundColor(0x00FFFFFFu);
    const IPXImageBuffer a = RandomFrame(7, 4, vfGray8, 1), b = RandomFrame(12, 4, vfGray8, 2);
    combine.GetOffset().SetHorizontal(12 + 10);
    IPXImageBuffer out;
    combine.ProcessFrame(a, b, out);
    int w = 0, h = 0;
    const auto want = ReferenceWrapped(a, b, 22, 0, coSubtract, 0x00FFFFFFu, w, h);
    EXPECT_EQ(w, 12 + 10 + 7);
    ExpectFrameEquals(out, want, w, h, "gap");
}

TEST(Combine, IntersectModesCropToTheOverlap) {
    TPXCombine combine;
    combine.GetFrameSize().SetSizeMode(smIntersect);
    combine.GetOffset().SetHorizontal(-3);
    combine.GetOffset().SetVertical(2);
    const IPXImageBuffer a = RandomFrame(10, 8, vfGray8, 1), b = RandomFrame(9, 9, vfGray8, 2);
    IPXImageBuffer out;
    combine.ProcessFrame(a, b, out);
    // Input 1 at (0, 2), input 2 at (3, 0): the overlap is x 3..9, y 2..8.
    ASSERT_EQ(out->GetWidth(), 7);
    ASSERT_EQ(out->GetHeight(), 7);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 7; ++x)
            ASSERT_EQ(PixelOf(out, x, y)[0], std::min(255, PixelOf(a, x + 3, y)[0] + PixelOf(b, x, y + 2)[0]));
    // Apart and intersecting: nothing to show, a clear error.
    combine.GetOffset().SetHorizontal(40);
    try {
        combine.ProcessFrame(a, b, out);
        ADD_FAILURE() << "no error";
    } catch (const ERangeError& e) {
        EXPECT_NE(std::string(e.what()).find("empty"), std::string::npos) << e.what();
    }
}

// Settings change on another thread while frames flow: every output frame has the size of the
// start announced before it, and nothing is reported.
TEST(CombineConcurrency, SettingsChangingWhileFramesFlow) {
    TErrorLog errors;
    TOutput out;
    TInput in1, in2;
    TPXCombine combine;
    in1.Pin.Connect(static_cast<TLRSinkPin&>(combine.FindPin("InputPins[0]")));
    in2.Pin.Connect(static_cast<TLRSinkPin&>(combine.FindPin("InputPins[1]")));
    std::vector<std::pair<int, int>> order;  // (starts seen, frame width) per frame
    std::mutex orderLock;
    TLRSinkPin checker(nullptr, "Check", TPinDataType::Video, [&](TLRSinkPin&, const ILRNotifyOperation& op) {
        std::lock_guard guard(orderLock);
        if (auto* start = As<TLRStartFrameOperation>(op)) order.push_back({start->Width, -1});
        if (auto* buffer = As<TLRSuppliedBufferOperation>(op))
            order.push_back({-1, TPXImageBuffer::CreateUniversal(buffer->Data)->GetWidth()});
        return true;
    });
    combine.OutputPin.Connect(checker);
    in1.Start(16, 8, vfRGB24);
    in2.Start(12, 8, vfRGB24);
    std::atomic<bool> done{false};
    std::thread changer([&] {
        for (int i = 0; !done.load(); ++i) {
            combine.GetOffset().SetHorizontal(i % 7 - 3);
            combine.SetCombineOperation(TPXCombineOperation(i % 9));
            combine.GetFrameSize().SetSizeMode(i % 2 ? smWrappingRect : smHorizontalIntersect);
            combine.SetCoefficient2(i % 3 ? 1.0 : 0.5);
            std::this_thread::yield();
        }
    });
    for (int i = 0; i < 200; ++i) {
        in1.Send(RandomFrame(16, 8, vfRGB24, uint32_t(i)), int64_t(i) * 400000);
        in2.Send(RandomFrame(12, 8, vfRGB24, uint32_t(i + 1000)), int64_t(i) * 400000);
    }
    done.store(true);
    changer.join();
    combine.WaitIdle();
    EXPECT_TRUE(errors.Messages().empty()) << errors.Joined();
    std::lock_guard guard(orderLock);
    int announced = -1, frames = 0;
    for (const auto& [start, width] : order) {
        if (start >= 0) announced = start;
        else {
            ++frames;
            ASSERT_EQ(width, announced) << "frame " << frames << " does not have the announced width";
        }
    }
    EXPECT_EQ(frames, 200);
}

TEST(Combine, IsRegisteredWithItsPaletteNameAndDefaults) {
    RegisterPackage();
    const TComponentClass* cls = TRegistry::Instance().Find("TPXCombine");
    ASSERT_NE(cls, nullptr);
    EXPECT_EQ(cls->DisplayName, "Combine two Video streams");
    EXPECT_EQ(cls->Categories, std::vector<std::string>{"TPixoraMixersToolbarCategory"});
    TComponentPtr c = TRegistry::Instance().Create("TPXCombine");
    EXPECT_EQ(GetPropertyText(*c, "CombineOperation"), "coAdd");
    EXPECT_EQ(GetPropertyText(*c, "Coefficient1"), "1");
    EXPECT_EQ(GetPropertyText(*c, "RateSource"), "frsMin");
    EXPECT_EQ(GetPropertyText(*c, "StartIfNotAllRunning"), "True");
    EXPECT_EQ(GetPropertyText(*c, "FrameSize.SizeMode"), "smWrappingRect");
    SetPropertyText(*c, "CombineOperation", "coDivide");
    EXPECT_EQ(GetPropertyText(*c, "CombineOperation"), "coDivide");
    EXPECT_THROW(SetPropertyText(*c, "CombineOperation", "coMin"), EPropertyError);
    c->FindPin("InputPins[1]");
    c->FindPin("OutputPin");
}

}  // namespace
}  // namespace pixora
