// The fixed filter: every filter type and mask size on every native format, frame sizes down to
// 1 x 1, with and without a region, one call against bands, against a slow per-pixel reference
// built from the documented IPP kernels (applied as a convolution, centre anchor); the direction
// of the edge detectors on hand-made edges; the mask reporting, format negotiation, pass-through
// on failure, and the properties.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "filters/neighbourhood/PXFixedFilter.h"
#include "frame/PixoraPkg.h"
#include "platform/base/PXErrors.h"
#include "platform/registry/PXRegistry.h"
#include "support/FilterHarness.h"
#include "support/NeighbourhoodReference.h"

namespace pixora {
namespace {

using reference::ReadSample;
using reference::WriteSample;

const char* const KTypeNames[] = {"ftPrewittHoriz", "ftPrewittVert", "ftSobelHoriz", "ftSobelVert", "ftRobertsDown",
                                  "ftRobertsUp",    "ftLaplace",     "ftGauss",      "ftHipass",    "ftLowpass",
                                  "ftSharpen",      "ftMedianCross", "ftMedianColor"};

// ---- The reference, written from the published kernel tables -------------------------------

struct TDocKernel {
    int Size;                  // 3 or 5
    std::vector<int> Values;   // row by row as documented, top row first
    int Divisor;
};

TDocKernel DocumentedKernel(TPXFixedFilterType type, bool large) {
    switch (type) {
    case ftPrewittHoriz: return {3, {1, 1, 1, 0, 0, 0, -1, -1, -1}, 1};
    case ftPrewittVert: return {3, {-1, 0, 1, -1, 0, 1, -1, 0, 1}, 1};
    case ftSobelHoriz: return {3, {1, 2, 1, 0, 0, 0, -1, -2, -1}, 1};
    case ftSobelVert: return {3, {-1, 0, 1, -2, 0, 2, -1, 0, 1}, 1};
    case ftRobertsDown: return {3, {0, 0, 0, 0, 1, 0, 0, 0, -1}, 1};
    case ftRobertsUp: return {3, {0, 0, 0, 0, 1, 0, -1, 0, 0}, 1};
    case ftLaplace:
        if (large)
            return {5, {-1, -3, -4, -3, -1, -3, 0, 6, 0, -3, -4, 6, 20, 6, -4, -3, 0, 6, 0, -3, -1, -3, -4, -3, -1}, 1};
        return {3, {-1, -1, -1, -1, 8, -1, -1, -1, -1}, 1};
    case ftGauss:
        if (large)
            return {5, {2, 7, 12, 7, 2, 7, 31, 52, 31, 7, 12, 52, 127, 52, 12, 7, 31, 52, 31, 7, 2, 7, 12, 7, 2}, 571};
        return {3, {1, 2, 1, 2, 4, 2, 1, 2, 1}, 16};
    case ftHipass: {
        if (!large) return {3, {-1, -1, -1, -1, 8, -1, -1, -1, -1}, 1};
        std::vector<int> v(25, -1);
        v[12] = 24;
        return {5, v, 1};
    }
    case ftLowpass: return large ? TDocKernel{5, std::vector<int>(25, 1), 25} : TDocKernel{3, std::vector<int>(9, 1), 9};
    case ftSharpen: return {3, {-1, -1, -1, -1, 16, -1, -1, -1, -1}, 8};
    default: return {0, {}, 1};
    }
}

int FloorDiv(long long a, long long b) {
    long long q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return int(q);
}

// How far the filter reads around a pixel: the 5 x 5 masks (the medians included) read 2.
int TrueReach(TPXFixedFilterType type, bool large) {
    return large && (type == ftLaplace || type == ftGauss || type == ftHipass || type == ftLowpass ||
                     type == ftMedianCross || type == ftMedianColor)
               ? 2
               : 1;
}

// Samples that carry colour: the fourth channel of RGBA32 is alpha and is not filtered.
int ColourChannels(TPXVideoFormat format) {
    switch (format) {
    case vfRGB24:
    case vfRGBA32: return 3;
    default: return 1;
    }
}

int FilteredSample(const IPXImageBuffer& in, TPXFixedFilterType type, bool large, int x, int y, int c) {
    const int maximum = in->GetFormat() == vfGray16 ? 65535 : 255;
    if (type == ftMedianCross) {
        const int r = large ? 2 : 1;
        std::vector<int> values;
        for (int d = -r; d <= r; ++d) {
            values.push_back(ReadSample(in, x, y + d, c));
            if (d != 0) values.push_back(ReadSample(in, x + d, y, c));
        }
        std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
        return values[values.size() / 2];
    }
    if (type == ftMedianColor) {
        const int r = large ? 2 : 1;
        // Every window pixel's summed distance to all window pixels; the first smallest wins.
        long long bestSum = -1;
        int bestX = 0, bestY = 0;
        for (int jy = -r; jy <= r; ++jy)
            for (int jx = -r; jx <= r; ++jx) {
                long long sum = 0;
                for (int ky = -r; ky <= r; ++ky)
                    for (int kx = -r; kx <= r; ++kx)
                        for (int ch = 0; ch < 3; ++ch)
                            sum += std::abs(ReadSample(in, x + jx, y + jy, ch) - ReadSample(in, x + kx, y + ky, ch));
                if (bestSum < 0 || sum < bestSum) {
                    bestSum = sum;
                    bestX = x + jx;
                    bestY = y + jy;
                }
            }
        return ReadSample(in, bestX, bestY, c);
    }
    const TDocKernel k = DocumentedKernel(type, large);
    const int h = k.Size / 2;
    long long sum = 0;
    // Convolution: coefficient (i, j) weighs the pixel at (x + h - j, y + h - i).
    for (int i = 0; i < k.Size; ++i)
        for (int j = 0; j < k.Size; ++j)
            sum += (long long)k.Values[std::size_t(i * k.Size + j)] * ReadSample(in, x + h - j, y + h - i, c);
    const int value = FloorDiv(sum + k.Divisor / 2, k.Divisor);
    return std::clamp(value, 0, maximum);
}

// The whole expected output: the input, with the region (less the frame's outermost reach
// pixels) filtered in the colour channels.
IPXImageBuffer Expected(const IPXImageBuffer& in, TPXFixedFilterType type, bool large, TRect region) {
    IPXImageBuffer out = TPXImageBuffer::CreateCopy(in);
    const int reach = TrueReach(type, large);
    const int w = in->GetWidth(), h = in->GetHeight();
    const int x0 = std::max(region.X, reach), y0 = std::max(region.Y, reach);
    const int x1 = std::min(region.X + region.Width, w - reach), y1 = std::min(region.Y + region.Height, h - reach);
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            for (int c = 0; c < ColourChannels(in->GetFormat()); ++c)
                WriteSample(out, x, y, c, FilteredSample(in, type, large, x, y, c));
    return out;
}

// ---- Frames ---------------------------------------------------------------------------------

// Samples spread over the whole range (edge detectors saturate often) or near mid-grey (their
// results stay inside the range, so the arithmetic shows).
IPXImageBuffer TestFrame(int width, int height, TPXVideoFormat format, uint32_t seed, bool gentle) {
    IPXImageBuffer frame = reference::NoiseFrame(width, height, format, seed);
    if (!gentle) return frame;
    std::mt19937 random(seed);
    const int channels = reference::NeighbourhoodChannels(format);
    const int centre = format == vfGray16 ? 30000 : 120;
    const int spread = format == vfGray16 ? 4000 : 24;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c)
                WriteSample(frame, x, y, c, centre + int(random() % uint32_t(spread)) + x - y);
    return frame;
}

std::vector<uint8_t> Bytes(const IPXImageBuffer& frame) {
    const uint8_t* p = frame->GetReadPointer();
    return {p, p + frame->GetDataSize()};
}

std::string Where(const reference::TSampleAt& at) {
    return "first difference at x " + std::to_string(at.X) + ", y " + std::to_string(at.Y) + ", channel " +
           std::to_string(at.C);
}

const char* FixedFormatName(TPXVideoFormat format) {
    switch (format) {
    case vfRGB24: return "RGB24";
    case vfRGBA32: return "RGBA32";
    case vfGray8: return "Gray8";
    default: return "Gray16";
    }
}

struct TRun {
    bool MultiCore;
    int BlockSize;  // bytes; 1 gives one-row bands
    int Threads;
};

const TRun KRuns[] = {{false, 65536, 1}, {true, 1, 2}, {true, 200, 3}, {true, 1 << 30, 2}};

class FixedFilterMatrix : public ::testing::TestWithParam<TPXVideoFormat> {};

TEST_P(FixedFilterMatrix, EveryTypeAndMaskMatchesTheReferenceOnEveryPath) {
    const TPXVideoFormat format = GetParam();
    struct TShape {
        int Width, Height;
        bool RegionOn;
        TRect Region;
    };
    const TShape shapes[] = {
        {1, 1, false, {}},
        {2, 1, false, {}},
        {37, 23, false, {}},
        {37, 23, true, {5, 3, 20, 12}},    // inside the frame
        {37, 23, true, {30, 18, 20, 20}},  // reaching past the right and bottom edges
        {37, 23, true, {0, 0, 6, 23}},     // the left edge, full height
    };
    for (int t = 0; t <= int(ftMedianColor); ++t) {
        const TPXFixedFilterType type = TPXFixedFilterType(t);
        if (type == ftMedianColor && format != vfRGB24 && format != vfRGBA32) continue;
        for (bool large : {false, true}) {
            for (const TShape& shape : shapes) {
                for (bool gentle : {false, true}) {
                    const IPXImageBuffer in =
                        TestFrame(shape.Width, shape.Height, format, uint32_t(t * 131 + shape.Width + gentle), gentle);
                    const std::vector<uint8_t> before = Bytes(in);
                    const TRect region =
                        shape.RegionOn ? shape.Region : TRect{0, 0, shape.Width, shape.Height};
                    const IPXImageBuffer expected = Expected(in, type, large, region);
                    for (const TRun& run : KRuns) {
                        testharness::TPoolThreads threads(run.Threads);
                        TPXFixedFilter filter;
                        filter.SetThreaded(false);
                        filter.SetFilterType(type);
                        filter.SetMaskSize(large ? fms5x5 : fms3x3);
                        filter.SetMultiCore(run.MultiCore);
                        filter.SetBlockSize(run.BlockSize);
                        filter.RegionOfInterest().SetEnabled(shape.RegionOn);
                        if (shape.RegionOn) filter.RegionOfInterest().SetRectangle(shape.Region);
                        const IPXImageBuffer out = filter.ProcessFrame(in);
                        SCOPED_TRACE(std::string(KTypeNames[t]) + (large ? " 5x5 " : " 3x3 ") + FixedFormatName(format) +
                                     " " + std::to_string(shape.Width) + "x" + std::to_string(shape.Height) +
                                     (shape.RegionOn ? " with region" : "") + (gentle ? " gentle" : " noise") +
                                     (run.MultiCore ? " bands block " + std::to_string(run.BlockSize) : " single"));
                        ASSERT_EQ(out->GetFormat(), format);
                        reference::TSampleAt at;
                        ASSERT_TRUE(reference::SameSamples(out, expected, &at)) << Where(at);
                        if (format == vfRGBA32) {
                            for (int y = 0; y < shape.Height; ++y)
                                for (int x = 0; x < shape.Width; ++x)
                                    ASSERT_EQ(ReadSample(out, x, y, 3), ReadSample(in, x, y, 3));
                        }
                        ASSERT_EQ(Bytes(in), before) << "the input frame was changed";
                    }
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, FixedFilterMatrix, ::testing::Values(vfGray8, vfRGB24, vfRGBA32, vfGray16),
                         [](const auto& info) { return std::string(FixedFormatName(info.param)); });

// ---- Direction and arithmetic on hand-made frames -------------------------------------------

IPXImageBuffer GrayFrame(int width, int height, const std::vector<int>& values) {
    IPXImageBuffer frame = TPXImageBuffer::CreateSize(width, height, vfGray8);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) WriteSample(frame, x, y, 0, values[std::size_t(y * width + x)]);
    return frame;
}

int Centre(TPXFixedFilterType type, const IPXImageBuffer& in) {
    TPXFixedFilter filter;
    filter.SetThreaded(false);
    filter.SetFilterType(type);
    const IPXImageBuffer out = filter.ProcessFrame(in);
    return ReadSample(out, 1, 1, 0);
}

TEST(FixedFilterArithmetic, EdgeDetectorsRespondToTheDocumentedDirectionOnly) {
    // Brighter below: the horizontal detectors see +edge (row below minus row above).
    const IPXImageBuffer brighterBelow = GrayFrame(3, 3, {10, 10, 10, 10, 10, 10, 50, 50, 50});
    EXPECT_EQ(Centre(ftSobelHoriz, brighterBelow), (50 - 10) * 4);
    EXPECT_EQ(Centre(ftPrewittHoriz, brighterBelow), (50 - 10) * 3);
    EXPECT_EQ(Centre(ftSobelVert, brighterBelow), 0);
    const IPXImageBuffer brighterAbove = GrayFrame(3, 3, {50, 50, 50, 10, 10, 10, 10, 10, 10});
    EXPECT_EQ(Centre(ftSobelHoriz, brighterAbove), 0) << "negative responses saturate to 0";
    // Brighter on the left: the vertical detectors see +edge (left minus right).
    const IPXImageBuffer brighterLeft = GrayFrame(3, 3, {60, 0, 0, 60, 0, 0, 60, 0, 0});
    EXPECT_EQ(Centre(ftSobelVert, brighterLeft), 240);
    EXPECT_EQ(Centre(ftPrewittVert, brighterLeft), 180);
    EXPECT_EQ(Centre(ftPrewittHoriz, brighterLeft), 0);
    // Roberts: the centre minus its upper-left (down) or upper-right (up) neighbour.
    const IPXImageBuffer centreBright = GrayFrame(3, 3, {5, 0, 9, 0, 40, 0, 0, 0, 0});
    EXPECT_EQ(Centre(ftRobertsDown, centreBright), 35);
    EXPECT_EQ(Centre(ftRobertsUp, centreBright), 31);
}

TEST(FixedFilterArithmetic, DivisorsRoundHalvesUp) {
    // Gauss 3x3 over a single 8 in the centre: 8 * 4 / 16 = 2 exactly; a 2 gives 8 / 16 = 0.5 -> 1.
    EXPECT_EQ(Centre(ftGauss, GrayFrame(3, 3, {0, 0, 0, 0, 8, 0, 0, 0, 0})), 2);
    EXPECT_EQ(Centre(ftGauss, GrayFrame(3, 3, {0, 0, 0, 0, 2, 0, 0, 0, 0})), 1);
    // Lowpass 3x3: 13 / 9 = 1.44 -> 1, 14 / 9 = 1.56 -> 2.
    EXPECT_EQ(Centre(ftLowpass, GrayFrame(3, 3, {13, 0, 0, 0, 0, 0, 0, 0, 0})), 1);
    EXPECT_EQ(Centre(ftLowpass, GrayFrame(3, 3, {14, 0, 0, 0, 0, 0, 0, 0, 0})), 2);
    // Sharpen: (16 * 20 - 8 * 16) / 8 = 24; a bright centre saturates.
    EXPECT_EQ(Centre(ftSharpen, GrayFrame(3, 3, {16, 16, 16, 16, 20, 16, 16, 16, 16})), 24);
    EXPECT_EQ(Centre(ftSharpen, GrayFrame(3, 3, {0, 0, 0, 0, 200, 0, 0, 0, 0})), 255);
}

TEST(FixedFilterArithmetic, SixteenBitSamplesSaturateAtTheirOwnMaximum) {
    IPXImageBuffer in = TPXImageBuffer::CreateSize(3, 3, vfGray16);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) WriteSample(in, x, y, 0, y == 2 ? 30000 : 1000);
    TPXFixedFilter filter;
    filter.SetThreaded(false);
    filter.SetFilterType(ftSobelHoriz);
    EXPECT_EQ(ReadSample(filter.ProcessFrame(in), 1, 1, 0), 65535);  // 4 * 29000 saturates
    filter.SetFilterType(ftPrewittHoriz);
    EXPECT_EQ(ReadSample(filter.ProcessFrame(in), 1, 1, 0), 65535);
    filter.SetFilterType(ftGauss);
    EXPECT_EQ(ReadSample(filter.ProcessFrame(in), 1, 1, 0), (4 * 1000 + 8 * 1000 + 4 * 30000 + 8) / 16);
}

// ---- Mask reporting, formats, failures --------------------------------------------------------

TEST(FixedFilterMask, MaskCodeAndReachFollowTheTypesThatTakeAMask) {
    TPXFixedFilter filter;
    TSize size;
    TPoint anchor;
    filter.GetMaskAnchor(size, anchor);
    EXPECT_EQ(filter.GetMaskCode(), 33);
    EXPECT_EQ(size, (TSize{3, 3}));
    EXPECT_EQ(anchor, (TPoint{2, 2}));

    filter.SetFilterType(ftGauss);
    filter.SetMaskSize(fms5x5);
    filter.GetMaskAnchor(size, anchor);
    EXPECT_EQ(filter.GetMaskCode(), 55);
    EXPECT_EQ(size, (TSize{5, 5}));
    EXPECT_EQ(anchor, (TPoint{3, 3}));

    for (int t = 0; t <= int(ftMedianColor); ++t) {
        const TPXFixedFilterType type = TPXFixedFilterType(t);
        filter.SetFilterType(type);
        filter.GetMaskAnchor(size, anchor);
        const bool takesMask = type == ftLaplace || type == ftGauss || type == ftHipass || type == ftLowpass;
        EXPECT_EQ(size.Width, takesMask ? 5 : 3) << KTypeNames[t];
        EXPECT_EQ(size.Height, size.Width) << KTypeNames[t];
        EXPECT_EQ(anchor, (TPoint{size.Width / 2 + 1, size.Width / 2 + 1})) << KTypeNames[t];
        EXPECT_EQ(filter.GetMaskCode(), 55) << KTypeNames[t];
    }
}

TEST(FixedFilterFormats, MedianColourConvertsOneChannelInput) {
    for (TPXVideoFormat format : {vfGray8, vfGray16}) {
        const IPXImageBuffer in = TestFrame(9, 7, format, 5, false);
        TPXFixedFilter filter;
        filter.SetThreaded(false);
        filter.SetFilterType(ftMedianColor);
        const IPXImageBuffer out = filter.ProcessFrame(in);
        ASSERT_EQ(out->GetFormat(), vfRGB24) << FixedFormatName(format);
        IPXImageBuffer converted = TPXImageBuffer::CreateCopy(in);
        converted->ConvertToFormat(vfRGB24);
        reference::TSampleAt at;
        EXPECT_TRUE(reference::SameSamples(out, Expected(converted, ftMedianColor, false, {0, 0, 9, 7}), &at))
            << FixedFormatName(format) << ": " << Where(at);
    }
}

TEST(FixedFilterFormats, OtherTypesKeepNativeFormatsAndConvertTheRest) {
    TPXFixedFilter filter;
    filter.SetThreaded(false);
    filter.SetFilterType(ftLowpass);
    for (TPXVideoFormat format : {vfRGBA32, vfGray8, vfGray16, vfRGB24})
        EXPECT_EQ(filter.ProcessFrame(TestFrame(6, 5, format, 3, true))->GetFormat(), format) << FixedFormatName(format);
    IPXImageBuffer uyvy = TPXImageBuffer::CreateSize(6, 5, vfUYVY);
    uyvy->Clear();
    EXPECT_EQ(filter.ProcessFrame(uyvy)->GetFormat(), vfRGB24);
}

TEST(FixedFilterFailure, AFrameSmallerThanTheMaskPassesThroughUnchanged) {
    for (TPXVideoFormat format : {vfRGB24, vfGray16}) {
        for (auto [w, h, type, large] : {std::tuple{2, 2, ftSobelVert, false}, std::tuple{4, 9, ftGauss, true},
                                        std::tuple{9, 4, ftMedianCross, true}, std::tuple{1, 5, ftSharpen, false}}) {
            const IPXImageBuffer in = TestFrame(w, h, format, 9, false);
            TPXFixedFilter filter;
            filter.SetThreaded(false);
            filter.SetFilterType(type);
            filter.SetMaskSize(large ? fms5x5 : fms3x3);
            const IPXImageBuffer out = filter.ProcessFrame(in);
            EXPECT_TRUE(out == in) << "the output is the input frame itself, " << w << "x" << h;
            EXPECT_TRUE(reference::SameSamples(out, in));
        }
    }
}

TEST(FixedFilterFailure, MedianColourOnAOneChannelStreamWithoutRenegotiationPassesThrough) {
    // The stream was negotiated for Sobel, which takes Gray8 as it is; switching to the colour
    // median mid-stream leaves a frame the colour median cannot filter.
    const IPXImageBuffer in = TestFrame(8, 8, vfGray8, 4, false);
    TPXFixedFilter filter;
    filter.SetThreaded(false);
    filter.SetFilterType(ftSobelHoriz);
    filter.ProcessFrame(in);
    filter.SetFilterType(ftMedianColor);
    const IPXImageBuffer out = filter.ProcessFrame(in);
    EXPECT_TRUE(out == in);
}

TEST(FixedFilterFailure, RegionInsideTheFrameBorderOnlyPassesThrough) {
    const IPXImageBuffer in = TestFrame(20, 20, vfGray8, 6, false);
    TPXFixedFilter filter;
    filter.SetThreaded(false);
    filter.SetFilterType(ftGauss);
    filter.SetMaskSize(fms5x5);
    filter.RegionOfInterest().SetEnabled(true);
    filter.RegionOfInterest().SetRectangle({18, 0, 2, 20});  // the two columns a 5x5 mask cannot reach
    EXPECT_TRUE(filter.ProcessFrame(in) == in);
}

// ---- Properties and registration ---------------------------------------------------------------

TEST(FixedFilterProperties, DefaultsSetGetAndEnumerationNames) {
    TPXFixedFilter filter;
    EXPECT_EQ(filter.GetFilterType(), ftPrewittHoriz);
    EXPECT_EQ(filter.GetMaskSize(), fms3x3);
    EXPECT_FALSE(filter.GetMultiCore());
    for (int t = 0; t <= int(ftMedianColor); ++t) {
        SetPropertyText(filter, "FilterType", KTypeNames[t]);
        EXPECT_EQ(int(filter.GetFilterType()), t);
        EXPECT_EQ(GetPropertyText(filter, "FilterType"), KTypeNames[t]);
    }
    SetPropertyText(filter, "MaskSize", "fms5x5");
    EXPECT_EQ(filter.GetMaskSize(), fms5x5);
    EXPECT_EQ(GetPropertyText(filter, "MaskSize"), "fms5x5");
    try {
        SetPropertyText(filter, "FilterType", "ftEmboss");
        FAIL() << "an unknown member name was accepted";
    } catch (const EPXError& e) {
        EXPECT_NE(std::string(e.what()).find("ftEmboss"), std::string::npos) << e.what();
    }
    EXPECT_EQ(filter.GetFilterType(), ftMedianColor);
}

TEST(FixedFilterProperties, JsonRoundTrip) {
    TPXFixedFilter filter;
    filter.SetFilterType(ftHipass);
    filter.SetMaskSize(fms5x5);
    filter.SetMultiCore(true);
    filter.SetBlockSize(4096);
    filter.RegionOfInterest().SetEnabled(true);
    filter.RegionOfInterest().SetRectangle({1, 2, 3, 4});
    nlohmann::json saved;
    SaveProperties(filter, saved);
    TPXFixedFilter copy;
    LoadProperties(copy, saved);
    EXPECT_EQ(copy.GetFilterType(), ftHipass);
    EXPECT_EQ(copy.GetMaskSize(), fms5x5);
    EXPECT_TRUE(copy.GetMultiCore());
    EXPECT_EQ(copy.GetBlockSize(), 4096);
    EXPECT_TRUE(copy.RegionOfInterest().GetEnabled());
    EXPECT_EQ(copy.RegionOfInterest().GetRectangle(), (TRect{1, 2, 3, 4}));
}

TEST(FixedFilterProperties, RegisteredUnderItsPaletteCategoryAndName) {
    RegisterPackage();
    const TComponentClass* info = TRegistry::Instance().Find("TPXFixedFilter");
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->DisplayName, "Fixed Type Kernel Video Filter");
    ASSERT_EQ(info->Categories.size(), 1u);
    EXPECT_EQ(info->Categories[0], "TPixoraFiltersToolbarCategory");
    EXPECT_NE(dynamic_cast<TPXFixedFilter*>(TRegistry::Instance().Create("TPXFixedFilter").get()), nullptr);
}

}  // namespace
}  // namespace pixora
