// Swirl, fish-eye and cylinder: their maps against mappings written out here from the effects'
// definitions, the distances and angles that pin the formulas down, the background rule, the
// bounding rectangles and bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>

#include "filters/geometric/PXCylinder.h"
#include "filters/geometric/PXFishEye.h"
#include "filters/geometric/PXSwirl.h"
#include "frame/PixoraPkg.h"
#include "platform/registry/PXRegistry.h"
#include "tests/geometric/RemapTestSupport.h"

namespace pixora {
namespace {

const double kPi = std::acos(-1.0);

// The circle set-up shared by the three effects, from their definitions.
struct TRefCircle {
    double InW, InH, OutW, OutH, R;
    int CX, CY;
    bool Preserve, Stretch;
    int Hw() const { return int(OutW) / 2; }
    int Hh() const { return int(OutH) / 2; }
    double Sx() const { return Hw() - ((OutW - InW) / 2 - CX); }
    double Sy() const { return Hh() - ((OutH - InH) / 2 - CY); }
    void Finish(double& x, double& y) const {
        if (Stretch) {
            x = std::min(std::max(x, 0.0), InW - 1);
            y = std::min(std::max(y, 0.0), InH - 1);
        }
    }
    void Outside(double dx, double dy, double& x, double& y) const {
        if (!Preserve) {
            x = y = -10;
            return;
        }
        x = dx + Sx();
        y = dy + Sy();
        Finish(x, y);
    }
};

using TRefMap = std::function<void(const TRefCircle&, int i, int j, double& x, double& y)>;

void RefSwirl(const TRefCircle& c, double k, unsigned reversals, int i, int j, double& x, double& y) {
    if (c.R <= 0) {
        x = i, y = j;
        return;
    }
    const double dx = i - c.Hw() - c.CX, dy = j - c.Hh() - c.CY, d = std::hypot(dx, dy);
    if (d > c.R) return c.Outside(dx, dy, x, y);
    const double band = c.R / (reversals + 1.0);
    const long n = long(d / band);
    double theta = std::atan2(dy, dx);
    theta -= (n % 2) != long(reversals % 2) ? k * (d - n * band) : k * ((n + 1) * band - d);
    x = c.Sx() + d * std::cos(theta), y = c.Sy() + d * std::sin(theta);
    c.Finish(x, y);
}

void RefFishEye(const TRefCircle& c, double curvature, int i, int j, double& x, double& y) {
    const double a = std::fabs(curvature), k = std::log(a * c.R + 1);
    if (k < 1e-14) {
        x = i, y = j;
        return;
    }
    const double dx = i - c.Hw() - std::max(0, c.CX), dy = j - c.Hh() - std::max(0, c.CY), d = std::hypot(dx, dy);
    if (d > c.R) return c.Outside(dx, dy, x, y);
    const double s = c.R / k;
    const double dd = curvature >= 0 ? (std::exp(d / s) - 1) / a : std::log(a * d + 1) * s;
    const double theta = std::atan2(dy, dx);
    x = c.Sx() + dd * std::cos(theta), y = c.Sy() + dd * std::sin(theta);
    c.Finish(x, y);
}

void RefCylinder(const TRefCircle& c, int i, int j, double& x, double& y) {
    if (c.R <= 0) {
        x = i, y = j;
        return;
    }
    const double dx = i - c.Hw() - std::max(0, c.CX), dy = j - c.Hh() - std::max(0, c.CY), d = std::hypot(dx, dy);
    if (d > c.R) return c.Outside(dx, dy, x, y);
    x = c.InW * d / c.R;
    y = (c.InH - 2) * std::atan2(dy, dx) / (2 * kPi) + c.InH / 2;
    c.Finish(x, y);
}

// Compares every map cell with the reference (float precision of the maps).
void ExpectMaps(const TRemapMaps& maps, const TRefCircle& c, const TRefMap& ref, const std::string& what) {
    int bad = 0;
    for (int j = 0; j < maps.Output.Height; ++j)
        for (int i = 0; i < maps.Output.Width; ++i) {
            double x, y;
            ref(c, i, j, x, y);
            const std::size_t k = std::size_t(j) * std::size_t(maps.Output.Width) + std::size_t(i);
            const double tol = 1e-4 * (1 + std::fabs(x) + std::fabs(y));
            if ((std::fabs(maps.X[k] - x) > tol || std::fabs(maps.Y[k] - y) > tol) && bad++ < 3)
                ADD_FAILURE() << what << " pixel " << i << "," << j << ": map (" << maps.X[k] << ", " << maps.Y[k]
                              << "), want (" << x << ", " << y << ")";
        }
    EXPECT_EQ(bad, 0) << what;
}

struct TSetup {
    TSize In, Out;
    int CX, CY;
    bool Preserve, Stretch;
};

const TSetup kSetups[] = {
    {{64, 48}, {64, 48}, 0, 0, false, false},  {{64, 48}, {64, 48}, 7, -5, true, false},
    {{64, 48}, {80, 40}, -6, 9, false, true},  {{37, 23}, {37, 23}, 3, 2, true, true},
    {{1, 1}, {1, 1}, 0, 0, false, false},      {{2, 1}, {2, 1}, 0, 0, true, false},
};

template <class F>
void ForEachSetup(F&& run) {
    for (const TSetup& s : kSetups)
        for (TPXRemapRadiusMode mode : {rrmInputMin, rrmOutputDiag, rrmCustom}) run(s, mode);
}

template <class TFilter>
TRefCircle Prepare(TFilter& f, const TSetup& s, TPXRemapRadiusMode mode) {
    f.SetAutoSize(asCustom);
    f.CustomSize().SetSize(s.Out.Width, s.Out.Height);
    f.Radius().SetMode(mode);
    f.Radius().SetCustomRadius(17);
    f.CenterOffset().SetCX(s.CX);
    f.CenterOffset().SetCY(s.CY);
    f.Background().SetPreserve(s.Preserve);
    f.Background().SetStretch(s.Stretch);
    const double r = mode == rrmCustom  ? 17.0
                     : mode == rrmInputMin ? std::min(s.In.Width, s.In.Height) / 2.0
                                           : std::hypot(double(s.Out.Width), double(s.Out.Height)) / 2;
    return {double(s.In.Width), double(s.In.Height), double(s.Out.Width), double(s.Out.Height), r, s.CX, s.CY,
            s.Preserve, s.Stretch};
}

TEST(CircleEffects, SwirlMapsMatchTheDefinition) {
    ForEachSetup([](const TSetup& s, TPXRemapRadiusMode mode) {
        for (unsigned reversals : {0u, 1u, 4u}) {
            TPXSwirl swirl;
            const TRefCircle c = Prepare(swirl, s, mode);
            swirl.SetCoefficient(0.11);
            swirl.SetNumReversals(reversals);
            const auto maps = swirl.BuildMaps(s.In, s.Out);
            ExpectMaps(*maps, c,
                       [&](const TRefCircle& rc, int i, int j, double& x, double& y) {
                           RefSwirl(rc, 0.11, reversals, i, j, x, y);
                       },
                       "swirl reversals " + std::to_string(reversals) + " mode " + std::to_string(int(mode)));
        }
    });
}

TEST(CircleEffects, FishEyeMapsMatchTheDefinition) {
    ForEachSetup([](const TSetup& s, TPXRemapRadiusMode mode) {
        for (double curvature : {0.03, 0.5, -0.4, 0.0}) {
            TPXFishEye fish;
            const TRefCircle c = Prepare(fish, s, mode);
            fish.SetCurvature(curvature);
            const auto maps = fish.BuildMaps(s.In, s.Out);
            ExpectMaps(*maps, c,
                       [&](const TRefCircle& rc, int i, int j, double& x, double& y) {
                           RefFishEye(rc, curvature, i, j, x, y);
                       },
                       "fish-eye curvature " + std::to_string(curvature));
        }
    });
}

TEST(CircleEffects, CylinderMapsMatchTheDefinition) {
    ForEachSetup([](const TSetup& s, TPXRemapRadiusMode mode) {
        TPXCylinder cylinder;
        const TRefCircle c = Prepare(cylinder, s, mode);
        const auto maps = cylinder.BuildMaps(s.In, s.Out);
        ExpectMaps(*maps, c, RefCylinder, "cylinder mode " + std::to_string(int(mode)));
    });
}

// The map cell of output pixel (i, j).
std::pair<double, double> Cell(const TRemapMaps& m, int i, int j) {
    const std::size_t k = std::size_t(j) * std::size_t(m.Output.Width) + std::size_t(i);
    return {m.X[k], m.Y[k]};
}

TEST(CircleEffects, FishEyeDistances) {
    TPXFishEye fish;
    fish.SetAutoSize(asInputSize);
    fish.Radius().SetMode(rrmCustom);
    fish.Radius().SetCustomRadius(100);
    fish.SetCurvature(2);
    const TSize size{300, 300};  // centre (150, 150), source centre (150, 150)
    auto maps = fish.BuildMaps(size, size);
    EXPECT_NEAR(Cell(*maps, 250, 150).first - 150, 100.0, 1e-3) << "the rim stays in place";
    EXPECT_NEAR(Cell(*maps, 200, 150).first - 150, 6.6, 0.05) << "distance 50 under curvature 2";
    EXPECT_NEAR(Cell(*maps, 150, 100).second - 150, -6.6, 0.05) << "the same straight up";
    fish.SetCurvature(-2);
    maps = fish.BuildMaps(size, size);
    EXPECT_NEAR(Cell(*maps, 200, 150).first - 150, 87.0, 0.05) << "distance 50 under curvature -2";
    EXPECT_NEAR(Cell(*maps, 250, 150).first - 150, 100.0, 1e-3);
}

TEST(CircleEffects, SwirlWithoutReversalsTurnsTheCentreMost) {
    TPXSwirl swirl;
    swirl.Radius().SetMode(rrmCustom);
    swirl.Radius().SetCustomRadius(40);
    swirl.SetCoefficient(0.05);
    swirl.SetNumReversals(0);
    const TSize size{100, 100};
    const auto maps = swirl.BuildMaps(size, size);
    for (int d : {0, 5, 20, 39, 40}) {
        // A pixel at distance d on the positive x axis (θ = 0) is turned by −0.05 · (40 − d).
        const double turned = -0.05 * (40 - d);
        const auto [x, y] = Cell(*maps, 50 + d, 50);
        EXPECT_NEAR(x, 50 + d * std::cos(turned), 1e-4) << "distance " << d;
        EXPECT_NEAR(y, 50 + d * std::sin(turned), 1e-4) << "distance " << d;
    }
}

TEST(CircleEffects, BackgroundDefaults) {
    EXPECT_TRUE(TPXSwirl().Background().GetPreserve());
    EXPECT_TRUE(TPXSwirl().Background().GetPreserve_Default());
    EXPECT_FALSE(TPXFishEye().Background().GetPreserve());
    EXPECT_FALSE(TPXCylinder().Background().GetPreserve());
    EXPECT_FALSE(TPXSwirl().Background().PreserveStored());
    TPXFishEye fish;
    fish.Background().SetPreserve(true);
    EXPECT_TRUE(fish.Background().PreserveStored());

    // Outside the circle: the swirl shows the input, the fish-eye and cylinder the background.
    const auto in = testref::RandomRaw(40, 30, vfRGB24, 4);
    const IPXImageBuffer frame = testref::ToFrame(in);
    const auto background = remaptest::BackgroundPixel(0x00FF00FF, vfRGB24);
    auto run = [&](TPXCircleRemapFilter& f) {
        f.SetThreaded(false);
        f.SetAutoSize(asInputSize);
        f.SetBackgroundColor(0x00FF00FF);
        f.Radius().SetMode(rrmCustom);
        f.Radius().SetCustomRadius(8);
        return testref::Capture(f.ProcessFrame(frame));
    };
    TPXSwirl swirl;
    TPXFishEye fishEye;
    TPXCylinder cylinder;
    const auto s = run(swirl), f = run(fishEye), c = run(cylinder);
    for (auto [x, y] : {std::pair{0, 0}, std::pair{39, 29}, std::pair{2, 20}})
        for (int ch = 0; ch < 3; ++ch) {
            EXPECT_EQ(s.Sample(x, y, ch), in.Sample(x, y, ch));
            EXPECT_EQ(f.Sample(x, y, ch), background.Sample(0, 0, ch));
            EXPECT_EQ(c.Sample(x, y, ch), background.Sample(0, 0, ch));
        }
}

TEST(CircleEffects, CylinderRightOfTheCentreSamplesTheMiddleRow) {
    TPXCylinder cylinder;
    cylinder.Radius().SetMode(rrmCustom);
    cylinder.Radius().SetCustomRadius(30);
    const TSize size{80, 61};
    const auto maps = cylinder.BuildMaps(size, size);
    for (int d : {1, 10, 29}) {
        const auto [x, y] = Cell(*maps, 40 + d, 30);
        EXPECT_DOUBLE_EQ(y, 61 / 2.0) << "distance " << d;
        EXPECT_NEAR(x, 80.0 * d / 30, 1e-4);
    }
}

TEST(CircleEffects, RadiusZeroIsTheIdentity) {
    const auto in = testref::RandomRaw(21, 13, vfGray8, 6);
    auto check = [&](TPXCircleRemapFilter& f, const char* name) {
        f.SetThreaded(false);
        f.SetAutoSize(asInputSize);
        f.SetInterpolationType(itLinear);
        f.Radius().SetMode(rrmCustom);
        f.Radius().SetCustomRadius(0);
        EXPECT_TRUE(testref::SameImage(in, testref::Capture(f.ProcessFrame(testref::ToFrame(in))))) << name;
    };
    TPXSwirl swirl;
    TPXFishEye fish;
    TPXCylinder cylinder;
    check(swirl, "swirl");
    check(fish, "fish-eye");
    check(cylinder, "cylinder");
    TPXFishEye flat;
    flat.SetCurvature(0);
    flat.Radius().SetMode(rrmInputMin);
    flat.SetThreaded(false);
    flat.SetAutoSize(asInputSize);
    EXPECT_TRUE(testref::SameImage(in, testref::Capture(flat.ProcessFrame(testref::ToFrame(in))))) << "curvature 0";
}

TEST(CircleEffects, BoundingRectangles) {
    // A swirl with no twist maps every pixel of the circle onto itself: the rectangle is the
    // circle clipped to the frame; with Preserve it holds the whole input.
    TPXSwirl swirl;
    swirl.SetAutoSize(asBoundingRect);
    swirl.SetCoefficient(0);
    swirl.Radius().SetMode(rrmCustom);
    swirl.Radius().SetCustomRadius(10);
    swirl.Background().SetPreserve(false);
    EXPECT_EQ(swirl.OutputSizeFor(100, 80), (TSize{20, 20}));
    swirl.Background().SetPreserve(true);
    EXPECT_EQ(swirl.OutputSizeFor(100, 80), (TSize{100, 80}));
    swirl.Radius().SetCustomRadius(500);  // the circle covers the frame: the frame's offsets
    swirl.Background().SetPreserve(false);
    EXPECT_EQ(swirl.OutputSizeFor(100, 80), (TSize{99, 79}));

    TPXFishEye fish;
    fish.SetAutoSize(asBoundingRect);
    fish.Radius().SetMode(rrmCustom);
    fish.Radius().SetCustomRadius(10);
    fish.SetCurvature(0.5);
    EXPECT_EQ(fish.OutputSizeFor(100, 80), (TSize{20, 20})) << "a bulge keeps its samples inside the circle";
    fish.Background().SetPreserve(true);
    EXPECT_EQ(fish.OutputSizeFor(100, 80), (TSize{100, 80}));
    fish.SetCurvature(0);
    EXPECT_EQ(fish.OutputSizeFor(100, 80), (TSize{100, 80})) << "no distortion";
}

TEST(CircleEffects, BadInputIsRefused) {
    TPXSwirl swirl;
    TPXFishEye fish;
    for (const char* text : {"nan", "inf", "-inf"}) {
        try {
            SetPropertyText(swirl, "Coefficient", text);
            ADD_FAILURE() << "Coefficient " << text << " was accepted";
        } catch (const EPXError& e) {
            EXPECT_NE(std::string(e.what()).find("finite"), std::string::npos) << e.what();
        }
        EXPECT_THROW(SetPropertyText(fish, "Curvature", text), EPXError);
    }
    EXPECT_THROW(swirl.SetCoefficient(std::numeric_limits<double>::quiet_NaN()), EPXError);
    EXPECT_DOUBLE_EQ(swirl.GetCoefficient(), 0.05) << "a refused value leaves the old one";
}

TEST(CircleEffects, RegisteredWithTheirDisplayNames) {
    RegisterPackage();
    for (auto [cls, name] : {std::pair{"TPXSwirl", "Swirl Video Frame"},
                             std::pair{"TPXFishEye", "Fish Eye effect Video Frame"},
                             std::pair{"TPXCylinder", "Cylinder Video Effect"}}) {
        const auto* entry = TRegistry::Instance().Find(cls);
        ASSERT_NE(entry, nullptr) << cls;
        EXPECT_EQ(entry->DisplayName, name);
        EXPECT_TRUE(TRegistry::Instance().Create(cls)) << cls;
    }
}

}  // namespace
}  // namespace pixora
