// Image adjust: the documented cases, the colour step against an independent double-precision
// reference over a dense sample of colours, bands equal to one call, and the OpenCL kernel equal
// to the CPU path (exactly where Brightness × 255 is whole, within one otherwise).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "filters/point/PXImageAdjust.h"
#include "support/SlowPoint.h"

namespace pixora {
namespace {

IPXImageBuffer OnePixel(uint8_t a, uint8_t b, uint8_t c, TPXVideoFormat format = vfRGB24) {
    IPXImageBuffer frame = TPXImageBuffer::CreateSize(1, 1, format);
    uint8_t* p = frame->GetWritePointer();
    p[0] = a, p[1] = b, p[2] = c;
    if (format == vfRGBA32) p[3] = 77;
    return frame;
}

std::array<int, 4> PixelOf(const IPXImageBuffer& frame) {
    const uint8_t* p = frame->GetReadPointer();
    return {p[0], p[1], p[2], frame->GetFormat() == vfRGBA32 ? p[3] : -1};
}

TEST(ImageAdjust, DocumentedCases) {
    TPXImageAdjust adjust;
    adjust.SetThreaded(false);
    const IPXImageBuffer red = OnePixel(255, 0, 0);
    EXPECT_EQ(adjust.ProcessFrame(red)->GetReadPointer(), red->GetReadPointer()) << "defaults leave the frame alone";
    adjust.SetHue(0.5f);
    EXPECT_EQ(PixelOf(adjust.ProcessFrame(red)), (std::array<int, 4>{0, 255, 255, -1}));
    adjust.SetHue(0.0f);
    adjust.SetSaturation(1.01f);  // a hue in [120, 180) degrees: 150 for (20, 200, 110)
    const auto hueOf = [](const std::array<int, 4>& p) {
        const double r = p[0], g = p[1], b = p[2], mx = std::max({r, g, b}), mn = std::min({r, g, b});
        return ((b - r) / (mx - mn) + 2.0) * 60.0;  // the second component is the largest here
    };
    const auto cyanish = PixelOf(adjust.ProcessFrame(OnePixel(20, 200, 110)));
    EXPECT_NEAR(hueOf(cyanish), 150.0, 0.5);
    EXPECT_GT(cyanish[1], cyanish[2]);
    EXPECT_GT(cyanish[2], cyanish[0]);
    adjust.SetSaturation(1.0f);
    adjust.SetBrightness(-1.0f);
    EXPECT_EQ(PixelOf(adjust.ProcessFrame(OnePixel(255, 128, 3, vfRGBA32))), (std::array<int, 4>{0, 0, 0, 77}));
    adjust.SetBrightness(0.0f);
    adjust.SetContrast(2.0f);
    EXPECT_EQ(PixelOf(adjust.ProcessFrame(OnePixel(200, 100, 10))), (std::array<int, 4>{255, 200, 20, -1}));
    adjust.SetHue(7.0f);
    EXPECT_FLOAT_EQ(adjust.GetHue(), 1.0f);
    EXPECT_THROW(SetPropertyText(adjust, "Contrast", "nan"), EPropertyError);
}

// The colour step written from its definition in double precision.
std::array<double, 3> ReferenceHLS(const uint8_t in[3], double hue, double saturation, double lightness) {
    const double r = in[0] / 255.0, g = in[1] / 255.0, b = in[2] / 255.0;
    const double mx = std::max({r, g, b}), mn = std::min({r, g, b}), c0 = mx - mn;
    const auto fmod1 = [](double a, double m) { return a - m * std::floor(a / m); };
    double l = (mx + mn) / 2, h = 0, s = 0;
    if (c0 != 0) {
        s = c0 / (1 - std::fabs(2 * l - 1));
        h = (mx == r ? fmod1((g - b) / c0, 6) : mx == g ? (b - r) / c0 + 2 : (r - g) / c0 + 4) / 6;
    }
    h = fmod1(h + hue, 1);
    l = std::min(l * lightness, 1.0);
    s = std::min(s * saturation, 1.0);
    const double deg = h * 360, c = (1 - std::fabs(2 * l - 1)) * s, x = c * (1 - std::fabs(fmod1(deg / 60, 2) - 1)),
                 m = l - c / 2;
    const int sector = int(deg / 60);
    const double table[6][3] = {{c, x, 0}, {x, c, 0}, {0, c, x}, {0, x, c}, {x, 0, c}, {c, 0, x}};
    const double* t = table[std::min(sector, 5)];
    return {(t[0] + m) * 255, (t[1] + m) * 255, (t[2] + m) * 255};
}

TEST(ImageAdjust, ColourStepFollowsTheDefinitionOverADenseSample) {
    const struct {
        float Hue, Saturation, Lightness;
    } settings[] = {{0.25f, 1.0f, 1.0f}, {-0.3f, 0.5f, 1.2f}, {0.0f, 2.0f, 0.8f}, {0.9f, 1.3f, 0.5f}};
    for (const auto& setting : settings) {
        int worst = 0;
        for (int r = 0; r < 256; r += 5)
            for (int g = 0; g < 256; g += 3)
                for (int b = 0; b < 256; b += 7) {
                    const uint8_t in[3] = {uint8_t(r), uint8_t(g), uint8_t(b)};
                    uint8_t out[3];
                    kernels::AdjustHLS(in, out, setting.Hue, setting.Saturation, setting.Lightness);
                    const auto expected = ReferenceHLS(in, setting.Hue, setting.Saturation, setting.Lightness);
                    for (int k = 0; k < 3; ++k)
                        worst = std::max(worst, int(std::fabs(out[k] - std::clamp(expected[std::size_t(k)], 0.0, 255.0)) + 0.5));
                }
        // Single precision may round the other way next to .5 or land one sector over at a
        // sector boundary: never by more than one level.
        EXPECT_LE(worst, 1) << setting.Hue << " " << setting.Saturation << " " << setting.Lightness;
    }
}

// The frame kernel (16 pixels per vector where the CPU allows) gives, for every one of the 2^24
// colours, exactly the bytes of the one-pixel colour step.
TEST(ImageAdjust, FrameKernelEqualsThePixelStepForEveryColour) {
    constexpr int side = 4096;
    std::vector<uint8_t> src(std::size_t(side) * side * 3), dst(src.size());
    for (std::size_t i = 0; i < std::size_t(side) * side; ++i) {
        src[3 * i] = uint8_t(i >> 16), src[3 * i + 1] = uint8_t(i >> 8), src[3 * i + 2] = uint8_t(i);
    }
    kernels::TImageAdjustParams params;
    params.Hue = 0.37f, params.Saturation = 1.3f, params.Lightness = 0.85f;
    kernels::ImageAdjust({src.data(), side * 3, side, side, 3}, {dst.data(), side * 3, side, side, 3},
                         {0, 0, side, side}, params);
    std::size_t mismatches = 0, first = 0;
    for (std::size_t i = 0; i < std::size_t(side) * side; ++i) {
        uint8_t expected[3];
        kernels::AdjustHLS(&src[3 * i], expected, params.Hue, params.Saturation, params.Lightness);
        if (std::memcmp(expected, &dst[3 * i], 3) != 0 && mismatches++ == 0) first = i;
    }
    EXPECT_EQ(mismatches, 0u) << "first differing colour 0x" << std::hex << first;
}

TEST(ImageAdjust, BandsEqualOneCallAndAlphaAndRegionHold) {
    const IPXImageBuffer in = reference::RandomFrame(37, 23, vfRGBA32, 21);
    TPXImageAdjust single, bands;
    for (TPXImageAdjust* f : {&single, &bands}) {
        f->SetThreaded(false);
        f->SetHue(0.2f);
        f->SetSaturation(0.7f);
        f->SetBrightness(0.1f);
        f->SetContrast(1.3f);
        f->RegionOfInterest().SetRectangle({4, 3, 30, 30});
        f->RegionOfInterest().SetEnabled(true);
    }
    bands.SetMultiCore(true);
    bands.SetBlockSize(10);
    const IPXImageBuffer a = single.ProcessFrame(in), b = bands.ProcessFrame(in);
    EXPECT_TRUE(reference::SamePixels(a, b));
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; ++x) {
            const uint8_t* pin = in->GetReadPointer() + y * in->GetLineSize() + x * 4;
            const uint8_t* pout = a->GetReadPointer() + y * a->GetLineSize() + x * 4;
            ASSERT_EQ(pout[3], pin[3]);
            if (x < 4 || y < 3) {
                ASSERT_EQ(std::memcmp(pin, pout, 4), 0);
            }
        }
}

TEST(ImageAdjust, OpenCLEqualsTheCPUPath) {
    ASSERT_FALSE(TOpenCL::Devices().empty()) << "no OpenCL platform: scripts/install-deps.sh installs pocl-opencl-icd";
    for (TPXVideoFormat format : {vfRGB24, vfRGBA32}) {
        const IPXImageBuffer in = reference::RandomFrame(37, 23, format, 5);
        for (const float brightness : {0.0f, 0.2f, -60.0f / 255.0f, 0.1f}) {
            TPXImageAdjust cpu, gpu;
            for (TPXImageAdjust* f : {&cpu, &gpu}) {
                f->SetThreaded(false);
                f->SetBrightness(brightness);
                f->SetContrast(1.1f);
                f->SetHue(brightness == 0.2f ? 0.0f : 0.3f);  // both kernels
                f->SetLightness(0.9f);
                f->RegionOfInterest().SetRectangle({2, 2, 30, 15});
                f->RegionOfInterest().SetEnabled(true);
            }
            gpu.SetOpenCLDevice("auto");
            const IPXImageBuffer a = cpu.ProcessFrame(in), b = gpu.ProcessFrame(in);
            ASSERT_TRUE(gpu.UsesOpenCL());
            const bool whole = std::nearbyint(brightness * 255.0f) == brightness * 255.0f;
            int worst = 0;
            for (int y = 0; y < 23; ++y)
                for (int i = 0; i < 37 * (format == vfRGBA32 ? 4 : 3); ++i)
                    worst = std::max(worst, std::abs(a->GetReadPointer()[y * a->GetLineSize() + i] -
                                                     b->GetReadPointer()[y * b->GetLineSize() + i]));
            EXPECT_LE(worst, whole ? 0 : 1) << "brightness " << brightness << " format " << int(format);
        }
    }
}

}  // namespace
}  // namespace pixora
