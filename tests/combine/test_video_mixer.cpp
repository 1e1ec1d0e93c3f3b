// The video mixer against a slow per-pixel model of its composition: channel order, offsets and
// clipping, coefficients, every operation in every native format, the canvas geometry of each
// size mode, stopped and slow channels, 64 channels, channels far outside the canvas, the
// channel collection and its pins (moved and removed channels, also while frames run), bad
// coefficients, and settings changed while frames run.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <thread>

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "filters/combine/PXVideoMixer.h"
#include "platform/filters/PXCommonGen.h"
#include "tests/support/FilterHarness.h"

namespace pixora {
namespace {

using namespace std::chrono_literals;

// ---- A plain image for the model: samples as integers, interleaved.

struct TImage {
    int Width = 0, Height = 0, Channels = 1;
    TPXVideoFormat Format = vfGray8;
    std::vector<int> S;
    int& At(int x, int y, int c) { return S[(std::size_t(y) * std::size_t(Width) + std::size_t(x)) * std::size_t(Channels) + std::size_t(c)]; }
    int At(int x, int y, int c) const {
        return S[(std::size_t(y) * std::size_t(Width) + std::size_t(x)) * std::size_t(Channels) + std::size_t(c)];
    }
};

int Max(TPXVideoFormat f) { return f == vfGray16 ? 65535 : 255; }
int Chans(TPXVideoFormat f) { return f == vfRGBA32 ? 4 : f == vfRGB24 ? 3 : 1; }

TImage Random(int w, int h, TPXVideoFormat f, std::mt19937& random) {
    TImage img{w, h, Chans(f), f, {}};
    img.S.resize(std::size_t(w) * std::size_t(h) * std::size_t(img.Channels));
    for (int& s : img.S) {
        // Plenty of zeros and extremes: they exercise saturation and division by zero.
        const unsigned pick = random() % 8;
        s = pick == 0 ? 0 : pick == 1 ? Max(f) : int(random() % unsigned(Max(f) + 1));
    }
    return img;
}

IPXImageBuffer ToFrame(const TImage& img) {
    IPXImageBuffer frame = TPXImageBuffer::CreateSize(img.Width, img.Height, img.Format);
    uint8_t* row = frame->GetWritePointer();
    for (int y = 0; y < img.Height; ++y, row += frame->GetLineSize())
        for (int x = 0; x < img.Width; ++x)
            for (int c = 0; c < img.Channels; ++c) {
                if (img.Format == vfGray16) reinterpret_cast<uint16_t*>(row)[x] = uint16_t(img.At(x, y, c));
                else row[x * img.Channels + c] = uint8_t(img.At(x, y, c));
            }
    return frame;
}

TImage FromFrame(const IPXImageBuffer& frame) {
    TImage img{frame->GetWidth(), frame->GetHeight(), Chans(frame->GetFormat()), frame->GetFormat(), {}};
    img.S.resize(std::size_t(img.Width) * std::size_t(img.Height) * std::size_t(img.Channels));
    const uint8_t* row = frame->GetReadPointer();
    for (int y = 0; y < img.Height; ++y, row += frame->GetLineSize())
        for (int x = 0; x < img.Width; ++x)
            for (int c = 0; c < img.Channels; ++c)
                img.At(x, y, c) = img.Format == vfGray16 ? reinterpret_cast<const uint16_t*>(row)[x] : row[x * img.Channels + c];
    return img;
}

// ---- The model of the composition

struct TModelChannel {
    bool Enabled = true;
    double Coefficient = 1.0;
    TPXCombineOperation Op = coAdd;
    int X = 0, Y = 0;                // offset
    std::optional<TImage> Frame;     // what it draws (current or last frame)
    int KnownWidth = 0, KnownHeight = 0;
};

// Background bytes: blue bits 0..7, green 8..15, red 16..23, alpha 24..31; grey formats take
// the red byte as their sample.
TImage Background(int w, int h, TPXVideoFormat f, uint32_t color) {
    TImage img{w, h, Chans(f), f, std::vector<int>(std::size_t(w) * std::size_t(h) * std::size_t(Chans(f)))};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < img.Channels; ++c)
                img.At(x, y, c) = img.Channels == 1 ? int((color >> 16) & 255) : int((color >> (8 * c)) & 255);
    if (f == vfRGBA32) {
        // the opaque colour elsewhere; RGBA keeps the colour's alpha
    }
    return img;
}

int RoundHalfEven(double v) {
    return int(std::nearbyint(v));  // the default rounding mode is to nearest, ties to even
}

int Apply(TPXCombineOperation op, int a, int b, int max) {
    switch (op) {
    case coAdd: return std::min(a + b, max);
    case coSubtract: return std::max(b - a, 0);
    case coMultiply: return int(std::min<int64_t>(int64_t(a) * b, max));
    case coDivide: {
        if (a == 0) return b == 0 ? 0 : max;
        int q = b / a;
        const int r = b % a;
        if (2 * r > a || (2 * r == a && (q & 1))) ++q;
        return std::min(q, max);
    }
    case coOr: return a | b;
    case coAnd: return a & b;
    case coXor: return a ^ b;
    case coAbsDiff: return std::abs(a - b);
    case coCopy: return a;
    }
    return b;
}

TImage ModelMix(TPXVideoFormat f, int width, int height, int originX, int originY, uint32_t background,
                const std::vector<TModelChannel>& channels) {
    const uint32_t fill = f == vfRGBA32 ? background : (background | 0xFF000000u);
    std::optional<TImage> canvas;
    const int max = Max(f);
    for (const TModelChannel& ch : channels) {
        if (!ch.Enabled || !(ch.Coefficient > 0)) continue;
        const int fw = ch.Frame ? ch.Frame->Width : ch.KnownWidth, fh = ch.Frame ? ch.Frame->Height : ch.KnownHeight;
        if (fw < 1 || fh < 1) continue;
        const int64_t x = int64_t(ch.X) + originX, y = int64_t(ch.Y) + originY;
        if (x > width || y > height || x + fw < 0 || y + fh < 0) continue;
        const TImage frame = ch.Frame ? *ch.Frame : Background(fw, fh, f, fill);
        if (!canvas) {
            if (ch.Coefficient == 1.0 && x == 0 && y == 0 && fw == width && fh == height) {
                canvas = frame;
                continue;
            }
            canvas = Background(width, height, f, fill);
        }
        const int k = f == vfGray16 ? RoundHalfEven(ch.Coefficient * 65280) : RoundHalfEven(ch.Coefficient * 255);
        for (int py = int(std::max<int64_t>(y, 0)); py < std::min<int64_t>(y + fh, height); ++py)
            for (int px = int(std::max<int64_t>(x, 0)); px < std::min<int64_t>(x + fw, width); ++px) {
                const int sx = int(px - x), sy = int(py - y);
                if (f == vfRGBA32) {
                    // A over B: colour = a·fg + (1 − a)·b·bg, alpha = a + (1 − a)·b, rounded.
                    const int64_t fa = frame.At(sx, sy, 3), ba = canvas->At(px, py, 3);
                    for (int c = 0; c < 3; ++c) {
                        const int64_t num = fa * frame.At(sx, sy, c) * 255 + (255 - fa) * ba * canvas->At(px, py, c);
                        canvas->At(px, py, c) = int((2 * num + 65025) / (2 * 65025));
                    }
                    const int64_t num = fa * 255 + (255 - fa) * ba;
                    canvas->At(px, py, 3) = int((2 * num + 255) / (2 * 255));
                }
                for (int c = 0; c < frame.Channels; ++c) {
                    int a = frame.At(sx, sy, c);
                    if (ch.Coefficient != 1.0) a = int((int64_t(a) * k * 2 + max) / (2 * int64_t(max)));
                    if (f == vfRGBA32 && c == 3 && ch.Op != coAbsDiff) continue;  // canvas alpha stays
                    canvas->At(px, py, c) = Apply(ch.Op, a, canvas->At(px, py, c), max);
                }
            }
    }
    if (!canvas) canvas = Background(width, height, f, fill);
    return *canvas;
}

// ---- Driving the mixer

class TRecorder {
public:
    TRecorder()
        : Pin(nullptr, "Recorder", TPinDataType::Video, [this](TLRSinkPin&, const ILRNotifyOperation& op) {
              std::lock_guard guard(Mutex);
              if (auto* start = As<TLRStartFrameOperation>(op)) Starts.push_back(*start);
              if (auto* buffer = As<TLRSuppliedBufferOperation>(op)) {
                  Frames.push_back(TPXImageBuffer::CreateUniversal(buffer->Data));
                  // The scheduling of the thread that delivered it (the mixer's output thread
                  // when Threading is enabled): its nice value and policy.
                  Scheduling.emplace_back(getpriority(PRIO_PROCESS, 0), sched_getscheduler(0));
              }
              if (op.Kind() == TOperationKind::Stop) ++Stops;
              Changed.notify_all();
              return true;
          }) {}
    bool WaitFrames(std::size_t n) {
        std::unique_lock lock(Mutex);
        return Changed.wait_for(lock, 20s, [&] { return Frames.size() >= n; });
    }
    TLRSinkPin Pin;
    std::mutex Mutex;
    std::condition_variable Changed;
    std::vector<TLRStartFrameOperation> Starts;
    std::vector<IPXImageBuffer> Frames;
    std::vector<std::pair<int, int>> Scheduling;
    int Stops = 0;
};

struct TFeed {
    TFeed() : Pin(nullptr, "Feed", TPinDataType::Video) {}
    TLRSourcePin Pin;
    void Start(int w, int h, TPXVideoFormat f) { Pin.Notify(TLRStartFrameOperation::Make(w, h, f, 400000)); }
    void Send(const IPXImageBuffer& frame, int64_t index) {
        frame->SetTimeStamp({true, index * 400000, (index + 1) * 400000});
        Pin.Notify(TLRSuppliedBufferOperation::Make(frame));
    }
    void Stop() { Pin.Notify(TLRStopOperation::Make()); }
};

struct TMixRig {
    explicit TMixRig(int channels) : Feeds(std::size_t(channels)) {
        for (int i = 0; i < channels; ++i) {
            Mixer.AddChannel();
            Feeds[std::size_t(i)].Pin.Connect(static_cast<TLRSinkPin&>(Mixer.InputPins[i]));
        }
        Mixer.OutputPin.Connect(Out.Pin);
    }
    TPXVideoMixerChannelItem& Ch(int i) { return Mixer.GetChannels()[i]; }
    TRecorder Out;
    std::vector<TFeed> Feeds;
    TPXVideoMixer Mixer;
};

const TPXVideoFormat KFormats[] = {vfRGB24, vfRGBA32, vfGray8, vfGray16};
const TPXCombineOperation KOps[] = {coAdd, coSubtract, coMultiply, coDivide, coOr, coAnd, coXor, coAbsDiff, coCopy};

// The wrapping rectangle of the channels at their offsets, by brute force over covered pixels.
TRect ModelWrapping(const std::vector<TModelChannel>& channels) {
    int x0 = 1 << 30, y0 = 1 << 30, x1 = -(1 << 30), y1 = -(1 << 30);
    for (const auto& ch : channels) {
        x0 = std::min(x0, ch.X), y0 = std::min(y0, ch.Y);
        x1 = std::max(x1, ch.X + ch.KnownWidth), y1 = std::max(y1, ch.Y + ch.KnownHeight);
    }
    return {x0, y0, x1 - x0, y1 - y0};
}

TEST(VideoMixer, ComposesLikeTheModelInEveryFormatOperationAndPlacement) {
    std::mt19937 random(2024);
    const double coefficients[] = {1.0, 1.0, 0.5, 0.3, 0.0, -1.0, 0.77};
    for (TPXVideoFormat format : KFormats)
        for (int trial = 0; trial < 12; ++trial) {
            const int count = 1 + trial % 4;
            TMixRig rig(count);
            rig.Mixer.SetBackgroundColor(uint32_t(random()));
            std::vector<TModelChannel> model(static_cast<std::size_t>(count));
            for (int i = 0; i < count; ++i) {
                auto& m = model[std::size_t(i)];
                m.KnownWidth = 1 + int(random() % 9);
                m.KnownHeight = 1 + int(random() % 7);
                m.X = int(random() % 11) - 5;
                m.Y = int(random() % 11) - 5;
                m.Op = KOps[(std::size_t(trial) + std::size_t(i) * 3 + random() % 2) % 9];
                m.Coefficient = coefficients[random() % 7];
                m.Enabled = random() % 6 != 0;
                rig.Ch(i).GetOffset().SetCX(m.X);
                rig.Ch(i).GetOffset().SetCY(m.Y);
                rig.Ch(i).SetCombineOperation(m.Op);
                rig.Ch(i).SetCoefficient(m.Coefficient);
                rig.Ch(i).SetEnabled(m.Enabled);
            }
            for (int i = 0; i < count; ++i)
                rig.Feeds[std::size_t(i)].Start(model[std::size_t(i)].KnownWidth, model[std::size_t(i)].KnownHeight, format);
            ASSERT_FALSE(rig.Out.Starts.empty());
            const TRect wrap = ModelWrapping(model);
            EXPECT_EQ(rig.Out.Starts.back().Width, wrap.Width);
            EXPECT_EQ(rig.Out.Starts.back().Height, wrap.Height);
            EXPECT_EQ(rig.Out.Starts.back().Format, format);
            for (int frameIndex = 0; frameIndex < 2; ++frameIndex) {
                for (int i = 0; i < count; ++i) {
                    auto& m = model[std::size_t(i)];
                    m.Frame = Random(m.KnownWidth, m.KnownHeight, format, random);
                    rig.Feeds[std::size_t(i)].Send(ToFrame(*m.Frame), frameIndex);
                }
                ASSERT_EQ(rig.Out.Frames.size(), std::size_t(frameIndex + 1)) << FormatName(format) << " trial " << trial;
                const TImage got = FromFrame(rig.Out.Frames.back());
                const TImage expected =
                    ModelMix(format, wrap.Width, wrap.Height, -wrap.X, -wrap.Y, rig.Mixer.GetBackgroundColor(), model);
                ASSERT_EQ(got.S, expected.S) << FormatName(format) << " trial " << trial << " frame " << frameIndex;
            }
        }
}

TEST(VideoMixer, LargeChannelsDrawnInBandsMatchTheModel) {
    // Channels of 400 × 300 (over a quarter megabyte) are drawn in bands on the band pool.
    for (int threads : {1, 2, 3})
        for (TPXVideoFormat format : {vfRGBA32, vfGray16, vfRGB24}) {
            testharness::TPoolThreads pool(threads);
            std::mt19937 random(unsigned(threads * 10 + int(format)));
            TMixRig rig(3);
            rig.Mixer.SetStartIfNotAllRunning(false);
            std::vector<TModelChannel> model(3);
            const TPXCombineOperation ops[] = {coAdd, coSubtract, coAbsDiff};
            for (int i = 0; i < 3; ++i) {
                auto& m = model[std::size_t(i)];
                m.KnownWidth = 400, m.KnownHeight = 300;
                m.X = i * 37, m.Y = i * 23;
                m.Op = ops[i];
                m.Coefficient = i == 1 ? 0.6 : 1.0;
                rig.Ch(i).GetOffset().SetCX(m.X);
                rig.Ch(i).GetOffset().SetCY(m.Y);
                rig.Ch(i).SetCombineOperation(m.Op);
                rig.Ch(i).SetCoefficient(m.Coefficient);
                rig.Feeds[std::size_t(i)].Start(400, 300, format);
            }
            for (int i = 0; i < 3; ++i) {
                auto& m = model[std::size_t(i)];
                m.Frame = Random(400, 300, format, random);
                rig.Feeds[std::size_t(i)].Send(ToFrame(*m.Frame), 0);
            }
            ASSERT_EQ(rig.Out.Frames.size(), 1u);
            const TRect wrap = ModelWrapping(model);
            EXPECT_EQ(FromFrame(rig.Out.Frames[0]).S,
                      ModelMix(format, wrap.Width, wrap.Height, -wrap.X, -wrap.Y, 0, model).S)
                << FormatName(format) << ", " << threads << " pool thread(s)";
        }
}

// The bottom channel covering the canvas becomes the canvas without a copy; the next channel
// is computed from its pixels into a new block. Whatever rectangle that channel covers (all of
// the canvas, an inner part, an edge strip), the result matches the model, the pixels around
// the rectangle are the bottom channel's, and the bottom channel's input frame is not written.
TEST(VideoMixer, ChannelOverASharedBottomCanvasLeavesTheInputFrameAlone) {
    std::mt19937 random(31);
    struct TPlace { int X, Y, W, H; };
    // A 400 x 300 canvas: big enough to be drawn in bands.
    constexpr int W = 400, H = 300;
    const TPlace places[] = {{0, 0, W, H}, {51, 40, 211, 199}, {-3, 290, 420, 10}, {397, -2, 9, 330}, {0, 77, W, 1}};
    for (int threads : {1, 2})
        for (TPXVideoFormat format : KFormats)
            for (const TPlace& place : places)
                for (TPXCombineOperation op : {coAdd, coSubtract, coCopy, coAbsDiff}) {
                    testharness::TPoolThreads pool(threads);
                    TMixRig rig(3);
                    rig.Mixer.SetStartIfNotAllRunning(false);
                    rig.Mixer.GetFrameSize().SetSizeMode(smCustom);
                    rig.Mixer.GetFrameSize().SetWidth(W);
                    rig.Mixer.GetFrameSize().SetHeight(H);
                    std::vector<TModelChannel> model(3);
                    model[0].KnownWidth = W, model[0].KnownHeight = H;
                    model[1].KnownWidth = place.W, model[1].KnownHeight = place.H;
                    model[1].X = place.X, model[1].Y = place.Y, model[1].Op = op;
                    model[1].Coefficient = op == coAdd ? 0.5 : 1.0;
                    model[2].KnownWidth = 6, model[2].KnownHeight = 5;
                    model[2].X = 200, model[2].Y = 120, model[2].Op = coXor;
                    for (int i = 0; i < 3; ++i) {
                        auto& m = model[std::size_t(i)];
                        rig.Ch(i).GetOffset().SetCX(m.X);
                        rig.Ch(i).GetOffset().SetCY(m.Y);
                        rig.Ch(i).SetCombineOperation(i == 0 ? coCopy : m.Op);
                        rig.Ch(i).SetCoefficient(m.Coefficient);
                        rig.Feeds[std::size_t(i)].Start(m.KnownWidth, m.KnownHeight, format);
                    }
                    model[0].Op = coCopy;
                    IPXImageBuffer bottom;
                    for (int i = 0; i < 3; ++i) {
                        auto& m = model[std::size_t(i)];
                        m.Frame = Random(m.KnownWidth, m.KnownHeight, format, random);
                        IPXImageBuffer frame = ToFrame(*m.Frame);
                        if (i == 0) bottom = frame;
                        rig.Feeds[std::size_t(i)].Send(frame, 0);
                    }
                    ASSERT_EQ(rig.Out.Frames.size(), 1u);
                    const std::string what = std::string(FormatName(format)) + " at " + std::to_string(place.X) + "," +
                                             std::to_string(place.Y) + " op " + std::to_string(int(op)) + ", " +
                                             std::to_string(threads) + " thread(s)";
                    EXPECT_EQ(FromFrame(rig.Out.Frames[0]).S, ModelMix(format, W, H, 0, 0, 0, model).S) << what;
                    EXPECT_EQ(FromFrame(bottom).S, model[0].Frame->S) << what << ": the input frame was written";
                }
}

TEST(VideoMixer, SingleChannelCoveringTheCanvasPassesUnchangedWhateverTheOperation) {
    std::mt19937 random(5);
    for (TPXCombineOperation op : KOps) {
        TMixRig rig(1);
        rig.Ch(0).SetCombineOperation(op);
        rig.Mixer.SetBackgroundColor(0xFF102030u);
        rig.Feeds[0].Start(7, 5, vfRGB24);
        const TImage input = Random(7, 5, vfRGB24, random);
        const IPXImageBuffer frame = ToFrame(input);
        rig.Feeds[0].Send(frame, 0);
        ASSERT_EQ(rig.Out.Frames.size(), 1u);
        EXPECT_EQ(FromFrame(rig.Out.Frames[0]).S, input.S) << "op " << int(op);
        EXPECT_NE(rig.Out.Frames[0].Get(), frame.Get()) << "a frame object of its own";
        EXPECT_EQ(FromFrame(frame).S, input.S) << "the input is never written";
    }
}

TEST(VideoMixer, DisabledOnlyChannelGivesBackgroundFrames) {
    for (TPXVideoFormat format : KFormats) {
        TMixRig rig(1);
        rig.Mixer.SetBackgroundColor(0x80C0A060u);
        rig.Ch(0).SetEnabled(false);
        rig.Feeds[0].Start(3, 2, format);
        std::mt19937 random(1);
        rig.Feeds[0].Send(ToFrame(Random(3, 2, format, random)), 0);
        ASSERT_EQ(rig.Out.Frames.size(), 1u) << FormatName(format);
        EXPECT_EQ(FromFrame(rig.Out.Frames[0]).S,
                  Background(3, 2, format, format == vfRGBA32 ? 0x80C0A060u : 0xFFC0A060u).S)
            << FormatName(format);
    }
}

TEST(VideoMixer, CanvasSizeAndOriginFollowTheSizeMode) {
    struct TCase {
        TPXCombineSizeMode Mode;
        int W, H, OX, OY;
    };
    // Channel 0: 10 × 8 at (0, 0); channel 1: 6 × 12 at (7, -3). Wrapping: x 0..13, y -3..9;
    // intersection: x 7..10, y 0..8.
    const TCase cases[] = {{smWrappingRect, 13, 12, 0, 3}, {smIntersect, 3, 8, -7, 0},
                           {smHorizontalIntersect, 13, 8, 0, 0}, {smVerticalIntersect, 3, 12, -7, 3},
                           {smCustom, 20, 15, 0, 0}};
    for (const TCase& c : cases) {
        TMixRig rig(2);
        rig.Mixer.GetFrameSize().SetSizeMode(c.Mode);
        rig.Mixer.GetFrameSize().SetWidth(20);
        rig.Mixer.GetFrameSize().SetHeight(15);
        rig.Ch(1).GetOffset().SetCX(7);
        rig.Ch(1).GetOffset().SetCY(-3);
        rig.Feeds[0].Start(10, 8, vfGray8);
        rig.Feeds[1].Start(6, 12, vfGray8);
        ASSERT_FALSE(rig.Out.Starts.empty());
        EXPECT_EQ(rig.Out.Starts.back().Width, c.W) << int(c.Mode);
        EXPECT_EQ(rig.Out.Starts.back().Height, c.H) << int(c.Mode);
        EXPECT_EQ(rig.Mixer.OutputOrigin(), (TPXPoint{c.OX, c.OY})) << int(c.Mode);
        // And the frame drawn there matches the model.
        std::mt19937 random(3);
        std::vector<TModelChannel> model(2);
        model[0].Frame = Random(10, 8, vfGray8, random);
        model[1].Frame = Random(6, 12, vfGray8, random);
        model[1].X = 7, model[1].Y = -3;
        rig.Feeds[0].Send(ToFrame(*model[0].Frame), 0);
        rig.Feeds[1].Send(ToFrame(*model[1].Frame), 0);
        ASSERT_EQ(rig.Out.Frames.size(), 1u);
        EXPECT_EQ(FromFrame(rig.Out.Frames[0]).S, ModelMix(vfGray8, c.W, c.H, c.OX, c.OY, 0, model).S) << int(c.Mode);
    }
}

TEST(VideoMixer, ChannelsThatDoNotOverlapUnderIntersectGiveAClearError) {
    testharness::TErrorLog errors;
    TMixRig rig(2);
    rig.Mixer.GetFrameSize().SetSizeMode(smIntersect);
    rig.Ch(1).GetOffset().SetCX(10);  // touching edges: zero pixels in common
    rig.Feeds[0].Start(10, 4, vfGray8);
    rig.Feeds[1].Start(10, 4, vfGray8);
    ASSERT_FALSE(errors.Messages().empty());
    std::mt19937 random(1);
    rig.Feeds[0].Send(ToFrame(Random(10, 4, vfGray8, random)), 0);
    rig.Feeds[1].Send(ToFrame(Random(10, 4, vfGray8, random)), 0);
    EXPECT_TRUE(rig.Out.Frames.empty()) << "no output without a size";
    EXPECT_NE(errors.Joined().find("do not overlap"), std::string::npos) << errors.Joined();
}

TEST(VideoMixer, SixtyFourChannelsTileTheCanvas) {
    std::mt19937 random(64);
    TMixRig rig(64);
    std::vector<TModelChannel> model(64);
    for (int i = 0; i < 64; ++i) {
        model[std::size_t(i)].X = (i % 8) * 4 - 2;  // overlapping neighbours by 2 pixels
        model[std::size_t(i)].Y = (i / 8) * 3;
        model[std::size_t(i)].KnownWidth = 6, model[std::size_t(i)].KnownHeight = 3;
        model[std::size_t(i)].Op = KOps[std::size_t(i) % 9];
        rig.Ch(i).GetOffset().SetCX(model[std::size_t(i)].X);
        rig.Ch(i).GetOffset().SetCY(model[std::size_t(i)].Y);
        rig.Ch(i).SetCombineOperation(model[std::size_t(i)].Op);
        rig.Feeds[std::size_t(i)].Start(6, 3, vfRGB24);
    }
    ASSERT_FALSE(rig.Out.Starts.empty());
    EXPECT_EQ(rig.Out.Starts.back().Width, 7 * 4 + 6);
    EXPECT_EQ(rig.Out.Starts.back().Height, 24);
    for (int i = 0; i < 64; ++i) {
        model[std::size_t(i)].Frame = Random(6, 3, vfRGB24, random);
        rig.Feeds[std::size_t(i)].Send(ToFrame(*model[std::size_t(i)].Frame), 0);
        EXPECT_EQ(rig.Out.Frames.size(), i == 63 ? 1u : 0u) << "the set completes with the last channel";
    }
    ASSERT_EQ(rig.Out.Frames.size(), 1u);
    EXPECT_EQ(FromFrame(rig.Out.Frames[0]).S, ModelMix(vfRGB24, 34, 24, 2, 0, 0, model).S);
}

TEST(VideoMixer, OffsetsFarOutsideTheCanvasAreClipped) {
    std::mt19937 random(9);
    const int far = 2'000'000'000;
    TMixRig rig(4);
    rig.Mixer.GetFrameSize().SetSizeMode(smCustom);
    rig.Mixer.GetFrameSize().SetWidth(16);
    rig.Mixer.GetFrameSize().SetHeight(12);
    std::vector<TModelChannel> model(4);
    const int offsets[4][2] = {{-10, -10}, {far, 0}, {-far, -far}, {12, 9}};
    for (int i = 0; i < 4; ++i) {
        model[std::size_t(i)].X = offsets[i][0], model[std::size_t(i)].Y = offsets[i][1];
        rig.Ch(i).GetOffset().SetCX(offsets[i][0]);
        rig.Ch(i).GetOffset().SetCY(offsets[i][1]);
        rig.Feeds[std::size_t(i)].Start(20, 15, vfRGBA32);
    }
    ASSERT_FALSE(rig.Out.Starts.empty());
    for (int i = 0; i < 4; ++i) {
        model[std::size_t(i)].Frame = Random(20, 15, vfRGBA32, random);
        rig.Feeds[std::size_t(i)].Send(ToFrame(*model[std::size_t(i)].Frame), 0);
    }
    ASSERT_EQ(rig.Out.Frames.size(), 1u);
    EXPECT_EQ(FromFrame(rig.Out.Frames[0]).S, ModelMix(vfRGBA32, 16, 12, 0, 0, 0, model).S);
}

TEST(VideoMixer, StoppedChannelDrawsItsLastFrameOrTheBackgroundOverItsArea) {
    for (bool lastFrame : {false, true}) {
        std::mt19937 random(4);
        TMixRig rig(2);
        rig.Mixer.SetBackgroundColor(0x00406080u);
        rig.Ch(1).SetLastFrameOnStop(lastFrame);
        rig.Ch(1).GetOffset().SetCX(2);
        rig.Feeds[0].Start(6, 4, vfRGB24);
        rig.Feeds[1].Start(3, 3, vfRGB24);
        std::vector<TModelChannel> model(2);
        model[1].X = 2, model[1].KnownWidth = 3, model[1].KnownHeight = 3;
        model[0].Frame = Random(6, 4, vfRGB24, random);
        model[1].Frame = Random(3, 3, vfRGB24, random);
        rig.Feeds[0].Send(ToFrame(*model[0].Frame), 0);
        rig.Feeds[1].Send(ToFrame(*model[1].Frame), 0);
        rig.Feeds[1].Stop();
        model[0].Frame = Random(6, 4, vfRGB24, random);
        rig.Feeds[0].Send(ToFrame(*model[0].Frame), 1);
        ASSERT_EQ(rig.Out.Frames.size(), 2u);
        if (!lastFrame) model[1].Frame.reset();
        EXPECT_EQ(FromFrame(rig.Out.Frames[1]).S, ModelMix(vfRGB24, 6, 4, 0, 0, 0x00406080u, model).S)
            << "LastFrameOnStop " << lastFrame;
    }
}

TEST(VideoMixer, IgnoreRateChannelKeepsShowingItsLatestFrame) {
    std::mt19937 random(8);
    TMixRig rig(2);
    rig.Ch(1).SetIgnoreRate(true);
    rig.Ch(1).SetCombineOperation(coCopy);
    rig.Ch(1).GetOffset().SetCX(1);
    rig.Feeds[0].Start(4, 4, vfGray8);
    rig.Feeds[1].Start(2, 2, vfGray8);
    std::vector<TModelChannel> model(2);
    model[1].X = 1;
    model[1].Op = coCopy;
    model[1].Frame = Random(2, 2, vfGray8, random);
    rig.Feeds[1].Send(ToFrame(*model[1].Frame), 0);  // once only: a very slow channel
    for (int k = 0; k < 4; ++k) {
        model[0].Frame = Random(4, 4, vfGray8, random);
        rig.Feeds[0].Send(ToFrame(*model[0].Frame), k);
        ASSERT_EQ(rig.Out.Frames.size(), std::size_t(k + 1));
        EXPECT_EQ(FromFrame(rig.Out.Frames.back()).S, ModelMix(vfGray8, 4, 4, 0, 0, 0, model).S) << "frame " << k;
    }
}

TEST(VideoMixer, MixedInputFormatsAreConvertedToTheStreamFormat) {
    std::mt19937 random(12);
    TMixRig rig(2);
    rig.Feeds[0].Start(4, 3, vfGray8);
    rig.Feeds[1].Start(4, 3, vfRGB24);
    ASSERT_FALSE(rig.Out.Starts.empty());
    ASSERT_EQ(rig.Out.Starts.back().Format, vfRGB24) << "grey with colour never gives grey";
    std::vector<TModelChannel> model(2);
    const TImage grey = Random(4, 3, vfGray8, random);
    model[1].Frame = Random(4, 3, vfRGB24, random);
    IPXImageBuffer converted = ToFrame(grey);
    converted->ConvertToFormat(vfRGB24);  // the platform's conversion, as the mixer must use
    model[0].Frame = FromFrame(converted);
    rig.Feeds[0].Send(ToFrame(grey), 0);
    rig.Feeds[1].Send(ToFrame(*model[1].Frame), 0);
    ASSERT_EQ(rig.Out.Frames.size(), 1u);
    EXPECT_EQ(FromFrame(rig.Out.Frames[0]).S, ModelMix(vfRGB24, 4, 3, 0, 0, 0, model).S);
}

TEST(VideoMixer, CoefficientOutOfRangeIsReportedAndTheFrameDropped) {
    testharness::TErrorLog errors;
    TMixRig rig(2);
    rig.Ch(1).SetCoefficient(2.0);  // k = 510 does not fit 8-bit samples
    rig.Feeds[0].Start(2, 2, vfGray8);
    rig.Feeds[1].Start(2, 2, vfGray8);
    std::mt19937 random(2);
    rig.Feeds[0].Send(ToFrame(Random(2, 2, vfGray8, random)), 0);
    rig.Feeds[1].Send(ToFrame(Random(2, 2, vfGray8, random)), 0);
    EXPECT_TRUE(rig.Out.Frames.empty());
    ASSERT_EQ(errors.Messages().size(), 1u);
    rig.Ch(1).SetCoefficient(0.5);
    rig.Feeds[0].Send(ToFrame(Random(2, 2, vfGray8, random)), 1);
    rig.Feeds[1].Send(ToFrame(Random(2, 2, vfGray8, random)), 1);
    EXPECT_EQ(rig.Out.Frames.size(), 1u) << "the stream goes on";
}

TEST(VideoMixer, AfterStopZeroSendsBackgroundFrames) {
    TMixRig rig(1);
    rig.Mixer.SetAfterStop(asZero);
    rig.Mixer.SetBackgroundColor(0x11223344u);
    rig.Feeds[0].Start(3, 2, vfRGBA32);
    std::mt19937 random(3);
    rig.Feeds[0].Send(ToFrame(Random(3, 2, vfRGBA32, random)), 0);
    rig.Feeds[0].Stop();
    ASSERT_TRUE(rig.Out.WaitFrames(3));
    rig.Mixer.Close();
    std::lock_guard guard(rig.Out.Mutex);
    for (std::size_t i = 1; i < rig.Out.Frames.size(); ++i)
        EXPECT_EQ(FromFrame(rig.Out.Frames[i]).S, Background(3, 2, vfRGBA32, 0x11223344u).S) << "frame " << i;
    EXPECT_EQ(rig.Out.Stops, 1);
}

TEST(VideoMixerChannels, PinsFollowTheCollection) {
    TPXVideoMixer mixer;
    EXPECT_EQ(mixer.InputPins.Count(), 0);
    auto& a = mixer.AddChannel();
    auto& b = mixer.AddChannel();
    mixer.AddChannel();
    ASSERT_EQ(mixer.InputPins.Count(), 3);
    EXPECT_EQ(&mixer.InputPins[0], a.GetInputPin());
    EXPECT_EQ(&mixer.InputPins[1], b.GetInputPin());
    EXPECT_EQ(&mixer.FindPin("InputPins[2]"), mixer.GetChannels()[2].GetInputPin());
    mixer.GetChannels().Delete(0);
    ASSERT_EQ(mixer.InputPins.Count(), 2);
    EXPECT_EQ(&mixer.InputPins[0], b.GetInputPin());
    EXPECT_EQ(mixer.InputPins[0].Name(), "InputPins0");

    // Persisted and loaded: the same channels, each with its pin and settings.
    b.SetCoefficient(0.25);
    b.SetCombineOperation(coXor);
    b.GetOffset().SetCX(-7);
    b.SetIgnoreRate(true);
    nlohmann::json saved;
    SaveProperties(mixer, saved);
    TPXVideoMixer copy;
    LoadProperties(copy, saved);
    ASSERT_EQ(copy.InputPins.Count(), 2);
    EXPECT_EQ(copy.GetChannels()[0].GetCoefficient(), 0.25);
    EXPECT_EQ(copy.GetChannels()[0].GetCombineOperation(), coXor);
    EXPECT_EQ(copy.GetChannels()[0].GetOffset().GetCX(), -7);
    EXPECT_TRUE(static_cast<TPXLRMixerQueuedImageSinkPin&>(copy.InputPins[0]).IgnoreRate);
    mixer.GetChannels().Clear();
    EXPECT_EQ(mixer.InputPins.Count(), 0);
}

TEST(VideoMixerChannels, MovingAChannelKeepsItsPinAndConnectionAndRedrawsInTheNewOrder) {
    // Four overlapping channels that each copy themselves over the canvas: the topmost (last)
    // channel wins where they overlap, so the output shows the drawing order.
    std::mt19937 random(31);
    TMixRig rig(4);
    std::vector<TModelChannel> model(4);
    std::vector<TPXVideoMixerChannelItem*> items;
    std::vector<TLRSinkPin*> pins;
    for (int i = 0; i < 4; ++i) {
        auto& m = model[std::size_t(i)];
        m.X = i * 2, m.Y = i, m.KnownWidth = 6, m.KnownHeight = 5, m.Op = coCopy;
        rig.Ch(i).GetOffset().SetCX(m.X);
        rig.Ch(i).GetOffset().SetCY(m.Y);
        rig.Ch(i).SetCombineOperation(coCopy);
        items.push_back(&rig.Ch(i));
        pins.push_back(items.back()->GetInputPin());
    }
    for (int i = 0; i < 4; ++i) rig.Feeds[std::size_t(i)].Start(6, 5, vfGray8);
    ASSERT_FALSE(rig.Out.Starts.empty());
    const TRect wrap = ModelWrapping(model);

    // Sends one frame per feed and checks the output against the model drawn in `order` (the
    // feed index of each channel position, bottom first).
    int64_t frameIndex = 0;
    const auto sendAndCheck = [&](const std::vector<int>& order, const char* what) {
        for (int i = 0; i < 4; ++i) {
            model[std::size_t(i)].Frame = Random(6, 5, vfGray8, random);
            rig.Feeds[std::size_t(i)].Send(ToFrame(*model[std::size_t(i)].Frame), frameIndex);
        }
        ++frameIndex;
        ASSERT_EQ(rig.Out.Frames.size(), std::size_t(frameIndex)) << what;
        std::vector<TModelChannel> drawn;
        for (int feed : order) drawn.push_back(model[std::size_t(feed)]);
        EXPECT_EQ(FromFrame(rig.Out.Frames.back()).S,
                  ModelMix(vfGray8, wrap.Width, wrap.Height, -wrap.X, -wrap.Y, 0, drawn).S)
            << what;
    };
    // Pin i is channel i's pin, named after its position, fed by the feed that was connected
    // to that channel's pin.
    const auto expectPins = [&](const std::vector<int>& order, const char* what) {
        ASSERT_EQ(rig.Mixer.InputPins.Count(), 4) << what;
        for (int i = 0; i < 4; ++i) {
            const int feed = order[std::size_t(i)];
            EXPECT_EQ(&rig.Ch(i), items[std::size_t(feed)]) << what << ": channel " << i;
            EXPECT_EQ(rig.Ch(i).GetInputPin(), pins[std::size_t(feed)]) << what << ": channel " << i;
            EXPECT_EQ(&rig.Mixer.InputPins[i], pins[std::size_t(feed)]) << what << ": pin " << i;
            EXPECT_EQ(rig.Mixer.InputPins[i].Name(), "InputPins" + std::to_string(i)) << what;
            EXPECT_EQ(pins[std::size_t(feed)]->Source(), &rig.Feeds[std::size_t(feed)].Pin) << what;
        }
    };

    sendAndCheck({0, 1, 2, 3}, "before any move");
    SetPropertyText(rig.Mixer, "Channels[0].Index", "3");  // bottom to top, past two others
    EXPECT_EQ(GetPropertyText(rig.Mixer, "Channels[3].Index"), "3");
    expectPins({1, 2, 3, 0}, "0 -> 3");
    sendAndCheck({1, 2, 3, 0}, "0 -> 3");
    rig.Mixer.GetChannels().Move(3, 1);  // top back down, not to its old place
    expectPins({1, 0, 2, 3}, "3 -> 1");
    sendAndCheck({1, 0, 2, 3}, "3 -> 1");
    rig.Mixer.GetChannels().Move(2, 1);  // neighbours
    expectPins({1, 2, 0, 3}, "2 -> 1");
    sendAndCheck({1, 2, 0, 3}, "2 -> 1");

    // Moved in the middle of a set: the frames already held stay with their channels' pins.
    for (int i = 0; i < 2; ++i) {
        model[std::size_t(i)].Frame = Random(6, 5, vfGray8, random);
        rig.Feeds[std::size_t(i)].Send(ToFrame(*model[std::size_t(i)].Frame), frameIndex);
    }
    rig.Mixer.GetChannels().Move(0, 3);
    expectPins({2, 0, 3, 1}, "0 -> 3 within a set");
    for (int i = 2; i < 4; ++i) {
        model[std::size_t(i)].Frame = Random(6, 5, vfGray8, random);
        rig.Feeds[std::size_t(i)].Send(ToFrame(*model[std::size_t(i)].Frame), frameIndex);
    }
    ASSERT_EQ(rig.Out.Frames.size(), std::size_t(frameIndex + 1));
    {
        std::vector<TModelChannel> drawn;
        for (int feed : {2, 0, 3, 1}) drawn.push_back(model[std::size_t(feed)]);
        EXPECT_EQ(FromFrame(rig.Out.Frames.back()).S,
                  ModelMix(vfGray8, wrap.Width, wrap.Height, -wrap.X, -wrap.Y, 0, drawn).S)
            << "0 -> 3 within a set";
    }

    // The moved order is what is saved and loaded.
    nlohmann::json saved;
    SaveProperties(rig.Mixer, saved);
    TPXVideoMixer copy;
    LoadProperties(copy, saved);
    ASSERT_EQ(copy.GetChannels().Count(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(copy.GetChannels()[i].GetOffset().GetCX(), rig.Ch(i).GetOffset().GetCX()) << "channel " << i;
}

TEST(VideoMixerChannels, RemovingAConnectedChannelMidSetDisconnectsItAndTheOthersGoOn) {
    std::mt19937 random(17);
    TMixRig rig(3);
    std::vector<TModelChannel> model(3);
    for (int i = 0; i < 3; ++i) {
        model[std::size_t(i)].X = i, model[std::size_t(i)].KnownWidth = 4, model[std::size_t(i)].KnownHeight = 3;
        model[std::size_t(i)].Op = KOps[std::size_t(i) * 2];
        rig.Ch(i).GetOffset().SetCX(i);
        rig.Ch(i).SetCombineOperation(model[std::size_t(i)].Op);
        rig.Feeds[std::size_t(i)].Start(4, 3, vfRGB24);
    }
    const TRect wrap = ModelWrapping(model);
    // Channels 0 and 1 hold frames of the set when channel 1 goes.
    for (int i = 0; i < 2; ++i) {
        model[std::size_t(i)].Frame = Random(4, 3, vfRGB24, random);
        rig.Feeds[std::size_t(i)].Send(ToFrame(*model[std::size_t(i)].Frame), 0);
    }
    TLRSinkPin* removed = rig.Ch(1).GetInputPin();
    ASSERT_EQ(rig.Feeds[1].Pin.Sinks(), std::vector<TLRSinkPin*>{removed});
    rig.Mixer.GetChannels().Delete(1);
    EXPECT_TRUE(rig.Feeds[1].Pin.Sinks().empty()) << "the removed channel's pin is disconnected";
    EXPECT_EQ(rig.Mixer.InputPins.Count(), 2);
    rig.Feeds[1].Send(ToFrame(Random(4, 3, vfRGB24, random)), 0);  // goes nowhere
    EXPECT_TRUE(rig.Out.Frames.empty());
    model[2].Frame = Random(4, 3, vfRGB24, random);
    rig.Feeds[2].Send(ToFrame(*model[2].Frame), 0);
    ASSERT_EQ(rig.Out.Frames.size(), 1u) << "the set completes without the removed channel";
    const std::vector<TModelChannel> remaining{model[0], model[2]};
    EXPECT_EQ(FromFrame(rig.Out.Frames[0]).S,
              ModelMix(vfRGB24, wrap.Width, wrap.Height, -wrap.X, -wrap.Y, 0, remaining).S);

    // Removing the channels that still run: the output stream ends with the last of them.
    rig.Feeds[0].Stop();
    EXPECT_EQ(rig.Out.Stops, 0);
    rig.Mixer.GetChannels().Delete(1);
    EXPECT_EQ(rig.Out.Stops, 1);
    EXPECT_FALSE(rig.Mixer.IsRunning());
}

TEST(VideoMixerChannels, ChannelRemovedWhileAFrameIsBeingDeliveredToItsPin) {
    // The feed's delivery has picked the channel's pin and waits for the mixer (its lock is
    // held here) when the channel is removed: the delivery must find the pin retired, not
    // freed, and the pin is released once the delivery has returned.
    testharness::TErrorLog errors;
    TMixRig rig(2);
    rig.Feeds[0].Start(4, 4, vfGray8);
    rig.Feeds[1].Start(4, 4, vfGray8);
    std::mt19937 random(5);
    TLRSinkPin* pin = rig.Ch(1).GetInputPin();
    std::thread sender;
    {
        std::lock_guard hold(rig.Mixer.GetLock());
        const IPXImageBuffer frame = ToFrame(Random(4, 4, vfGray8, random));
        sender = std::thread([&, frame] { rig.Feeds[1].Send(frame, 0); });
        while (pin->DeliveriesInProgress() == 0) std::this_thread::yield();
        rig.Mixer.GetChannels().Delete(1);
        EXPECT_EQ(pin->DeliveriesInProgress(), 1) << "still alive while the delivery runs";
        EXPECT_TRUE(rig.Feeds[1].Pin.Sinks().empty());
    }
    sender.join();
    // The remaining channel goes on alone, and its frames release the retired pin.
    for (int k = 0; k < 3; ++k) rig.Feeds[0].Send(ToFrame(Random(4, 4, vfGray8, random)), k);
    EXPECT_EQ(rig.Out.Frames.size(), 3u);
    EXPECT_TRUE(errors.Messages().empty()) << errors.Joined();
}

TEST(VideoMixerThreading, OutputThreadRunsAtThePriorityItIsSetTo) {
    errno = 0;
    const int base = getpriority(PRIO_PROCESS, id_t(getpid()));
    ASSERT_EQ(errno, 0);
    // Whether this process may raise a thread above its own nice value.
    bool mayRaise = false;
    std::thread([&] { mayRaise = base > -20 && setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), base - 1) == 0; }).join();

    testharness::TErrorLog errors;
    TMixRig rig(1);
    rig.Mixer.GetThreading().SetEnabled(true);
    rig.Feeds[0].Start(2, 2, vfGray8);
    std::mt19937 random(6);
    int64_t index = 0;
    // One frame through the output thread: the scheduling it was delivered with.
    const auto deliver = [&] {
        rig.Feeds[0].Send(ToFrame(Random(2, 2, vfGray8, random)), index++);
        rig.Mixer.WaitIdle();
        std::lock_guard guard(rig.Out.Mutex);
        EXPECT_EQ(rig.Out.Scheduling.size(), std::size_t(index));
        return rig.Out.Scheduling.back();
    };
    const std::pair<int, int> normal{base, SCHED_OTHER};
    EXPECT_EQ(deliver(), normal) << "tpNormal, the default";
    // Lowering is always permitted.
    rig.Mixer.GetThreading().SetPriority(tpLower);
    EXPECT_EQ(deliver(), std::make_pair(std::min(base + 5, 19), SCHED_OTHER)) << "tpLower";
    rig.Mixer.GetThreading().SetPriority(tpLowest);
    EXPECT_EQ(deliver(), std::make_pair(std::min(base + 10, 19), SCHED_OTHER)) << "tpLowest";
    rig.Mixer.GetThreading().SetPriority(tpIdle);
    EXPECT_EQ(deliver().second, SCHED_IDLE) << "tpIdle";
    // Raising needs the privilege; without it the thread keeps running, frames still flow.
    rig.Mixer.GetThreading().SetPriority(tpHighest);
    const auto highest = deliver();
    if (mayRaise) {
        EXPECT_EQ(highest, std::make_pair(std::max(base - 10, -20), SCHED_OTHER)) << "tpHighest";
        rig.Mixer.GetThreading().SetPriority(tpTimeCritical);
        EXPECT_EQ(deliver(), std::make_pair(std::max(base - 20, -20), SCHED_OTHER)) << "tpTimeCritical";
        rig.Mixer.GetThreading().SetPriority(tpNormal);
        EXPECT_EQ(deliver(), normal) << "back to tpNormal";
    }
    EXPECT_TRUE(errors.Messages().empty()) << errors.Joined();
    EXPECT_EQ(getpriority(PRIO_PROCESS, 0), base) << "the caller's own thread is left alone";
}

// ---- Settings changed while frames run (ThreadSanitizer suite)

class TGreySource final : public TPXCommonGen {
public:
    static const TPropertyTable& Properties() {
        static const TPropertyTable table = TPropertyTable::Of<TGreySource, TPXCommonGen>("TGreySource", {});
        return table;
    }
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }
    ~TGreySource() override { Stop(); }

protected:
    TSize GetImageSize() const override { return {32, 24}; }
    TPXVideoFormat GetVideoFormat() const override { return vfRGB24; }
    bool GenerateFrame(IPXImageBuffer& frame) override {
        frame->FillColor(KDRGB(uint8_t(FMade * 7), uint8_t(FMade), 90));
        ++FMade;
        return true;
    }

private:
    int FMade = 0;
};

TEST(VideoMixerConcurrency, EightChannelsWithSettingsChangingWhileFramesRun) {
    testharness::TErrorLog errors;
    TRecorder out;
    TPXVideoMixer mixer;
    TGreySource a, b;  // destroyed first: their threads end before the mixer goes
    for (int i = 0; i < 8; ++i) {
        mixer.AddChannel().GetOffset().SetCX(i * 3);
        (i % 2 ? b : a).OutputPin.Connect(static_cast<TLRSinkPin&>(mixer.InputPins[i]));
    }
    mixer.GetThreading().SetEnabled(true);
    mixer.OutputPin.Connect(out.Pin);
    // Live sources at 400 frames per second: about 0.3 s of frames while the settings change.
    a.SetFrameRate(400.0);
    b.SetFrameRate(400.0);
    a.Start({TRunMode::Live, 120});
    b.Start({TRunMode::Live, 120});
    std::mt19937 random(1);
    while (!(a.IsFinished() && b.IsFinished())) {
        auto& ch = mixer.GetChannels()[int(random() % 8)];
        switch (random() % 7) {
        case 0: ch.SetCoefficient(0.1 + double(random() % 90) / 100.0); break;
        case 1: ch.SetCombineOperation(KOps[random() % 9]); break;
        case 2: ch.SetEnabled(random() % 4 != 0); break;
        case 3: ch.GetOffset().SetCY(int(random() % 20) - 10); break;
        case 4: mixer.SetBackgroundColor(uint32_t(random())); break;
        case 5: ch.SetIgnoreRate(random() % 2 == 0); break;
        case 6: mixer.GetChannels().Move(int(random() % 8), int(random() % 8)); break;
        }
        std::this_thread::sleep_for(200us);
    }
    ASSERT_TRUE(out.WaitFrames(1));
    mixer.Close();
    mixer.WaitIdle();
    std::lock_guard guard(out.Mutex);
    ASSERT_FALSE(out.Starts.empty());
    for (const auto& frame : out.Frames) {
        EXPECT_EQ(frame->GetWidth(), out.Starts.back().Width);
        EXPECT_EQ(frame->GetHeight(), out.Starts.back().Height);
    }
    EXPECT_EQ(out.Stops, 1);
    EXPECT_TRUE(errors.Messages().empty()) << errors.Joined();
}

// Moving channels renumbers the pins' names; a host reading names at the same moment (for a
// message or a saved graph) must always see a whole name.
TEST(VideoMixerConcurrency, PinNamesReadWhileChannelsMove) {
    TPXVideoMixer mixer;
    std::vector<const TLRPin*> pins;
    for (int i = 0; i < 8; ++i) {
        mixer.AddChannel();
        pins.push_back(&mixer.InputPins[i]);
    }
    std::set<std::string> valid;
    for (int i = 0; i < 8; ++i) valid.insert("InputPins" + std::to_string(i));
    std::atomic<bool> done{false};
    std::atomic<int> bad{0};
    std::thread reader([&] {
        while (!done.load())
            for (const TLRPin* pin : pins)
                if (!valid.count(pin->Name())) ++bad;
    });
    std::mt19937 random(3);
    for (int step = 0; step < 2000; ++step) mixer.GetChannels().Move(int(random() % 8), int(random() % 8));
    done.store(true);
    reader.join();
    EXPECT_EQ(bad.load(), 0);
    std::set<std::string> names;
    for (const TLRPin* pin : pins) names.insert(pin->Name());
    EXPECT_EQ(names, valid) << "every pin keeps a distinct position name";
}

TEST(VideoMixerConcurrency, ChannelsAddedRemovedAndMovedWhileFramesRun) {
    testharness::TErrorLog errors;
    TRecorder out;
    TPXVideoMixer mixer;
    mixer.SetAfterStop(asLastFrame);  // the output outlives a moment without running channels
    TGreySource a, b;  // destroyed first: their threads end before the mixer goes
    const auto connect = [&](int i) {
        mixer.GetChannels()[i].GetOffset().SetCX(i * 3);
        (i % 2 ? b : a).OutputPin.Connect(*mixer.GetChannels()[i].GetInputPin());
    };
    for (int i = 0; i < 8; ++i) {
        mixer.AddChannel();
        connect(i);
    }
    mixer.GetThreading().SetEnabled(true);
    mixer.OutputPin.Connect(out.Pin);
    a.SetFrameRate(400.0);
    b.SetFrameRate(400.0);
    a.Start({TRunMode::Live, -1});
    b.Start({TRunMode::Live, -1});
    ASSERT_TRUE(out.WaitFrames(1));
    std::mt19937 random(7);
    for (int step = 0; step < 60; ++step) {
        auto& channels = mixer.GetChannels();
        const int count = channels.Count();
        const unsigned pick = random() % 3;
        if (pick == 0 && count > 1) {
            const int i = int(random() % unsigned(count));
            TLRSinkPin* pin = channels[i].GetInputPin();
            TLRSourcePin* source = pin->Source();
            channels.Delete(i);
            ASSERT_EQ(mixer.InputPins.Count(), count - 1);
            if (source) {
                const auto sinks = source->Sinks();
                EXPECT_EQ(std::find(sinks.begin(), sinks.end(), pin), sinks.end()) << "step " << step;
            }
        } else if (pick == 1 && count < 12) {
            // Not connected: a pin connected to a source that has already started would hold
            // every set back until that source starts again.
            mixer.AddChannel();
        } else {
            channels.Move(int(random() % unsigned(count)), int(random() % unsigned(count)));
        }
        for (int i = 0; i < channels.Count(); ++i)
            ASSERT_EQ(&mixer.InputPins[i], channels[i].GetInputPin()) << "step " << step;
        // Frames go on after every change.
        std::size_t seen = 0;
        {
            std::lock_guard guard(out.Mutex);
            seen = out.Frames.size();
        }
        ASSERT_TRUE(out.WaitFrames(seen + 2)) << "step " << step;
    }
    a.Stop();
    b.Stop();
    mixer.Close();
    mixer.WaitIdle();
    std::lock_guard guard(out.Mutex);
    for (const auto& frame : out.Frames) {
        EXPECT_EQ(frame->GetWidth(), out.Starts.back().Width);
        EXPECT_EQ(frame->GetHeight(), out.Starts.back().Height);
    }
    EXPECT_TRUE(errors.Messages().empty()) << errors.Joined();
}

}  // namespace
}  // namespace pixora
