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
#include <nlohmann/json.hpp>

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

// ---- The component ----------------------------------------------------------------------------

#include "filters/combine/PXTransparentColor.h"
#include "frame/PixoraPkg.h"
#include "platform/registry/PXRegistry.h"

namespace pixora {
namespace {

IPXImageBuffer SolidFrame(int w, int h, TPXVideoFormat format, std::vector<uint8_t> pixel) {
    IPXImageBuffer f = TPXImageBuffer::CreateSize(w, h, format);
    uint8_t* p = f->GetWritePointer();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            std::memcpy(p + y * f->GetLineSize() + x * int(pixel.size()), pixel.data(), pixel.size());
    return f;
}

TEST(TransparentColor, DefaultRangeKeysNearGreenOnly) {
    TChangeNotifyLock lock;
    TPXColorRange range(lock);
    EXPECT_EQ(range.GetColor(), 32768u);
    EXPECT_EQ(range.GetToleranceRed(), 5);
    EXPECT_TRUE(range.InRage(3, 130, 5));
    EXPECT_FALSE(range.InRage(3, 134, 5));
    EXPECT_TRUE(range.InRage(0, 123, 0));
    EXPECT_FALSE(range.InRage(6, 128, 0));
}

TEST(TransparentColor, RedAndBlueTolerancesActOnTheOppositeChannel) {
    TChangeNotifyLock lock;
    TPXColorRange range(lock);
    range.SetColor(KDRGB(100, 100, 100));
    range.SetToleranceRed(0);
    range.SetToleranceGreen(0);
    range.SetToleranceBlue(10);
    EXPECT_TRUE(range.InRage(108, 100, 100));
    EXPECT_FALSE(range.InRage(100, 100, 108));
    // Bounds stop at 0 and 255.
    range.SetColor(KDRGB(250, 3, 7));
    range.SetToleranceBlue(20);
    range.SetToleranceGreen(20);
    range.SetToleranceRed(7);
    const kernels::TColorKeyRange b = range.GetBounds();
    EXPECT_EQ(b.RedLow, 230);
    EXPECT_EQ(b.RedHigh, 255);
    EXPECT_EQ(b.GreenLow, 0);
    EXPECT_EQ(b.GreenHigh, 23);
    EXPECT_EQ(b.BlueLow, 0);
    EXPECT_EQ(b.BlueHigh, 14);
}

TEST(TransparentColor, CollectionKeysWhenAnyRangeMatchesAndPersists) {
    TPXTransparentColor tc;
    EXPECT_FALSE(ColorRangesInRage(tc.GetTransparentColors(), 0, 128, 0));
    tc.GetTransparentColors().Add();
    auto& red = tc.GetTransparentColors().Add();
    red.SetColor(KDRGB(200, 0, 0));
    EXPECT_TRUE(ColorRangesInRage(tc.GetTransparentColors(), 0, 128, 0));
    EXPECT_TRUE(ColorRangesInRage(tc.GetTransparentColors(), 198, 2, 4));
    EXPECT_FALSE(ColorRangesInRage(tc.GetTransparentColors(), 100, 100, 100));
    EXPECT_EQ(red.GetDisplayName(), "$000000C8");
    nlohmann::json j;
    SaveProperties(tc, j);
    TPXTransparentColor back;
    LoadProperties(back, j);
    ASSERT_EQ(back.GetTransparentColors().Count(), 2);
    EXPECT_TRUE(ColorRangesInRage(back.GetTransparentColors(), 198, 2, 4));
    EXPECT_TRUE(back.GetEnabled());
}

TEST(TransparentColor, KeyedForegroundShowsTheBackgroundInEveryFormat) {
    TPXTransparentColor tc;
    tc.GetTransparentColors().Add();  // the default green range
    // Two pixels: keyed green, then a grey that is not keyed.
    for (TPXVideoFormat format : {vfRGB24, vfRGBA32}) {
        const int n = format == vfRGBA32 ? 4 : 3;
        IPXImageBuffer fg = TPXImageBuffer::CreateSize(2, 1, format);
        uint8_t* p = fg->GetWritePointer();
        const uint8_t green[4] = {5, 130, 3, 255}, grey[4] = {90, 90, 90, 255};
        std::memcpy(p, green, std::size_t(n));
        std::memcpy(p + n, grey, std::size_t(n));
        const IPXImageBuffer bg = SolidFrame(2, 1, format, n == 4 ? std::vector<uint8_t>{10, 20, 30, 40}
                                                                  : std::vector<uint8_t>{10, 20, 30});
        const IPXImageBuffer out = tc.CombineFrames(fg, bg);
        ASSERT_EQ(out->GetFormat(), format);
        const uint8_t* o = out->GetReadPointer();
        EXPECT_EQ(o[0], 10);
        EXPECT_EQ(o[1], 20);
        EXPECT_EQ(o[2], 30);
        EXPECT_EQ(o[n], 90);
        if (n == 4) {
            EXPECT_EQ(o[3], 255);  // min(255, 255 + 40)
        }
    }
    // Grey input: the sample counts for all three channels; 16-bit by its high byte.
    TPXTransparentColor grey;
    auto& r = grey.GetTransparentColors().Add();
    r.SetColor(KDRGB(50, 50, 50));
    const IPXImageBuffer fg8 = SolidFrame(3, 2, vfGray8, {52}), bg8 = SolidFrame(3, 2, vfGray8, {7});
    EXPECT_EQ(grey.CombineFrames(fg8, bg8)->GetReadPointer()[0], 7);
    const IPXImageBuffer fg16 = SolidFrame(3, 2, vfGray16, {0x00, 0x33}), bg16 = SolidFrame(3, 2, vfGray16, {1, 2});
    const uint8_t* o16 = grey.CombineFrames(fg16, bg16)->GetReadPointer();
    EXPECT_EQ(o16[0], 1);
    EXPECT_EQ(o16[1], 2);
}

TEST(TransparentColor, IsRegisteredAsAFilter) {
    RegisterPackage();
    const TComponentClass* cls = TRegistry::Instance().Find("TPXTransparentColor");
    ASSERT_NE(cls, nullptr);
    EXPECT_EQ(cls->DisplayName, "Combine Videos with Color Transparency(Green Screeen)");
    EXPECT_EQ(cls->Categories, std::vector<std::string>{"TPixoraFiltersToolbarCategory"});
    TComponentPtr c = TRegistry::Instance().Create("TPXTransparentColor");
    c->FindPin("InputPin");
    c->FindPin("BackgroundInputPin");
    c->FindPin("OutputPin");
}

}  // namespace
}  // namespace pixora
