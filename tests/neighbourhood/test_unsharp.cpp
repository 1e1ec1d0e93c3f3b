// The unsharp mask: its properties (defaults, Threshold clamping, bad Amount), the worked cases,
// and both blur kinds against slow references on every native format, region and path (single
// call, bands, OpenCL on PoCL). The box average is bit for bit on every path. With the Gaussian the
// OpenCL kernel sums the 2D matrix and is bit for bit with the float reference; the CPU paths blur
// separably, equal each other bit for bit, and are checked against the exact (double) result
// within the stated rounding bound: the blur within (Width + Height + 2) × 2^-22 × MAX, so a
// sample may differ only where v lies that close to the threshold or v / (1 − Amount) to a half.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "filters/neighbourhood/PXUnsharp.h"
#include "frame/PXKernelTemplates.h"
#include "frame/PixoraPkg.h"
#include "platform/kernels/Neighbourhood.h"
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

using reference::HaveOpenCL;
using reference::MirrorCoordinate;

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
                        const float sample = float(ReadSample(in, MirrorCoordinate(x - s.Width / 2 + kx, w), MirrorCoordinate(y - s.Height / 2 + ky, h), c));
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

// The Gaussian vector as defined, in double (sigma 0: 0.3 ((n - 1) / 2 - 1) + 0.8).
std::vector<double> Gauss(int n, double sigma) {
    const double s = sigma > 0 ? sigma : 0.3 * ((n - 1) * 0.5 - 1) + 0.8;
    std::vector<double> g;
    double sum = 0;
    for (int i = 0; i < n; ++i) {
        g.push_back(std::exp(-std::pow(i - (n - 1) / 2.0, 2) / (2 * s * s)));
        sum += g.back();
    }
    for (double& v : g) v /= sum;
    return g;
}

// The Gaussian unsharp against the exact result: the blur in double with the exact coefficients;
// a sample may take any value the float arithmetic reaches for a v within tolerance of the exact
// one (the rescaled value is monotonic in v; near the threshold the unchanged sample is allowed).
void ExpectGaussUnsharp(const IPXImageBuffer& in, const IPXImageBuffer& out, TRect r, const TSetup& s,
                        const std::string& what) {
    const auto gx = Gauss(s.Width, s.Sigma), gy = Gauss(s.Height, s.Sigma);
    const int channels = NeighbourhoodChannels(in->GetFormat());
    const int maximum = NeighbourhoodMaximum(in->GetFormat());
    const double a = s.Amount;
    const double tolerance =
        (s.Width + s.Height + 2) * std::ldexp(1.0, -22) * maximum * std::fabs(a) + std::ldexp(1.0, -21) * maximum * (1 + std::fabs(a));
    const auto rescaled = [&](double v) { return std::clamp(int(std::round(v / (1 - a))), 0, maximum); };
    int failures = 0;
    for (int y = 0; y < in->GetHeight(); ++y)
        for (int x = 0; x < in->GetWidth(); ++x)
            for (int c = 0; c < channels; ++c) {
                const int I = ReadSample(in, x, y, c), got = ReadSample(out, x, y, c);
                bool ok;
                if (x < r.X || x >= r.X + r.Width || y < r.Y || y >= r.Y + r.Height) {
                    ok = got == I;
                } else {
                    double blur = 0;
                    for (int ky = 0; ky < s.Height; ++ky)
                        for (int kx = 0; kx < s.Width; ++kx)
                            blur += gx[std::size_t(kx)] * gy[std::size_t(ky)] *
                                    ReadSample(in, MirrorCoordinate(x - s.Width / 2 + kx, in->GetWidth()),
                                               MirrorCoordinate(y - s.Height / 2 + ky, in->GetHeight()), c);
                    const double v = I - blur * a;
                    const bool replaced = std::fabs(v) / maximum > s.Threshold;
                    const bool nearThreshold = std::fabs(std::fabs(v) / maximum - s.Threshold) <= tolerance / maximum;
                    ok = ((replaced || nearThreshold) && got >= rescaled(v - tolerance) && got <= rescaled(v + tolerance)) ||
                         ((!replaced || nearThreshold) && got == I);
                }
                if (!ok && failures++ < 5) ADD_FAILURE() << what << ": at " << x << "," << y << "," << c << " got " << got;
            }
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

TEST(Unsharp, AQuotientJustBelowAHalfRoundsDown) {
    // A 2 x 1 box (a sample and its left neighbour), Amount 0.2, Threshold 0: a 1 next to a 5 gives
    // v = 1 - 0.2 × 3 and v / 0.8 = 0.49999997 in float, which rounds to 0. Adding 0.5 and
    // truncating would give 1 (0.49999997 + 0.5 rounds up to 1.0 in float).
    const TSetup setup{sktAverage, 2, 1, 0, 0.2f, 0.0f};
    for (const TPath path : KAllPaths)
        for (const TPXVideoFormat format : {vfGray8, vfGray16, vfRGB24}) {
            IPXImageBuffer in = Flat(37, 5, format, 5);
            for (int y = 0; y < 5; ++y)
                for (int x = 1; x < 37; x += 2)
                    for (int c = 0; c < NeighbourhoodChannels(format); ++c) WriteSample(in, x, y, c, 1);
            TPXUnsharp filter;
            Configure(filter, setup);
            ApplyPath(filter, path, in);
            const IPXImageBuffer out = filter.ProcessFrame(in);
            EXPECT_EQ(ReadSample(out, 1, 2, 0), 0) << "format " << format << " path " << int(path);
            EXPECT_EQ(ReadSample(out, 35, 4, NeighbourhoodChannels(format) - 1), 0) << "format " << format << " path " << int(path);
            EXPECT_TRUE(SameSamples(out, Reference(in, {0, 0, 37, 5}, setup, {}))) << "format " << format << " path " << int(path);
        }
}

// ---------------------------------------------------------------------------------------------
// Against the reference, bit for bit

TEST(Unsharp, EveryFormatRegionKernelAndPathMatchesTheReference) {
    const testharness::TPoolThreads threads(3);
    // The last two average windows: 8-bit sums stay integers in float; 17 x 17 on 16 bits does
    // not (65535 × 289 >= 2^24) and takes the float order of the kernel. The square windows of
    // 5 and 15 take the unrolled loops, whose column sums slide from one output row to the next.
    const TSetup setups[] = {{sktGauss, 5, 3, 1.2f, 0.4f, 0.05f}, {sktAverage, 3, 5, 0, 0.6f, 0.02f},
                             {sktGauss, 3, 3, 0, -0.5f, 0.0f},    {sktAverage, 4, 2, 0, 0.3f, 0.1f},
                             {sktGauss, 15, 9, 0, 0.7f, 0.01f},   {sktAverage, 17, 17, 0, 0.45f, 0.0f},
                             {sktGauss, 5, 5, 0, 0.3f, 0.0f},     {sktAverage, 5, 5, 0, 0.4f, 0.0f},
                             {sktAverage, 15, 15, 0, 0.35f, 0.0f}};
    for (const TSetup& s : setups)
        for (const TPXVideoFormat format : {vfRGB24, vfRGBA32, vfGray8, vfGray16})
            for (const TRect region : {TRect{0, 0, 37, 23}, TRect{31, 1, 20, 30}, TRect{0, 19, 6, 10}}) {
                ASSERT_TRUE(HaveOpenCL()) << "no OpenCL platform (pocl-opencl-icd)";
                const IPXImageBuffer in = NoiseFrame(37, 23, format, 31u + format);
                const IPXImageBuffer original = TPXImageBuffer::CreateCopy(in);
                const TRect clipped{region.X, region.Y, std::min(region.Width, 37 - region.X), std::min(region.Height, 23 - region.Y)};
                IPXImageBuffer expected, single;
                for (const TPath path : KAllPaths) {
                    TPXUnsharp filter;
                    Configure(filter, s);
                    filter.RegionOfInterest().SetEnabled(!(region == TRect{0, 0, 37, 23}));
                    filter.RegionOfInterest().SetRectangle(region);
                    ApplyPath(filter, path, in);
                    if (!expected) expected = Reference(in, clipped, s, filter.Kernel().KernelArray());
                    const IPXImageBuffer out = filter.ProcessFrame(in);
                    const std::string what = "type " + std::to_string(int(s.Type)) + " size " + std::to_string(s.Width) +
                                             " format " + std::to_string(format) + " region " + std::to_string(region.X) +
                                             "," + std::to_string(region.Y) + " path " + std::to_string(int(path));
                    reference::TSampleAt at;
                    if (s.Type == sktAverage || path == TPath::OpenCL) {
                        EXPECT_TRUE(SameSamples(out, expected, &at))
                            << what << ": first difference at " << at.X << "," << at.Y << "," << at.C;
                    } else {
                        ExpectGaussUnsharp(in, out, clipped, s, what);
                        if (path == TPath::Single) single = out;
                        else EXPECT_TRUE(SameSamples(out, single, &at)) << what << ": bands differ from the single call at "
                                                                         << at.X << "," << at.Y << "," << at.C;
                    }
                    EXPECT_EQ(filter.UsesOpenCL(), path == TPath::OpenCL);
                }
                EXPECT_TRUE(SameSamples(in, original)) << "the input was modified";
            }
}

// The vector loops of every instruction-set level give the same bits, tails of rows included.
TEST(Unsharp, EveryInstructionSetLevelGivesTheSameBits) {
    using kernels::nbh::TIsa;
    for (const TPXSmoothingKernelType type : {sktGauss, sktAverage})
        for (const TPXVideoFormat format : {vfRGB24, vfGray8, vfGray16}) {
            for (const int height : {7, 5}) {  // 5 x 5 takes the unrolled loops
                const IPXImageBuffer in = NoiseFrame(53, 29, format, 61u + format);
                IPXImageBuffer first;
                for (const TIsa level : {TIsa::Avx512, TIsa::Avx2, TIsa::Baseline}) {
                    const TIsa previous = kernels::nbh::LimitIsa(level);
                    TPXUnsharp filter;
                    Configure(filter, {type, 5, height, 1.1f, 0.35f, 0.02f});
                    const IPXImageBuffer out = filter.ProcessFrame(in);
                    kernels::nbh::LimitIsa(previous);
                    if (!first) first = out;
                    else EXPECT_TRUE(SameSamples(out, first))
                        << "type " << int(type) << " format " << format << " height " << height << " level " << int(level);
                }
            }
        }
}

TEST(Unsharp, ATemplateThatDoesNotCompileCarriesItsBuildLog) {
    ASSERT_TRUE(HaveOpenCL()) << "no OpenCL platform (pocl-opencl-icd)";
    const IOCLContext context = TOpenCL::ContextFor("auto");
    std::string broken = KernelTemplate("Unsharp");
    broken.replace(broken.rfind("sum += "), 7, "sum += unsharp_undeclared_term + ");
    try {
        TPXUnsharp::BuildKernels(*context, broken);
        FAIL() << "the broken template built";
    } catch (const EOpenCLError& e) {
        EXPECT_NE(std::string(e.what()).find("clBuildProgram"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("unsharp_undeclared_term"), std::string::npos) << e.what();
    }
    const TPXUnsharp::TKernels kernels = TPXUnsharp::BuildKernels(*context, KernelTemplate("Unsharp"));
    EXPECT_EQ(kernels.Gauss8Bit->Name(), "UnsharpGauss8Bits");
    EXPECT_EQ(kernels.Gauss16Bit->Name(), "UnsharpGauss16Bits");
    EXPECT_EQ(kernels.Average8Bit->Name(), "UnsharpAverage8Bits");
    EXPECT_EQ(kernels.Average16Bit->Name(), "UnsharpAverage16Bits");
}

// On its own thread on OpenCL: a frame smaller than the kernel is reported and dropped, the next
// frame runs on the device.
TEST(Unsharp, OnOpenCLAFailingFrameIsReportedAndDroppedAndTheNextRuns) {
    ASSERT_TRUE(HaveOpenCL()) << "no OpenCL platform (pocl-opencl-icd)";
    testharness::TErrorLog errors;
    testharness::TFrameSink sink;
    TPXUnsharp filter;  // threaded
    filter.SetOpenCLDevice("auto");
    filter.Kernel().SetKernelType(sktAverage);
    filter.OutputPin.Connect(sink.Pin);
    filter.InputPin.Receive(TLRStartFrameOperation::Make(2, 6, vfGray16, 400000));
    filter.InputPin.Receive(TLRSuppliedBufferOperation::Make(NoiseFrame(2, 6, vfGray16, 1)));  // 3 x 3, 2 columns
    const IPXImageBuffer good = NoiseFrame(3, 6, vfGray16, 2);
    filter.InputPin.Receive(TLRSuppliedBufferOperation::Make(good));
    filter.InputPin.Receive(TLRStopOperation::Make(false));
    ASSERT_TRUE(sink.WaitForStops(1));
    filter.WaitIdle();
    const auto messages = errors.Messages();
    ASSERT_EQ(messages.size(), 1u) << errors.Joined();
    EXPECT_NE(messages[0].find("Kernel 3 x 3 is larger than the 2 x 6 frame"), std::string::npos) << messages[0];
    EXPECT_TRUE(filter.UsesOpenCL());
    ASSERT_EQ(sink.Frames.size(), 1u);
    EXPECT_TRUE(SameSamples(sink.Frames[0], Reference(good, {0, 0, 3, 6}, {sktAverage, 3, 3, 0, 0.3f, 0.1f}, {})));
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
