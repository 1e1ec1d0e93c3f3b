// Colour twist: the matrix product against a double-precision reference on every 8-bit input of
// each channel, saturation (infinities included), alpha passing through, the all-zero matrix
// (black), the vector and scalar row paths giving the same bytes, refused non-finite elements,
// and persistence of the matrix.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <sstream>

#include <nlohmann/json.hpp>

#include "filters/point/PXColorTwist.h"
#include "platform/kernels/ColorTwist.h"
#include "point/PointFilterSupport.h"

namespace pixora {
namespace {

using namespace pointtest;
using kernels::TTwistMatrix;

// The exact product (double precision, float elements), saturated. Where it lies within 1e-3 of a
// half the single-precision filter may round either way: -1 marks "either neighbour".
struct TExpected {
    int Low, High;  // the accepted values
};

TExpected ReferenceTwist(const TTwistMatrix& m, int k, int c0, int c1, int c2) {
    const double v = double(m.M[k][0]) * c0 + double(m.M[k][1]) * c1 + double(m.M[k][2]) * c2 + double(m.M[k][3]);
    const double s = std::clamp(v, 0.0, 255.0);
    const double frac = s - std::floor(s);
    if (std::fabs(frac - 0.5) < 1e-3) return {int(std::floor(s)), int(std::floor(s)) + 1};
    const int r = int(std::floor(s + 0.5));
    return {r, r};
}

// Checks out against the reference of in, pixel by pixel; a fourth channel must equal the input.
void ExpectTwisted(const IPXImageBuffer& in, const IPXImageBuffer& out, const TTwistMatrix& m, const std::string& what) {
    ASSERT_EQ(out->GetFormat(), in->GetFormat());
    long bad = 0, nearHalf = 0;
    std::string first;
    for (int y = 0; y < in->GetHeight(); ++y)
        for (int x = 0; x < in->GetWidth(); ++x) {
            const int c0 = SampleAt(in, x, y, 0), c1 = SampleAt(in, x, y, 1), c2 = SampleAt(in, x, y, 2);
            for (int k = 0; k < 3; ++k) {
                const TExpected e = ReferenceTwist(m, k, c0, c1, c2);
                const int got = SampleAt(out, x, y, k);
                nearHalf += e.Low != e.High;
                if ((got < e.Low || got > e.High) && bad++ == 0) {
                    std::ostringstream where;  // a stream: GCC 12 warns falsely on chained string '+'
                    where << "(" << x << ", " << y << ") channel " << k << ": got " << got << ", want " << e.Low;
                    first = where.str();
                }
            }
            if (in->GetFormat() == vfRGBA32 && SampleAt(out, x, y, 3) != SampleAt(in, x, y, 3) && bad++ == 0)
                first = "alpha changed at (" + std::to_string(x) + ", " + std::to_string(y) + ")";
        }
    EXPECT_EQ(bad, 0) << what << ": " << first;
    // Near-halves are rare for random matrices; many of them would hide a systematic error.
    EXPECT_LT(nearHalf, long(in->GetWidth()) * in->GetHeight() / 50 + 2) << what;
}

TTwistMatrix RandomMatrix(uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> weight(-1.5f, 1.5f), offset(-200.0f, 200.0f);
    TTwistMatrix m;
    for (auto& row : m.M) {
        for (int i = 0; i < 3; ++i) row[i] = weight(random);
        row[3] = offset(random);
    }
    return m;
}

void SetMatrix(TPXColorTwist& filter, const TTwistMatrix& m) {
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 4; ++i) filter.ColorTwists().Row(k).SetElement(i, m.M[k][i]);
}

// 256 x 256 pixels: channel 0 = x, channel 1 = y, channel 2 = (x + y) mod 256, alpha = x ^ y.
IPXImageBuffer Grid(TPXVideoFormat format) {
    const IPXImageBuffer frame = TPXImageBuffer::CreateSize(256, 256, format);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            SetSample(frame, x, y, 0, x);
            SetSample(frame, x, y, 1, y);
            SetSample(frame, x, y, 2, (x + y) % 256);
            if (format == vfRGBA32) SetSample(frame, x, y, 3, x ^ y);
        }
    return frame;
}

TEST(ColorTwist, EveryInputOfEachChannelMatchesTheDoubleReference) {
    for (TPXVideoFormat format : {vfRGB24, vfRGBA32})
        for (uint32_t seed : {1u, 2u, 3u}) {
            const TTwistMatrix m = RandomMatrix(seed);
            const IPXImageBuffer in = Grid(format);
            const IPXImageBuffer before = Snapshot(in);
            TPXColorTwist filter;
            filter.SetThreaded(false);
            SetMatrix(filter, m);
            ExpectTwisted(in, filter.ProcessFrame(in), m, std::string(FormatName(format)) + " seed " + std::to_string(seed));
            EXPECT_TRUE(SamePixels(in, before)) << "the input frame was written";
        }
}

TEST(ColorTwist, OddSizesAndFormatsThatArriveAsThreeChannels) {
    const TTwistMatrix m = RandomMatrix(7);
    for (TSize size : {TSize{1, 1}, TSize{2, 1}, TSize{17, 1}, TSize{37, 23}})
        for (TPXVideoFormat format : {vfRGB24, vfRGBA32, vfGray8, vfGray16, vfUYVY}) {
            const IPXImageBuffer in = RandomFrame(size.Width, size.Height, format, 8);
            IPXImageBuffer expectedInput = TPXImageBuffer::CreateCopy(in);
            if (format != vfRGBA32) expectedInput->ConvertToFormat(vfRGB24);
            TPXColorTwist filter;
            filter.SetThreaded(false);
            SetMatrix(filter, m);
            ExpectTwisted(expectedInput, filter.ProcessFrame(in), m,
                          std::string(FormatName(format)) + " " + std::to_string(size.Width) + "x" + std::to_string(size.Height));
        }
}

TEST(ColorTwist, ANewFilterTurnsPixelsBlackAndKeepsAlpha) {
    const IPXImageBuffer in = Grid(vfRGBA32);
    TPXColorTwist filter;
    filter.SetThreaded(false);
    const IPXImageBuffer out = filter.ProcessFrame(in);
    ExpectSamples(out, [&](int x, int y, int c) { return c == 3 ? SampleAt(in, x, y, 3) : 0; });
}

TEST(ColorTwist, IdentityCopiesAndSaturationClipsEvenInfiniteSums) {
    const IPXImageBuffer in = Grid(vfRGB24);
    TPXColorTwist filter;
    filter.SetThreaded(false);
    TTwistMatrix identity;
    for (int k = 0; k < 3; ++k) identity.M[k][k] = 1.0f;
    SetMatrix(filter, identity);
    EXPECT_TRUE(SamePixels(filter.ProcessFrame(in), in));

    // Row 0 reaches +max or +infinity (255 where channel 0 is not 0), row 1 -infinity (0), and row 2
    // gives NaN where +inf meets -inf, which the filter writes as 0.
    const float huge = std::numeric_limits<float>::max();
    TTwistMatrix extreme;
    extreme.M[0][0] = huge;
    extreme.M[1][0] = -huge;
    extreme.M[1][3] = 1.0f;
    extreme.M[2][0] = huge;
    extreme.M[2][1] = -huge;
    SetMatrix(filter, extreme);
    const IPXImageBuffer out = filter.ProcessFrame(in);
    ExpectSamples(out, [&](int x, int y, int c) {
        if (c == 0) return x == 0 ? 0 : 255;
        if (c == 1) return x == 0 ? 1 : 0;
        const float sum = huge * float(x) + -huge * float(y);  // 0, +-max, +-inf, or NaN (inf - inf)
        if (std::isnan(sum)) return 0;
        return sum > 255.0f ? 255 : sum < 0.0f ? 0 : int(sum);
    });
}

TEST(ColorTwist, VectorRowsGiveTheScalarRowsBytes) {
    if (!kernels::detail::CpuHasAvx2()) GTEST_SKIP() << "no AVX2 and FMA on this CPU";
    std::mt19937 random(11);
    const float huge = std::numeric_limits<float>::max();
    std::vector<TTwistMatrix> matrices = {RandomMatrix(21), RandomMatrix(22)};
    TTwistMatrix extreme;
    extreme.M[0][0] = huge;
    extreme.M[0][1] = -huge;
    extreme.M[1][2] = 0.5f;  // exact halves
    extreme.M[2][3] = 300.0f;
    matrices.push_back(extreme);
    for (const TTwistMatrix& m : matrices)
        for (int channels : {3, 4})
            for (std::size_t pixels : {0u, 1u, 7u, 8u, 15u, 16u, 17u, 33u, 63u, 64u, 65u, 130u, 1000u}) {
                std::vector<uint8_t> src(pixels * std::size_t(channels));
                for (auto& v : src) v = uint8_t(random());
                std::vector<uint8_t> scalar(src.size() + 1, 0xA5), avx2(src.size() + 1, 0xA5), avx512(src.size() + 1, 0xA5);
                kernels::detail::TwistRowScalar(src.data(), scalar.data(), pixels, channels, m);
                kernels::detail::TwistRowAvx2(src.data(), avx2.data(), pixels, channels, m);
                EXPECT_EQ(scalar, avx2) << "AVX2, " << channels << " channels, " << pixels << " pixels";
                EXPECT_EQ(avx2.back(), 0xA5) << "wrote past the row";
                if (kernels::detail::CpuHasAvx512()) {
                    kernels::detail::TwistRowAvx512(src.data(), avx512.data(), pixels, channels, m);
                    EXPECT_EQ(scalar, avx512) << "AVX-512, " << channels << " channels, " << pixels << " pixels";
                    EXPECT_EQ(avx512.back(), 0xA5) << "wrote past the row";
                }
            }
}

TEST(ColorTwist, NonFiniteElementsAreRefusedAndLeaveTheMatrixAsItWas) {
    TPXColorTwist filter;
    filter.ColorTwists().GreenTwist().SetBlue(0.25f);
    try {
        filter.ColorTwists().GreenTwist().SetBlue(std::numeric_limits<float>::quiet_NaN());
        FAIL() << "NaN was accepted";
    } catch (const EPropertyError& e) {
        EXPECT_STREQ(e.what(), "TPXColorChannelTwist.Blue: value must be a finite number");
    }
    EXPECT_THROW(filter.ColorTwists().RedTwist().SetOffset(std::numeric_limits<float>::infinity()), EPropertyError);
    EXPECT_THROW(SetPropertyText(filter, "ColorTwists.BlueTwist.Red", "inf"), EPropertyError);
    EXPECT_THROW(SetPropertyText(filter, "ColorTwists.BlueTwist.Red", "nan"), EPropertyError);
    EXPECT_THROW(LoadProperties(filter, nlohmann::json::parse(R"({"ColorTwists": {"RedTwist": {"Green": "NaN"}}})")),
                 EPropertyError);
    EXPECT_THROW(SetPropertyText(filter, "ColorTwists.BlueTwist.Red", "1e39"), EPropertyError);  // beyond Single

    TTwistMatrix bad = filter.ColorTwists().GetTwistArray();
    bad.M[0][0] = 2.0f;
    bad.M[2][3] = -std::numeric_limits<float>::infinity();
    try {
        filter.ColorTwists().SetTwistArray(bad);
        FAIL() << "an infinite element was accepted";
    } catch (const EPropertyError& e) {
        EXPECT_NE(std::string(e.what()).find("element 3 of row 2 must be a finite number"), std::string::npos) << e.what();
    }
    const TTwistMatrix kept = filter.ColorTwists().GetTwistArray();
    EXPECT_EQ(kept.M[0][0], 0.0f) << "a refused matrix was partly stored";
    EXPECT_EQ(kept.M[1][2], 0.25f);

    EXPECT_THROW(filter.ColorTwists().Row(3), ERangeError);
    EXPECT_THROW(filter.ColorTwists().RedTwist().SetElement(4, 1.0f), ERangeError);
    EXPECT_THROW(filter.ColorTwists().RedTwist().GetElement(-1), ERangeError);
}

TEST(ColorTwist, MatrixPersistsAndSettingTheTwistsCopiesThem) {
    TPXColorTwist a;
    const TTwistMatrix m = RandomMatrix(99);
    SetMatrix(a, m);
    nlohmann::json saved;
    SaveProperties(a, saved);
    ASSERT_TRUE(saved["ColorTwists"]["GreenTwist"].contains("Offset"));
    TPXColorTwist b;
    LoadProperties(b, saved);
    const TTwistMatrix loaded = b.ColorTwists().GetTwistArray();
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 4; ++i) EXPECT_EQ(loaded.M[k][i], m.M[k][i]) << k << "," << i;

    EXPECT_EQ(GetPropertyText(a, "ColorTwists.RedTwist.Red"), GetPropertyText(b, "ColorTwists.RedTwist.Red"));
    SetPropertyText(b, "ColorTwists.BlueTwist.Offset", "-12.5");
    EXPECT_EQ(b.ColorTwists().BlueTwist().GetOffset(), -12.5f);

    TPXColorTwist c;
    c.SetColorTwists(a.ColorTwists());
    a.ColorTwists().RedTwist().SetRed(42.0f);
    EXPECT_EQ(c.ColorTwists().GetTwistArray().M[0][0], m.M[0][0]) << "the twists were shared, not copied";
}

}  // namespace
}  // namespace pixora
