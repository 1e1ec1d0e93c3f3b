// Negative, solarize and rectangle copy kernels against a slow per-sample reference.
#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

#include "platform/kernels/Point.h"
#include "tests/kernels/KernelTestImage.h"

namespace pixora {
namespace {

using test::TPlane;

enum class TOp { Negative, Solarize };

// The per-sample results, in wide signed arithmetic.
template <class T>
T ReferenceSample(TOp op, T s, T param) {
    const long full = long(T(~T(0)));
    if (op == TOp::Negative) {
        const long v = long(param) - long(s);
        return T(v < 0 ? 0 : v);
    }
    return long(s) < long(param) ? T(full - long(s)) : s;
}

template <class T>
void RunTemplate(TOp op, ConstView<T> src, View<T> dst, TRect r, T param) {
    if (op == TOp::Negative)
        kernels::SubtractFromConstant2D(src, dst, r, param);
    else
        kernels::Solarize2D(src, dst, r, param);
}

// Checks every sample of after (padding included): inside r it is the reference of src, anywhere
// else it equals before. Reports the first mismatch and the count.
template <class T>
void ExpectRegionResult(const TPlane<T>& src, const TPlane<T>& before, const TPlane<T>& after, TRect r,
                        TOp op, T param) {
    ASSERT_EQ(before.Samples.size(), after.Samples.size());
    std::size_t bad = 0;
    std::string first;
    for (int y = 0; y < after.Height; ++y) {
        for (std::ptrdiff_t i = 0; i < after.Stride; ++i) {
            const std::size_t at = std::size_t(y * after.Stride + i);
            const int x = int(i / after.Channels);
            const bool inside = i < std::ptrdiff_t(after.Width) * after.Channels && x >= r.X &&
                                x < r.X + r.Width && y >= r.Y && y < r.Y + r.Height;
            const T want = inside ? ReferenceSample(op, src.Samples[at], param) : before.Samples[at];
            if (after.Samples[at] != want && bad++ == 0)
                first = "sample " + std::to_string(i) + " of row " + std::to_string(y) + ": got " +
                        std::to_string(after.Samples[at]) + ", want " + std::to_string(want) +
                        (inside ? " (inside)" : " (outside)");
        }
    }
    EXPECT_EQ(bad, 0u) << first;
}

// Regions that matter for a kernel walking rows: the whole frame, strips touching each edge, an
// interior block, one corner pixel and an empty rectangle.
std::vector<TRect> RegionsOf(int w, int h) {
    std::vector<TRect> regions = {
        {0, 0, w, h},
        {0, 0, (w + 1) / 2, h},                  // touches left, top and bottom
        {w / 2, 0, w - w / 2, h},                // touches right
        {0, 0, w, (h + 1) / 2},                  // touches top
        {0, h / 2, w, h - h / 2},                // touches bottom
        {w - 1, h - 1, 1, 1},                    // bottom-right pixel
        {0, 0, 0, h},                            // empty
    };
    if (w > 2 && h > 2) regions.push_back({1, 1, w - 2, h - 2});  // interior
    return regions;
}

struct TShape {
    int Width, Height, Channels, Pad;
};

template <class T>
void CheckShapes(const std::vector<TShape>& shapes, const std::vector<T>& params) {
    uint32_t seed = 1;
    for (const TShape& shape : shapes) {
        for (const TRect& r : RegionsOf(shape.Width, shape.Height)) {
            for (TOp op : {TOp::Negative, TOp::Solarize}) {
                for (T param : params) {
                    SCOPED_TRACE(testing::Message()
                                 << (op == TOp::Negative ? "negative " : "solarize ") << shape.Width << "x"
                                 << shape.Height << "x" << shape.Channels << " pad " << shape.Pad
                                 << " rect " << r.X << "," << r.Y << " " << r.Width << "x" << r.Height
                                 << " param " << +param);
                    const TPlane<T> src(shape.Width, shape.Height, shape.Channels, shape.Pad, seed++);
                    TPlane<T> dst(shape.Width, shape.Height, shape.Channels, shape.Pad, seed++);
                    const TPlane<T> before = dst;
                    RunTemplate<T>(op, src.AsConstView(), dst.AsView(), r, param);
                    ExpectRegionResult(src, before, dst, r, op, param);
                }
            }
        }
    }
}

// Widths below, at and past the vector widths, one, three and four channels, tight and padded rows.
TEST(PointKernels, EightBitRegionsAndStrides) {
    std::vector<TShape> shapes;
    for (int w : {1, 2, 37, 67})
        for (int h : {1, 2, 5})
            for (int c : {1, 3, 4})
                for (int pad : {0, 7}) shapes.push_back({w, h, c, pad});
    CheckShapes<uint8_t>(shapes, {0, 1, 128, 200, 255});
}

TEST(PointKernels, SixteenBitRegionsAndStrides) {
    std::vector<TShape> shapes;
    for (int w : {1, 2, 37, 67})
        for (int h : {1, 2, 5})
            for (int c : {1, 3})
                for (int pad : {0, 5}) shapes.push_back({w, h, c, pad});
    CheckShapes<uint16_t>(shapes, {0, 1, 256, 32768, 65534, 65535});
}

TEST(PointKernels, FullHdFrameWithPaddedRows) {
    CheckShapes<uint8_t>({{1920, 4, 3, 64}, {1920, 3, 4, 0}}, {255, 77});
    CheckShapes<uint16_t>({{1920, 3, 1, 32}}, {65535, 4000});
}

// Every 8-bit sample value against every constant and level.
TEST(PointKernels, AllEightBitValuesAndParameters) {
    TPlane<uint8_t> src(256, 1, 1, 0, 1);
    std::iota(src.Samples.begin(), src.Samples.end(), uint8_t(0));
    for (int p = 0; p < 256; ++p) {
        for (TOp op : {TOp::Negative, TOp::Solarize}) {
            TPlane<uint8_t> dst(256, 1, 1, 0, 2);
            RunTemplate<uint8_t>(op, src.AsConstView(), dst.AsView(), {0, 0, 256, 1}, uint8_t(p));
            for (int v = 0; v < 256; ++v)
                ASSERT_EQ(dst.Samples[v], ReferenceSample(op, uint8_t(v), uint8_t(p)))
                    << "value " << v << " parameter " << p;
        }
    }
}

// Every 16-bit sample value, in one row, against constants and levels around the edges.
TEST(PointKernels, AllSixteenBitValues) {
    TPlane<uint16_t> src(65536, 1, 1, 0, 1);
    std::iota(src.Samples.begin(), src.Samples.end(), uint16_t(0));
    for (uint16_t p : {0, 1, 255, 256, 32767, 32768, 40000, 65534, 65535}) {
        for (TOp op : {TOp::Negative, TOp::Solarize}) {
            TPlane<uint16_t> dst(65536, 1, 1, 0, 2);
            RunTemplate<uint16_t>(op, src.AsConstView(), dst.AsView(), {0, 0, 65536, 1}, p);
            std::size_t bad = 0;
            for (int v = 0; v < 65536; ++v) bad += dst.Samples[v] != ReferenceSample(op, uint16_t(v), p);
            EXPECT_EQ(bad, 0u) << "parameter " << p;
        }
    }
}

// Level 0 copies, level full scale inverts everything but full scale itself; alpha included.
TEST(PointKernels, SolarizeLevelExtremes) {
    const TPlane<uint8_t> src(37, 5, 4, 3, 11);
    TPlane<uint8_t> dst(37, 5, 4, 3, 12);
    const TRect all{0, 0, 37, 5};
    kernels::Solarize2D<uint8_t>(src.AsConstView(), dst.AsView(), all, 0);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 37; ++x)
            for (int c = 0; c < 4; ++c) ASSERT_EQ(dst.At(x, y, c), src.At(x, y, c));

    kernels::Solarize2D<uint8_t>(src.AsConstView(), dst.AsView(), all, 255);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 37; ++x)
            for (int c = 0; c < 4; ++c) {
                const uint8_t s = src.At(x, y, c);
                ASSERT_EQ(dst.At(x, y, c), s == 255 ? 255 : 255 - s) << x << "," << y << " channel " << c;
            }

    TPlane<uint16_t> src16(67, 3, 1, 0, 13);
    src16.At(0, 0, 0) = 65535;
    TPlane<uint16_t> dst16(67, 3, 1, 0, 14);
    kernels::Solarize2D<uint16_t>(src16.AsConstView(), dst16.AsView(), {0, 0, 67, 3}, 65535);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 67; ++x) {
            const uint16_t s = src16.At(x, y, 0);
            ASSERT_EQ(dst16.At(x, y, 0), s == 65535 ? 65535 : 65535 - s);
        }
}

// Writing into the source frame gives what a separate destination would have received.
TEST(PointKernels, InPlaceEqualsOutOfPlace) {
    for (TOp op : {TOp::Negative, TOp::Solarize}) {
        const TPlane<uint8_t> src(67, 4, 3, 9, 21);
        TPlane<uint8_t> inPlace = src;
        const TRect r{3, 1, 50, 2};
        RunTemplate<uint8_t>(op, inPlace.AsConstView(), inPlace.AsView(), r, uint8_t(90));
        ExpectRegionResult(src, src, inPlace, r, op, uint8_t(90));
    }
}

// The row bodies compiled without run-time dispatch (this file is built for the x86-64 baseline)
// against the reference at every start alignment and at lengths around the vector widths.
TEST(PointKernels, BaselineRowBodiesAtEveryAlignment) {
    std::vector<uint8_t> src8(200), dst8(200);
    std::vector<uint16_t> src16(200), dst16(200);
    test::FillRandom(src8, 31);
    test::FillRandom(src16, 32);
    for (std::size_t offset = 0; offset < 32; ++offset) {
        for (std::size_t n : {0, 1, 15, 16, 17, 31, 32, 33, 63, 64, 65, 100, 160}) {
            kernels::detail::SolarizeSamples<uint8_t>(src8.data() + offset, dst8.data() + offset, n, 100);
            for (std::size_t i = 0; i < n; ++i)
                ASSERT_EQ(dst8[offset + i], ReferenceSample<uint8_t>(TOp::Solarize, src8[offset + i], 100));
            kernels::detail::SubtractFromConstantSamples<uint8_t>(src8.data() + offset, dst8.data() + offset, n, 180);
            for (std::size_t i = 0; i < n; ++i)
                ASSERT_EQ(dst8[offset + i], ReferenceSample<uint8_t>(TOp::Negative, src8[offset + i], 180));
            kernels::detail::SolarizeSamples<uint16_t>(src16.data() + offset, dst16.data() + offset, n, 30000);
            for (std::size_t i = 0; i < n; ++i)
                ASSERT_EQ(dst16[offset + i], ReferenceSample<uint16_t>(TOp::Solarize, src16[offset + i], 30000));
            kernels::detail::SubtractFromConstantSamples<uint16_t>(src16.data() + offset, dst16.data() + offset, n,
                                                                   50000);
            for (std::size_t i = 0; i < n; ++i)
                ASSERT_EQ(dst16[offset + i], ReferenceSample<uint16_t>(TOp::Negative, src16[offset + i], 50000));
        }
    }
}

TEST(PointKernels, CopyRectCopiesOnlyTheRectangle) {
    for (const TRect& r : RegionsOf(37, 6)) {
        const TPlane<uint16_t> src(37, 6, 3, 4, 41);
        TPlane<uint16_t> dst(37, 6, 3, 4, 42);
        const TPlane<uint16_t> before = dst;
        kernels::CopyRect(src.AsConstView(), dst.AsView(), r);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 37; ++x)
                for (int c = 0; c < 3; ++c) {
                    const bool inside = x >= r.X && x < r.X + r.Width && y >= r.Y && y < r.Y + r.Height;
                    ASSERT_EQ(dst.At(x, y, c), inside ? src.At(x, y, c) : before.At(x, y, c));
                }
    }
}

// ---- Framework-shaped entry points -------------------------------------------------------------

// 8-bit calls take byte line sizes and a channel count; the rectangle is cut to both frames.
TEST(PointPrimitives, EightBitLineSizesAndClipping) {
    const TPlane<uint8_t> src(40, 9, 3, 6, 51);
    for (TOp op : {TOp::Negative, TOp::Solarize}) {
        TPlane<uint8_t> dst(33, 7, 3, 2, 52);  // smaller than the source
        const TPlane<uint8_t> before = dst;
        const TRect asked{-4, 2, 100, 100};
        if (op == TOp::Negative)
            kernels::SubtractFromConstant2D8bit(src.Samples.data(), int(src.Stride), {40, 9}, dst.Samples.data(),
                                                int(dst.Stride), {33, 7}, 3, asked, 255);
        else
            kernels::Solarize2D8bit(src.Samples.data(), int(src.Stride), {40, 9}, dst.Samples.data(),
                                    int(dst.Stride), {33, 7}, 3, asked, 128);
        const TRect clipped{0, 2, 33 - 0, 7 - 2};
        // The reference reads the source at the destination's coordinates.
        TPlane<uint8_t> srcAtDst = before;
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 33; ++x)
                for (int c = 0; c < 3; ++c) srcAtDst.At(x, y, c) = src.At(x, y, c);
        ExpectRegionResult(srcAtDst, before, dst, clipped, op, uint8_t(op == TOp::Negative ? 255 : 128));
    }
}

// 16-bit calls take word line sizes and one channel.
TEST(PointPrimitives, SixteenBitWordLineSizes) {
    const TPlane<uint16_t> src(67, 5, 1, 3, 61);
    for (TOp op : {TOp::Negative, TOp::Solarize}) {
        TPlane<uint16_t> dst(67, 5, 1, 3, 62);
        const TPlane<uint16_t> before = dst;
        const TRect r{5, 1, 60, 3};
        if (op == TOp::Negative)
            kernels::SubtractFromConstant2D16bit(src.Samples.data(), int(src.Stride), {67, 5}, dst.Samples.data(),
                                                 int(dst.Stride), {67, 5}, 1, r, 65535);
        else
            kernels::Solarize2D16bit(src.Samples.data(), int(src.Stride), {67, 5}, dst.Samples.data(),
                                     int(dst.Stride), {67, 5}, 1, r, 20000);
        ExpectRegionResult(src, before, dst, r, op, uint16_t(op == TOp::Negative ? 65535 : 20000));
    }
}

// Calls that cannot address anything write nothing and do not crash.
TEST(PointPrimitives, UnusableCallsWriteNothing) {
    const TPlane<uint8_t> src(8, 4, 1, 0, 71);
    TPlane<uint8_t> dst(8, 4, 1, 0, 72);
    const TPlane<uint8_t> before = dst;
    const TSize size{8, 4};
    kernels::SubtractFromConstant2D8bit(nullptr, 8, size, dst.Samples.data(), 8, size, 1, {0, 0, 8, 4}, 255);
    kernels::Solarize2D8bit(src.Samples.data(), 8, size, dst.Samples.data(), 8, size, 0, {0, 0, 8, 4}, 255);
    kernels::Solarize2D8bit(src.Samples.data(), 8, size, dst.Samples.data(), 8, size, 1, {8, 0, 4, 4}, 255);
    kernels::Solarize2D8bit(src.Samples.data(), 8, size, dst.Samples.data(), 8, size, 1, {-5, -5, 5, 9}, 255);
    kernels::SubtractFromConstant2D8bit(src.Samples.data(), 8, size, dst.Samples.data(), 8, size, 1,
                                        {2, 1, -3, 2}, 255);
    kernels::Solarize2D16bit(nullptr, 8, size, nullptr, 8, size, 1, {0, 0, 8, 4}, 1);
    EXPECT_EQ(dst.Samples, before.Samples);
}

}  // namespace
}  // namespace pixora
