// The unsharp mask: its properties (defaults, Threshold clamping, bad Amount), the worked cases,
// and both blur kinds against a slow reference, bit for bit, on every native format, region and
// path (single call, bands, OpenCL on PoCL).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "filters/neighbourhood/PXUnsharp.h"
#include "frame/PixoraPkg.h"
#include "platform/ocl/PXOpenCL.h"
#include "platform/registry/PXRegistry.h"
#include "platform/threads/PXBandPool.h"
#include "support/FilterHarness.h"
#include "support/NeighbourhoodReference.h"

namespace pixora {
namespace {

using reference::NeighbourhoodChannels;
using reference::NeighbourhoodMaximum;
using reference::NoiseFrame;
using reference::ReadSample;
using reference::SameSamples;
using reference::WriteSample;

bool HaveOpenCL() { return !TOpenCL::Devices().empty(); }

int Mirror(int i, int n) {
    if (i < 0) return std::min(-i, n - 1);
    if (i >= n) return std::max(0, 2 * n - 1 - i);
    return i;
}

struct TSetup {
    TPXSmoothingKernelType Type = sktGauss;
    int Width = 3, Height = 3;
    float Sigma = 0;
    float Amount = 0.3f, Threshold = 0.1f;
};

// The documented arithmetic written out per sample: float sums (KY outer, KX inner, products and
// sums rounded one by one), v = I - blur * amount, the threshold on |v / MAX|, round half away.
IPXImageBuffer Reference(const IPXImageBuffer& in, TRect r, const TSetup& s, const std::vector<float>& matrix) {
    IPXImageBuffer out = TPXImageBuffer::CreateCopy(in);
    const int channels = NeighbourhoodChannels(in->GetFormat());
    const int maximum = NeighbourhoodMaximum(in->GetFormat());
    const float MAX = float(maximum);
    const int w = in->GetWidth(), h = in->GetHeight();
    for (int y = r.Y; y < r.Y + r.Height; ++y)
        for (int x = r.X; x < r.X + r.Width; ++x)
            for (int c = 0; c < channels; ++c) {
                const int I = ReadSample(in, x, y, c);
                if (s.Amount >= 1.0f) {
                    WriteSample(out, x, y, c, maximum);
                    continue;
                }
                float acc = 0.0f;
                for (int ky = 0; ky < s.Height; ++ky)
                    for (int kx = 0; kx < s.Width; ++kx) {
                        const float sample = float(ReadSample(in, Mirror(x - s.Width / 2 + kx, w), Mirror(y - s.Height / 2 + ky, h), c));
                        if (s.Type == sktGauss) {
                            const float product = matrix[std::size_t(ky * s.Width + kx)] * sample;
                            acc = acc + product;
                        } else {
                            acc = acc + sample;
                        }
                    }
                if (s.Type == sktAverage) acc = float(1.0 / (double(s.Width) * s.Height)) * acc;
                const float product = acc * s.Amount;
                const float v = float(I) - product;
                int result = I;
                if (std::fabs(v / MAX) > s.Threshold) {
                    const float q = std::round(v / (1.0f - s.Amount));
                    result = q < 0 ? 0 : q > MAX ? maximum : int(q);
                }
                WriteSample(out, x, y, c, result);
            }
    return out;
}

void Configure(TPXUnsharp& filter, const TSetup& s) {
    filter.SetThreaded(false);
    filter.Kernel().SetKernelType(s.Type);
    filter.Kernel().SetSize(s.Width, s.Height);
    filter.Kernel().SetSigmaX(s.Sigma);
    filter.Kernel().SetSigmaY(s.Sigma);
    filter.SetAmount(s.Amount);
    filter.SetThreshold(s.Threshold);
}

enum class TPath { Single, BandsBelowRow, BandsOneRow, BandsAboveFrame, OpenCL };

void ApplyPath(TPXUnsharp& filter, TPath path, const IPXImageBuffer& in) {
    filter.SetMultiCore(path != TPath::Single && path != TPath::OpenCL);
    switch (path) {
    case TPath::BandsBelowRow: filter.SetBlockSize(1); break;
    case TPath::BandsOneRow: filter.SetBlockSize(in->GetBitsPerPixel() * in->GetWidth() / 8); break;
    case TPath::BandsAboveFrame: filter.SetBlockSize(in->GetLineSize() * (in->GetHeight() + 1)); break;
    default: break;
    }
    filter.SetOpenCLDevice(path == TPath::OpenCL ? "auto" : "");
}

const TPath KAllPaths[] = {TPath::Single, TPath::BandsBelowRow, TPath::BandsOneRow, TPath::BandsAboveFrame, TPath::OpenCL};

IPXImageBuffer Flat(int w, int h, TPXVideoFormat format, int level) {
    IPXImageBuffer frame = TPXImageBuffer::CreateSize(w, h, format);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < NeighbourhoodChannels(format); ++c) WriteSample(frame, x, y, c, level);
    return frame;
}

// ---------------------------------------------------------------------------------------------
// Properties

TEST(Unsharp, DefaultsClampingAndBadAmounts) {
    RegisterPackage();
    const TComponentPtr component = TRegistry::Instance().Create("TPXUnsharp");
    ASSERT_NE(dynamic_cast<TPXUnsharp*>(component.get()), nullptr);
    EXPECT_EQ(TRegistry::Instance().Find("TPXUnsharp")->DisplayName, "Unsharp Video Filter");
    TPXUnsharp filter;
    EXPECT_FLOAT_EQ(filter.GetAmount(), 0.3f);
    EXPECT_FLOAT_EQ(filter.GetThreshold(), 0.1f);
    EXPECT_EQ(filter.Kernel().GetKernelType(), sktGauss);
    filter.SetThreshold(2.0f);
    EXPECT_FLOAT_EQ(filter.GetThreshold(), 1.0f);
    filter.SetThreshold(-0.5f);
    EXPECT_FLOAT_EQ(filter.GetThreshold(), 0.0f);
    EXPECT_EQ(GetPropertyText(filter, "Kernel.KernelType"), "sktGauss");
    SetPropertyText(filter, "Kernel.KernelType", "sktAverage");
    EXPECT_EQ(filter.Kernel().GetKernelType(), sktAverage);
    for (const float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
        try {
            filter.SetAmount(bad);
            ADD_FAILURE() << "Amount " << bad << " accepted";
        } catch (const EPXError& e) {
            EXPECT_NE(std::string(e.what()).find("Amount"), std::string::npos) << e.what();
        }
        EXPECT_THROW(filter.SetThreshold(bad), EPXError);
    }
    EXPECT_FLOAT_EQ(filter.GetAmount(), 0.3f);
}

// ---------------------------------------------------------------------------------------------
// Worked cases

TEST(Unsharp, BrightPixelOnAFlatFieldWithABoxKernel) {
    // Amount 0.5, Threshold 0, 3 x 3 box: a flat 100 stays 100; a single 200 gives
    // round((200 - 0.5 × 1000 / 9) / 0.5) = 289, clamped to 255 in 8 bits.
    for (const TPath path : KAllPaths)
        for (const TPXVideoFormat format : {vfGray8, vfGray16, vfRGB24}) {
            IPXImageBuffer in = Flat(9, 7, format, 100);
            TPXUnsharp filter;
            Configure(filter, {sktAverage, 3, 3, 0, 0.5f, 0.0f});
            ApplyPath(filter, path, in);
            EXPECT_TRUE(SameSamples(filter.ProcessFrame(in), in)) << "flat field, path " << int(path);
            WriteSample(in, 4, 3, 0, 200);
            const IPXImageBuffer out = filter.ProcessFrame(in);
            EXPECT_EQ(ReadSample(out, 4, 3, 0), format == vfGray16 ? 289 : 255) << "path " << int(path);
            // a neighbour: v = 100 - 0.5 × 111.1 = 44.4 -> round(88.9) = 89
            EXPECT_EQ(ReadSample(out, 3, 3, 0), 89) << "path " << int(path);
        }
}

TEST(Unsharp, ThresholdLeavesSmallDifferencesAlone) {
    // Threshold 0.5 on 8-bit input: with Amount 0.3, v = I - 0.3 blur; on a flat field of 200,
    // v = 140 and 140 / 255 <= 0.5, so nothing changes; at 255 a lone pixel of 255 on 0 gives
    // v = 255 - 0.3 × 28.3 = 246.5 > 127.5 and is replaced (saturated to 255); its neighbours
    // (v = -8.5) stay 0.
    for (const TPath path : KAllPaths) {
        IPXImageBuffer in = Flat(9, 7, vfGray8, 200);
        TPXUnsharp filter;
        Configure(filter, {sktAverage, 3, 3, 0, 0.3f, 0.5f});
        ApplyPath(filter, path, in);
        EXPECT_TRUE(SameSamples(filter.ProcessFrame(in), in));
        const IPXImageBuffer noisy = NoiseFrame(37, 23, vfGray8, 9);
        const IPXImageBuffer out = filter.ProcessFrame(noisy);
        EXPECT_TRUE(SameSamples(out, Reference(noisy, {0, 0, 37, 23}, {sktAverage, 3, 3, 0, 0.3f, 0.5f}, {})));
        int unchanged = 0;
        for (int y = 0; y < 23; ++y)
            for (int x = 0; x < 37; ++x) unchanged += ReadSample(out, x, y, 0) == ReadSample(noisy, x, y, 0);
        EXPECT_GT(unchanged, 0);
    }
}

TEST(Unsharp, ZeroAmountAndThresholdIsTheIdentityAndAmountOneSaturates) {
    for (const TPath path : KAllPaths)
        for (const TPXVideoFormat format : {vfRGB24, vfRGBA32, vfGray8, vfGray16})
            for (const TPXSmoothingKernelType type : {sktGauss, sktAverage}) {
                const IPXImageBuffer in = NoiseFrame(37, 23, format, 21u + format);
                TPXUnsharp filter;
                Configure(filter, {type, 5, 5, 1.0f, 0.0f, 0.0f});
                ApplyPath(filter, path, in);
                EXPECT_TRUE(SameSamples(filter.ProcessFrame(in), in)) << "format " << format << " path " << int(path);
                filter.SetAmount(1.0f);
                filter.RegionOfInterest().SetEnabled(true);
                filter.RegionOfInterest().SetRectangle({3, 4, 10, 5});
                EXPECT_TRUE(SameSamples(filter.ProcessFrame(in), Reference(in, {3, 4, 10, 5}, {type, 5, 5, 1.0f, 1.0f, 0.0f}, {})))
                    << "Amount 1, format " << format << " path " << int(path);
            }
}

// ---------------------------------------------------------------------------------------------
// Against the reference, bit for bit

TEST(Unsharp, EveryFormatRegionKernelAndPathMatchesTheReference) {
    const testharness::TPoolThreads threads(3);
    const TSetup setups[] = {{sktGauss, 5, 3, 1.2f, 0.4f, 0.05f}, {sktAverage, 3, 5, 0, 0.6f, 0.02f},
                             {sktGauss, 3, 3, 0, -0.5f, 0.0f}, {sktAverage, 4, 2, 0, 0.3f, 0.1f}};
    for (const TSetup& s : setups)
        for (const TPXVideoFormat format : {vfRGB24, vfRGBA32, vfGray8, vfGray16})
            for (const TRect region : {TRect{0, 0, 37, 23}, TRect{31, 1, 20, 30}, TRect{0, 19, 6, 10}}) {
                ASSERT_TRUE(HaveOpenCL()) << "no OpenCL platform (pocl-opencl-icd)";
                const IPXImageBuffer in = NoiseFrame(37, 23, format, 31u + format);
                const IPXImageBuffer original = TPXImageBuffer::CreateCopy(in);
                const TRect clipped{region.X, region.Y, std::min(region.Width, 37 - region.X), std::min(region.Height, 23 - region.Y)};
                IPXImageBuffer expected;
                for (const TPath path : KAllPaths) {
                    TPXUnsharp filter;
                    Configure(filter, s);
                    filter.RegionOfInterest().SetEnabled(!(region == TRect{0, 0, 37, 23}));
                    filter.RegionOfInterest().SetRectangle(region);
                    ApplyPath(filter, path, in);
                    if (!expected) expected = Reference(in, clipped, s, filter.Kernel().KernelArray());
                    reference::TSampleAt at;
                    EXPECT_TRUE(SameSamples(filter.ProcessFrame(in), expected, &at))
                        << "type " << int(s.Type) << " format " << format << " region " << region.X << "," << region.Y
                        << " path " << int(path) << ": first difference at " << at.X << "," << at.Y << "," << at.C;
                    EXPECT_EQ(filter.UsesOpenCL(), path == TPath::OpenCL);
                }
                EXPECT_TRUE(SameSamples(in, original)) << "the input was modified";
            }
}

TEST(Unsharp, TinyFramesAndAKernelLargerThanTheFrame) {
    for (const TPXVideoFormat format : {vfRGB24, vfGray16}) {
        const IPXImageBuffer one = NoiseFrame(1, 1, format, 1), two = NoiseFrame(2, 1, format, 2);
        TPXUnsharp filter;
        Configure(filter, {sktGauss, 1, 1, 0, 0.4f, 0.0f});
        EXPECT_TRUE(SameSamples(filter.ProcessFrame(one), Reference(one, {0, 0, 1, 1}, {sktGauss, 1, 1, 0, 0.4f, 0.0f}, {1.0f})));
        Configure(filter, {sktAverage, 2, 1, 0, 0.4f, 0.0f});
        EXPECT_TRUE(SameSamples(filter.ProcessFrame(two), Reference(two, {0, 0, 2, 1}, {sktAverage, 2, 1, 0, 0.4f, 0.0f}, {})));
        filter.Kernel().SetSize(3, 1);
        try {
            filter.ProcessFrame(two);
            ADD_FAILURE() << "a 3 x 1 kernel on a 2 x 1 frame was run";
        } catch (const EPXError& e) {
            EXPECT_NE(std::string(e.what()).find("larger than the 2 x 1 frame"), std::string::npos) << e.what();
        }
    }
}

}  // namespace
}  // namespace pixora
