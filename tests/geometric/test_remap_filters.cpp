// The remap base (frames through maps, formats, region of interest, background, output sizes
// and formats, bands, map rebuilds while frames run) and the circle base (radius rules, the
// largest output rectangle).
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "filters/geometric/PXSwirl.h"
#include "frame/PixoraPkg.h"
#include "tests/geometric/RemapTestSupport.h"
#include "platform/threads/PXBandPool.h"

namespace pixora {
namespace {

using remaptest::MaxSampleDifference;
using remaptest::ReferenceRemap;
using remaptest::TMapFunction;
using remaptest::TTestRemap;
using testref::Capture;
using testref::RandomRaw;
using testref::ToFrame;

// A mapping with a bit of everything: scaled, shifted, partly outside the source.
const TMapFunction kWobble = [](int x, int y, TSize, TSize, double& sx, double& sy) {
    sx = x * 0.83 - 2.3 + 1.7 * std::sin(y * 0.4);
    sy = y * 1.1 - 1.4 + 0.9 * std::cos(x * 0.3);
};

const TPXVideoFormat kFormats[] = {vfRGB24, vfRGBA32, vfGray8, vfGray16};

TEST(RemapFilter, EveryFormatMatchesTheSlowReference) {
    struct TCase { int W, H; };
    for (TPXVideoFormat format : kFormats)
        for (TCase size : {TCase{1, 1}, TCase{2, 1}, TCase{37, 23}, TCase{160, 90}})
            for (bool linear : {false, true}) {
                TTestRemap filter(kWobble);
                filter.SetAutoSize(asInputSize);
                filter.SetInterpolationType(linear ? itLinear : itNearestNeighbor);
                filter.SetBackgroundColor(0x00336699);
                const auto in = RandomRaw(size.W, size.H, format, 7 + size.W);
                const IPXImageBuffer inFrame = ToFrame(in);
                const IPXImageBuffer out = filter.ProcessFrame(inFrame);
                const auto want =
                    ReferenceRemap(in, {size.W, size.H}, {0, 0, size.W, size.H}, kWobble, linear, 0x00336699);
                std::string where;
                EXPECT_LE(MaxSampleDifference(want, Capture(out), &where), linear ? 1 : 0)
                    << "format " << int(format) << " " << size.W << "x" << size.H << " linear " << linear << " "
                    << where;
                EXPECT_TRUE(testref::SameImage(in, Capture(inFrame))) << "the input was modified";
            }
}

TEST(RemapFilter, RegionOfInterestIsTheSourceRectangle) {
    // Regions inside, touching the edges and partly outside the frame.
    const TRect regions[] = {{5, 3, 20, 11}, {0, 0, 37, 5}, {30, 18, 20, 20}, {36, 22, 1, 1}};
    for (TPXVideoFormat format : kFormats)
        for (const TRect& region : regions) {
            TTestRemap filter(kWobble);
            filter.SetAutoSize(asInputSize);
            filter.SetInterpolationType(itLinear);
            filter.RegionOfInterest().SetRectangle(region);
            filter.RegionOfInterest().SetEnabled(true);
            const auto in = RandomRaw(37, 23, format, 99);
            const IPXImageBuffer out = filter.ProcessFrame(ToFrame(in));
            const TRect clamped{region.X, region.Y, std::min(region.Width, 37 - region.X),
                                std::min(region.Height, 23 - region.Y)};
            const auto want = ReferenceRemap(in, {37, 23}, clamped, kWobble, true, 0);
            std::string where;
            EXPECT_LE(MaxSampleDifference(want, Capture(out), &where), 1)
                << "format " << int(format) << " region " << region.X << "," << region.Y << " " << where;
        }
}

TEST(RemapFilter, MapPointingOutsideLeavesTheBackground) {
    const TMapFunction away = [](int, int, TSize, TSize, double& sx, double& sy) { sx = sy = -1; };
    for (TPXVideoFormat format : kFormats) {
        TTestRemap filter(away);
        filter.SetAutoSize(asInputSize);
        filter.SetBackgroundColor(0xFF20A0C0);  // a top byte that must not become the alpha
        const auto in = RandomRaw(17, 9, format, 5);
        const auto out = Capture(filter.ProcessFrame(ToFrame(in)));
        const auto bg = remaptest::BackgroundPixel(0xFF20A0C0, format);
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 17; ++x)
                for (int c = 0; c < testref::SamplesPerPixel(format); ++c)
                    ASSERT_EQ(out.Sample(x, y, c), bg.Sample(0, 0, c)) << "format " << int(format) << " pixel " << x;
        if (format == vfRGBA32) {
            EXPECT_EQ(out.Sample(3, 4, 3), 0) << "background alpha";
        }
    }
}

TEST(RemapFilter, InterpolationOrdinalSelectsTheKernelFlag) {
    // Half-pixel shifts: nearest rounds up, linear averages neighbours.
    const TMapFunction half = [](int x, int y, TSize, TSize, double& sx, double& sy) { sx = x + 0.5, sy = y; };
    const auto in = RandomRaw(16, 4, vfGray8, 3);
    for (TPXInterpolationType type : {itNearestNeighbor, itLinear, itCubic, itSuper, itLanczos}) {
        TTestRemap filter(half);
        filter.SetAutoSize(asInputSize);
        filter.SetInterpolationType(type);
        EXPECT_EQ(filter.InterpolationFlag(), 1 << int(type));
        const auto out = Capture(filter.ProcessFrame(ToFrame(in)));
        for (int x = 1; x < 13; ++x) {
            const int a = in.Sample(x, 2, 0), b = in.Sample(x + 1, 2, 0);
            if (type == itNearestNeighbor) {
                EXPECT_EQ(out.Sample(x, 2, 0), b);
            }
            if (type == itLinear || type == itSuper) {
                EXPECT_EQ(out.Sample(x, 2, 0), (a + b + 1) / 2);
            }
            if (type == itCubic) {  // Lagrange cubic at the midpoint: (-p0 + 9 p1 + 9 p2 - p3) / 16
                const double v = (-in.Sample(x - 1, 2, 0) + 9.0 * a + 9.0 * b - in.Sample(x + 2, 2, 0)) / 16;
                EXPECT_NEAR(out.Sample(x, 2, 0), std::clamp(std::floor(v + 0.5), 0.0, 255.0), 1);
            }
        }
    }
}

TEST(RemapFilter, OutputSizeFollowsEveryPolicy) {
    const TMapFunction identity = [](int x, int y, TSize, TSize, double& sx, double& sy) { sx = x, sy = y; };
    const auto in = RandomRaw(40, 30, vfRGB24, 11);
    {
        TTestRemap filter(identity);
        filter.SetAutoSize(asInputSize);
        const auto out = Capture(filter.ProcessFrame(ToFrame(in)));
        EXPECT_TRUE(testref::SameImage(in, out)) << "identity map, nearest";
        filter.SetInterpolationType(itLinear);
        EXPECT_TRUE(testref::SameImage(in, Capture(filter.ProcessFrame(ToFrame(in))))) << "identity map, linear";
    }
    {
        TTestRemap filter(identity);
        filter.SetAutoSize(asCustom);
        filter.CustomSize().SetSize(50, 20);
        const IPXImageBuffer out = filter.ProcessFrame(ToFrame(in));
        EXPECT_EQ(out->GetWidth(), 50);
        EXPECT_EQ(out->GetHeight(), 20);
        const auto want = ReferenceRemap(in, {50, 20}, {0, 0, 40, 30}, identity, false, 0);
        EXPECT_EQ(MaxSampleDifference(want, Capture(out)), 0);
        ASSERT_TRUE(filter.GetMaps());
        EXPECT_EQ(filter.GetMaps()->X.size(), 50u * 20u);
    }
    for (TPXAutoSize policy : {asBoundingRect, asMaxBoundingRect}) {
        TTestRemap filter(identity);  // no bounding rectangle of its own: the input size
        filter.SetAutoSize(policy);
        const IPXImageBuffer out = filter.ProcessFrame(ToFrame(in));
        EXPECT_EQ(out->GetSize(), (TSize{40, 30}));
    }
}

TEST(RemapFilter, OutputFormatSettingConvertsTheResult) {
    const TMapFunction identity = [](int x, int y, TSize, TSize, double& sx, double& sy) { sx = x, sy = y; };
    const auto in = RandomRaw(12, 7, vfRGB24, 2);
    for (auto [setting, format] : {std::pair{ofGray8, vfGray8}, std::pair{ofRGBA32, vfRGBA32},
                                   std::pair{ofGray16, vfGray16}, std::pair{ofSameAsInput, vfRGB24}}) {
        TTestRemap filter(identity);
        filter.SetAutoSize(asInputSize);
        filter.SetOutputFormat(setting);
        const IPXImageBuffer out = filter.ProcessFrame(ToFrame(in));
        EXPECT_EQ(out->GetFormat(), format);
        // The converted frame equals the input converted the same way (the map is the identity).
        IPXImageBuffer converted = ToFrame(in);
        converted->ConvertToFormat(format);
        EXPECT_TRUE(testref::SameImage(Capture(converted), Capture(out))) << "format " << int(format);
    }
}

TEST(RemapFilter, BandsGiveTheSingleCallResult) {
    const auto in = RandomRaw(64, 33, vfRGBA32, 8);
    TTestRemap single(kWobble);
    single.SetAutoSize(asInputSize);
    single.SetInterpolationType(itLinear);
    const auto want = Capture(single.ProcessFrame(ToFrame(in)));
    const int rowBytes = 64 * 4;
    const int previous = TBandPool::Instance().ThreadCount();
    for (int threads : {1, 2, 3})
        for (int block : {1, rowBytes, rowBytes * 5, rowBytes * 40}) {
            TBandPool::Instance().SetThreadCount(threads);
            TTestRemap banded(kWobble);
            banded.SetAutoSize(asInputSize);
            banded.SetInterpolationType(itLinear);
            banded.SetMultiCore(true);
            banded.SetBlockSize(block);
            EXPECT_TRUE(testref::SameImage(want, Capture(banded.ProcessFrame(ToFrame(in)))))
                << threads << " threads, block " << block;
        }
    TBandPool::Instance().SetThreadCount(previous);
}

TEST(RemapFilter, MapsFollowTheFrameSize) {
    const TMapFunction mirror = [](int x, int y, TSize in, TSize, double& sx, double& sy) {
        sx = in.Width - 1 - x, sy = y;
    };
    TTestRemap filter(mirror);
    filter.SetAutoSize(asInputSize);
    for (auto [w, h] : {std::pair{20, 10}, std::pair{33, 5}, std::pair{20, 10}}) {
        const auto in = RandomRaw(w, h, vfGray8, uint64_t(w));
        const auto out = Capture(filter.ProcessFrame(ToFrame(in)));
        EXPECT_EQ(MaxSampleDifference(ReferenceRemap(in, {w, h}, {0, 0, w, h}, mirror, false, 0), out), 0)
            << w << "x" << h;
    }
    const int builds = filter.Builds;
    filter.ProcessFrame(ToFrame(RandomRaw(20, 10, vfGray8, 1)));
    EXPECT_EQ(filter.Builds, builds) << "the same size must not rebuild the maps";
    filter.SetBackgroundColor(0x123456);
    filter.ProcessFrame(ToFrame(RandomRaw(20, 10, vfGray8, 1)));
    EXPECT_EQ(filter.Builds, builds) << "a background change must not rebuild the maps";
}

TEST(RemapFilter, OversizedOutputIsRefusedBeforeAllocating) {
    TPXSwirl swirl;
    try {
        swirl.BuildMaps({640, 480}, {100000, 100000});
        ADD_FAILURE() << "a 100000 x 100000 output was accepted";
    } catch (const EPXError& e) {
        EXPECT_NE(std::string(e.what()).find("100000 x 100000"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("TPXSwirl"), std::string::npos) << e.what();
    }
    const auto empty = swirl.BuildMaps({640, 480}, {0, 480});
    EXPECT_TRUE(empty->X.empty()) << "an empty output has no tables";
}

// ---- circle base -------------------------------------------------------------------------------

TEST(CircleRemapBase, RadiusModes) {
    TPXSwirl swirl;
    swirl.SetAutoSize(asCustom);
    const TSize in{640, 480}, out{300, 100};
    struct TCase { TPXRemapRadiusMode Mode; double Want; };
    const TCase cases[] = {
        {rrmInputMin, 240},        {rrmInputMax, 320},      {rrmInputWidth, 320},
        {rrmInputHeight, 240},     {rrmInputDiag, 400},     {rrmOutputMin, 50},
        {rrmOutputMax, 150},       {rrmOutputWidth, 150},   {rrmOutputHeight, 50},
        {rrmOutputDiag, std::sqrt(300.0 * 300 + 100 * 100) / 2}, {rrmCustom, 50},
    };
    for (const TCase& c : cases) {
        swirl.Radius().SetMode(c.Mode);
        EXPECT_DOUBLE_EQ(swirl.RadiusFor(in, out), c.Want) << "mode " << int(c.Mode);
    }
    // Odd sizes give fractional radii; with asBoundingRect the output modes use the input size.
    swirl.Radius().SetMode(rrmOutputWidth);
    EXPECT_DOUBLE_EQ(swirl.RadiusFor({641, 480}, {301, 100}), 150.5);
    swirl.SetAutoSize(asBoundingRect);
    EXPECT_DOUBLE_EQ(swirl.RadiusFor({641, 480}, {301, 100}), 320.5);
}

TEST(CircleRemapBase, RadiusOfTheRunningStream) {
    TPXSwirl swirl;
    swirl.SetThreaded(false);
    swirl.SetAutoSize(asInputSize);
    swirl.Radius().SetMode(rrmInputDiag);
    EXPECT_EQ(swirl.GetRadius(), 0.0) << "no size known yet";
    swirl.ProcessFrame(TPXImageBuffer::CreateSize(640, 480, vfGray8));
    EXPECT_DOUBLE_EQ(swirl.GetRadius(), 400.0);
    swirl.Radius().SetMode(rrmCustom);
    EXPECT_DOUBLE_EQ(swirl.GetRadius(), 50.0) << "CustomRadius is not halved";
}

TEST(CircleRemapBase, LargestOutputRectangle) {
    TPXSwirl swirl;
    swirl.SetAutoSize(asMaxBoundingRect);
    swirl.Radius().SetMode(rrmCustom);
    swirl.Radius().SetCustomRadius(100);
    swirl.Background().SetPreserve(false);
    EXPECT_EQ(swirl.OutputSizeFor(640, 480), (TSize{200, 200}));
    swirl.Background().SetPreserve(true);
    swirl.CenterOffset().SetCX(30);
    swirl.CenterOffset().SetCY(-10);
    EXPECT_EQ(swirl.OutputSizeFor(640, 480), (TSize{640, 480}));
    EXPECT_EQ(swirl.OutputSizeFor(150, 150), (TSize{260, 220}));
    // A fractional radius is rounded before doubling: 201 / 2 = 100.5 rounds to even (100),
    // 203 / 2 = 101.5 to 102.
    swirl.Background().SetPreserve(false);
    swirl.Radius().SetMode(rrmInputWidth);
    EXPECT_EQ(swirl.OutputSizeFor(201, 50), (TSize{200, 200}));
    EXPECT_EQ(swirl.OutputSizeFor(203, 50), (TSize{204, 204}));
    swirl.Radius().SetMode(rrmCustom);
    swirl.Radius().SetCustomRadius(2000000000);
    EXPECT_THROW(swirl.OutputSizeFor(10, 10), ERangeError);
}

// ---- map rebuilds while frames run --------------------------------------------------------------

TEST(RemapMapsConcurrency, EveryFrameSamplesOneCompleteMapping) {
    RegisterPackage();
    const auto in = RandomRaw(48, 32, vfGray8, 42);
    const IPXImageBuffer inFrame = ToFrame(in);
    // The frames each setting gives on its own.
    const double coefficients[] = {0.02, -0.3, 0.15};
    std::vector<testref::TRawImage> complete;
    for (double k : coefficients) {
        TPXSwirl swirl;
        swirl.SetThreaded(false);
        swirl.SetAutoSize(asInputSize);
        swirl.SetCoefficient(k);
        complete.push_back(Capture(swirl.ProcessFrame(inFrame)));
    }
    ASSERT_FALSE(testref::SameImage(complete[0], complete[1]));
    TPXSwirl swirl;
    swirl.SetThreaded(false);
    swirl.SetAutoSize(asInputSize);
    swirl.SetCoefficient(coefficients[0]);
    std::atomic<bool> stop{false};
    std::thread setter([&] {
        for (int i = 0; !stop.load(); ++i) swirl.SetCoefficient(coefficients[i % 3]);
    });
    int mixed = 0;
    for (int frame = 0; frame < 150; ++frame) {
        const auto out = Capture(swirl.ProcessFrame(inFrame));
        bool matches = false;
        for (const auto& c : complete) matches = matches || MaxSampleDifference(c, out) == 0;
        if (!matches) ++mixed;
    }
    stop = true;
    setter.join();
    EXPECT_EQ(mixed, 0) << "frames that mixed two mappings";
}

}  // namespace
}  // namespace pixora
