// Negative and solarize on the single-call and band paths, every format, odd sizes and regions
// against the per-sample reference; the input is never changed; disabled filters pass frames
// through; the threaded pin path gives the same bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <mutex>

#include "filters/point/PXNegative.h"
#include "filters/point/PXSolarize.h"
#include "platform/filters/PXBasicVideoOut.h"
#include "support/SlowPoint.h"

namespace pixora {
namespace {

using reference::ApplyPerSample;
using reference::RandomFrame;
using reference::RegionInFrame;
using reference::SamePixels;

struct TRegionCase {
    const char* Name;
    bool Enabled;
    TRect Region;  // in units of the frame: negative sizes are resolved per frame below
};

// Regions relative to the frame so that every size gets its own edges.
TRect ResolveRegion(const TRegionCase& c, int w, int h) {
    const TRect& r = c.Region;
    const auto at = [](int v, int size) { return v >= 0 ? v : size + v; };
    return {at(r.X, w), at(r.Y, h), r.Width, r.Height};
}

const TRegionCase KRegions[] = {
    {"Disabled", false, {0, 0, 0, 0}},
    {"Whole", true, {0, 0, 1 << 20, 1 << 20}},
    {"TopLeft", true, {0, 0, 5, 4}},
    {"BottomRightPartlyOutside", true, {-3, -2, 50, 50}},
    {"Inner", true, {1, 1, 7, 5}},
    {"StartsOutside", true, {-0, 0, 0, 0}},  // resolved below to X = width
};

enum class TPath { Single, BandsBelowRow, BandsOneRow, BandsSeveralRows, BandsAboveFrame };

struct TCase {
    TPXVideoFormat Format;
    TSize Size;
    int Region;  // index into KRegions
    TPath Path;
};

std::string CaseName(const testing::TestParamInfo<TCase>& info) {
    static const char* const paths[] = {"Single", "BandsBelowRow", "BandsOneRow", "BandsSeveralRows", "BandsAboveFrame"};
    const TCase& c = info.param;
    return std::string(FormatName(c.Format).substr(2)) + "_" + std::to_string(c.Size.Width) + "x" +
           std::to_string(c.Size.Height) + "_" + KRegions[c.Region].Name + "_" + paths[int(c.Path)];
}

std::vector<TCase> AllCases() {
    std::vector<TCase> cases;
    for (TPXVideoFormat format : {vfRGB24, vfRGBA32, vfGray8, vfGray16})
        for (TSize size : {TSize{1, 1}, TSize{2, 1}, TSize{37, 23}})
            for (int region = 0; region < int(std::size(KRegions)); ++region)
                for (TPath path : {TPath::Single, TPath::BandsBelowRow, TPath::BandsOneRow, TPath::BandsSeveralRows,
                                   TPath::BandsAboveFrame})
                    cases.push_back({format, size, region, path});
    return cases;
}

class PointPaths : public testing::TestWithParam<TCase> {
protected:
    // Configures the filter for the case; returns the rectangle the reference must touch.
    TRect Configure(TPXCommonBasicROIProcessingFilter& filter, const IPXImageBuffer& in) {
        const TCase& c = GetParam();
        filter.SetThreaded(false);
        const int w = in->GetWidth(), h = in->GetHeight();
        const int rowBytes = w * in->GetBitsPerPixel() / 8;
        switch (c.Path) {
        case TPath::Single: filter.SetMultiCore(false); break;
        case TPath::BandsBelowRow: filter.SetMultiCore(true); filter.SetBlockSize(std::max(1, rowBytes / 2)); break;
        case TPath::BandsOneRow: filter.SetMultiCore(true); filter.SetBlockSize(rowBytes); break;
        case TPath::BandsSeveralRows: filter.SetMultiCore(true); filter.SetBlockSize(rowBytes * 3 + 1); break;
        case TPath::BandsAboveFrame: filter.SetMultiCore(true); filter.SetBlockSize(rowBytes * h * 4); break;
        }
        const TRegionCase& rc = KRegions[c.Region];
        TRect region = ResolveRegion(rc, w, h);
        if (std::string(rc.Name) == "StartsOutside") region = {w, 0, 3, 3};
        filter.RegionOfInterest().SetRectangle(region);
        filter.RegionOfInterest().SetEnabled(rc.Enabled);
        return RegionInFrame(rc.Enabled, region, w, h);
    }
};

TEST_P(PointPaths, NegativeMatchesTheReferenceAndLeavesTheInputAlone) {
    const TCase& c = GetParam();
    const IPXImageBuffer in = RandomFrame(c.Size.Width, c.Size.Height, c.Format, 7);
    const IPXImageBuffer copy = TPXImageBuffer::CreateData(in->GetReadPointer(), in->GetWidth(), in->GetHeight(), c.Format,
                                                           in->GetLineSize());
    TPXNegative filter;
    const TRect rect = Configure(filter, in);
    const IPXImageBuffer out = filter.ProcessFrame(in);
    const IPXImageBuffer expected = ApplyPerSample(in, rect, [](int v, int max) { return max - v; });
    int row = -1;
    EXPECT_TRUE(SamePixels(out, expected, &row)) << "first differing row " << row;
    EXPECT_TRUE(SamePixels(in, copy)) << "the input frame was written";
}

TEST_P(PointPaths, SolarizeMatchesTheReferenceAndLeavesTheInputAlone) {
    const TCase& c = GetParam();
    const IPXImageBuffer in = RandomFrame(c.Size.Width, c.Size.Height, c.Format, 11);
    const IPXImageBuffer shared = TPXImageBuffer::CreateCopy(in);  // a second handle on the same pixels
    TPXSolarize filter;
    filter.SetLevel(0.4f);
    const TRect rect = Configure(filter, in);
    const IPXImageBuffer out = filter.ProcessFrame(in);
    const int level8 = 102, level16 = 26214;  // 0.4 x 255 = 102.0, 0.4 x 65535 = 26214.0
    const IPXImageBuffer expected = ApplyPerSample(in, rect, [&](int v, int max) {
        const int level = max == 255 ? level8 : level16;
        return v < level ? max - v : v;
    });
    int row = -1;
    EXPECT_TRUE(SamePixels(out, expected, &row)) << "first differing row " << row;
    EXPECT_TRUE(SamePixels(in, shared));
    EXPECT_EQ(in->GetReadPointer(), shared->GetReadPointer()) << "the shared input lost its pixels";
}

INSTANTIATE_TEST_SUITE_P(FormatsSizesRegionsPaths, PointPaths, testing::ValuesIn(AllCases()), CaseName);

TEST(PointFilters, SolarizeLevelZeroChangesNothingAndLevelOneInvertsAllBut255) {
    const IPXImageBuffer in = TPXImageBuffer::CreateSize(256, 1, vfGray8);
    for (int i = 0; i < 256; ++i) in->GetWritePointer()[i] = uint8_t(i);
    TPXSolarize filter;
    filter.SetThreaded(false);
    filter.SetLevel(0.0f);
    EXPECT_TRUE(SamePixels(filter.ProcessFrame(in), in));
    filter.SetLevel(1.0f);
    const IPXImageBuffer out = filter.ProcessFrame(in);
    for (int i = 0; i < 255; ++i) EXPECT_EQ(out->GetReadPointer()[i], 255 - i) << i;
    EXPECT_EQ(out->GetReadPointer()[255], 255);
}

TEST(PointFilters, SolarizeLevelRoundsHalfToEvenAndClamps) {
    // 0.5 x 255 = 127.5 exactly in binary: ties to even gives 128; 0.5 x 65535 = 32767.5 gives 32768.
    EXPECT_EQ(TPXSolarize::Level8(0.5f), 128);
    EXPECT_EQ(TPXSolarize::Level16(0.5f), 32768);
    // A float just above 1.5/255 rounds up, 2.5/255 in float is below 2.5 and rounds to 2.
    for (float level : {0.0f, 0.1f, 0.25f, 0.33f, 0.75f, 1.0f}) {
        const double exact = double(level) * 255.0;
        const double floor = std::floor(exact);
        const int expected = exact - floor == 0.5 ? int(floor) + (int(floor) % 2) : int(std::lround(exact));
        EXPECT_EQ(TPXSolarize::Level8(level), expected) << level;
    }
    TPXSolarize filter;
    EXPECT_FLOAT_EQ(filter.GetLevel(), 0.5f);
    filter.SetLevel(1.5f);
    EXPECT_FLOAT_EQ(filter.GetLevel(), 1.0f);
    filter.SetLevel(-0.5f);
    EXPECT_FLOAT_EQ(filter.GetLevel(), 0.0f);
}

TEST(PointFilters, OtherFormatsArriveAsThreeChannels) {
    const IPXImageBuffer in = RandomFrame(6, 3, vfUYVY, 5);
    TPXNegative filter;
    filter.SetThreaded(false);
    const IPXImageBuffer out = filter.ProcessFrame(in);
    ASSERT_EQ(out->GetFormat(), vfRGB24);
    IPXImageBuffer converted = TPXImageBuffer::CreateCopy(in);
    converted->ConvertToFormat(vfRGB24);
    EXPECT_TRUE(SamePixels(out, ApplyPerSample(converted, {0, 0, 6, 3}, [](int v, int max) { return max - v; })));
    EXPECT_EQ(in->GetFormat(), vfUYVY);
}

TEST(PointFilters, ADisabledFilterPassesTheSameFrameOn) {
    const IPXImageBuffer in = RandomFrame(9, 4, vfRGBA32, 3);
    in->SetTimeStamp({true, 5, 10});
    TPXNegative filter;
    filter.SetThreaded(false);
    filter.SetEnabled(false);
    const IPXImageBuffer out = filter.ProcessFrame(in);
    EXPECT_EQ(out.Get(), in.Get());
    EXPECT_EQ(out->GetTimeStamp(), (TPXTimeStamp{true, 5, 10}));
}

// Collects the frames a filter sends.
class TFrameCollector final : public TPXBasicVideoOut {
public:
    static const TPropertyTable& Properties() {
        static const TPropertyTable table = TPropertyTable::Of<TFrameCollector, TPXBasicVideoOut>("TFrameCollector", {});
        return table;
    }
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }
    std::mutex Mutex;
    std::vector<IPXImageBuffer> Frames;
    std::vector<TLRStartFrameOperation> Starts;

protected:
    bool InputDispatch(TLRSinkPin&, const ILRNotifyOperation& op) override {
        std::lock_guard lock(Mutex);
        if (auto* start = As<TLRStartFrameOperation>(op)) Starts.push_back(*start);
        if (auto* buffer = As<TLRSuppliedBufferOperation>(op)) Frames.push_back(TPXImageBuffer::CreateUniversal(buffer->Data));
        return true;
    }
};

TEST(PointFilters, ThreadedPinPathEqualsTheSingleCallAndRenegotiatesFormats) {
    TPXSolarize threaded, direct;
    threaded.SetLevel(0.6f);
    direct.SetLevel(0.6f);
    direct.SetThreaded(false);
    threaded.SetMultiCore(true);
    threaded.SetBlockSize(100);
    TFrameCollector sink;
    threaded.OutputPin.Connect(sink.InputPin);
    threaded.InputPin.Receive(TLRStartFrameOperation::Make(37, 23, vfUYVY, 400000));
    std::vector<IPXImageBuffer> inputs;
    for (uint32_t i = 0; i < 6; ++i) {
        const TPXVideoFormat format = i < 3 ? vfRGB24 : vfGray16;  // a format change mid-stream
        inputs.push_back(RandomFrame(37, 23, format, 100 + i));
        inputs.back()->SetTimeStamp({true, i * 400000LL, (i + 1) * 400000LL});
        threaded.InputPin.Receive(TLRSuppliedBufferOperation::Make(inputs.back()));
    }
    threaded.InputPin.Receive(TLRStopOperation());
    threaded.WaitIdle();
    std::lock_guard lock(sink.Mutex);
    ASSERT_EQ(sink.Starts.size(), 1u);
    EXPECT_EQ(sink.Starts[0].Format, vfRGB24);  // UYVY is announced as what the filter delivers
    ASSERT_EQ(sink.Frames.size(), inputs.size());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        EXPECT_TRUE(SamePixels(sink.Frames[i], direct.ProcessFrame(inputs[i]))) << i;
        EXPECT_EQ(sink.Frames[i]->GetTimeStamp(), inputs[i]->GetTimeStamp());
    }
}

}  // namespace
}  // namespace pixora
