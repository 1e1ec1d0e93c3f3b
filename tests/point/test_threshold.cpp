// Threshold: per-channel strict comparisons on every native format and size against a slow
// per-sample reference, alpha passing through, the enable combinations, crossed limits, formats
// that arrive as three 8-bit channels, persistence of the limits, and the threaded pin path.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "filters/point/PXThreshold.h"
#include "platform/image/PXConvert.h"
#include "point/PointFilterSupport.h"

namespace pixora {
namespace {

using namespace pointtest;

struct TLimits {
    bool Top = true, Bottom = true;
    TColor TopLevel = 8421504, TopValue = 0, BottomLevel = 0, BottomValue = 0;
};

// The comparison of one sample, from the limits' colour bytes (byte c for stored channel c).
int ReferenceSample(const TLimits& l, int v, int c, TPXVideoFormat format) {
    if (format == vfRGBA32 && c == 3) return v;  // alpha is never compared
    const auto byte = [c](TColor colour) { return int((colour >> (8 * c)) & 0xFF); };
    if (l.Bottom && v < byte(l.BottomLevel)) return byte(l.BottomValue);
    if (l.Top && v > byte(l.TopLevel)) return byte(l.TopValue);
    return v;
}

void Configure(TPXThreshold& filter, const TLimits& l) {
    filter.SetThreaded(false);
    filter.ThresholdTop().SetEnabled(l.Top);
    filter.ThresholdTop().SetThreshold(l.TopLevel);
    filter.ThresholdTop().SetValue(l.TopValue);
    filter.ThresholdBottom().SetEnabled(l.Bottom);
    filter.ThresholdBottom().SetThreshold(l.BottomLevel);
    filter.ThresholdBottom().SetValue(l.BottomValue);
}

struct TCase {
    TPXVideoFormat Format;
    TSize Size;
};

class ThresholdFormats : public testing::TestWithParam<TCase> {};

TEST_P(ThresholdFormats, MatchesThePerSampleReferenceAndLeavesTheInputAlone) {
    const TCase& c = GetParam();
    const TLimits limits[] = {
        {},                                                                       // the initial values
        {true, true, KDRGB(200, 100, 30), KDRGB(1, 2, 3), KDRGB(40, 90, 10), KDRGB(250, 251, 252)},
        {true, false, KDRGB(10, 20, 30), KDRGB(99, 98, 97), 0, 0},                // top only
        {false, true, 0, 0, KDRGB(128, 64, 192), KDRGB(7, 8, 9)},                  // bottom only
        {true, true, 0xFF000000u | KDRGB(255, 0, 128), KDRGB(5, 5, 5), KDRGB(255, 0, 128), KDRGB(6, 6, 6)},  // equal levels
    };
    for (const TLimits& l : limits) {
        const IPXImageBuffer in = RandomFrame(c.Size.Width, c.Size.Height, c.Format, 17);
        const IPXImageBuffer before = Snapshot(in);
        TPXThreshold filter;
        Configure(filter, l);
        const IPXImageBuffer out = filter.ProcessFrame(in);
        ASSERT_EQ(out->GetFormat(), c.Format);
        ExpectSamples(out, [&](int x, int y, int ch) { return ReferenceSample(l, SampleAt(in, x, y, ch), ch, c.Format); },
                      "top " + std::to_string(l.Top) + " bottom " + std::to_string(l.Bottom));
        EXPECT_TRUE(SamePixels(in, before)) << "the input frame was written";
    }
}

std::vector<TCase> Cases() {
    std::vector<TCase> cases;
    for (TPXVideoFormat format : {vfRGB24, vfRGBA32, vfGray8})
        for (TSize size : {TSize{1, 1}, TSize{2, 1}, TSize{37, 23}, TSize{64, 3}, TSize{640, 360}})
            cases.push_back({format, size});
    return cases;
}

std::string CaseName(const testing::TestParamInfo<TCase>& info) {
    return std::string(FormatName(info.param.Format).substr(2)) + "_" + std::to_string(info.param.Size.Width) + "x" +
           std::to_string(info.param.Size.Height);
}

INSTANTIATE_TEST_SUITE_P(FormatsAndSizes, ThresholdFormats, testing::ValuesIn(Cases()), CaseName);

IPXImageBuffer Ramp(TPXVideoFormat format) {
    // 256 pixels: every sample value in every channel (channel c holds (i + 85 c) mod 256).
    const IPXImageBuffer frame = TPXImageBuffer::CreateSize(256, 1, format);
    for (int i = 0; i < 256; ++i)
        for (int c = 0; c < SamplesPerPixel(format); ++c) SetSample(frame, i, 0, c, (i + 85 * c) % 256);
    return frame;
}

TEST(Threshold, InitialValuesReplaceEverySampleAbove128ByZero) {
    const IPXImageBuffer in = Ramp(vfRGB24);
    TPXThreshold filter;
    filter.SetThreaded(false);
    EXPECT_TRUE(filter.ThresholdTop().GetEnabled());
    EXPECT_TRUE(filter.ThresholdBottom().GetEnabled());
    EXPECT_EQ(filter.ThresholdTop().GetThreshold(), 8421504u);
    const IPXImageBuffer out = filter.ProcessFrame(in);
    ExpectSamples(out, [&](int x, int, int c) {
        const int v = SampleAt(in, x, 0, c);
        return v > 128 ? 0 : v;  // 128 itself is kept: the comparison is strict
    });
}

TEST(Threshold, ASampleEqualToEitherLevelIsKept) {
    const IPXImageBuffer in = TPXImageBuffer::CreateSize(2, 1, vfRGB24);
    for (int x = 0; x < 2; ++x)
        for (int c = 0; c < 3; ++c) SetSample(in, x, 0, c, 70 - 10 * c);  // stored samples 70, 60, 50
    TPXThreshold filter;
    Configure(filter, {true, true, 0x00463C32u, 0x00FFFFFFu, 0x00463C32u, 0});  // levels 50, 60, 70 in bytes 0, 1, 2
    const IPXImageBuffer out = filter.ProcessFrame(in);
    // Byte c of the colours compares with stored channel c: 70 > 50 (top, becomes 255), 60 = 60
    // (kept), 50 < 70 (bottom, becomes 0).
    EXPECT_EQ(SampleAt(out, 1, 0, 0), 255);
    EXPECT_EQ(SampleAt(out, 1, 0, 1), 60);
    EXPECT_EQ(SampleAt(out, 1, 0, 2), 0);
}

TEST(Threshold, ColourBytesApplyToStoredChannelsInOrder) {
    // Red 10, green 20, blue 30 (1971210): stored channel 0 compares with 10, 1 with 20, 2 with 30.
    ASSERT_EQ(KDRGB(10, 20, 30), 1971210u);
    const IPXImageBuffer in = TPXImageBuffer::CreateSize(3, 1, vfRGB24);
    const int samples[3][3] = {{11, 11, 11}, {21, 21, 21}, {31, 31, 31}};
    for (int x = 0; x < 3; ++x)
        for (int c = 0; c < 3; ++c) SetSample(in, x, 0, c, samples[x][c]);
    TPXThreshold filter;
    Configure(filter, {true, false, 1971210, KDRGB(1, 2, 3), 0, 0});
    const IPXImageBuffer out = filter.ProcessFrame(in);
    const int expected[3][3] = {{1, 11, 11}, {1, 2, 21}, {1, 2, 3}};
    for (int x = 0; x < 3; ++x)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(SampleAt(out, x, 0, c), expected[x][c]) << x << "," << c;
}

TEST(Threshold, NeitherLimitEnabledLeavesTheOutputSharingTheInput) {
    const IPXImageBuffer in = RandomFrame(37, 23, vfRGB24, 3);
    TPXThreshold filter;
    Configure(filter, {false, false});
    const IPXImageBuffer out = filter.ProcessFrame(in);
    EXPECT_TRUE(SamePixels(out, in));
    EXPECT_EQ(out->GetReadPointer(), in->GetReadPointer()) << "nothing should have been written";
}

TEST(Threshold, CrossedLimitsLeaveTheFrameUnchangedAndWarnOncePerSetting) {
    TWarningRecorder warnings;
    const IPXImageBuffer in = RandomFrame(16, 4, vfRGB24, 5);
    TPXThreshold filter;
    Configure(filter, {true, true, KDRGB(100, 100, 100), 0, KDRGB(100, 150, 100), 0});  // channel 1: 150 > 100
    EXPECT_TRUE(SamePixels(filter.ProcessFrame(in), in));
    EXPECT_TRUE(SamePixels(filter.ProcessFrame(in), in));
    ASSERT_EQ(warnings.Messages.size(), 1u);
    EXPECT_NE(warnings.Messages[0].find("ThresholdBottom.Threshold is above ThresholdTop.Threshold in channel 1"),
              std::string::npos)
        << warnings.Messages[0];
    // Either side alone is fine with the same levels.
    filter.ThresholdTop().SetEnabled(false);
    const IPXImageBuffer out = filter.ProcessFrame(in);
    ExpectSamples(out, [&](int x, int y, int c) {
        const int v = SampleAt(in, x, y, c);
        return v < (c == 1 ? 150 : 100) ? 0 : v;
    });
    EXPECT_EQ(warnings.Messages.size(), 1u);
}

TEST(Threshold, OtherFormatsArriveAsThreeEightBitChannels) {
    for (TPXVideoFormat format : {vfGray16, vfUYVY}) {
        const IPXImageBuffer in = RandomFrame(10, 4, format, 9);
        IPXImageBuffer converted = TPXImageBuffer::CreateCopy(in);
        converted->ConvertToFormat(vfRGB24);
        TPXThreshold filter;
        const TLimits l{true, true, KDRGB(150, 140, 130), KDRGB(1, 2, 3), KDRGB(60, 70, 80), KDRGB(4, 5, 6)};
        Configure(filter, l);
        const IPXImageBuffer out = filter.ProcessFrame(in);
        ASSERT_EQ(out->GetFormat(), vfRGB24) << FormatName(format);
        ExpectSamples(out, [&](int x, int y, int c) { return ReferenceSample(l, SampleAt(converted, x, y, c), c, vfRGB24); });
    }
}

TEST(Threshold, LimitsPersistAndSettingALimitCopiesIt) {
    TPXThreshold a;
    a.ThresholdTop().SetThreshold(1971210);
    a.ThresholdTop().SetValue(KDRGB(1, 2, 3));
    a.ThresholdBottom().SetEnabled(false);
    a.ThresholdBottom().SetValue(KDRGB(9, 9, 9));
    nlohmann::json saved;
    SaveProperties(a, saved);
    EXPECT_EQ(saved["ThresholdTop"]["Threshold"], 1971210);
    TPXThreshold b;
    LoadProperties(b, saved);
    EXPECT_EQ(b.ThresholdTop().GetThreshold(), 1971210u);
    EXPECT_EQ(b.ThresholdTop().GetValue(), KDRGB(1, 2, 3));
    EXPECT_FALSE(b.ThresholdBottom().GetEnabled());
    EXPECT_EQ(b.ThresholdBottom().GetValue(), KDRGB(9, 9, 9));

    SetPropertyText(b, "ThresholdBottom.Threshold", "#102030");
    EXPECT_EQ(GetPropertyText(b, "ThresholdBottom.Threshold"), "0x00102030");
    EXPECT_THROW(SetPropertyText(b, "ThresholdTop.Threshold", "blue"), EPropertyError);

    // Setting the property copies values: later changes to the source do not reach the filter.
    TChangeNotifyLock lock;
    TPXThresholdValueTop source(lock);
    source.SetThreshold(KDRGB(7, 7, 7));
    source.SetEnabled(false);
    const unsigned long changes = b.GetLock().ChangeCount();
    b.SetThresholdTop(source);
    EXPECT_GT(b.GetLock().ChangeCount(), changes);
    source.SetThreshold(KDRGB(8, 8, 8));
    EXPECT_EQ(b.ThresholdTop().GetThreshold(), KDRGB(7, 7, 7));
    EXPECT_FALSE(b.ThresholdTop().GetEnabled());
}

TEST(Threshold, ThreadedPinPathGivesTheSameBytes) {
    TPXThreshold filter;  // threaded by default
    filter.ThresholdTop().SetThreshold(KDRGB(90, 90, 90));
    filter.ThresholdTop().SetValue(KDRGB(255, 0, 255));
    TPinRecorder recorder(TPinDataType::Video);
    filter.OutputPin.Connect(recorder.Pin);
    std::vector<IPXImageBuffer> inputs;
    filter.InputPin.Receive(TLRStartFrameOperation::Make(21, 7, vfRGBA32, 400000));
    for (uint32_t i = 0; i < 5; ++i) {
        inputs.push_back(RandomFrame(21, 7, vfRGBA32, 100 + i));
        filter.InputPin.Receive(TLRSuppliedBufferOperation::Make(IQNData(inputs.back())));
    }
    filter.InputPin.Receive(TLRStopOperation::Make());
    filter.WaitIdle();
    ASSERT_EQ(recorder.Buffers.size(), inputs.size());
    EXPECT_EQ(recorder.Stops, 1);
    TPXThreshold inline_;
    inline_.SetThreaded(false);
    inline_.SetThresholdTop(filter.ThresholdTop());
    for (std::size_t i = 0; i < inputs.size(); ++i)
        EXPECT_TRUE(SamePixels(TPXImageBuffer::CreateUniversal(recorder.Buffers[i]), inline_.ProcessFrame(inputs[i]))) << i;
}

}  // namespace
}  // namespace pixora
