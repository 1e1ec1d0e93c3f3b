// Negative and solarize: every format, odd and even sizes, regions at each edge, partly or
// wholly outside the frame, on the single call and on bands of every block size with 1, 2 and
// 3 pool threads, against a per-sample reference; the input is never written; bands give the
// single call's bytes; the threaded pin path gives the same bytes; the solarize level rounds
// half to even and clamps; disabled filters pass the very frame on; formats change mid-stream.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "filters/point/PXNegative.h"
#include "filters/point/PXSolarize.h"
#include "platform/base/PXErrors.h"
#include "support/FilterHarness.h"
#include "support/ReferenceImage.h"

namespace pixora {
namespace {

using testharness::AllPaths;
using testharness::ApplyPath;
using testharness::TErrorLog;
using testharness::TFrameSink;
using testharness::TPath;
using testharness::TPoolThreads;
using testref::ApplyInRect;
using testref::Capture;
using testref::RandomRaw;
using testref::SameImage;
using testref::TRawImage;
using testref::TRefRect;
using testref::ToFrame;

enum class TKind { Negative, Solarize };

constexpr float KLevel = 0.37f;

std::unique_ptr<TPXCommonBasicROIProcessingFilter> MakeFilter(TKind kind, float level = KLevel) {
    if (kind == TKind::Negative) {
        auto filter = std::make_unique<TPXNegative>();
        filter->SetThreaded(false);
        return filter;
    }
    auto filter = std::make_unique<TPXSolarize>();
    filter->SetThreaded(false);
    filter->SetLevel(level);
    return filter;
}

const char* KindName(TKind kind) { return kind == TKind::Negative ? "negative" : "solarize"; }

// The expected output: the per-sample rule of the filter over the rectangle of the
// (already converted) input.
TRawImage Expected(TKind kind, const TRawImage& in, const TRefRect& rect, float level = KLevel) {
    if (kind == TKind::Negative) return ApplyInRect(in, rect, testref::NegativeOf);
    return ApplyInRect(in, rect, [level](int v, int max) {
        return testref::SolarizeOf(v, max, testref::SolarizeThreshold(level, max));
    });
}

// The frame a filter processes for an input: vfUYVY arrives as vfRGB24 through the platform's
// conversion; the native formats as they are.
TRawImage ProcessedInput(const TRawImage& raw) {
    if (raw.Format != vfUYVY) return raw;
    IPXImageBuffer frame = ToFrame(raw);
    frame->ConvertToFormat(vfRGB24);
    return Capture(frame);
}

TPXTimeStamp Stamp(int64_t start) { return {true, start, start + 333667}; }

// ---- Formats × sizes × regions × paths ---------------------------------------------------------

// A region as set on the filter, worked out for a frame size.
struct TRegionCase {
    const char* Name;
    bool Enabled;
    TRefRect (*Rect)(int w, int h);
};

int Half(int v) { return std::max(1, v / 2); }

const TRegionCase KRegions[] = {
    {"Disabled", false, [](int, int) { return TRefRect{1, 1, 1, 1}; }},
    {"Full", true, [](int w, int h) { return TRefRect{0, 0, w, h}; }},
    {"Oversized", true, [](int w, int h) { return TRefRect{0, 0, w + 7, h + 9}; }},
    {"TouchingLeft", true, [](int w, int h) { return TRefRect{0, h / 3, Half(w), Half(h)}; }},
    {"TouchingTop", true, [](int w, int h) { return TRefRect{w / 3, 0, Half(w), Half(h)}; }},
    {"TouchingRight", true, [](int w, int h) { return TRefRect{w - Half(w), h / 3, Half(w), Half(h)}; }},
    {"TouchingBottom", true, [](int w, int h) { return TRefRect{w / 3, h - Half(h), Half(w), Half(h)}; }},
    {"PartlyOutside", true, [](int w, int h) { return TRefRect{w / 2, h / 2, w, h}; }},
    {"StartsOutsideRight", true, [](int w, int) { return TRefRect{w, 0, 4, 4}; }},
    {"StartsOutsideBottom", true, [](int, int h) { return TRefRect{0, h, 4, 4}; }},
    {"NegativeXY", true, [](int w, int h) { return TRefRect{-3, -2, w / 2 + 1, h / 2 + 1}; }},
    {"ZeroWidth", true, [](int, int h) { return TRefRect{0, 0, 0, h}; }},
};

void SetRegion(TPXCommonBasicROIProcessingFilter& filter, const TRegionCase& region, int w, int h) {
    const TRefRect r = region.Rect(w, h);
    filter.RegionOfInterest().SetEnabled(region.Enabled);
    filter.RegionOfInterest().SetRectangle(TRect{r.X, r.Y, r.Width, r.Height});
}

TRefRect ExpectedRect(const TRegionCase& region, int w, int h) {
    const TRefRect r = region.Rect(w, h);
    return testref::RegionRect(region.Enabled, r.X, r.Y, r.Width, r.Height, w, h);
}

// Puts the values around the solarize threshold and both ends of the range into the first
// samples, so that even one-pixel frames meet them.
void SeedSpecialSamples(TRawImage& raw, TRefRect rect) {
    if (raw.Format == vfUYVY) return;
    const int max = testref::SampleMaxOf(raw.Format);
    const int level = testref::SolarizeThreshold(KLevel, max);
    const int values[] = {level, level - 1, 0, max, level + 1, max - 1, 1};
    const int spp = testref::SamplesPerPixel(raw.Format);
    int i = 0;
    if (rect.Empty()) rect = {0, 0, raw.Width, raw.Height};
    for (int y = rect.Y; y < rect.Y + rect.Height; ++y)
        for (int x = rect.X; x < rect.X + rect.Width; ++x)
            for (int c = 0; c < spp; ++c) {
                if (i >= int(std::size(values))) return;
                raw.SetSample(x, y, c, values[i++]);
            }
}

struct TCase {
    TPXVideoFormat Format;
    TSize Size;
    int Region;
};

class PointFilterPaths : public testing::TestWithParam<TCase> {};

TEST_P(PointFilterPaths, EveryPathMatchesTheReferenceAndLeavesTheInputAlone) {
    const TCase& c = GetParam();
    const int w = c.Size.Width, h = c.Size.Height;
    const TRegionCase& region = KRegions[c.Region];
    const TRefRect rect = ExpectedRect(region, w, h);

    TRawImage raw = RandomRaw(w, h, c.Format, uint64_t(w) * 7919 + uint64_t(h) * 31 + c.Format);
    SeedSpecialSamples(raw, rect);
    const TRawImage base = ProcessedInput(raw);
    const int rowBytes = rect.Width * (c.Format == vfUYVY ? 24 : BitsPerPixel(c.Format)) / 8;
    TErrorLog errors;

    for (TKind kind : {TKind::Negative, TKind::Solarize}) {
        SCOPED_TRACE(KindName(kind));
        const TRawImage expected = Expected(kind, base, rect);
        auto filter = MakeFilter(kind);
        SetRegion(*filter, region, w, h);

        std::optional<TRawImage> single;
        std::optional<TPoolThreads> threads;
        int run = 0;
        for (const TPath& path : AllPaths()) {
            SCOPED_TRACE(path.Name());
            if (path.MultiCore && (!threads || TBandPool::Instance().ThreadCount() != path.Threads)) {
                threads.reset();
                threads.emplace(path.Threads);
            }
            ApplyPath(*filter, path, rowBytes, rect.Height);

            IPXImageBuffer input = ToFrame(raw);
            input->SetTimeStamp(Stamp(1000 + run));
            // Every other run another handle shares the input's pixels.
            IPXImageBuffer sibling = run % 2 ? TPXImageBuffer::CreateCopy(input) : IPXImageBuffer();
            ++run;

            IPXImageBuffer out = filter->ProcessFrame(input);
            ASSERT_TRUE(out);
            EXPECT_NE(out.Get(), input.Get());
            EXPECT_TRUE(SameImage(expected, out));
            EXPECT_TRUE(SameImage(raw, input)) << "the input frame was written";
            if (sibling) {
                EXPECT_TRUE(SameImage(raw, sibling)) << "a frame sharing the input was written";
            }
            EXPECT_EQ(out->GetTimeStamp(), input->GetTimeStamp());
            EXPECT_EQ(input->GetTimeStamp(), Stamp(1000 + run - 1));

            const TRawImage got = Capture(out);
            if (!single) single = got;
            else EXPECT_TRUE(SameImage(*single, got)) << "differs from the single call";
        }
    }
    EXPECT_TRUE(errors.Messages().empty()) << errors.Joined();
}

std::string CaseName(const testing::TestParamInfo<TCase>& info) {
    const TCase& c = info.param;
    return std::string(FormatName(c.Format).substr(2)) + "_" + std::to_string(c.Size.Width) + "x" +
           std::to_string(c.Size.Height) + "_" + KRegions[c.Region].Name;
}

std::vector<TCase> AllCases() {
    std::vector<TCase> cases;
    for (TPXVideoFormat format : {vfRGB24, vfRGBA32, vfGray8, vfGray16, vfUYVY})
        for (TSize size : {TSize{1, 1}, TSize{2, 1}, TSize{37, 23}, TSize{64, 3}})
            for (int region = 0; region < int(std::size(KRegions)); ++region) cases.push_back({format, size, region});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(FormatsSizesRegions, PointFilterPaths, testing::ValuesIn(AllCases()), CaseName);

// ---- Full HD frames ----------------------------------------------------------------------------

TEST(PointFilterFullHD, BandsOnThreeThreadsMatchTheReference) {
    struct TBig {
        TKind Kind;
        TPXVideoFormat Format;
        TRefRect Region;
        bool Enabled;
    };
    const TBig cases[] = {
        {TKind::Negative, vfRGB24, {100, 7, 1500, 5000}, true},
        {TKind::Solarize, vfGray16, {}, false},
    };
    const TPoolThreads threads(3);
    for (const TBig& big : cases) {
        SCOPED_TRACE(KindName(big.Kind));
        const TRawImage raw = RandomRaw(1920, 1080, big.Format, 4242);
        const TRefRect rect =
            testref::RegionRect(big.Enabled, big.Region.X, big.Region.Y, big.Region.Width, big.Region.Height, 1920, 1080);
        auto filter = MakeFilter(big.Kind);
        filter->RegionOfInterest().SetEnabled(big.Enabled);
        filter->RegionOfInterest().SetRectangle(TRect{big.Region.X, big.Region.Y, big.Region.Width, big.Region.Height});
        filter->SetMultiCore(true);
        filter->SetBlockSize(100000);
        IPXImageBuffer input = ToFrame(raw);
        EXPECT_TRUE(SameImage(Expected(big.Kind, raw, rect), filter->ProcessFrame(input)));
        EXPECT_TRUE(SameImage(raw, input));
    }
}

// ---- Per-format details ------------------------------------------------------------------------

TEST(PointFilterFormats, AlphaIsInvertedAndSolarizedLikeTheColours) {
    const uint8_t pixel[] = {10, 200, 30, 40, 250, 0, 255, 100};  // B, G, R, A twice
    IPXImageBuffer input = TPXImageBuffer::CreateData(pixel, 2, 1, vfRGBA32);
    auto negative = MakeFilter(TKind::Negative);
    const uint8_t* n = negative->ProcessFrame(input)->GetReadPointer();
    EXPECT_EQ(std::vector<int>(n, n + 8), (std::vector<int>{245, 55, 225, 215, 5, 255, 0, 155}));
    auto solarize = MakeFilter(TKind::Solarize, 0.5f);  // threshold 128
    const uint8_t* s = solarize->ProcessFrame(input)->GetReadPointer();
    EXPECT_EQ(std::vector<int>(s, s + 8), (std::vector<int>{245, 200, 225, 215, 250, 255, 255, 155}));
}

TEST(PointFilterFormats, UYVYArrivesAsRGB24) {
    // Neutral chroma at the ends of the luma range is black and white.
    const uint8_t uyvy[] = {128, 16, 128, 235, 128, 235, 128, 16};
    IPXImageBuffer input = TPXImageBuffer::CreateData(uyvy, 4, 1, vfUYVY);
    for (TKind kind : {TKind::Negative, TKind::Solarize}) {
        SCOPED_TRACE(KindName(kind));
        auto filter = MakeFilter(kind, 1.0f);
        IPXImageBuffer out = filter->ProcessFrame(input);
        EXPECT_EQ(out->GetFormat(), vfRGB24);
        EXPECT_EQ(out->GetSize(), (TSize{4, 1}));
        const uint8_t* p = out->GetReadPointer();
        // Black inverts to white on both filters; white stays white under solarize.
        const int white = 255, inverted = kind == TKind::Negative ? 0 : 255;
        EXPECT_EQ(std::vector<int>(p, p + 12),
                  (std::vector<int>{white, white, white, inverted, inverted, inverted, inverted, inverted, inverted,
                                    white, white, white}));
        const uint8_t* in = input->GetReadPointer();
        EXPECT_EQ(0, std::memcmp(in, uyvy, sizeof uyvy));
    }
}

TEST(PointFilterFormats, FrameWithoutPixelsRaises) {
    for (TKind kind : {TKind::Negative, TKind::Solarize}) {
        auto filter = MakeFilter(kind);
        try {
            filter->ProcessFrame(TPXImageBuffer::CreateHeader(4, 4, vfGray8));
            ADD_FAILURE() << "no exception";
        } catch (const EPXError& e) {
            EXPECT_NE(std::string(e.what()).find("no pixels"), std::string::npos) << e.what();
        }
        try {
            filter->ProcessFrame(IPXImageBuffer());
            ADD_FAILURE() << "no exception";
        } catch (const EPXError& e) {
            EXPECT_NE(std::string(e.what()).find("no frame to process"), std::string::npos) << e.what();
        }
    }
}

// ---- The solarize level ------------------------------------------------------------------------

// A vfGray8 frame holding every byte value once, and a vfGray16 frame holding the values
// around a 16-bit threshold and both ends of the range.
IPXImageBuffer AllBytes() {
    uint8_t values[256];
    for (int i = 0; i < 256; ++i) values[i] = uint8_t(255 - i);
    return TPXImageBuffer::CreateData(values, 256, 1, vfGray8);
}

IPXImageBuffer WordsAround(int threshold) {
    std::vector<uint16_t> values;
    for (int v : {0, 1, 65534, 65535})
        values.push_back(uint16_t(v));
    for (int d = -2; d <= 2; ++d)
        if (threshold + d >= 0 && threshold + d <= 65535) values.push_back(uint16_t(threshold + d));
    return TPXImageBuffer::CreateData(values.data(), int(values.size()), 1, vfGray16);
}

void ExpectSolarized(TPXSolarize& filter, const IPXImageBuffer& input, float level) {
    const TRawImage raw = Capture(input);
    const TRefRect all{0, 0, raw.Width, raw.Height};
    EXPECT_TRUE(SameImage(Expected(TKind::Solarize, raw, all, level), filter.ProcessFrame(input)))
        << "level " << std::hexfloat << level;
}

TEST(SolarizeLevel, ZeroLeavesEverySampleUnchanged) {
    for (TPXVideoFormat format : {vfRGB24, vfRGBA32, vfGray8, vfGray16}) {
        SCOPED_TRACE(std::string(FormatName(format)));
        TRawImage raw = RandomRaw(37, 23, format, 77);
        raw.SetSample(0, 0, 0, 0);
        TPXSolarize filter;
        filter.SetThreaded(false);
        filter.SetLevel(0.0f);
        IPXImageBuffer input = ToFrame(raw);
        EXPECT_TRUE(SameImage(raw, filter.ProcessFrame(input)));
    }
}

TEST(SolarizeLevel, OneInvertsEverySampleButFullScale) {
    TPXSolarize filter;
    filter.SetThreaded(false);
    filter.SetLevel(1.0f);
    const IPXImageBuffer out = filter.ProcessFrame(AllBytes());
    for (int i = 0; i < 256; ++i) {
        const int in = 255 - i;
        EXPECT_EQ(out->GetReadPointer()[i], in == 255 ? 255 : 255 - in) << "sample " << in;
    }
    const IPXImageBuffer words = filter.ProcessFrame(WordsAround(65535));
    const TRawImage got = Capture(words), in = Capture(WordsAround(65535));
    for (int x = 0; x < in.Width; ++x) {
        const int v = in.Sample(x, 0, 0);
        EXPECT_EQ(got.Sample(x, 0, 0), v == 65535 ? 65535 : 65535 - v) << "sample " << v;
    }
}

TEST(SolarizeLevel, HalfwayLevelsRoundToEven) {
    // 0.5 × 255 = 127.5 and 0.5 × 65535 = 32767.5 exactly: the thresholds are 128 and 32768.
    ASSERT_EQ(testref::SolarizeThreshold(0.5f, 255), 128);
    ASSERT_EQ(testref::SolarizeThreshold(0.5f, 65535), 32768);
    TPXSolarize filter;
    filter.SetThreaded(false);
    filter.SetLevel(0.5f);
    const uint8_t bytes[] = {127, 128};
    const uint8_t* b = filter.ProcessFrame(TPXImageBuffer::CreateData(bytes, 2, 1, vfGray8))->GetReadPointer();
    EXPECT_EQ(b[0], 128);  // 127 < 128: inverted
    EXPECT_EQ(b[1], 128);  // 128 is not below the threshold
    const uint16_t words[] = {32767, 32768};
    const IPXImageBuffer w = filter.ProcessFrame(TPXImageBuffer::CreateData(words, 2, 1, vfGray16));
    EXPECT_EQ(Capture(w).Sample(0, 0, 0), 32768);
    EXPECT_EQ(Capture(w).Sample(1, 0, 0), 32768);
}

TEST(SolarizeLevel, LevelsCloseToHalfwayRoundFromTheExactProduct) {
    // Floats next to (n + 0.5) / max: products just below or above a half, where rounding a
    // product computed in single precision would land on the half.
    TPXSolarize filter;
    filter.SetThreaded(false);
    int levels = 0;
    for (int n = 0; n < 255; n += 3) {
        const float centre = float((n + 0.5) / 255.0);
        for (float level : {std::nextafter(centre, 0.0f), centre, std::nextafter(centre, 1.0f)}) {
            filter.SetLevel(level);
            ExpectSolarized(filter, AllBytes(), level);
            ++levels;
        }
    }
    for (int n : {0, 1, 2, 1000, 32767, 40000, 65533, 65534}) {
        const float centre = float((n + 0.5) / 65535.0);
        for (float level : {std::nextafter(centre, 0.0f), centre, std::nextafter(centre, 1.0f)}) {
            filter.SetLevel(level);
            ExpectSolarized(filter, WordsAround(testref::SolarizeThreshold(level, 65535)), level);
            ++levels;
        }
    }
    EXPECT_GT(levels, 200);
}

TEST(SolarizeLevel, EveryThousandthMatchesTheReference) {
    TPXSolarize filter;
    filter.SetThreaded(false);
    for (int k = 0; k <= 1000; ++k) {
        const float level = float(k) / 1000.0f;
        filter.SetLevel(level);
        ExpectSolarized(filter, AllBytes(), level);
        ExpectSolarized(filter, WordsAround(testref::SolarizeThreshold(level, 65535)), level);
        if (HasFailure()) return;
    }
}

TEST(SolarizeLevel, DefaultsToHalfAndClampsToTheUnitRange) {
    TPXSolarize filter;
    filter.SetThreaded(false);
    EXPECT_EQ(filter.GetLevel(), 0.5f);
    filter.SetLevel(1.5f);
    EXPECT_EQ(filter.GetLevel(), 1.0f);
    ExpectSolarized(filter, AllBytes(), 1.0f);
    filter.SetLevel(-0.25f);
    EXPECT_EQ(filter.GetLevel(), 0.0f);
    ExpectSolarized(filter, AllBytes(), 0.0f);
    SetPropertyText(filter, "Level", "7");
    EXPECT_EQ(filter.GetLevel(), 1.0f);
    SetPropertyText(filter, "Level", "0.25");
    EXPECT_EQ(filter.GetLevel(), 0.25f);
}

TEST(SolarizeLevel, NotANumberIsRefused) {
    TPXSolarize filter;
    filter.SetLevel(0.3f);
    EXPECT_THROW(filter.SetLevel(std::numeric_limits<float>::quiet_NaN()), EPXError);
    EXPECT_THROW(SetPropertyText(filter, "Level", "abc"), EPXError);
    EXPECT_EQ(filter.GetLevel(), 0.3f);
}

// ---- Disabled filters, time stamps -------------------------------------------------------------

TEST(PointFilterDisabled, PassesTheVeryFrameOn) {
    for (TKind kind : {TKind::Negative, TKind::Solarize})
        for (TPXVideoFormat format : {vfRGB24, vfGray16, vfUYVY}) {
            SCOPED_TRACE(std::string(KindName(kind)) + " " + std::string(FormatName(format)));
            auto filter = MakeFilter(kind);
            filter->SetEnabled(false);
            const TRawImage raw = RandomRaw(37, 23, format, 5);
            IPXImageBuffer input = ToFrame(raw);
            input->SetTimeStamp(Stamp(12));
            IPXImageBuffer out = filter->ProcessFrame(input);
            EXPECT_EQ(out.Get(), input.Get());
            EXPECT_TRUE(SameImage(raw, out));
            EXPECT_EQ(out->GetTimeStamp(), Stamp(12));
            EXPECT_EQ(out->GetFormat(), format);
            // Enabled again, the same filter processes.
            filter->SetEnabled(true);
            IPXImageBuffer processed = filter->ProcessFrame(input);
            EXPECT_NE(processed.Get(), input.Get());
            EXPECT_TRUE(SameImage(raw, input));
        }
}

// ---- Format changes ----------------------------------------------------------------------------

TEST(PointFilterFormatChange, EachNewFormatIsNegotiatedAgain) {
    const TPXVideoFormat sequence[] = {vfRGB24, vfRGB24, vfGray16, vfGray16, vfUYVY, vfRGBA32, vfGray8, vfUYVY, vfGray16};
    for (TKind kind : {TKind::Negative, TKind::Solarize}) {
        SCOPED_TRACE(KindName(kind));
        auto filter = MakeFilter(kind);
        filter->RegionOfInterest().SetEnabled(true);
        filter->RegionOfInterest().SetRectangle(TRect{3, 2, 20, 30});
        int i = 0;
        for (TPXVideoFormat format : sequence) {
            SCOPED_TRACE("frame " + std::to_string(i) + " " + std::string(FormatName(format)));
            const TRawImage raw = RandomRaw(37 - i, 23 + i, format, 900 + uint64_t(i));
            ++i;
            const TRawImage base = ProcessedInput(raw);
            const TRefRect rect = testref::RegionRect(true, 3, 2, 20, 30, raw.Width, raw.Height);
            IPXImageBuffer out = filter->ProcessFrame(ToFrame(raw));
            EXPECT_EQ(out->GetFormat(), format == vfUYVY ? vfRGB24 : format);
            EXPECT_TRUE(SameImage(Expected(kind, base, rect), out));
        }
    }
}

// ---- Through the pins --------------------------------------------------------------------------

struct TStream {
    TPXVideoFormat Format;
    std::vector<TRawImage> Frames;
};

// Pushes each stream (start, frames, stop) into the filter's input pin and returns the sink.
std::unique_ptr<TFrameSink> RunStreams(TPXCommonBasicROIProcessingFilter& filter, const std::vector<TStream>& streams,
                                       std::vector<IPXImageBuffer>& inputs) {
    auto sink = std::make_unique<TFrameSink>();
    filter.OutputPin.Connect(sink->Pin);
    int64_t time = 0;
    for (const TStream& stream : streams) {
        const TRawImage& first = stream.Frames.front();
        EXPECT_TRUE(filter.InputPin.Receive(TLRStartFrameOperation::Make(first.Width, first.Height, stream.Format, 400000)));
        for (const TRawImage& raw : stream.Frames) {
            IPXImageBuffer frame = ToFrame(raw);
            frame->SetTimeStamp(Stamp(time));
            time += 400000;
            inputs.push_back(frame);
            EXPECT_TRUE(filter.InputPin.Receive(TLRSuppliedBufferOperation::Make(frame)));
        }
        EXPECT_TRUE(filter.InputPin.Receive(TLRStopOperation::Make()));
    }
    filter.WaitIdle();
    EXPECT_TRUE(sink->WaitForStops(int(streams.size())));
    return sink;
}

TEST(PointFilterPins, ThreadedPathGivesTheSynchronousBytes) {
    TErrorLog errors;
    const TPoolThreads threads(2);
    for (TKind kind : {TKind::Negative, TKind::Solarize}) {
        SCOPED_TRACE(KindName(kind));
        std::vector<TStream> streams;
        for (TPXVideoFormat format : {vfUYVY, vfRGB24, vfGray16, vfRGBA32}) {
            TStream stream{format, {}};
            for (int i = 0; i < 5; ++i) stream.Frames.push_back(RandomRaw(37, 23, format, 300 + uint64_t(i) * 11 + format));
            streams.push_back(std::move(stream));
        }
        auto threaded = MakeFilter(kind);
        threaded->SetThreaded(true);
        threaded->SetMultiCore(true);
        threaded->SetBlockSize(200);
        threaded->RegionOfInterest().SetEnabled(true);
        threaded->RegionOfInterest().SetRectangle(TRect{5, 4, 40, 12});
        std::vector<IPXImageBuffer> inputs;
        auto sink = RunStreams(*threaded, streams, inputs);
        threaded->ShutdownThread();

        auto synchronous = MakeFilter(kind);
        synchronous->RegionOfInterest().SetEnabled(true);
        synchronous->RegionOfInterest().SetRectangle(TRect{5, 4, 40, 12});

        ASSERT_EQ(sink->Starts.size(), streams.size());
        ASSERT_EQ(sink->Frames.size(), inputs.size());
        EXPECT_EQ(sink->Stops, int(streams.size()));
        std::size_t index = 0;
        for (std::size_t s = 0; s < streams.size(); ++s) {
            const TPXVideoFormat outFormat = streams[s].Format == vfUYVY ? vfRGB24 : streams[s].Format;
            EXPECT_EQ(sink->Starts[s].Format, outFormat);
            EXPECT_EQ(sink->Starts[s].Width, 37);
            EXPECT_EQ(sink->Starts[s].Height, 23);
            EXPECT_EQ(sink->Starts[s].FrameDuration, 400000);
            for (const TRawImage& raw : streams[s].Frames) {
                SCOPED_TRACE("frame " + std::to_string(index));
                const IPXImageBuffer& got = sink->Frames[index];
                EXPECT_TRUE(SameImage(Capture(synchronous->ProcessFrame(ToFrame(raw))), got));
                EXPECT_TRUE(SameImage(Expected(kind, ProcessedInput(raw), testref::RegionRect(true, 5, 4, 40, 12, 37, 23)),
                                      got));
                EXPECT_EQ(got->GetTimeStamp(), inputs[index]->GetTimeStamp());
                EXPECT_TRUE(SameImage(raw, inputs[index])) << "the input frame was written";
                ++index;
            }
        }
    }
    EXPECT_TRUE(errors.Messages().empty()) << errors.Joined();
}

TEST(PointFilterPins, FormatChangeWithinOneStreamIsNegotiatedAgain) {
    TErrorLog errors;
    auto filter = MakeFilter(TKind::Negative);
    filter->SetThreaded(true);
    // Announced as vfRGB24, then vfGray16 frames arrive without a new start.
    TStream stream{vfRGB24, {RandomRaw(6, 5, vfRGB24, 1), RandomRaw(6, 5, vfRGB24, 2), RandomRaw(6, 5, vfGray16, 3),
                             RandomRaw(6, 5, vfGray16, 4), RandomRaw(6, 5, vfRGB24, 5)}};
    std::vector<IPXImageBuffer> inputs;
    auto sink = RunStreams(*filter, {stream}, inputs);
    filter->ShutdownThread();
    ASSERT_EQ(sink->Frames.size(), stream.Frames.size());
    for (std::size_t i = 0; i < stream.Frames.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        const TRawImage& raw = stream.Frames[i];
        EXPECT_TRUE(SameImage(ApplyInRect(raw, {0, 0, 6, 5}, testref::NegativeOf), sink->Frames[i]));
    }
    EXPECT_TRUE(errors.Messages().empty()) << errors.Joined();
}

TEST(PointFilterPins, DisabledFilterForwardsTheSameFrameObjects) {
    auto filter = MakeFilter(TKind::Solarize);
    filter->SetThreaded(true);
    filter->SetEnabled(false);
    TStream stream{vfGray8, {RandomRaw(9, 9, vfGray8, 1), RandomRaw(9, 9, vfGray8, 2)}};
    std::vector<IPXImageBuffer> inputs;
    auto sink = RunStreams(*filter, {stream}, inputs);
    filter->ShutdownThread();
    ASSERT_EQ(sink->Frames.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(sink->Frames[i].Get(), inputs[i].Get());
        EXPECT_TRUE(SameImage(stream.Frames[i], sink->Frames[i]));
        EXPECT_EQ(sink->Frames[i]->GetTimeStamp(), inputs[i]->GetTimeStamp());
    }
}

}  // namespace
}  // namespace pixora
