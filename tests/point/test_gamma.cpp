// Gamma filter: forward and inverse BT.709 correction of every 8-bit value against a reference
// written from the published definition, alpha passing through, other formats arriving as three
// 8-bit channels, and the GammaType property.
#include <gtest/gtest.h>

#include <cmath>

#include <nlohmann/json.hpp>

#include "filters/point/PXGammaFilter.h"
#include "point/PointFilterSupport.h"

namespace pixora {
namespace {

using namespace pointtest;

// Forward: L < 0.018 -> 4.5 L, else 1.099 L^0.45 - 0.099 (L = v / 255); inverse: V < 0.0812 ->
// V / 4.5, else ((V + 0.099) / 1.099)^(1 / 0.45). The linear parts are exact rationals (9v / 2 and
// 2v / 9), rounded half up in integers; the power parts never come within 0.004 of a half.
int ReferenceGamma(int v, bool inverse) {
    const long double x = (long double)v / 255.0L;
    if (!inverse) {
        if (x < 0.018L) return (9 * v + 1) / 2;
        return int(std::floor((1.099L * std::pow(x, 0.45L) - 0.099L) * 255.0L + 0.5L));
    }
    if (x < 0.0812L) return (4 * v + 9) / 18;
    return int(std::floor(std::pow((x + 0.099L) / 1.099L, 1.0L / 0.45L) * 255.0L + 0.5L));
}

// 256 pixels whose channel c holds (i + 91 c) mod 256: every value in every channel.
IPXImageBuffer Ramp(TPXVideoFormat format) {
    const IPXImageBuffer frame = TPXImageBuffer::CreateSize(256, 2, format);
    for (int y = 0; y < 2; ++y)
        for (int i = 0; i < 256; ++i)
            for (int c = 0; c < SamplesPerPixel(format); ++c) SetSample(frame, i, y, c, (i + 91 * c + 7 * y) % 256);
    return frame;
}

TEST(GammaFilter, EveryEightBitValueMatchesTheDefinitionBothWays) {
    for (TPXVideoFormat format : {vfRGB24, vfRGBA32})
        for (TPXGammaType type : {gtForward, gtInverse}) {
            const IPXImageBuffer in = Ramp(format);
            const IPXImageBuffer before = Snapshot(in);
            TPXGammaFilter filter;
            filter.SetThreaded(false);
            filter.SetGammaType(type);
            const IPXImageBuffer out = filter.ProcessFrame(in);
            ASSERT_EQ(out->GetFormat(), format);
            ExpectSamples(out, [&](int x, int y, int c) {
                const int v = SampleAt(in, x, y, c);
                return c == 3 ? v : ReferenceGamma(v, type == gtInverse);  // alpha passes through
            }, std::string(FormatName(format)) + (type == gtInverse ? " inverse" : " forward"));
            EXPECT_TRUE(SamePixels(in, before));
        }
}

TEST(GammaFilter, KnownPointsOfTheCurves) {
    const IPXImageBuffer in = TPXImageBuffer::CreateSize(7, 1, vfRGB24);
    const int inputs[7] = {0, 1, 4, 5, 20, 21, 255};
    for (int x = 0; x < 7; ++x)
        for (int c = 0; c < 3; ++c) SetSample(in, x, 0, c, inputs[x]);
    TPXGammaFilter filter;
    filter.SetThreaded(false);
    // Forward: 4.5 x 1 = 4.5 rounds up, 4 is the last linear value (18), 5 gives 22.52.
    const int forward[7] = {0, 5, 18, 23, 64, 66, 255};
    IPXImageBuffer out = filter.ProcessFrame(in);
    for (int x = 0; x < 7; ++x) EXPECT_EQ(SampleAt(out, x, 0, 1), forward[x]) << inputs[x];
    // Inverse: 20 / 4.5 = 4.44 is linear, 21 is past 0.0812 x 255 = 20.7 and gives 4.65.
    filter.SetGammaType(gtInverse);
    const int inverse[7] = {0, 0, 1, 1, 4, 5, 255};
    out = filter.ProcessFrame(in);
    for (int x = 0; x < 7; ++x) EXPECT_EQ(SampleAt(out, x, 0, 2), inverse[x]) << inputs[x];
}

TEST(GammaFilter, OddSizesAndOtherFormats) {
    for (TSize size : {TSize{1, 1}, TSize{2, 1}, TSize{37, 23}, TSize{101, 7}}) {
        for (TPXVideoFormat format : {vfRGB24, vfRGBA32, vfGray8, vfGray16, vfUYVY}) {
            const IPXImageBuffer in = RandomFrame(size.Width, size.Height, format, 31);
            IPXImageBuffer expectedInput = TPXImageBuffer::CreateCopy(in);
            if (format != vfRGBA32) expectedInput->ConvertToFormat(vfRGB24);
            TPXGammaFilter filter;
            filter.SetThreaded(false);
            filter.SetGammaType(gtInverse);
            const IPXImageBuffer out = filter.ProcessFrame(in);
            ASSERT_EQ(out->GetFormat(), expectedInput->GetFormat());
            ExpectSamples(out, [&](int x, int y, int c) {
                const int v = SampleAt(expectedInput, x, y, c);
                return c == 3 ? v : ReferenceGamma(v, true);
            }, std::string(FormatName(format)) + " " + std::to_string(size.Width) + "x" + std::to_string(size.Height));
        }
    }
}

TEST(GammaFilter, GammaTypeIsAnEnumerationThatPersists) {
    TPXGammaFilter a;
    EXPECT_EQ(a.GetGammaType(), gtForward);
    SetPropertyText(a, "GammaType", "gtInverse");
    EXPECT_EQ(a.GetGammaType(), gtInverse);
    EXPECT_THROW(SetPropertyText(a, "GammaType", "gtSideways"), EPropertyError);
    EXPECT_THROW(SetPropertyText(a, "GammaType", "2"), EPropertyError);
    nlohmann::json saved;
    SaveProperties(a, saved);
    EXPECT_EQ(saved["GammaType"], "gtInverse");
    TPXGammaFilter b;
    LoadProperties(b, saved);
    EXPECT_EQ(b.GetGammaType(), gtInverse);
    try {
        LoadProperties(b, nlohmann::json{{"GammaType", 7}});
        FAIL() << "ordinal 7 was accepted";
    } catch (const EPropertyError& e) {
        EXPECT_NE(std::string(e.what()).find("GammaType"), std::string::npos) << e.what();
    }
    EXPECT_EQ(b.GetGammaType(), gtInverse);
}

}  // namespace
}  // namespace pixora
