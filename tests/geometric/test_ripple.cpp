// The water ripple: drops, one simulation step against a step written out here, rain, the
// displaced frame and its shade, the generator, setter bounds, drops while frames run.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "filters/geometric/PXRipple.h"
#include "tests/support/ReferenceImage.h"

namespace pixora {
namespace {

using testref::Capture;
using testref::RandomRaw;
using testref::ToFrame;

const double kPi = std::acos(-1.0);

// One step of the simulation from current heights c and previous heights p (padded grids).
std::vector<double> ReferenceStep(const std::vector<double>& c, std::vector<double> p, int w, int h, double damping) {
    const int s = w + 2;
    auto at = [&](int x, int y) { return c[std::size_t(y * s + x)]; };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double sum = 0.6 * at(x, y) + at(x + 1, y) + 0.6 * at(x + 2, y) + at(x, y + 1) + at(x + 2, y + 1) +
                               0.6 * at(x, y + 2) + at(x + 1, y + 2) + 0.6 * at(x + 2, y + 2);
            double v = sum / 3.6 - p[std::size_t((y + 1) * s + x + 1)];
            if (v != 0) v -= v * damping;
            p[std::size_t((y + 1) * s + x + 1)] = v;
        }
    return p;
}

// The displacement of pixel (x, y) by heights c, clamped into the frame; false when none.
bool ReferenceDisplacement(const std::vector<double>& c, int w, int h, int x, int y, double smoothing, double& xo,
                           double& yo) {
    const int s = w + 2;
    xo = (c[std::size_t((y + 1) * s + x)] - c[std::size_t((y + 1) * s + x + 2)]) / smoothing;
    yo = (c[std::size_t(y * s + x + 1)] - c[std::size_t((y + 2) * s + x + 1)]) / smoothing;
    if (xo == 0 && yo == 0) return false;
    xo = std::min(xo, double(w - 1 - x));
    yo = std::min(yo, double(h - 1 - y));
    xo = std::max(xo, double(-x));
    yo = std::max(yo, double(-y));
    return true;
}

int ReferenceShade(double xo) { return int(std::clamp(std::nearbyint(127 - xo), 0.0, 255.0)); }

// Lagrange cubic sample of channel ch at (x, y), edges replicated, rounded and saturated.
int ReferenceCubic(const testref::TRawImage& img, double x, double y, int ch) {
    auto weight = [](int k, double t) {
        const double nodes[4] = {-1, 0, 1, 2};
        double w = 1;
        for (int j = 0; j < 4; ++j)
            if (j != k) w *= (t - nodes[j]) / (nodes[k] - nodes[j]);
        return w;
    };
    const int ix = int(std::floor(x)), iy = int(std::floor(y));
    double v = 0;
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) {
            const int px = std::clamp(ix - 1 + i, 0, img.Width - 1), py = std::clamp(iy - 1 + j, 0, img.Height - 1);
            v += weight(i, x - ix) * weight(j, y - iy) * img.Sample(px, py, ch);
        }
    return int(std::clamp(std::floor(v + 0.5), 0.0, 255.0));
}

TEST(Ripple, DropOnAStillField) {
    TPXRipple ripple;
    ripple.InitWave(120, 100);
    ripple.DropAt(50, 50, 10, 1.0);
    const std::vector<double> c = ripple.CurrentWaves();
    const int s = 122;
    EXPECT_EQ(c[std::size_t(50 * s + 50)], -1.0);
    for (int y = 0; y < 102; ++y)
        for (int x = 0; x < s; ++x) {
            const double d = std::hypot(x - 50.0, y - 50.0);
            const double want = d < 10 ? -std::cos(kPi * d / 10) : 0.0;
            ASSERT_NEAR(c[std::size_t(y * s + x)], want, 1e-12) << x << "," << y;
        }
    EXPECT_TRUE(ripple.HaveWaves());
    // A drop at the edge is clipped to the padded grid instead of writing outside it.
    ripple.DropAt(0, 101, 5, 2.0);
    ripple.DropAt(-3, -3, 4, 2.0);
    EXPECT_EQ(ripple.CurrentWaves().size(), std::size_t(s * 102));
}

TEST(Ripple, StepsMatchTheReferenceAndSpreadOutward) {
    TPXRipple ripple;
    ripple.SetDampingFactor(0.07f);
    const int w = 60, h = 45;
    ripple.InitWave(w, h);
    ripple.DropAt(30, 20, 6, 40.0);
    ripple.DropAt(1, 44, 3, 10.0);  // touching the border cells
    for (int step = 0; step < 6; ++step) {
        const auto c = ripple.CurrentWaves(), p = ripple.PreviousWaves();
        const auto want = ReferenceStep(c, p, w, h, double(0.07f));
        ripple.ProcessWaves();
        const auto got = ripple.CurrentWaves();
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t i = 0; i < got.size(); ++i) ASSERT_NEAR(got[i], want[i], 1e-9) << "step " << step << " cell " << i;
        EXPECT_EQ(ripple.PreviousWaves(), c) << "the buffers alternate";
        // The step never writes the border cells (a drop may have).
        for (int x = 0; x < w + 2; ++x) ASSERT_EQ(got[std::size_t(x)], p[std::size_t(x)]);
        for (int y = 0; y < h + 2; ++y) ASSERT_EQ(got[std::size_t(y * (w + 2))], p[std::size_t(y * (w + 2))]);
    }
    // After a few steps the wave has reached cells well outside the drop's radius.
    EXPECT_NE(ripple.CurrentWaves()[std::size_t(20 * (w + 2) + 30 + 9)], 0.0);
}

TEST(Ripple, RainWithProbabilityOneDropsEveryTry) {
    TPXRipple ripple;
    ripple.InitWave(40, 30);
    ripple.Rain().SetNumDrops(4);
    ripple.Rain().SetProbability(1);
    ripple.ProcessWaves();
    EXPECT_EQ(ripple.DropsMade(), 0) << "rain is off";
    ripple.Rain().SetEnabled(true);
    for (int frame = 1; frame <= 5; ++frame) {
        ripple.ProcessWaves();
        EXPECT_EQ(ripple.DropsMade(), 4L * frame);
    }
    EXPECT_TRUE(ripple.HaveWaves());
}

TEST(Ripple, FrameIsDisplacedAndShaded) {
    for (bool roiEnabled : {false, true}) {
        TPXRipple ripple;
        ripple.SetThreaded(false);
        const int w = 48, h = 36;
        const auto in = RandomRaw(w, h, vfRGB24, 17);
        // A first frame sizes the field; the surface is still, so the picture is unchanged.
        const auto still = Capture(ripple.ProcessFrame(ToFrame(in)));
        ASSERT_EQ(still.Format, vfRGBA32);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                for (int c = 0; c < 3; ++c) ASSERT_EQ(still.Sample(x, y, c), in.Sample(x, y, c));
                ASSERT_EQ(still.Sample(x, y, 3), 127);
            }
        const TRect roi{10, 5, 20, 20};
        if (roiEnabled) {
            ripple.RegionOfInterest().SetRectangle(roi);
            ripple.RegionOfInterest().SetEnabled(true);
        }
        ripple.DropAt(24, 18, 8, 60.0);
        const auto c = ripple.CurrentWaves(), p = ripple.PreviousWaves();
        const auto heights = ReferenceStep(c, p, w, h, double(ripple.GetDampingFactor()));
        const auto out = Capture(ripple.ProcessFrame(ToFrame(in)));
        int displaced = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                double xo, yo;
                const bool moved = ReferenceDisplacement(heights, w, h, x, y, 8, xo, yo);
                const bool inRoi = !roiEnabled || (x >= roi.X && x < roi.X + roi.Width && y >= roi.Y &&
                                                   y < roi.Y + roi.Height);
                ASSERT_EQ(out.Sample(x, y, 3), moved && inRoi ? ReferenceShade(xo) : 127) << x << "," << y;
                const double sx = moved ? x + xo : x, sy = moved ? y + yo : y;
                const bool sourceInRoi = !roiEnabled || (sx >= roi.X && sx <= roi.X + roi.Width - 1 &&
                                                         sy >= roi.Y && sy <= roi.Y + roi.Height - 1);
                for (int ch = 0; ch < 3; ++ch) {
                    if (!sourceInRoi) {
                        ASSERT_EQ(out.Sample(x, y, ch), in.Sample(x, y, ch)) << "left as it was";
                    } else if (!moved) {
                        ASSERT_EQ(out.Sample(x, y, ch), in.Sample(x, y, ch));
                    } else if (!roiEnabled) {
                        ASSERT_NEAR(out.Sample(x, y, ch), ReferenceCubic(in, float(sx), float(sy), ch), 1)
                            << x << "," << y;
                    }
                }
                displaced += moved;
            }
        EXPECT_GT(displaced, 50);
        EXPECT_EQ(ripple.GetInterpolationType(), itCubic);
    }
}

TEST(Ripple, GeneratorShadesTheSlope) {
    TPXRipple ripple;
    ripple.ImageSize().SetSize(64, 48);
    IPXImageBuffer frame = ripple.GenerateOne();
    ASSERT_EQ(frame->GetFormat(), vfGray8);
    auto first = Capture(frame);
    for (auto b : first.Bytes) ASSERT_EQ(b, 127);
    ripple.DropAt(20, 20, 6, 80.0);
    const auto heights = ReferenceStep(ripple.CurrentWaves(), ripple.PreviousWaves(), 64, 48,
                                       double(ripple.GetDampingFactor()));
    const auto shaded = Capture(ripple.GenerateOne());
    int changed = 0;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) {
            double xo, yo;
            const int want = ReferenceDisplacement(heights, 64, 48, x, y, 8, xo, yo) ? ReferenceShade(xo) : 127;
            ASSERT_EQ(shaded.Sample(x, y, 0), want) << x << "," << y;
            changed += want != 127;
        }
    EXPECT_GT(changed, 10);
}

TEST(Ripple, SettersKeepTheirBounds) {
    TPXRipple ripple;
    EXPECT_FLOAT_EQ(ripple.GetDampingFactor(), 0.07f);
    EXPECT_EQ(ripple.GetSmoothing(), 8u);
    EXPECT_EQ(ripple.GetInterpolationType(), itCubic);
    EXPECT_FLOAT_EQ(ripple.Rain().GetMinDepth(), 50.0f);
    EXPECT_FLOAT_EQ(ripple.Rain().GetMaxDepth(), 400.0f);
    ripple.SetDampingFactor(5);
    EXPECT_FLOAT_EQ(ripple.GetDampingFactor(), 1.0f);
    ripple.SetDampingFactor(0);
    EXPECT_FLOAT_EQ(ripple.GetDampingFactor(), 0.000001f);
    ripple.SetSmoothing(0);
    EXPECT_EQ(ripple.GetSmoothing(), 1u);
    ripple.Rain().SetMinRadius(0);
    EXPECT_EQ(ripple.Rain().GetMinRadius(), 1u);
    ripple.Rain().SetMinRadius(30);
    EXPECT_EQ(ripple.Rain().GetMaxRadius(), 30u) << "a minimum above the maximum raises it";
    ripple.Rain().SetMaxDepth(10);
    EXPECT_FLOAT_EQ(ripple.Rain().GetMinDepth(), 10.0f) << "a maximum below the minimum lowers it";
    ripple.Rain().SetMaxDepth(0);
    EXPECT_FLOAT_EQ(ripple.Rain().GetMaxDepth(), 1.0f);
    ripple.Rain().SetProbability(0);
    EXPECT_EQ(ripple.Rain().GetProbability(), 1u);
    ripple.Rain().SetNumDrops(0);
    EXPECT_EQ(ripple.Rain().GetNumDrops(), 1u);
    EXPECT_THROW(SetPropertyText(ripple, "DampingFactor", "nan"), EPXError);
    EXPECT_THROW(SetPropertyText(ripple, "Rain.MinDepth", "inf"), EPXError);
}

TEST(RippleDropConcurrency, DropsWhileFramesRun) {
    TPXRipple ripple;
    ripple.SetThreaded(false);
    ripple.Rain().SetEnabled(true);
    ripple.Rain().SetProbability(1);
    const IPXImageBuffer in = ToFrame(RandomRaw(40, 30, vfRGBA32, 3));
    ripple.ProcessFrame(in);
    std::atomic<bool> stop{false};
    std::thread dropper([&] {
        for (int i = 0; !stop.load(); ++i) ripple.DropAt(i % 40, (i * 7) % 30, 3, 20.0);
    });
    for (int frame = 0; frame < 60; ++frame) {
        const IPXImageBuffer out = ripple.ProcessFrame(in);
        ASSERT_EQ(out->GetSize(), (TSize{40, 30}));
    }
    stop = true;
    dropper.join();
    EXPECT_GT(ripple.DropsMade(), 60);
}

}  // namespace
}  // namespace pixora
