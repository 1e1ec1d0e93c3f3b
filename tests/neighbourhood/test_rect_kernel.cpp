// The rectangular kernel filter: its matrix (size following MaskSize, normalisation, Items
// ranges, the three persisted forms), the convolution against the slow reference on every format,
// region and path (single call, bands, OpenCL on PoCL) and every instruction-set level of the CPU
// kernel, the border rule, saturation, and bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <mutex>
#include <random>

#include <nlohmann/json.hpp>

#include "filters/neighbourhood/PXRectKernelFilter.h"
#include "frame/PXKernelTemplates.h"
#include "frame/PixoraPkg.h"
#include "platform/filters/PXBasicVideoOut.h"
#include "platform/registry/PXRegistry.h"
#include "platform/kernels/Convolution.h"
#include "support/NeighbourhoodReference.h"

namespace pixora {
namespace {

using nlohmann::json;
using reference::ConvolveReference;
using reference::NoiseFrame;
using reference::ReadSample;
using reference::SameSamples;
using reference::TSampleAt;

using reference::HaveOpenCL;

std::string Where(const TSampleAt& at) {
    return "first difference at x " + std::to_string(at.X) + ", y " + std::to_string(at.Y) + ", channel " + std::to_string(at.C);
}

// The normalised matrix as defined: each coefficient divided by the number of entries.
std::vector<float> Normalized(const std::vector<float>& values) {
    std::vector<float> result;
    for (const float v : values) result.push_back(float((long double)v / (long double)values.size()));
    return result;
}

void SetMatrix(TPXRectKernelFilter& filter, int width, int height, const std::vector<float>& values) {
    filter.MaskSize().SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) filter.Kernel().SetItems(uint32_t(x), uint32_t(y), values[std::size_t(y * width + x)]);
}

std::vector<float> RandomCoefficients(int count, uint32_t seed, float low, float high) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> dist(low, high);
    std::vector<float> values(static_cast<std::size_t>(count));
    for (float& v : values) v = dist(random);
    return values;
}

// ---------------------------------------------------------------------------------------------
// The matrix

TEST(RectKernelMatrix, RegisteredUnderItsDisplayNameWithTheKernelAsASubObject) {
    RegisterPackage();
    const TComponentClass* info = TRegistry::Instance().Find("TPXRectKernelFilter");
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->DisplayName, "Rectangle Kernel Video Filter");
    EXPECT_EQ(info->Categories, std::vector<std::string>{"TPixoraFiltersToolbarCategory"});
    const TComponentPtr component = TRegistry::Instance().Create("TPXRectKernelFilter");
    auto* filter = dynamic_cast<TPXRectKernelFilter*>(component.get());
    ASSERT_NE(filter, nullptr);
    // The matrix is reached as "Kernel"; the mask size and anchor are the base's.
    ASSERT_NE(filter->GetPropertyTable().Find("Kernel"), nullptr);
    EXPECT_EQ(GetPropertyText(*filter, "MaskSize.Width"), "3");
    SetPropertyText(*filter, "MaskSize.Width", "4");
    EXPECT_EQ(filter->Kernel().GetCurrentWidth(), 4u);
    EXPECT_EQ(filter->Kernel().SingleArray().size(), 12u);
}

TEST(RectKernelMatrix, ANewFilterHasThreeByThreeOnesNormalisedByTheCount) {
    TPXRectKernelFilter filter;
    EXPECT_EQ(filter.Kernel().GetCurrentWidth(), 3u);
    EXPECT_EQ(filter.Kernel().GetCurrentHeight(), 3u);
    EXPECT_EQ(filter.Kernel().SingleArray(), std::vector<float>(9, 1.0f));
    EXPECT_EQ(filter.Kernel().NormalizedArray(), std::vector<float>(9, 1.0f / 9.0f));
}

TEST(RectKernelMatrix, NormalisationDividesByTheNumberOfEntriesNotTheSum) {
    TPXRectKernelFilter filter;
    filter.MaskSize().SetSize(4, 2);
    filter.Kernel().SetItems(3, 1, 5.0f);
    filter.Kernel().SetItems(0, 0, -2.5f);
    std::vector<float> expected(8, 1.0f);
    expected[7] = 5.0f;
    expected[0] = -2.5f;
    EXPECT_EQ(filter.Kernel().SingleArray(), expected);
    EXPECT_EQ(filter.Kernel().NormalizedArray(), Normalized(expected));
    EXPECT_FLOAT_EQ(filter.Kernel().GetItems(3, 1), 5.0f);
    EXPECT_FLOAT_EQ(filter.Kernel().GetItems(1, 0), 1.0f);
}

TEST(RectKernelMatrix, GrowingKeepsTheTopLeftOverlapAndFillsNewCellsWithOne) {
    TPXRectKernelFilter filter;
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 3; ++x) filter.Kernel().SetItems(x, y, float(10 * y + x));
    filter.MaskSize().SetSize(5, 5);
    ASSERT_EQ(filter.Kernel().GetCurrentWidth(), 5u);
    for (uint32_t y = 0; y < 5; ++y)
        for (uint32_t x = 0; x < 5; ++x)
            EXPECT_FLOAT_EQ(filter.Kernel().GetItems(x, y), x < 3 && y < 3 ? float(10 * y + x) : 1.0f) << x << "," << y;
    EXPECT_EQ(filter.Kernel().NormalizedArray(), Normalized(filter.Kernel().SingleArray()));
    // Shrinking one side and growing the other keeps the common 2 x 3 corner.
    filter.MaskSize().SetSize(2, 7);
    for (uint32_t y = 0; y < 7; ++y)
        for (uint32_t x = 0; x < 2; ++x)
            EXPECT_FLOAT_EQ(filter.Kernel().GetItems(x, y), x < 3 && y < 3 ? float(10 * y + x) : 1.0f) << x << "," << y;
}

TEST(RectKernelMatrix, ItemsOutsideTheMatrixAndNonFiniteValuesAreRangeErrors) {
    TPXRectKernelFilter filter;
    filter.MaskSize().SetSize(3, 2);
    const std::vector<float> before = filter.Kernel().SingleArray();
    const auto expectRange = [](auto call, const char* fragment) {
        try {
            call();
            ADD_FAILURE() << "no error for " << fragment;
        } catch (const ERangeError& e) {
            EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos) << e.what();
        }
    };
    expectRange([&] { filter.Kernel().GetItems(3, 0); }, "Items[3, 0] is out of range: the matrix is 3 x 2");
    expectRange([&] { filter.Kernel().GetItems(0, 2); }, "Items[0, 2]");
    // Row-major index 4 is inside the array, but column 4 is not inside a 3-wide matrix.
    expectRange([&] { filter.Kernel().SetItems(4, 0, 1.0f); }, "Items[4, 0]");
    expectRange([&] { filter.Kernel().SetItems(1, 1, std::numeric_limits<float>::quiet_NaN()); }, "finite");
    expectRange([&] { filter.Kernel().SetItems(1, 1, std::numeric_limits<float>::infinity()); }, "finite");
    EXPECT_EQ(filter.Kernel().SingleArray(), before);
    EXPECT_THROW(filter.Kernel().SetCurrentWidth(0), ERangeError);
    EXPECT_THROW(filter.Kernel().RecalcArray(100000, 100000), EOverflowError);
}

TEST(RectKernelMatrix, ChangesNotifyAndAssignCopiesTheCoefficients) {
    TPXRectKernelFilter a, b;
    unsigned long before = a.GetLock().ChangeCount();
    a.Kernel().SetItems(1, 1, 4.0f);
    EXPECT_GT(a.GetLock().ChangeCount(), before);
    before = a.GetLock().ChangeCount();
    a.Kernel().SetItems(1, 1, 4.0f);  // same value: no notification
    EXPECT_EQ(a.GetLock().ChangeCount(), before);
    b.SetKernel(a.Kernel());
    EXPECT_EQ(b.Kernel().SingleArray(), a.Kernel().SingleArray());
    EXPECT_EQ(b.Kernel().NormalizedArray(), a.Kernel().NormalizedArray());
}

TEST(RectKernelMatrix, MaskSizeZeroIsRefusedAndTheMatrixKept) {
    TPXRectKernelFilter filter;
    EXPECT_THROW(filter.MaskSize().SetSize(0, 0), EPropertyError);
    EXPECT_THROW(SetPropertyText(filter, "MaskSize.Width", "0"), EPropertyError);
    EXPECT_EQ(filter.MaskSize().GetSize(), (TSize{3, 3}));
    EXPECT_EQ(filter.Kernel().SingleArray(), std::vector<float>(9, 1.0f));
}

// ---------------------------------------------------------------------------------------------
// Persisted forms

json Saved(const TPXRectKernelFilter& filter) {
    json properties = json::object();
    SaveProperties(filter, properties);
    return properties;
}

TEST(RectKernelPersistence, RoundTripKeepsTheMatrixAndTheOutput) {
    TPXRectKernelFilter filter;
    filter.SetThreaded(false);
    SetMatrix(filter, 3, 2, {0.1f, -2.0f, 3.25f, 1e-3f, 7.0f, -0.5f});
    filter.Anchor().SetPoint(2, 1);
    const json saved = Saved(filter);
    ASSERT_TRUE(saved.contains("Kernel"));
    EXPECT_EQ(saved["Kernel"]["_MatrixDataSize"], 6);
    ASSERT_EQ(saved["Kernel"]["_MatrixDat"].size(), 6u);
    EXPECT_FALSE(saved["Kernel"].contains("MatrixData"));  // read-only form

    TPXRectKernelFilter loaded;
    loaded.SetThreaded(false);
    LoadProperties(loaded, json::parse(saved.dump()));
    EXPECT_EQ(loaded.Kernel().SingleArray(), filter.Kernel().SingleArray());
    EXPECT_EQ(loaded.Kernel().NormalizedArray(), filter.Kernel().NormalizedArray());
    const IPXImageBuffer in = NoiseFrame(19, 7, vfRGB24, 4);
    EXPECT_TRUE(SameSamples(loaded.ProcessFrame(in), filter.ProcessFrame(in)));
}

TEST(RectKernelPersistence, AnAllZeroMatrixWritesNothingAndReadsBackAsTheDefault) {
    TPXRectKernelFilter filter;
    SetMatrix(filter, 3, 3, std::vector<float>(9, 0.0f));
    const json saved = Saved(filter);
    EXPECT_FALSE(saved["Kernel"].contains("_MatrixDataSize"));
    EXPECT_FALSE(saved["Kernel"].contains("_MatrixDat"));
    TPXRectKernelFilter loaded;
    LoadProperties(loaded, saved);
    EXPECT_EQ(loaded.Kernel().SingleArray(), std::vector<float>(9, 1.0f));
}

TEST(RectKernelPersistence, ClassicMatrixDataIsReadAndValidated) {
    TPXRectKernelFilter filter;
    LoadProperties(filter, json{{"Kernel", {{"MatrixData", {9, 1, 2, 3, 4, 5, 6, 7, 8, 9.5}}}}});
    EXPECT_EQ(filter.Kernel().SingleArray(), (std::vector<float>{1, 2, 3, 4, 5, 6, 7, 8, 9.5f}));
    EXPECT_EQ(filter.Kernel().NormalizedArray(), Normalized(filter.Kernel().SingleArray()));
    const auto expectError = [&](const json& block, const char* fragment) {
        const std::vector<float> before = filter.Kernel().SingleArray();
        try {
            LoadProperties(filter, json{{"Kernel", block}});
            ADD_FAILURE() << "no error for " << block.dump();
        } catch (const EPropertyError& e) {
            EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos) << e.what();
        }
        EXPECT_EQ(filter.Kernel().SingleArray(), before) << "a refused block changed the matrix";
    };
    expectError({{"MatrixData", {9, 1, 2, 3}}}, "MatrixData: announces 9 coefficients but holds 3");
    expectError({{"MatrixData", {2, 1, 2, 3}}}, "announces 2 coefficients but holds 3");
    expectError({{"MatrixData", {-1}}}, "is not an integer");
    expectError({{"MatrixData", {2, 1, "x"}}}, "coefficient 1 is not a finite single");
    expectError({{"MatrixData", {1, 1e39}}}, "coefficient 0 is not a finite single");
    expectError({{"MatrixData", 5}}, "expected [count, coefficients...]");
}

TEST(RectKernelPersistence, SerializerBlocksFollowTheElementCountActuallyRead) {
    TPXRectKernelFilter filter;
    // Fewer elements than announced: the array is cut to what was read.
    LoadProperties(filter, json{{"Kernel", {{"_MatrixDataSize", 9}, {"_MatrixDat", {1, 2, 3, 4}}}}});
    EXPECT_EQ(filter.Kernel().SingleArray(), (std::vector<float>{1, 2, 3, 4}));
    EXPECT_EQ(filter.Kernel().NormalizedArray(), Normalized({1, 2, 3, 4}));
    // More elements than announced: each one grows the array.
    LoadProperties(filter, json{{"Kernel", {{"_MatrixDataSize", 2}, {"_MatrixDat", {5, 6, 7}}}}});
    EXPECT_EQ(filter.Kernel().SingleArray(), (std::vector<float>{5, 6, 7}));
    // A size alone sets the length, keeping values and adding zeros.
    LoadProperties(filter, json{{"Kernel", {{"_MatrixDataSize", 5}}}});
    EXPECT_EQ(filter.Kernel().SingleArray(), (std::vector<float>{5, 6, 7, 0, 0}));
    // A frame with a matrix that does not fit the mask is refused with a clear message.
    filter.SetThreaded(false);
    try {
        filter.ProcessFrame(NoiseFrame(8, 8, vfGray8, 1));
        ADD_FAILURE() << "a 5-element matrix ran as 3 x 3";
    } catch (const EPXError& e) {
        EXPECT_NE(std::string(e.what()).find("the kernel holds 5 coefficients but MaskSize 3 x 3 needs 9"), std::string::npos)
            << e.what();
    }
    // Changing MaskSize rebuilds a fitting matrix from the top-left overlap, reading the stored
    // values row-major with the old width of 3: (0, 1) and (1, 1) are elements 3 and 4.
    filter.MaskSize().SetSize(2, 2);
    EXPECT_EQ(filter.Kernel().SingleArray(), (std::vector<float>{5, 6, 0, 0}));
    EXPECT_NO_THROW(filter.ProcessFrame(NoiseFrame(8, 8, vfGray8, 1)));

    const auto expectError = [&](const json& block, const char* fragment) {
        try {
            LoadProperties(filter, json{{"Kernel", block}});
            ADD_FAILURE() << "no error for " << block.dump();
        } catch (const EPropertyError& e) {
            EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos) << e.what();
        }
    };
    expectError({{"_MatrixDataSize", -3}}, "_MatrixDataSize: -3 is not an integer");
    expectError({{"_MatrixDataSize", 1.5}}, "is not an integer");
    expectError({{"_MatrixDataSize", 2000000000}}, "is not an integer from 0 to 1048576");
    expectError({{"_MatrixDat", {1, nullptr}}}, "_MatrixDat: coefficient 1 is not a finite single");
    expectError({{"_MatrixDat", "1,2"}}, "expected an array");
}

// ---------------------------------------------------------------------------------------------
// Arithmetic

enum class TPath { Single, BandsBelowRow, BandsOneRow, BandsSeveralRows, BandsAboveFrame, OpenCL };
const char* const KPathNames[] = {"Single", "BandsBelowRow", "BandsOneRow", "BandsSeveralRows", "BandsAboveFrame", "OpenCL"};

IPXImageBuffer Filtered(TPXRectKernelFilter& filter, const IPXImageBuffer& in) {
    filter.SetThreaded(false);
    return filter.ProcessFrame(in);
}

TEST(RectKernelArithmetic, TheDefaultMatrixIsTheBoxMean) {
    TPXRectKernelFilter filter;
    const IPXImageBuffer in = NoiseFrame(37, 23, vfRGB24, 2);
    const IPXImageBuffer expected = ConvolveReference(in, {0, 0, 37, 23}, std::vector<float>(9, 1.0f / 9.0f), {3, 3}, 1, 1);
    TSampleAt at;
    EXPECT_TRUE(SameSamples(Filtered(filter, in), expected, &at)) << Where(at);
}

TEST(RectKernelArithmetic, AllTwosDoubleTheMeanAndACentredNineIsTheIdentity) {
    const IPXImageBuffer in = NoiseFrame(37, 23, vfGray8, 3);
    TPXRectKernelFilter twos, identity;
    SetMatrix(twos, 3, 3, std::vector<float>(9, 2.0f));
    std::vector<float> centre(9, 0.0f);
    centre[4] = 9.0f;
    SetMatrix(identity, 3, 3, centre);
    // Each output doubles the 3 x 3 mean: 2 * sum / 9, rounded.
    const IPXImageBuffer doubled = Filtered(twos, in);
    for (int x = 0; x < 37; x += 9) {
        int sum = 0;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) sum += ReadSample(in, reference::MirrorCoordinate(x + dx, 37), 5 + dy, 0);
        EXPECT_NEAR(ReadSample(doubled, x, 5, 0), std::min(255.0, 2.0 * sum / 9.0), 0.5 + 1e-3) << x;
    }
    EXPECT_TRUE(SameSamples(doubled, ConvolveReference(in, {0, 0, 37, 23}, Normalized(std::vector<float>(9, 2.0f)), {3, 3}, 1, 1)));
    EXPECT_TRUE(SameSamples(Filtered(identity, in), in));
}

TEST(RectKernelArithmetic, BorderRowsMirrorWithoutTheEdgeAboveAndWithItBelow) {
    // A 1 x 5 column picking one tap: output row y = input row y - 2 + tap, mirrored.
    IPXImageBuffer in = TPXImageBuffer::CreateSize(4, 6, vfGray8);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 4; ++x) reference::WriteSample(in, x, y, 0, 10 * y + x);
    const auto rowRead = [&](int tap, int y) {
        TPXRectKernelFilter filter;
        std::vector<float> column(5, 0.0f);
        column[std::size_t(tap)] = 5.0f;  // normalised to 1
        SetMatrix(filter, 1, 5, column);
        filter.Anchor().SetPoint(0, 2);
        return ReadSample(Filtered(filter, in), 1, y, 0) / 10;
    };
    EXPECT_EQ(rowRead(0, 0), 2);  // row -2 reads row 2
    EXPECT_EQ(rowRead(1, 0), 1);  // row -1 reads row 1
    EXPECT_EQ(rowRead(2, 0), 0);
    EXPECT_EQ(rowRead(3, 5), 5);  // row 6 (= H) reads row 5 (= H - 1)
    EXPECT_EQ(rowRead(4, 5), 4);  // row 7 reads row 4
    // The same along a row: column -1 reads column 1, column W reads W - 1.
    const auto columnRead = [&](int tap, int x) {
        TPXRectKernelFilter filter;
        std::vector<float> row(3, 0.0f);
        row[std::size_t(tap)] = 3.0f;
        SetMatrix(filter, 3, 1, row);
        filter.Anchor().SetPoint(1, 0);
        return ReadSample(Filtered(filter, in), x, 2, 0) % 10;
    };
    EXPECT_EQ(columnRead(0, 0), 1);
    EXPECT_EQ(columnRead(2, 3), 3);
}

TEST(RectKernelArithmetic, ResultsSaturateInsteadOfWrapping) {
    TPXRectKernelFilter negative, large;
    SetMatrix(negative, 2, 2, {-4.0f, -4.0f, 1.0f, 0.5f});
    SetMatrix(large, 2, 2, {40.0f, 3.0f, 1.0f, 2.0f});
    for (TPXVideoFormat format : {vfRGBA32, vfGray16}) {
        const IPXImageBuffer in = NoiseFrame(13, 9, format, 21);
        const int maximum = reference::NeighbourhoodMaximum(format);
        const IPXImageBuffer low = Filtered(negative, in), high = Filtered(large, in);
        int zeros = 0, maxima = 0;
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 13; ++x)
                for (int c = 0; c < reference::NeighbourhoodChannels(format); ++c) {
                    zeros += ReadSample(low, x, y, c) == 0;
                    maxima += ReadSample(high, x, y, c) == maximum;
                }
        EXPECT_GT(zeros, 0);
        EXPECT_GT(maxima, 0);
        EXPECT_TRUE(SameSamples(low, ConvolveReference(in, {0, 0, 13, 9}, Normalized(negative.Kernel().SingleArray()), {2, 2}, 1, 1)));
        EXPECT_TRUE(SameSamples(high, ConvolveReference(in, {0, 0, 13, 9}, Normalized(large.Kernel().SingleArray()), {2, 2}, 1, 1)));
    }
}

TEST(RectKernelArithmetic, EachProductRoundsApartFromTheSumOnEveryPath) {
    // Two taps: acc = c0 * v0, then acc + c1 * v1. A fused multiply-add would skip the rounding of
    // c1 * v1; look for coefficients where that changes some results, then check every path.
    const IPXImageBuffer in = NoiseFrame(160, 40, vfGray8, 17);
    std::mt19937 random(5);
    std::uniform_real_distribution<float> dist(-2.0f, 2.0f);
    float c0 = 0, c1 = 0;
    int differing = 0;
    for (int attempt = 0; attempt < 3000 && differing < 2; ++attempt) {
        const float a = dist(random), b = dist(random);
        int count = 0;
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 160; ++x) {
                const float v0 = float(ReadSample(in, reference::MirrorCoordinate(x - 1, 160), y, 0));
                const float v1 = float(ReadSample(in, x, y, 0));
                const float first = reference::SeparateProduct(a, v0);
                const float apart = first + reference::SeparateProduct(b, v1);
                count += reference::RoundedSaturated(apart, 255) != reference::RoundedSaturated(std::fmaf(b, v1, first), 255);
            }
        if (count > differing) {
            differing = count;
            c0 = a;
            c1 = b;
        }
    }
    ASSERT_GE(differing, 1) << "no coefficients found where fusing would show";
    for (TPath path : {TPath::Single, TPath::BandsOneRow, TPath::OpenCL}) {
        if (path == TPath::OpenCL && !HaveOpenCL()) continue;
        TPXRectKernelFilter filter;
        SetMatrix(filter, 2, 1, {2.0f * c0, 2.0f * c1});  // normalised: exactly c0, c1
        filter.Anchor().SetPoint(1, 0);
        filter.SetThreaded(false);
        if (path == TPath::BandsOneRow) {
            filter.SetMultiCore(true);
            filter.SetBlockSize(160);
        }
        if (path == TPath::OpenCL) filter.SetOpenCLDevice("auto");
        TSampleAt at;
        EXPECT_TRUE(SameSamples(filter.ProcessFrame(in), ConvolveReference(in, {0, 0, 160, 40}, {c0, c1}, {2, 1}, 1, 0), &at))
            << KPathNames[int(path)] << ": " << Where(at);
    }
}

TEST(RectKernelArithmetic, ARegionOnTheLeftHalfLeavesTheRightHalfAsTheInput) {
    TPXRectKernelFilter filter;
    filter.RegionOfInterest().SetRectangle({0, 0, 18, 23});
    filter.RegionOfInterest().SetEnabled(true);
    const IPXImageBuffer in = NoiseFrame(37, 23, vfRGB24, 5);
    const IPXImageBuffer out = Filtered(filter, in);
    for (int y = 0; y < 23; ++y)
        for (int x = 18; x < 37; ++x)
            for (int c = 0; c < 3; ++c) ASSERT_EQ(ReadSample(out, x, y, c), ReadSample(in, x, y, c));
    EXPECT_TRUE(SameSamples(out, ConvolveReference(in, {0, 0, 18, 23}, std::vector<float>(9, 1.0f / 9), {3, 3}, 1, 1)));
}

// ---------------------------------------------------------------------------------------------
// Every path, format and region against the reference


struct TRegionCase {
    const char* Name;
    bool Enabled;
    TRect Region;
};
const TRegionCase KRegions[] = {
    {"Disabled", false, {}},
    {"Inner", true, {3, 2, 20, 11}},
    {"PartlyOutside", true, {30, 17, 40, 40}},
    {"OneColumn", true, {36, 0, 1, 23}},
};

struct TPathCase {
    TPXVideoFormat Format;
    int Region;
    TPath Path;
};

std::string PathCaseName(const testing::TestParamInfo<TPathCase>& info) {
    return std::string(FormatName(info.param.Format).substr(2)) + "_" + KRegions[info.param.Region].Name + "_" +
           KPathNames[int(info.param.Path)];
}

std::vector<TPathCase> AllPathCases() {
    std::vector<TPathCase> cases;
    for (TPXVideoFormat format : {vfRGB24, vfRGBA32, vfGray8, vfGray16})
        for (int region = 0; region < int(std::size(KRegions)); ++region)
            for (int path = 0; path <= int(TPath::OpenCL); ++path) cases.push_back({format, region, TPath(path)});
    return cases;
}

// Sets the path; returns the rectangle the reference must process.
TRect ConfigurePath(TPXCommonBasicROIProcessingFilter& filter, TPath path, const TRegionCase& region, int width, int height,
                    int bitsPerPixel) {
    filter.SetThreaded(false);
    const int rowBytes = width * bitsPerPixel / 8;
    switch (path) {
    case TPath::Single: break;
    case TPath::BandsBelowRow: filter.SetMultiCore(true); filter.SetBlockSize(std::max(1, rowBytes / 3)); break;
    case TPath::BandsOneRow: filter.SetMultiCore(true); filter.SetBlockSize(rowBytes); break;
    case TPath::BandsSeveralRows: filter.SetMultiCore(true); filter.SetBlockSize(rowBytes * 4 + 1); break;
    case TPath::BandsAboveFrame: filter.SetMultiCore(true); filter.SetBlockSize(rowBytes * height * 2); break;
    case TPath::OpenCL: filter.SetOpenCLDevice("auto"); break;
    }
    filter.RegionOfInterest().SetRectangle(region.Region);
    filter.RegionOfInterest().SetEnabled(region.Enabled);
    return filter.RegionOfInterest().Clamp(width, height);
}

class RectKernelPaths : public testing::TestWithParam<TPathCase> {};

TEST_P(RectKernelPaths, EqualTheReferenceBitForBit) {
    const TPathCase& c = GetParam();
    if (c.Path == TPath::OpenCL) {
        ASSERT_TRUE(HaveOpenCL()) << "no OpenCL platform (pocl-opencl-icd)";
    }
    TPXRectKernelFilter filter;
    // An off-centre 5 x 3 matrix with negative and inexact coefficients: products round, sums can
    // leave the sample range, the anchor sits at a corner of the window.
    const std::vector<float> values = RandomCoefficients(15, 77, -3.0f, 6.0f);
    SetMatrix(filter, 5, 3, values);
    filter.Anchor().SetPoint(4, 0);
    const IPXImageBuffer in = NoiseFrame(37, 23, c.Format, 31);
    const IPXImageBuffer keep = TPXImageBuffer::CreateData(in->GetReadPointer(), 37, 23, c.Format, in->GetLineSize());
    const TRect rect = ConfigurePath(filter, c.Path, KRegions[c.Region], 37, 23, in->GetBitsPerPixel());
    const IPXImageBuffer out = filter.ProcessFrame(in);
    if (c.Path == TPath::OpenCL) {
        EXPECT_TRUE(filter.UsesOpenCL());
    }
    TSampleAt at;
    EXPECT_TRUE(SameSamples(out, ConvolveReference(in, rect, Normalized(values), {5, 3}, 4, 0), &at)) << Where(at);
    EXPECT_TRUE(SameSamples(in, keep)) << "the input was written";
}

INSTANTIATE_TEST_SUITE_P(FormatsRegionsPaths, RectKernelPaths, testing::ValuesIn(AllPathCases()), PathCaseName);

TEST(RectKernelPaths, TinyFramesWithMasksThatFit) {
    for (TPXVideoFormat format : {vfRGB24, vfRGBA32, vfGray8, vfGray16})
        for (TSize size : {TSize{1, 1}, TSize{2, 1}})
            for (TPath path : {TPath::Single, TPath::BandsBelowRow, TPath::OpenCL}) {
                TPXRectKernelFilter filter;
                const std::vector<float> values = RandomCoefficients(size.Width, 5, 0.0f, 3.0f);
                SetMatrix(filter, size.Width, 1, values);
                filter.Anchor().SetPoint(size.Width - 1, 0);
                const IPXImageBuffer in = NoiseFrame(size.Width, size.Height, format, 8);
                ConfigurePath(filter, path, KRegions[0], size.Width, size.Height, in->GetBitsPerPixel());
                const IPXImageBuffer expected = ConvolveReference(in, {0, 0, size.Width, size.Height},
                                                                  Normalized(values), {size.Width, 1}, size.Width - 1, 0);
                EXPECT_TRUE(SameSamples(filter.ProcessFrame(in), expected))
                    << FormatName(format) << " " << size.Width << "x" << size.Height << " " << KPathNames[int(path)];
                EXPECT_EQ(filter.UsesOpenCL(), path == TPath::OpenCL);
            }
}

TEST(RectKernelPaths, AFrameOfAnotherFormatIsConvolvedAsThreeChannels) {
    TPXRectKernelFilter filter;
    const IPXImageBuffer in = NoiseFrame(10, 6, vfUYVY, 3);
    const IPXImageBuffer out = Filtered(filter, in);
    ASSERT_EQ(out->GetFormat(), vfRGB24);
    IPXImageBuffer converted = TPXImageBuffer::CreateCopy(in);
    converted->ConvertToFormat(vfRGB24);
    EXPECT_TRUE(SameSamples(out, ConvolveReference(converted, {0, 0, 10, 6}, std::vector<float>(9, 1.0f / 9), {3, 3}, 1, 1)));
}

// ---------------------------------------------------------------------------------------------
// The CPU kernel on every instruction-set level the machine has

TEST(ConvolutionKernel, EveryInstructionSetLevelEqualsTheReference) {
    struct TShape {
        int Width, Height, AnchorX, AnchorY;
    };
    const TShape shapes[] = {{3, 3, 1, 1}, {7, 7, 3, 3}, {1, 9, 0, 8}, {9, 1, 0, 0}, {4, 6, 3, 5}};
    for (const auto level : {kernels::nbh::TIsa::Baseline, kernels::nbh::TIsa::Avx2, kernels::nbh::TIsa::Avx512}) {
        if (int(level) > int(kernels::nbh::CpuIsa())) continue;
        const auto previous = kernels::nbh::LimitIsa(level);
        for (const TShape& s : shapes)
            for (TPXVideoFormat format : {vfRGB24, vfGray16}) {
                const std::vector<float> values = RandomCoefficients(s.Width * s.Height, 9 + s.Width, -1.0f, 2.5f);
                const IPXImageBuffer in = NoiseFrame(71, 13, format, 12);
                IPXImageBuffer out = TPXImageBuffer::CreateCopy(in);
                const TRect rect{2, 1, 66, 11};
                const kernels::TConvolutionMatrix matrix{values.data(), s.Width, s.Height, s.AnchorX, s.AnchorY};
                if (format == vfGray16) kernels::Convolve2D(in->ReadView<uint16_t>(), out->WriteView<uint16_t>(true), rect, matrix);
                else kernels::Convolve2D(in->ReadView<uint8_t>(), out->WriteView<uint8_t>(true), rect, matrix);
                TSampleAt at;
                EXPECT_TRUE(SameSamples(out, ConvolveReference(in, rect, values, {s.Width, s.Height}, s.AnchorX, s.AnchorY), &at))
                    << "level " << int(level) << ", " << s.Width << "x" << s.Height << ", " << FormatName(format) << ": "
                    << Where(at);
            }
        kernels::nbh::LimitIsa(previous);
    }
}

TEST(ConvolutionKernel, TheFrameworkShapedEntryCutsTheRectangleAndChecksItsArguments) {
    const IPXImageBuffer in = NoiseFrame(9, 5, vfGray8, 2);
    IPXImageBuffer out = TPXImageBuffer::CreateCopy(in);
    const float kernel[6] = {1, 2, 3, 4, 5, 6};
    // A width that does not divide the length, and a null kernel, write nothing.
    kernels::Apply2DConvolution8bit(in->GetReadPointer(), in->GetLineSize(), in->GetSize(), out->GetModifyPointer(),
                                    out->GetLineSize(), out->GetSize(), 1, {0, 0, 9, 5}, kernel, 6, 4, 0, 0);
    kernels::Apply2DConvolution8bit(in->GetReadPointer(), in->GetLineSize(), in->GetSize(), out->GetModifyPointer(),
                                    out->GetLineSize(), out->GetSize(), 1, {0, 0, 9, 5}, nullptr, 6, 3, 0, 0);
    EXPECT_TRUE(SameSamples(out, in));
    // A rectangle past the frame is cut to it; the height is length / width.
    kernels::Apply2DConvolution8bit(in->GetReadPointer(), in->GetLineSize(), in->GetSize(), out->GetModifyPointer(),
                                    out->GetLineSize(), out->GetSize(), 1, {4, 2, 100, 100}, kernel, 6, 3, 1, 0);
    EXPECT_TRUE(SameSamples(out, ConvolveReference(in, {4, 2, 5, 3}, std::vector<float>(kernel, kernel + 6), {3, 2}, 1, 0)));
}

// ---------------------------------------------------------------------------------------------
// Bad input

void ExpectFrameError(TPXRectKernelFilter& filter, const IPXImageBuffer& in, const char* fragment) {
    filter.SetThreaded(false);
    try {
        filter.ProcessFrame(in);
        ADD_FAILURE() << "no error, expected: " << fragment;
    } catch (const EPXError& e) {
        EXPECT_NE(std::string(e.what()).find(fragment), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("TPXRectKernelFilter"), std::string::npos) << e.what();
    }
}

TEST(RectKernelBadInput, MaskLargerThanTheFrameOrAnchorOutsideTheMaskIsAFrameError) {
    TPXRectKernelFilter filter;
    filter.MaskSize().SetSize(5, 3);
    ExpectFrameError(filter, NoiseFrame(4, 10, vfGray8, 1), "MaskSize 5 x 3 is larger than the 4 x 10 frame");
    filter.Anchor().SetPoint(5, 0);
    ExpectFrameError(filter, NoiseFrame(8, 8, vfGray8, 1), "Anchor (5, 0) lies outside the 5 x 3 mask");
    filter.Anchor().SetPoint(-1, 1);
    ExpectFrameError(filter, NoiseFrame(8, 8, vfGray8, 1), "Anchor (-1, 1) lies outside");
    filter.Anchor().SetPoint(4, 2);
    EXPECT_NO_THROW(filter.ProcessFrame(NoiseFrame(8, 8, vfGray8, 1)));
}

TEST(RectKernelBadInput, ATemplateThatDoesNotCompileCarriesItsBuildLog) {
    ASSERT_TRUE(HaveOpenCL()) << "no OpenCL platform (pocl-opencl-icd)";
    const IOCLContext context = TOpenCL::ContextFor("auto");
    std::string broken = KernelTemplate("Convolution");
    broken.replace(broken.rfind("acc += "), 7, "acc += undeclared_weight + ");
    try {
        TPXRectKernelFilter::BuildKernels(*context, broken);
        FAIL() << "the broken template built";
    } catch (const EOpenCLError& e) {
        EXPECT_NE(std::string(e.what()).find("clBuildProgram"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("undeclared_weight"), std::string::npos) << e.what();
    }
    const auto kernels = TPXRectKernelFilter::BuildKernels(*context, KernelTemplate("Convolution"));
    EXPECT_EQ(kernels.first->Name(), "Convolution2DKernel8Bits");
    EXPECT_EQ(kernels.second->Name(), "Convolution2DKernel16Bits");
}

// Collects what a filter sends.
class TNeighbourhoodCollector final : public TPXBasicVideoOut {
public:
    static const TPropertyTable& Properties() {
        static const TPropertyTable table =
            TPropertyTable::Of<TNeighbourhoodCollector, TPXBasicVideoOut>("TNeighbourhoodCollector", {});
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

TEST(RectKernelBadInput, InAStreamAFailingFrameIsReportedAndDroppedAndTheNextRuns) {
    std::vector<std::string> errors;
    std::mutex errorMutex;
    SetErrorHandler([&](const TComponent&, const std::string& message) {
        std::lock_guard lock(errorMutex);
        errors.push_back(message);
    });
    TPXRectKernelFilter filter;  // threaded: errors go to the handler
    TNeighbourhoodCollector sink;
    filter.OutputPin.Connect(sink.InputPin);
    filter.InputPin.Receive(TLRStartFrameOperation::Make(8, 2, vfGray8, 400000));
    filter.InputPin.Receive(TLRSuppliedBufferOperation::Make(NoiseFrame(8, 2, vfGray8, 1)));  // 3 x 3 mask, 2 rows
    const IPXImageBuffer good = NoiseFrame(8, 3, vfGray8, 2);
    filter.InputPin.Receive(TLRSuppliedBufferOperation::Make(good));
    filter.InputPin.Receive(TLRStopOperation());
    filter.WaitIdle();
    SetErrorHandler({});
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("MaskSize 3 x 3 is larger than the 8 x 2 frame"), std::string::npos) << errors[0];
    std::lock_guard lock(sink.Mutex);
    ASSERT_EQ(sink.Frames.size(), 1u);
    EXPECT_TRUE(SameSamples(sink.Frames[0], ConvolveReference(good, {0, 0, 8, 3}, std::vector<float>(9, 1.0f / 9), {3, 3}, 1, 1)));
}

TEST(RectKernelBadInput, OnTheOpenCLPathAFailingFrameIsDroppedAndTheNextRunsOnTheDevice) {
    ASSERT_TRUE(HaveOpenCL()) << "no OpenCL platform (pocl-opencl-icd)";
    std::vector<std::string> errors;
    std::mutex errorMutex;
    SetErrorHandler([&](const TComponent&, const std::string& message) {
        std::lock_guard lock(errorMutex);
        errors.push_back(message);
    });
    TPXRectKernelFilter filter;  // threaded: errors go to the handler
    const std::vector<float> values = RandomCoefficients(9, 3, -1.0f, 3.0f);
    SetMatrix(filter, 3, 3, values);
    filter.SetOpenCLDevice("auto");
    TNeighbourhoodCollector sink;
    filter.OutputPin.Connect(sink.InputPin);
    const IPXImageBuffer first = NoiseFrame(9, 6, vfRGBA32, 5), third = NoiseFrame(9, 6, vfRGBA32, 6);
    filter.InputPin.Receive(TLRStartFrameOperation::Make(9, 6, vfRGBA32, 400000));
    filter.InputPin.Receive(TLRSuppliedBufferOperation::Make(first));
    filter.WaitIdle();
    // A matrix that no longer fits the mask (a block of 4 read from a stream) fails the frame.
    LoadProperties(filter, json{{"Kernel", {{"_MatrixDataSize", 4}, {"_MatrixDat", {1, 2, 3, 4}}}}});
    filter.InputPin.Receive(TLRSuppliedBufferOperation::Make(NoiseFrame(9, 6, vfRGBA32, 7)));
    filter.WaitIdle();
    filter.MaskSize().SetSize(2, 2);  // a new mask size rebuilds a fitting matrix
    SetMatrix(filter, 3, 3, values);
    filter.InputPin.Receive(TLRSuppliedBufferOperation::Make(third));
    filter.InputPin.Receive(TLRStopOperation());
    filter.WaitIdle();
    SetErrorHandler({});
    EXPECT_TRUE(filter.UsesOpenCL());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("the kernel holds 4 coefficients but MaskSize 3 x 3 needs 9"), std::string::npos) << errors[0];
    std::lock_guard lock(sink.Mutex);
    ASSERT_EQ(sink.Frames.size(), 2u);
    EXPECT_TRUE(SameSamples(sink.Frames[0], ConvolveReference(first, {0, 0, 9, 6}, Normalized(values), {3, 3}, 1, 1)));
    EXPECT_TRUE(SameSamples(sink.Frames[1], ConvolveReference(third, {0, 0, 9, 6}, Normalized(values), {3, 3}, 1, 1)));
}

}  // namespace
}  // namespace pixora
