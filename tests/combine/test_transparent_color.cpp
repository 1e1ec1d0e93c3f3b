// Transparent colour: the key ranges' bounds, the key test and the per-format keying step
// against slow references.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/kernels/Combine.h"

namespace pixora {
namespace {

// A pixel row block of one format with random content.
struct TKeyFrame {
    TPXVideoFormat Format;
    int Width, Height, PixelBytes;
    std::ptrdiff_t Step;
    std::vector<uint8_t> Bytes;
    TKeyFrame(TPXVideoFormat format, int w, int h, uint32_t seed)
        : Format(format), Width(w), Height(h),
          PixelBytes(format == vfRGBA32 ? 4 : format == vfRGB24 ? 3 : format == vfGray16 ? 2 : 1),
          Step(std::ptrdiff_t(w) * PixelBytes + 4), Bytes(std::size_t(Step) * std::size_t(h)) {
        std::mt19937 rng(seed);
        for (uint8_t& b : Bytes) b = uint8_t(rng());
    }
    uint8_t* Px(int x, int y) { return Bytes.data() + y * Step + x * PixelBytes; }
    const uint8_t* Px(int x, int y) const { return Bytes.data() + y * Step + x * PixelBytes; }
};

// The red, green, blue the key test sees for a pixel of this format.
void ReferenceRgb(TPXVideoFormat format, const uint8_t* p, int rgb[3]) {
    if (format == vfGray8) {
        rgb[0] = rgb[1] = rgb[2] = p[0];
    } else if (format == vfGray16) {
        uint16_t s;
        std::memcpy(&s, p, 2);
        rgb[0] = rgb[1] = rgb[2] = s / 256;
    } else {
        rgb[0] = p[2], rgb[1] = p[1], rgb[2] = p[0];
    }
}

bool ReferenceKeyed(TPXVideoFormat format, const uint8_t* p, const std::vector<kernels::TColorKeyRange>& ranges) {
    int rgb[3];
    ReferenceRgb(format, p, rgb);
    for (const auto& r : ranges)
        if (rgb[0] >= r.RedLow && rgb[0] <= r.RedHigh && rgb[1] >= r.GreenLow && rgb[1] <= r.GreenHigh &&
            rgb[2] >= r.BlueLow && rgb[2] <= r.BlueHigh)
            return true;
    return false;
}

void ReferencePixel(TPXVideoFormat format, const uint8_t* f, const uint8_t* b, uint8_t* out,
                    const std::vector<kernels::TColorKeyRange>& ranges) {
    const bool keyed = ReferenceKeyed(format, f, ranges);
    if (format != vfRGBA32) {
        const int n = format == vfRGB24 ? 3 : format == vfGray16 ? 2 : 1;
        std::memcpy(out, keyed ? b : f, std::size_t(n));
        return;
    }
    const double a = f[3];
    for (int c = 0; c < 3; ++c) {
        if (keyed || a == 0) out[c] = b[c];
        else if (a == 255) out[c] = f[c];
        else out[c] = uint8_t(std::lround(f[c] * (a / 255.0) + b[c] * (1.0 - a / 255.0)));
    }
    out[3] = uint8_t(std::min(255, f[3] + b[3]));
}

TEST(TransparentColorKernel, EveryFormatMatchesTheReference) {
    // Ranges wide enough that random pixels hit them now and then.
    std::vector<kernels::TColorKeyRange> ranges(2);
    ranges[0] = {0, 120, 100, 255, 0, 140};
    ranges[1] = {200, 255, 0, 90, 150, 255};
    uint32_t seed = 3;
    for (TPXVideoFormat format : {vfRGB24, vfRGBA32, vfGray8, vfGray16})
        for (int count : {0, 1, 2}) {
            const std::vector<kernels::TColorKeyRange> used(ranges.begin(), ranges.begin() + count);
            const TKeyFrame f(format, 37, 23, seed++), b(format, 37, 23, seed++), before(format, 37, 23, seed++);
            TKeyFrame d = before;
            kernels::TransparentColorOp(format, f.Px(1, 1), f.Step, b.Px(1, 1), b.Step, d.Px(1, 1), d.Step, {35, 21},
                                        used.data(), count);
            int keyed = 0;
            for (int y = 0; y < 23; ++y)
                for (int x = 0; x < 37; ++x) {
                    const bool inside = x >= 1 && x < 36 && y >= 1 && y < 22;
                    uint8_t want[4];
                    if (inside) {
                        ReferencePixel(format, f.Px(x, y), b.Px(x, y), want, used);
                        keyed += ReferenceKeyed(format, f.Px(x, y), used);
                    } else {
                        std::memcpy(want, before.Px(x, y), std::size_t(d.PixelBytes));
                    }
                    ASSERT_EQ(std::memcmp(d.Px(x, y), want, std::size_t(d.PixelBytes)), 0)
                        << "format " << int(format) << " ranges " << count << " at " << x << "," << y;
                }
            if (count > 0) {
                EXPECT_GT(keyed, 0) << "the ranges never matched: the test proves little";
            }
        }
}

TEST(TransparentColorKernel, EmptyRangeListKeysNothingButAlphaZeroStillShowsTheBackground) {
    TKeyFrame f(vfRGBA32, 3, 1, 1), b(vfRGBA32, 3, 1, 2), d(vfRGBA32, 3, 1, 3);
    f.Px(0, 0)[3] = 0;
    f.Px(1, 0)[3] = 255;
    f.Px(2, 0)[3] = 128;
    kernels::TransparentColorOp(vfRGBA32, f.Px(0, 0), f.Step, b.Px(0, 0), b.Step, d.Px(0, 0), d.Step, {3, 1}, nullptr, 0);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(d.Px(0, 0)[c], b.Px(0, 0)[c]);
        EXPECT_EQ(d.Px(1, 0)[c], f.Px(1, 0)[c]);
        const double mix = f.Px(2, 0)[c] * (128.0 / 255.0) + b.Px(2, 0)[c] * (127.0 / 255.0);
        EXPECT_EQ(d.Px(2, 0)[c], uint8_t(std::lround(mix)));
    }
    EXPECT_EQ(d.Px(2, 0)[3], std::min(255, 128 + b.Px(2, 0)[3]));
    for (TPXVideoFormat format : {vfRGB24, vfGray8}) {
        const TKeyFrame g(format, 5, 2, 9), bg(format, 5, 2, 10);
        TKeyFrame out(format, 5, 2, 11);
        kernels::TransparentColorOp(format, g.Px(0, 0), g.Step, bg.Px(0, 0), bg.Step, out.Px(0, 0), out.Step, {5, 2},
                                    nullptr, 0);
        for (int y = 0; y < 2; ++y)
            EXPECT_EQ(std::memcmp(out.Px(0, y), g.Px(0, y), std::size_t(5 * g.PixelBytes)), 0);
    }
}

TEST(TransparentColorKernel, Gray16KeysOnTheHighByte) {
    kernels::TColorKeyRange r{10, 10, 10, 10, 10, 10};
    TKeyFrame f(vfGray16, 2, 1, 1), b(vfGray16, 2, 1, 2), d(vfGray16, 2, 1, 3);
    const uint16_t in = 0x0AFF, out = 0x0BFF;  // high bytes 10 and 11
    std::memcpy(f.Px(0, 0), &in, 2);
    std::memcpy(f.Px(1, 0), &out, 2);
    kernels::TransparentColorOp(vfGray16, f.Px(0, 0), f.Step, b.Px(0, 0), b.Step, d.Px(0, 0), d.Step, {2, 1}, &r, 1);
    EXPECT_EQ(std::memcmp(d.Px(0, 0), b.Px(0, 0), 2), 0);
    EXPECT_EQ(std::memcmp(d.Px(1, 0), f.Px(1, 0), 2), 0);
}

}  // namespace
}  // namespace pixora
