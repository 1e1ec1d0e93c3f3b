// The Gaussian blur: its kernel object (coefficients, recomputation, bad sizes and sigmas), the
// blur against a slow double-precision 2D reference on every native format, region and path
// (single call, bands, OpenCL on PoCL), the mirrored border rows and columns, and bad frames.
//
// The CPU paths sum separably, the OpenCL path (and the reference) over the 2D matrix; the sums
// differ only by float rounding. The stated bound: an output sample differs from
// floor(exact + 0.5) by at most 1, and only where exact + 0.5 lies within
// (Width + Height + 2) × 2^-22 × MAX of an integer; everywhere else it is exact.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "filters/neighbourhood/PXGaussianBlur.h"
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

// The Gaussian vector as defined, in double: exp(-(i - (n-1)/2)^2 / (2 s^2)) / sum, s = sigma or,
// for sigma 0, 0.3 ((n - 1) / 2 - 1) + 0.8.
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

struct TKernelSpec {
    int Width, Height;
    double SigmaX, SigmaY;
};

// The exact (double) window sum of every sample; samples outside r are -1.
std::vector<double> ExactSums(const IPXImageBuffer& in, TRect r, const TKernelSpec& k) {
    const auto gx = Gauss(k.Width, k.SigmaX), gy = Gauss(k.Height, k.SigmaY);
    const int channels = NeighbourhoodChannels(in->GetFormat());
    const int w = in->GetWidth(), h = in->GetHeight();
    std::vector<double> sums(std::size_t(w * h * channels), -1.0);
    for (int y = r.Y; y < r.Y + r.Height; ++y)
        for (int x = r.X; x < r.X + r.Width; ++x)
            for (int c = 0; c < channels; ++c) {
                double acc = 0;
                for (int ky = 0; ky < k.Height; ++ky)
                    for (int kx = 0; kx < k.Width; ++kx)
                        acc += gx[std::size_t(kx)] * gy[std::size_t(ky)] *
                               ReadSample(in, MirrorCoordinate(x - k.Width / 2 + kx, w), MirrorCoordinate(y - k.Height / 2 + ky, h), c);
                sums[std::size_t((y * w + x) * channels + c)] = acc;
            }
    return sums;
}

// Checks out against the reference within the stated bound; samples outside r must equal in.
void ExpectBlur(const IPXImageBuffer& in, const IPXImageBuffer& out, TRect r, const TKernelSpec& k, const std::string& what) {
    const auto sums = ExactSums(in, r, k);
    const int channels = NeighbourhoodChannels(in->GetFormat());
    const int maximum = NeighbourhoodMaximum(in->GetFormat());
    const double tolerance = (k.Width + k.Height + 2) * std::ldexp(1.0, -22) * maximum;
    int failures = 0;
    for (int y = 0; y < in->GetHeight() && failures < 5; ++y)
        for (int x = 0; x < in->GetWidth() && failures < 5; ++x)
            for (int c = 0; c < channels; ++c) {
                const double acc = sums[std::size_t((y * in->GetWidth() + x) * channels + c)];
                const int got = ReadSample(out, x, y, c);
                if (acc < 0) {
                    if (got != ReadSample(in, x, y, c)) {
                        ADD_FAILURE() << what << ": outside the region at " << x << "," << y << "," << c;
                        ++failures;
                    }
                    continue;
                }
                const double t = acc + 0.5;
                const int expected = std::clamp(int(std::floor(t)), 0, maximum);
                const bool nearInteger = std::abs(t - std::round(t)) <= tolerance;
                const bool ok = got == expected ||
                                (nearInteger && std::abs(got - std::clamp(int(std::round(t)), 0, maximum)) <= 1 &&
                                 std::abs(got - expected) <= 1);
                if (!ok) {
                    ADD_FAILURE() << what << ": at " << x << "," << y << "," << c << " got " << got << ", expected "
                                  << expected << " (sum " << acc << ")";
                    ++failures;
                }
            }
}

IPXImageBuffer Copy(const IPXImageBuffer& frame) { return TPXImageBuffer::CreateCopy(frame); }

void SetKernel(TPXGaussianBlur& filter, const TKernelSpec& k) {
    filter.Kernel().SetSize(k.Width, k.Height);
    filter.Kernel().SetSigmaX(float(k.SigmaX));
    filter.Kernel().SetSigmaY(float(k.SigmaY));
}

// ---------------------------------------------------------------------------------------------
// The kernel object

TEST(GaussianKernel, CoefficientsFollowTheFormulaAndSumToOne) {
    TPXGaussianBlur filter;
    EXPECT_EQ(filter.Kernel().GetWidth(), 3);
    EXPECT_EQ(filter.Kernel().GetHeight(), 3);
    for (const TKernelSpec k : {TKernelSpec{3, 3, 0, 0}, TKernelSpec{5, 3, 1.5, 0.7}, TKernelSpec{4, 7, 2.0, 0},
                                TKernelSpec{1, 9, 0, 3.0}}) {
        SetKernel(filter, k);
        const auto matrix = filter.Kernel().KernelArray();
        ASSERT_EQ(matrix.size(), std::size_t(k.Width * k.Height));
        const auto gx = Gauss(k.Width, k.SigmaX), gy = Gauss(k.Height, k.SigmaY);
        double sum = 0;
        for (int ky = 0; ky < k.Height; ++ky)
            for (int kx = 0; kx < k.Width; ++kx) {
                const float v = matrix[std::size_t(ky * k.Width + kx)];
                EXPECT_NEAR(v, gx[std::size_t(kx)] * gy[std::size_t(ky)], 1e-7) << kx << "," << ky;
                // symmetric about the window's centre
                EXPECT_FLOAT_EQ(v, matrix[std::size_t((k.Height - 1 - ky) * k.Width + (k.Width - 1 - kx))]);
                sum += v;
            }
        EXPECT_NEAR(sum, 1.0, 1e-6);
    }
}

TEST(GaussianKernel, ChangesRecomputeAndBadValuesAreRefused) {
    TPXGaussianBlur filter;
    filter.Kernel().SetSize(5, 5);
    const auto before = filter.Kernel().KernelArray();
    filter.Kernel().SetSigmaX(3.0f);
    const auto after = filter.Kernel().KernelArray();
    ASSERT_EQ(after.size(), 25u);
    EXPECT_NE(before, after);
    EXPECT_GT(after[0], before[0]);  // a wider sigma moves weight to the edges

    const auto expectRefused = [&](auto set, const char* property) {
        try {
            set();
            ADD_FAILURE() << property << " accepted";
        } catch (const EPXError& e) {
            EXPECT_NE(std::string(e.what()).find(property), std::string::npos) << e.what();
        }
    };
    expectRefused([&] { filter.Kernel().SetSigmaX(std::numeric_limits<float>::quiet_NaN()); }, "SigmaX");
    expectRefused([&] { filter.Kernel().SetSigmaY(std::numeric_limits<float>::infinity()); }, "SigmaY");
    expectRefused([&] { filter.Kernel().SetSigmaY(-1.0f); }, "SigmaY");
    expectRefused([&] { filter.Kernel().SetWidth(0); }, "Width");
    expectRefused([&] { filter.Kernel().SetHeight(TPXGaussianKernel::KMaxSize + 1); }, "Height");
    EXPECT_EQ(filter.Kernel().KernelArray(), after);  // unchanged by the refused values

    // Loading persisted properties recomputes the coefficients too.
    filter.Kernel().SetSize(3, 3);
    LoadProperties(filter, nlohmann::json{{"Kernel", {{"Width", 7}, {"Height", 1}, {"SigmaX", 1.0}}}});
    EXPECT_EQ(filter.Kernel().KernelArray().size(), 7u);
    EXPECT_EQ(GetPropertyText(filter, "Kernel.Width"), "7");

    // SetKernel takes the other kernel's size and sigmas, and its coefficients follow.
    TPXGaussianBlur other;
    SetKernel(other, {5, 9, 1.25, 2.5});
    filter.SetKernel(other.Kernel());
    EXPECT_EQ(filter.Kernel().GetWidth(), 5);
    EXPECT_EQ(filter.Kernel().GetHeight(), 9);
    EXPECT_FLOAT_EQ(filter.Kernel().GetSigmaY(), 2.5f);
    EXPECT_EQ(filter.Kernel().KernelArray(), other.Kernel().KernelArray());
}

TEST(GaussianKernel, RegisteredUnderItsDisplayName) {
    RegisterPackage();
    const TComponentPtr component = TRegistry::Instance().Create("TPXGaussianBlur");
    ASSERT_NE(component, nullptr);
    EXPECT_NE(dynamic_cast<TPXGaussianBlur*>(component.get()), nullptr);
    const TComponentClass* info = TRegistry::Instance().Find("TPXGaussianBlur");
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->DisplayName, "Gaussian Blur Video Filter");
    EXPECT_EQ(info->Categories, std::vector<std::string>{"TPixoraFiltersToolbarCategory"});
}

// ---------------------------------------------------------------------------------------------
// Blur against the reference

enum class TPath { Single, BandsBelowRow, BandsOneRow, BandsAboveFrame, OpenCL };

void ApplyPath(TPXGaussianBlur& filter, TPath path, const IPXImageBuffer& in) {
    const int rowBytes = in->GetLineSize();
    filter.SetMultiCore(path != TPath::Single && path != TPath::OpenCL);
    switch (path) {
    case TPath::BandsBelowRow: filter.SetBlockSize(1); break;
    case TPath::BandsOneRow: filter.SetBlockSize(in->GetBitsPerPixel() * in->GetWidth() / 8); break;
    case TPath::BandsAboveFrame: filter.SetBlockSize(rowBytes * (in->GetHeight() + 1)); break;
    default: break;
    }
    filter.SetOpenCLDevice(path == TPath::OpenCL ? "auto" : "");
}

TEST(GaussianBlur, EveryFormatRegionAndPathMatchesTheReference) {
    const testharness::TPoolThreads threads(3);
    const TKernelSpec k{5, 3, 1.3, 0.8};  // anchor (2, 1)
    for (const TPXVideoFormat format : {vfRGB24, vfRGBA32, vfGray8, vfGray16})
        for (const TRect region : {TRect{0, 0, 37, 23}, TRect{30, 2, 20, 30}, TRect{0, 20, 5, 3}}) {
            const IPXImageBuffer in = NoiseFrame(37, 23, format, 11u + format);
            const IPXImageBuffer original = Copy(in);
            IPXImageBuffer single;
            for (const TPath path : {TPath::Single, TPath::BandsBelowRow, TPath::BandsOneRow, TPath::BandsAboveFrame,
                                     TPath::OpenCL}) {
                if (path == TPath::OpenCL) {
                    ASSERT_TRUE(HaveOpenCL()) << "no OpenCL platform (pocl-opencl-icd)";
                }
                TPXGaussianBlur filter;
                filter.SetThreaded(false);
                SetKernel(filter, k);
                filter.RegionOfInterest().SetEnabled(!(region == TRect{0, 0, 37, 23}));
                filter.RegionOfInterest().SetRectangle(region);
                ApplyPath(filter, path, in);
                const IPXImageBuffer out = filter.ProcessFrame(in);
                const std::string what = "format " + std::to_string(format) + " region " + std::to_string(region.X) +
                                         "," + std::to_string(region.Y) + " path " + std::to_string(int(path));
                EXPECT_EQ(filter.UsesOpenCL(), path == TPath::OpenCL) << what;
                const TRect clipped{region.X, region.Y, std::min(region.Width, 37 - region.X),
                                    std::min(region.Height, 23 - region.Y)};
                ExpectBlur(in, out, clipped, k, what);
                EXPECT_TRUE(SameSamples(in, original)) << what << ": the input was modified";
                if (path == TPath::Single) single = out;
                else if (path != TPath::OpenCL) {
                    EXPECT_TRUE(SameSamples(out, single)) << what << ": bands differ from the single call";
                }
            }
        }
}

// The square windows of 3, 5 and 15 run unrolled loops that take output rows four at a time:
// a height of 41 leaves a single row at the end, one-row bands take every row singly, and all
// of them must give the reference and the same bits.
TEST(GaussianBlur, UnrolledSquareKernelsOnOddAndLargeFrames) {
    const testharness::TPoolThreads threads(2);
    for (const TKernelSpec k : {TKernelSpec{3, 3, 0, 0}, TKernelSpec{5, 5, 1.1, 1.1}, TKernelSpec{15, 15, 0, 0}})
        for (const TPXVideoFormat format : {vfRGB24, vfGray16})
            for (const int height : {41, 90}) {
                const IPXImageBuffer in = NoiseFrame(k.Width == 15 ? 160 : 97, height, format, 5u + format + height);
                IPXImageBuffer single;
                for (const TPath path : {TPath::Single, TPath::BandsOneRow, TPath::OpenCL}) {
                    TPXGaussianBlur filter;
                    filter.SetThreaded(false);
                    SetKernel(filter, k);
                    ApplyPath(filter, path, in);
                    const IPXImageBuffer out = filter.ProcessFrame(in);
                    const std::string what = std::to_string(k.Width) + "x" + std::to_string(k.Height) + " format " +
                                             std::to_string(format) + " height " + std::to_string(height) + " path " +
                                             std::to_string(int(path));
                    ExpectBlur(in, out, {0, 0, in->GetWidth(), height}, k, what);
                    if (path == TPath::Single) single = out;
                    else if (path != TPath::OpenCL) {
                        EXPECT_TRUE(SameSamples(out, single)) << what;
                    }
                }
            }
}

// A 1 × 3 column kernel centred on row 0 reads rows 1, 0, 1; centred on the last row it reads
// H − 2, H − 1, H − 1. The same across columns with a 3 × 1 kernel.
TEST(GaussianBlur, BorderRowsAndColumnsFollowTheMirrorRule) {
    const auto g = Gauss(3, 0.9);
    for (const TPath path : {TPath::Single, TPath::OpenCL}) {
        IPXImageBuffer in = TPXImageBuffer::CreateSize(6, 5, vfGray16);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 6; ++x) WriteSample(in, x, y, 0, 1000 * (y + 1) + 7 * x * x);
        const auto expect = [&](double a, double b, double c) { return int(std::floor(g[0] * a + g[1] * b + g[2] * c + 0.5)); };
        const auto v = [&](int x, int y) { return double(ReadSample(in, x, y, 0)); };
        {
            TPXGaussianBlur filter;
            filter.SetThreaded(false);
            SetKernel(filter, {1, 3, 0.9, 0.9});
            ApplyPath(filter, path, in);
            const IPXImageBuffer out = filter.ProcessFrame(in);
            for (int x = 0; x < 6; ++x) {
                EXPECT_NEAR(ReadSample(out, x, 0, 0), expect(v(x, 1), v(x, 0), v(x, 1)), 1) << "top, x " << x;
                EXPECT_NEAR(ReadSample(out, x, 4, 0), expect(v(x, 3), v(x, 4), v(x, 4)), 1) << "bottom, x " << x;
            }
        }
        {
            TPXGaussianBlur filter;
            filter.SetThreaded(false);
            SetKernel(filter, {3, 1, 0.9, 0.9});
            ApplyPath(filter, path, in);
            const IPXImageBuffer out = filter.ProcessFrame(in);
            for (int y = 0; y < 5; ++y) {
                EXPECT_NEAR(ReadSample(out, 0, y, 0), expect(v(1, y), v(0, y), v(1, y)), 1) << "left, y " << y;
                EXPECT_NEAR(ReadSample(out, 5, y, 0), expect(v(4, y), v(5, y), v(5, y)), 1) << "right, y " << y;
            }
        }
    }
}

TEST(GaussianBlur, FlatFieldsKeepTheirValueUpToTheMaximum) {
    for (const TPath path : {TPath::Single, TPath::BandsOneRow, TPath::OpenCL})
        for (const TPXVideoFormat format : {vfGray8, vfGray16, vfRGBA32}) {
            const int maximum = NeighbourhoodMaximum(format);
            for (const int level : {0, 1, maximum / 2, maximum}) {
                IPXImageBuffer in = TPXImageBuffer::CreateSize(37, 23, format);
                for (int y = 0; y < 23; ++y)
                    for (int x = 0; x < 37; ++x)
                        for (int c = 0; c < NeighbourhoodChannels(format); ++c) WriteSample(in, x, y, c, level);
                TPXGaussianBlur filter;
                filter.SetThreaded(false);
                SetKernel(filter, {9, 7, 0, 0});
                ApplyPath(filter, path, in);
                EXPECT_TRUE(SameSamples(filter.ProcessFrame(in), in)) << "level " << level << " format " << format;
            }
        }
}

TEST(GaussianBlur, TinyFramesAndKernelsLargerThanTheFrame) {
    for (const TPXVideoFormat format : {vfRGB24, vfGray16}) {
        TPXGaussianBlur filter;
        filter.SetThreaded(false);
        SetKernel(filter, {1, 1, 0, 0});
        const IPXImageBuffer one = NoiseFrame(1, 1, format, 3), two = NoiseFrame(2, 1, format, 4);
        EXPECT_TRUE(SameSamples(filter.ProcessFrame(one), one));  // a 1 × 1 Gaussian is the identity
        EXPECT_TRUE(SameSamples(filter.ProcessFrame(two), two));
        SetKernel(filter, {2, 1, 0, 0});
        ExpectBlur(two, filter.ProcessFrame(two), {0, 0, 2, 1}, {2, 1, 0, 0}, "2x1");
        SetKernel(filter, {3, 3, 0, 0});
        try {
            filter.ProcessFrame(two);
            ADD_FAILURE() << "a 3 x 3 kernel on a 2 x 1 frame was run";
        } catch (const EPXError& e) {
            EXPECT_NE(std::string(e.what()).find("larger than the 2 x 1 frame"), std::string::npos) << e.what();
        }
    }
}

// On its own thread in a stream, on the CPU and on OpenCL: a frame smaller than the kernel is
// reported and dropped, the next frame is blurred (on the same path) with the kernel as it stands
// at that point.
TEST(GaussianBlur, InAStreamAFailingFrameIsReportedAndDroppedAndTheNextRuns) {
    for (const std::string device : {"", "auto"}) {
        testharness::TErrorLog errors;
        testharness::TFrameSink sink;
        TPXGaussianBlur filter;  // threaded
        filter.SetOpenCLDevice(device);
        filter.OutputPin.Connect(sink.Pin);
        filter.InputPin.Receive(TLRStartFrameOperation::Make(8, 2, vfGray8, 400000));
        filter.InputPin.Receive(TLRSuppliedBufferOperation::Make(NoiseFrame(8, 2, vfGray8, 1)));  // 3 x 3, 2 rows
        filter.Kernel().SetSigmaX(2.0f);
        const IPXImageBuffer good = NoiseFrame(8, 3, vfGray8, 2);
        filter.InputPin.Receive(TLRSuppliedBufferOperation::Make(good));
        filter.InputPin.Receive(TLRStopOperation::Make(false));
        ASSERT_TRUE(sink.WaitForStops(1));
        filter.WaitIdle();
        const auto messages = errors.Messages();
        ASSERT_EQ(messages.size(), 1u) << errors.Joined();
        EXPECT_NE(messages[0].find("Kernel 3 x 3 is larger than the 8 x 2 frame"), std::string::npos) << messages[0];
        ASSERT_EQ(sink.Frames.size(), 1u);
        EXPECT_EQ(filter.UsesOpenCL(), !device.empty());
        ExpectBlur(good, sink.Frames[0], {0, 0, 8, 3}, {3, 3, 2.0, 0}, "stream on device '" + device + "'");
    }
}

TEST(GaussianBlur, ATemplateThatDoesNotCompileCarriesItsBuildLog) {
    ASSERT_TRUE(HaveOpenCL()) << "no OpenCL platform (pocl-opencl-icd)";
    const IOCLContext context = TOpenCL::ContextFor("auto");
    std::string broken = KernelTemplate("Convolution");
    broken.replace(broken.rfind("acc += "), 7, "acc += gauss_undeclared_weight + ");
    try {
        TPXGaussianBlur::BuildKernels(*context, broken);
        FAIL() << "the broken template built";
    } catch (const EOpenCLError& e) {
        EXPECT_NE(std::string(e.what()).find("clBuildProgram"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("gauss_undeclared_weight"), std::string::npos) << e.what();
    }
    const auto kernels = TPXGaussianBlur::BuildKernels(*context, KernelTemplate("Convolution"));
    EXPECT_EQ(kernels.first->Name(), "Convolution2DKernel8Bits");
    EXPECT_EQ(kernels.second->Name(), "Convolution2DKernel16Bits");
}

// Restores the kernels' widest instruction-set level when a test ends.
class TIsaLimit {
public:
    explicit TIsaLimit(kernels::nbh::TIsa level) : FPrevious(kernels::nbh::LimitIsa(level)) {}
    ~TIsaLimit() { kernels::nbh::LimitIsa(FPrevious); }
    TIsaLimit(const TIsaLimit&) = delete;
    TIsaLimit& operator=(const TIsaLimit&) = delete;

private:
    kernels::nbh::TIsa FPrevious;
};

// The vector loops of every instruction-set level (those the machine has) give the same bits,
// including the partial vectors at the end of rows that are no multiple of any vector width.
TEST(GaussianBlur, EveryInstructionSetLevelGivesTheSameBits) {
    using kernels::nbh::TIsa;
    for (const TPXVideoFormat format : {vfRGB24, vfRGBA32, vfGray8, vfGray16}) {
        for (const TKernelSpec k : {TKernelSpec{7, 5, 1.7, 0.9}, TKernelSpec{5, 5, 0, 0}, TKernelSpec{3, 3, 0, 0}}) {
            const IPXImageBuffer in = NoiseFrame(53, 29, format, 41u + format);
            IPXImageBuffer first;
            for (const TIsa level : {TIsa::Avx512, TIsa::Avx2, TIsa::Baseline}) {
                const TIsaLimit limit(level);
                TPXGaussianBlur filter;
                filter.SetThreaded(false);
                SetKernel(filter, k);
                filter.RegionOfInterest().SetEnabled(true);
                filter.RegionOfInterest().SetRectangle({1, 2, 50, 40});
                const IPXImageBuffer out = filter.ProcessFrame(in);
                if (!first) {
                    first = out;
                    ExpectBlur(in, out, {1, 2, 50, 27}, k, "levels");
                } else {
                    EXPECT_TRUE(SameSamples(out, first)) << "format " << format << " kernel " << k.Width << "x" << k.Height
                                                         << " level " << int(level);
                }
            }
        }
    }
}

}  // namespace
}  // namespace pixora
