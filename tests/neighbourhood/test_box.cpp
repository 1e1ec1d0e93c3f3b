// The box filter: mean, minimum, maximum and median against the slow references on every
// format, region and path (single call, bands, OpenCL on PoCL), the window shapes that take the
// kernels' different routes (integer or float sums, comparator networks, histogram, selection),
// every instruction-set level, the edge cases of the filter's definition, and bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <mutex>

#include <nlohmann/json.hpp>

#include "filters/neighbourhood/PXBoxFilter.h"
#include "frame/PXKernelTemplates.h"
#include "frame/PixoraPkg.h"
#include "platform/filters/PXBasicVideoOut.h"
#include "platform/kernels/Box.h"
#include "platform/registry/PXRegistry.h"
#include "support/NeighbourhoodReference.h"

namespace pixora {
namespace {

using reference::NoiseFrame;
using reference::ReadSample;
using reference::SameSamples;
using reference::TSampleAt;
using reference::WriteSample;

using reference::HaveOpenCL;

std::string Where(const TSampleAt& at) {
    return "first difference at x " + std::to_string(at.X) + ", y " + std::to_string(at.Y) + ", channel " + std::to_string(at.C);
}

const char* const KModeNames[] = {"Average", "Min", "Max", "Median"};

IPXImageBuffer Reference(TPXBoxFilterMode mode, const IPXImageBuffer& in, TRect r, TSize mask, int anchorX, int anchorY) {
    switch (mode) {
    case bfmAverage: return reference::BoxAverageReference(in, r, mask, anchorX, anchorY);
    case bfmMin: return reference::BoxMinReference(in, r, mask, anchorX, anchorY);
    case bfmMax: return reference::BoxMaxReference(in, r, mask, anchorX, anchorY);
    case bfmMedian: return reference::BoxMedianReference(in, r, mask, anchorX, anchorY);
    }
    return {};
}

void Configure(TPXBoxFilter& filter, TPXBoxFilterMode mode, TSize mask, int anchorX, int anchorY) {
    filter.SetThreaded(false);
    filter.SetFilterMode(mode);
    filter.MaskSize().SetSize(mask.Width, mask.Height);
    filter.Anchor().SetPoint(anchorX, anchorY);
}

IPXImageBuffer GrayFrame(int width, int height, TPXVideoFormat format, std::initializer_list<int> values) {
    IPXImageBuffer frame = TPXImageBuffer::CreateSize(width, height, format);
    auto v = values.begin();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) WriteSample(frame, x, y, 0, *v++);
    return frame;
}

// ---------------------------------------------------------------------------------------------
// Registration and published properties

TEST(BoxFilterProperties, RegisteredUnderItsDisplayNameWithAverageOverThreeByThreeByDefault) {
    RegisterPackage();
    const TComponentClass* info = TRegistry::Instance().Find("TPXBoxFilter");
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->DisplayName, "Box Kernel Video Filter");
    EXPECT_EQ(info->Categories, std::vector<std::string>{"TPixoraFiltersToolbarCategory"});
    const TComponentPtr component = TRegistry::Instance().Create("TPXBoxFilter");
    auto* filter = dynamic_cast<TPXBoxFilter*>(component.get());
    ASSERT_NE(filter, nullptr);
    EXPECT_EQ(filter->GetFilterMode(), bfmAverage);
    EXPECT_EQ(GetPropertyText(*filter, "FilterMode"), "bfmAverage");
    EXPECT_EQ(filter->MaskSize().GetSize(), (TSize{3, 3}));
    filter->SetThreaded(false);
    const IPXImageBuffer in = NoiseFrame(11, 7, vfRGBA32, 3);
    EXPECT_TRUE(SameSamples(filter->ProcessFrame(in), reference::BoxAverageReference(in, {0, 0, 11, 7}, {3, 3}, 1, 1)));
}

TEST(BoxFilterProperties, FilterModeIsPersistedByNameNotifiesOnChangeAndRefusesUnknownNames) {
    TPXBoxFilter filter;
    const auto before = filter.GetLock().ChangeCount();
    SetPropertyText(filter, "FilterMode", "bfmMedian");
    EXPECT_EQ(filter.GetFilterMode(), bfmMedian);
    EXPECT_GT(filter.GetLock().ChangeCount(), before);
    const auto unchanged = filter.GetLock().ChangeCount();
    filter.SetFilterMode(bfmMedian);
    EXPECT_EQ(filter.GetLock().ChangeCount(), unchanged);
    nlohmann::json saved = nlohmann::json::object();
    SaveProperties(filter, saved);
    EXPECT_EQ(saved["FilterMode"], "bfmMedian");
    TPXBoxFilter loaded;
    LoadProperties(loaded, saved);
    EXPECT_EQ(loaded.GetFilterMode(), bfmMedian);
    try {
        SetPropertyText(filter, "FilterMode", "bfmMode");
        ADD_FAILURE() << "an unknown mode was taken";
    } catch (const EPropertyError& e) {
        EXPECT_NE(std::string(e.what()).find("bfmMode"), std::string::npos) << e.what();
    }
    EXPECT_EQ(filter.GetFilterMode(), bfmMedian);
}

// ---------------------------------------------------------------------------------------------
// Edge cases of the definition, on the CPU and (where there is one) the OpenCL device

std::vector<bool> Devices() { return HaveOpenCL() ? std::vector<bool>{false, true} : std::vector<bool>{false}; }

TEST(BoxFilterDefinition, MedianOfOneToNineIsFiveAndAnEvenWindowTakesTheIntegerMean) {
    for (const bool openCL : Devices()) {
        TPXBoxFilter filter;
        Configure(filter, bfmMedian, {3, 3}, 1, 1);
        if (openCL) filter.SetOpenCLDevice("auto");
        const IPXImageBuffer nine = GrayFrame(3, 3, vfGray8, {9, 2, 7, 4, 1, 8, 3, 6, 5});
        EXPECT_EQ(ReadSample(filter.ProcessFrame(nine), 1, 1, 0), 5) << "OpenCL " << openCL;
        EXPECT_EQ(filter.UsesOpenCL(), openCL);
        Configure(filter, bfmMedian, {2, 2}, 0, 0);
        for (TPXVideoFormat format : {vfGray8, vfGray16}) {
            const IPXImageBuffer four = GrayFrame(2, 2, format, {30, 10, 41, 20});
            EXPECT_EQ(ReadSample(filter.ProcessFrame(four), 0, 0, 0), 25) << "OpenCL " << openCL;  // (20 + 30) / 2
        }
        const IPXImageBuffer odd = GrayFrame(2, 2, vfGray16, {60001, 3, 60000, 7});
        EXPECT_EQ(ReadSample(filter.ProcessFrame(odd), 0, 0, 0), 30003) << "OpenCL " << openCL;  // (7 + 60000) / 2, truncated
    }
}

TEST(BoxFilterDefinition, ExtremesStartFromFullScaleAndZeroAndAFlatMeanStaysFlat) {
    for (const bool openCL : Devices()) {
        TPXBoxFilter filter;
        if (openCL) filter.SetOpenCLDevice("auto");
        Configure(filter, bfmMin, {3, 3}, 1, 1);
        const IPXImageBuffer full = TPXImageBuffer::CreateSize(5, 4, vfGray16);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 5; ++x) WriteSample(full, x, y, 0, 65535);
        EXPECT_TRUE(SameSamples(filter.ProcessFrame(full), full)) << "a minimum starting at 255 would cap 65535";
        Configure(filter, bfmMax, {3, 3}, 1, 1);
        IPXImageBuffer zero = TPXImageBuffer::CreateSize(5, 4, vfGray16);
        zero->Clear();
        EXPECT_TRUE(SameSamples(filter.ProcessFrame(zero), zero));
        Configure(filter, bfmAverage, {3, 3}, 1, 1);
        IPXImageBuffer seven = TPXImageBuffer::CreateSize(6, 5, vfRGB24);
        seven->FillColor(0x070707);
        EXPECT_TRUE(SameSamples(filter.ProcessFrame(seven), seven)) << "OpenCL " << openCL;
    }
}

TEST(BoxFilterDefinition, RowsAboveMirrorWithoutTheEdgeAndRowsBelowRepeatIt) {
    // Rows hold 10 * y; a distinctive 250 in row 2 and in row H - 3.
    const int height = 8;
    IPXImageBuffer in = TPXImageBuffer::CreateSize(3, height, vfGray8);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < 3; ++x) WriteSample(in, x, y, 0, y == 2 || y == height - 3 ? 250 : 10 * y);
    for (const bool openCL : Devices()) {
        TPXBoxFilter filter;
        if (openCL) filter.SetOpenCLDevice("auto");
        // Window rows y - 2 .. y: on row 0 they are rows 2, 1, 0, so the 250 of row 2 is seen.
        Configure(filter, bfmMax, {1, 3}, 0, 2);
        EXPECT_EQ(ReadSample(filter.ProcessFrame(in), 1, 0, 0), 250);
        // Window rows y .. y + 2: on the last row they are H - 1, H - 1, H - 2, never H - 3.
        Configure(filter, bfmMax, {1, 3}, 0, 0);
        EXPECT_EQ(ReadSample(filter.ProcessFrame(in), 1, height - 1, 0), 10 * (height - 1));
        // Centred three-row mean on the top row: rows 1, 0, 1 -> (10 + 0 + 10) / 3 = 6.67 -> 7.
        IPXImageBuffer ramp = TPXImageBuffer::CreateSize(3, height, vfGray8);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < 3; ++x) WriteSample(ramp, x, y, 0, 10 * y);
        Configure(filter, bfmAverage, {1, 3}, 0, 1);
        const IPXImageBuffer mean = filter.ProcessFrame(ramp);
        EXPECT_EQ(ReadSample(mean, 0, 0, 0), 7);
        // Bottom row: rows H - 2, H - 1, H - 1 -> (60 + 70 + 70) / 3 = 66.67 -> 67.
        EXPECT_EQ(ReadSample(mean, 0, height - 1, 0), 67);
    }
}

TEST(BoxFilterDefinition, TheMeanRoundsHalvesAwayFromZero) {
    // Two samples 0 and 1: 1 x 0.5 = 0.5 -> 1; 2 and 3: 2.5 -> 3 (not to even).
    TPXBoxFilter filter;
    Configure(filter, bfmAverage, {2, 1}, 0, 0);
    const IPXImageBuffer out = filter.ProcessFrame(GrayFrame(4, 1, vfGray8, {0, 1, 2, 3}));
    EXPECT_EQ(ReadSample(out, 0, 0, 0), 1);
    EXPECT_EQ(ReadSample(out, 2, 0, 0), 3);
}

// ---------------------------------------------------------------------------------------------
// Every mode, path, format and region against the references

enum class TPath { Single, BandsBelowRow, BandsOneRow, BandsSeveralRows, BandsAboveFrame, OpenCL };
const char* const KPathNames[] = {"Single", "BandsBelowRow", "BandsOneRow", "BandsSeveralRows", "BandsAboveFrame", "OpenCL"};

struct TRegionCase {
    const char* Name;
    bool Enabled;
    TRect Region;
};
const TRegionCase KRegions[] = {
    {"Disabled", false, {}},
    {"Inner", true, {3, 2, 20, 11}},
    {"PartlyOutside", true, {30, 17, 40, 40}},
};

struct TPathCase {
    TPXBoxFilterMode Mode;
    TPXVideoFormat Format;
    int Region;
    TPath Path;
};

TRect ConfigurePath(TPXBoxFilter& filter, TPath path, const TRegionCase& region, const IPXImageBuffer& in) {
    const int rowBytes = in->GetWidth() * in->GetBitsPerPixel() / 8;
    switch (path) {
    case TPath::Single: break;
    case TPath::BandsBelowRow: filter.SetMultiCore(true); filter.SetBlockSize(std::max(1, rowBytes / 3)); break;
    case TPath::BandsOneRow: filter.SetMultiCore(true); filter.SetBlockSize(rowBytes); break;
    case TPath::BandsSeveralRows: filter.SetMultiCore(true); filter.SetBlockSize(rowBytes * 4 + 1); break;
    case TPath::BandsAboveFrame: filter.SetMultiCore(true); filter.SetBlockSize(rowBytes * in->GetHeight() * 2); break;
    case TPath::OpenCL: filter.SetOpenCLDevice("auto"); break;
    }
    filter.RegionOfInterest().SetRectangle(region.Region);
    filter.RegionOfInterest().SetEnabled(region.Enabled);
    return filter.RegionOfInterest().Clamp(in->GetWidth(), in->GetHeight());
}

class BoxFilterPaths : public testing::TestWithParam<TPathCase> {};

TEST_P(BoxFilterPaths, EqualTheReferenceBitForBit) {
    const TPathCase& c = GetParam();
    if (c.Path == TPath::OpenCL) {
        ASSERT_TRUE(HaveOpenCL()) << "no OpenCL platform (pocl-opencl-icd)";
    }
    // A 4 x 3 window anchored at its top-right cell: 12 samples, so the median takes the mean
    // of the middle two.
    TPXBoxFilter filter;
    Configure(filter, c.Mode, {4, 3}, 3, 0);
    const IPXImageBuffer in = NoiseFrame(37, 23, c.Format, 40 + uint32_t(c.Mode));
    const IPXImageBuffer keep = TPXImageBuffer::CreateData(in->GetReadPointer(), 37, 23, c.Format, in->GetLineSize());
    const TRect rect = ConfigurePath(filter, c.Path, KRegions[c.Region], in);
    const IPXImageBuffer out = filter.ProcessFrame(in);
    if (c.Path == TPath::OpenCL) {
        EXPECT_TRUE(filter.UsesOpenCL());
    }
    TSampleAt at;
    EXPECT_TRUE(SameSamples(out, Reference(c.Mode, in, rect, {4, 3}, 3, 0), &at)) << Where(at);
    EXPECT_TRUE(SameSamples(in, keep)) << "the input was written";
}

std::vector<TPathCase> AllPathCases() {
    std::vector<TPathCase> cases;
    for (TPXBoxFilterMode mode : {bfmAverage, bfmMin, bfmMax, bfmMedian})
        for (TPXVideoFormat format : {vfRGB24, vfRGBA32, vfGray8, vfGray16})
            for (int region = 0; region < int(std::size(KRegions)); ++region)
                for (int path = 0; path <= int(TPath::OpenCL); ++path) cases.push_back({mode, format, region, TPath(path)});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(ModesFormatsRegionsPaths, BoxFilterPaths, testing::ValuesIn(AllPathCases()),
                         [](const testing::TestParamInfo<TPathCase>& info) {
                             return std::string(KModeNames[info.param.Mode]) + "_" +
                                    std::string(FormatName(info.param.Format).substr(2)) + "_" +
                                    KRegions[info.param.Region].Name + "_" + KPathNames[int(info.param.Path)];
                         });

// Window shapes that take the kernels' other routes: the 3 x 3 and 5 x 5 median networks, the
// 8-bit median histogram (more than 64 samples), 16-bit means whose float sums are no longer
// exact integers (more than 256 samples), prefix sums for windows wider than 16.
struct TShape {
    int Width, Height, AnchorX, AnchorY;
};
const TShape KShapes[] = {{3, 3, 1, 1}, {5, 5, 2, 2}, {5, 5, 0, 4}, {9, 9, 8, 0}, {17, 17, 8, 8}, {20, 2, 19, 1}, {1, 1, 0, 0}};

class BoxFilterShapes : public testing::TestWithParam<std::tuple<TPXBoxFilterMode, TPXVideoFormat, int>> {};

TEST_P(BoxFilterShapes, SingleBandsAndOpenCLEqualTheReference) {
    const auto [mode, format, shapeIndex] = GetParam();
    const TShape& s = KShapes[shapeIndex];
    const IPXImageBuffer in = NoiseFrame(37, 23, format, 90 + uint32_t(shapeIndex));
    const IPXImageBuffer expected = Reference(mode, in, {0, 0, 37, 23}, {s.Width, s.Height}, s.AnchorX, s.AnchorY);
    for (TPath path : {TPath::Single, TPath::BandsBelowRow, TPath::OpenCL}) {
        if (path == TPath::OpenCL && !HaveOpenCL()) continue;
        TPXBoxFilter filter;
        Configure(filter, mode, {s.Width, s.Height}, s.AnchorX, s.AnchorY);
        ConfigurePath(filter, path, KRegions[0], in);
        TSampleAt at;
        EXPECT_TRUE(SameSamples(filter.ProcessFrame(in), expected, &at)) << KPathNames[int(path)] << ": " << Where(at);
        EXPECT_EQ(filter.UsesOpenCL(), path == TPath::OpenCL);
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, BoxFilterShapes,
                         testing::Combine(testing::Values(bfmAverage, bfmMin, bfmMax, bfmMedian),
                                          testing::Values(vfRGB24, vfGray16),
                                          testing::Range(0, int(std::size(KShapes)))),
                         [](const auto& info) {
                             const TShape& s = KShapes[std::get<2>(info.param)];
                             return std::string(KModeNames[std::get<0>(info.param)]) + "_" +
                                    std::string(FormatName(std::get<1>(info.param)).substr(2)) + "_" +
                                    std::to_string(s.Width) + "x" + std::to_string(s.Height) + "_at" +
                                    std::to_string(s.AnchorX) + "_" + std::to_string(s.AnchorY);
                         });

TEST(BoxFilterShapes, TinyFramesWithWindowsThatFit) {
    for (TPXBoxFilterMode mode : {bfmAverage, bfmMin, bfmMax, bfmMedian})
        for (TPXVideoFormat format : {vfRGB24, vfRGBA32, vfGray8, vfGray16})
            for (TSize size : {TSize{1, 1}, TSize{2, 1}})
                for (TPath path : {TPath::Single, TPath::BandsBelowRow, TPath::OpenCL}) {
                    if (path == TPath::OpenCL && !HaveOpenCL()) continue;
                    TPXBoxFilter filter;
                    Configure(filter, mode, {size.Width, 1}, 0, 0);
                    const IPXImageBuffer in = NoiseFrame(size.Width, size.Height, format, 6);
                    ConfigurePath(filter, path, KRegions[0], in);
                    EXPECT_TRUE(SameSamples(filter.ProcessFrame(in), Reference(mode, in, {0, 0, size.Width, size.Height},
                                                                               {size.Width, 1}, 0, 0)))
                        << KModeNames[mode] << " " << FormatName(format) << " " << size.Width << " " << KPathNames[int(path)];
                    EXPECT_EQ(filter.UsesOpenCL(), path == TPath::OpenCL);
                }
}

// ---------------------------------------------------------------------------------------------
// The CPU kernels on every instruction-set level the machine has

TEST(BoxKernels, EveryInstructionSetLevelEqualsTheReference) {
    const TShape shapes[] = {{3, 3, 1, 1}, {5, 5, 2, 2}, {4, 3, 3, 0}, {16, 2, 0, 1}, {17, 3, 16, 2}, {2, 9, 1, 4}};
    const TRect rect{3, 1, 60, 10};
    for (const auto level : {kernels::nbh::TIsa::Baseline, kernels::nbh::TIsa::Avx2, kernels::nbh::TIsa::Avx512}) {
        if (int(level) > int(kernels::nbh::CpuIsa())) continue;
        const auto previous = kernels::nbh::LimitIsa(level);
        for (const TShape& s : shapes)
            for (TPXVideoFormat format : {vfRGB24, vfRGBA32, vfGray16})
                for (TPXBoxFilterMode mode : {bfmAverage, bfmMin, bfmMax, bfmMedian}) {
                    const IPXImageBuffer in = NoiseFrame(67, 12, format, 3 + uint32_t(s.Width));
                    IPXImageBuffer out = TPXImageBuffer::CreateCopy(in);
                    const kernels::TBoxWindow window{s.Width, s.Height, s.AnchorX, s.AnchorY};
                    const float coefficient = 1.0f / float(s.Width * s.Height);
                    ForSampleType(format, [&]<class T>() {
                        const ConstView<T> src = in->ReadView<T>();
                        const View<T> dst = out->WriteView<T>(true);
                        switch (mode) {
                        case bfmAverage: kernels::Average2D(src, dst, rect, window, coefficient); break;
                        case bfmMin: kernels::Min2D(src, dst, rect, window); break;
                        case bfmMax: kernels::Max2D(src, dst, rect, window); break;
                        case bfmMedian: kernels::Median2D(src, dst, rect, window); break;
                        }
                    });
                    TSampleAt at;
                    EXPECT_TRUE(SameSamples(out, Reference(mode, in, rect, {s.Width, s.Height}, s.AnchorX, s.AnchorY), &at))
                        << "level " << int(level) << " " << KModeNames[mode] << " " << s.Width << "x" << s.Height << " "
                        << FormatName(format) << ": " << Where(at);
                }
        kernels::nbh::LimitIsa(previous);
    }
}

// The 3 x 3 median walks vertical strips of one vector, from where the window first lies inside
// the frame to a last strip moved back to end where it last does, two output rows at a time with
// an odd row left over; the samples outside run one by one, and strips are at most 16 rows tall.
// Widths around the vector lengths and a wide one (700 pixels), frames taller than a strip (even
// and odd remainders), rectangles at either frame edge and every anchor, on every level.
TEST(BoxKernels, Median3x3AtEveryAnchorEdgeAndWidth) {
    for (const auto level : {kernels::nbh::TIsa::Baseline, kernels::nbh::TIsa::Avx2, kernels::nbh::TIsa::Avx512}) {
        if (int(level) > int(kernels::nbh::CpuIsa())) continue;
        const auto previous = kernels::nbh::LimitIsa(level);
        for (const int width : {3, 17, 63, 64, 66, 67, 130, 700})
            for (TPXVideoFormat format : {vfGray8, vfRGB24, vfGray16}) {
                const int height = width >= 130 ? 37 : 7;  // taller than a tile of rows
                const IPXImageBuffer in = NoiseFrame(width, height, format, 40 + uint32_t(width));
                for (const TRect rect : {TRect{0, 0, width, height}, TRect{1, 2, width - 1, height - 2}, TRect{0, 1, std::max(1, width - 2), 3}})
                    for (int anchorX = 0; anchorX < 3; ++anchorX)
                        for (int anchorY = 0; anchorY < 3; ++anchorY) {
                            IPXImageBuffer out = TPXImageBuffer::CreateCopy(in);
                            ForSampleType(format, [&]<class T>() {
                                kernels::Median2D(in->ReadView<T>(), out->WriteView<T>(true), rect, {3, 3, anchorX, anchorY});
                            });
                            TSampleAt at;
                            EXPECT_TRUE(SameSamples(out, Reference(bfmMedian, in, rect, {3, 3}, anchorX, anchorY), &at))
                                << "level " << int(level) << " width " << width << " " << FormatName(format) << " rect "
                                << rect.X << "," << rect.Y << " anchor " << anchorX << "," << anchorY << ": " << Where(at);
                        }
            }
        kernels::nbh::LimitIsa(previous);
    }
}

TEST(BoxKernels, TheMeanSaturatesForCoefficientsAboveTheWindowsShare) {
    const IPXImageBuffer in = NoiseFrame(20, 6, vfGray8, 4);
    IPXImageBuffer out = TPXImageBuffer::CreateCopy(in);
    kernels::Average2D8bit(in->GetReadPointer(), in->GetLineSize(), in->GetSize(), out->GetModifyPointer(),
                           out->GetLineSize(), out->GetSize(), 1, {0, 0, 20, 6}, {3, 3}, 1, 1, 0.5f);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 20; ++x) {
            float acc = 0;
            reference::VisitWindow(in, x, y, 0, {3, 3}, 1, 1, [&](int v) { acc += float(v); });
            EXPECT_EQ(ReadSample(out, x, y, 0), std::min(255, int(std::round(acc * 0.5f)))) << x << "," << y;
        }
}

TEST(BoxKernels, EightBitMeansOfEveryWindowSizeEqualTheFloatFinishOnEveryLevel) {
    // 8-bit windows of up to 257 samples take 16-bit sums and, where it is exact, a fixed-point
    // finish; sizes around that limit and every small count (odd and even, ties included) must
    // give the float finish's bits.
    std::vector<TShape> shapes;
    for (int n = 1; n <= 24; ++n) shapes.push_back({n, 1, n / 2, 0});
    for (const TShape s : {TShape{16, 16, 8, 8}, TShape{257, 1, 128, 0}, TShape{1, 257, 0, 256}, TShape{43, 6, 42, 5},
                           TShape{86, 3, 0, 1}})
        shapes.push_back(s);
    for (const auto level : {kernels::nbh::TIsa::Baseline, kernels::nbh::TIsa::Avx2, kernels::nbh::TIsa::Avx512}) {
        if (int(level) > int(kernels::nbh::CpuIsa())) continue;
        const auto previous = kernels::nbh::LimitIsa(level);
        for (TPXVideoFormat format : {vfGray8, vfRGB24}) {
            const IPXImageBuffer in = NoiseFrame(261, 259, format, 77);
            const TRect rect{1, 2, 259, 5};
            for (const TShape& s : shapes) {
                IPXImageBuffer out = TPXImageBuffer::CreateCopy(in);
                kernels::Average2D(in->ReadView<uint8_t>(), out->WriteView<uint8_t>(true), rect,
                                   {s.Width, s.Height, s.AnchorX, s.AnchorY}, 1.0f / float(s.Width * s.Height));
                TSampleAt at;
                EXPECT_TRUE(SameSamples(out, reference::BoxAverageReference(in, rect, {s.Width, s.Height}, s.AnchorX, s.AnchorY), &at))
                    << "level " << int(level) << " " << s.Width << "x" << s.Height << " " << FormatName(format) << ": " << Where(at);
            }
        }
        // Coefficients other than the window's share, rounded and saturated like the float finish.
        const IPXImageBuffer in = NoiseFrame(45, 4, vfGray8, 8);
        for (const float coefficient : {0.3f, 1.0f / 7.3f, 0.0117f, 0.02f, 1.0f}) {
            IPXImageBuffer out = TPXImageBuffer::CreateCopy(in);
            kernels::Average2D(in->ReadView<uint8_t>(), out->WriteView<uint8_t>(true), {0, 0, 45, 4}, {5, 5, 2, 2},
                               coefficient);
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 45; ++x) {
                    float acc = 0;
                    reference::VisitWindow(in, x, y, 0, {5, 5}, 2, 2, [&](int v) { acc += float(v); });
                    ASSERT_EQ(ReadSample(out, x, y, 0), std::min(255, int(std::round(reference::SeparateProduct(acc, coefficient)))))
                        << "level " << int(level) << ", coefficient " << coefficient << " at " << x << "," << y;
                }
        }
        kernels::nbh::LimitIsa(previous);
    }
}

// ---------------------------------------------------------------------------------------------
// Bad input

void ExpectFrameError(TPXBoxFilter& filter, const IPXImageBuffer& in, const char* fragment) {
    try {
        filter.ProcessFrame(in);
        ADD_FAILURE() << "no error, expected: " << fragment;
    } catch (const EPXError& e) {
        EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("TPXBoxFilter"), std::string::npos) << e.what();
    }
}

TEST(BoxFilterBadInput, MaskLargerThanTheFrameOrAnchorOutsideTheMaskIsAFrameError) {
    TPXBoxFilter filter;
    Configure(filter, bfmMedian, {3, 6}, 1, 1);
    ExpectFrameError(filter, NoiseFrame(10, 5, vfRGB24, 1), "MaskSize 3 x 6 is larger than the 10 x 5 frame");
    filter.Anchor().SetPoint(1, 6);
    ExpectFrameError(filter, NoiseFrame(10, 10, vfRGB24, 1), "Anchor (1, 6) lies outside the 3 x 6 mask");
    EXPECT_EQ(filter.MaskSize().GetSize(), (TSize{3, 6}));
    EXPECT_THROW(filter.MaskSize().SetSize(0, 4), EPropertyError);  // an empty mask is refused
    EXPECT_EQ(filter.MaskSize().GetSize(), (TSize{3, 6}));
}

TEST(BoxFilterBadInput, TemplatesThatDoNotCompileOrAreMissingAreReported) {
    ASSERT_TRUE(HaveOpenCL()) << "no OpenCL platform (pocl-opencl-icd)";
    const IOCLContext context = TOpenCL::ContextFor("auto");
    std::string broken = KernelTemplate("BoxFilter");
    broken.replace(broken.rfind("result = <[Min]>"), 8, "result = no_such_helper() + ");
    try {
        TPXBoxFilter::BuildKernels(*context, broken);
        FAIL() << "the broken template built";
    } catch (const EOpenCLError& e) {
        EXPECT_NE(std::string(e.what()).find("clBuildProgram"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("no_such_helper"), std::string::npos) << e.what();
    }
    std::string missing = KernelTemplate("BoxFilter");
    missing.replace(missing.find("//@template Median2DKernel"), 26, "// no median here");
    try {
        TPXBoxFilter::BuildKernels(*context, missing);
        FAIL() << "a template without the median built";
    } catch (const EPXError& e) {
        EXPECT_NE(std::string(e.what()).find("no Median2DKernel section"), std::string::npos) << e.what();
    }
    const TPXBoxFilter::TKernels kernels = TPXBoxFilter::BuildKernels(*context, KernelTemplate("BoxFilter"));
    EXPECT_EQ(kernels.Max16Bit->Name(), "Max2DKernel16Bits");
    EXPECT_EQ(kernels.Median8Bit->Name(), "Median2DKernel8Bits");
}

class TBoxCollector final : public TPXBasicVideoOut {
public:
    static const TPropertyTable& Properties() {
        static const TPropertyTable table = TPropertyTable::Of<TBoxCollector, TPXBasicVideoOut>("TBoxCollector", {});
        return table;
    }
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }
    std::mutex Mutex;
    std::vector<IPXImageBuffer> Frames;

protected:
    bool InputDispatch(TLRSinkPin&, const ILRNotifyOperation& op) override {
        std::lock_guard lock(Mutex);
        if (auto* buffer = As<TLRSuppliedBufferOperation>(op)) Frames.push_back(TPXImageBuffer::CreateUniversal(buffer->Data));
        return true;
    }
};

TEST(BoxFilterBadInput, AnOpenCLFrameThatCannotRunIsReportedAndDroppedAndTheNextRuns) {
    ASSERT_TRUE(HaveOpenCL()) << "no OpenCL platform (pocl-opencl-icd)";
    std::vector<std::string> errors;
    std::mutex errorMutex;
    SetErrorHandler([&](const TComponent&, const std::string& message) {
        std::lock_guard lock(errorMutex);
        errors.push_back(message);
    });
    TPXBoxFilter filter;  // threaded: errors go to the handler
    filter.SetFilterMode(bfmMedian);
    filter.SetOpenCLDevice("auto");
    // A 300 x 300 median over a 300 x 300 frame needs 8.1e9 list samples on the device.
    filter.MaskSize().SetSize(300, 300);
    filter.Anchor().SetPoint(150, 150);
    TBoxCollector sink;
    filter.OutputPin.Connect(sink.InputPin);
    filter.InputPin.Receive(TLRStartFrameOperation::Make(300, 300, vfGray16, 400000));
    filter.InputPin.Receive(TLRSuppliedBufferOperation::Make(NoiseFrame(300, 300, vfGray16, 1)));
    filter.WaitIdle();
    filter.MaskSize().SetSize(3, 3);
    filter.Anchor().SetPoint(1, 1);
    const IPXImageBuffer next = NoiseFrame(300, 300, vfGray16, 2);
    filter.InputPin.Receive(TLRSuppliedBufferOperation::Make(next));
    filter.InputPin.Receive(TLRStopOperation());
    filter.WaitIdle();
    SetErrorHandler({});
    EXPECT_TRUE(filter.UsesOpenCL());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("the OpenCL median needs 8100000000 list samples"), std::string::npos) << errors[0];
    std::lock_guard lock(sink.Mutex);
    ASSERT_EQ(sink.Frames.size(), 1u);
    EXPECT_TRUE(SameSamples(sink.Frames[0], reference::BoxMedianReference(next, {0, 0, 300, 300}, {3, 3}, 1, 1)));
}

}  // namespace
}  // namespace pixora
