// The moving-least-squares warp: its maps against the deformation written out here (exact at
// the grid nodes, bilinear between them), translations, degenerate point sets, the legacy grid
// step name and point edits picked up by the next frame.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include <nlohmann/json.hpp>

#include "filters/geometric/PXMovingLeastSquaresWarp.h"
#include "tests/geometric/RemapTestSupport.h"

namespace pixora {
namespace {

struct TRefPoint {
    double Ox, Oy, Mx, My;
};

// The rigid moving-least-squares source point of output point v, from its definition.
void RefDeform(const std::vector<TRefPoint>& pts, double vx, double vy, double& x, double& y) {
    if (pts.empty()) {
        x = vx, y = vy;
        return;
    }
    const double tiny = std::numeric_limits<double>::denorm_min();
    std::vector<double> w;
    double sum = 0;
    for (const auto& p : pts) {
        const double d = (p.Mx - vx) * (p.Mx - vx) + (p.My - vy) * (p.My - vy);
        w.push_back(d <= tiny ? 3.4028235e33 : 1 / d);
        sum += w.back();
    }
    double mx = 0, my = 0, ox = 0, oy = 0;
    for (std::size_t i = 0; i < pts.size(); ++i) {
        mx += w[i] * pts[i].Mx / sum, my += w[i] * pts[i].My / sum;
        ox += w[i] * pts[i].Ox / sum, oy += w[i] * pts[i].Oy / sum;
    }
    mx = float(mx), my = float(my), ox = float(ox), oy = float(oy);
    double a = 0, b = 0;
    for (std::size_t i = 0; i < pts.size(); ++i) {
        const double px = pts[i].Mx - mx, py = pts[i].My - my, qx = pts[i].Ox - ox, qy = pts[i].Oy - oy;
        a += w[i] * (px * qx + py * qy);
        b += w[i] * (px * qy - qx * py);
    }
    const double len = std::hypot(a, b);
    if (len > tiny && pts.size() != 1) {
        a /= len, b /= len;
    } else {
        a = 1, b = 0;
    }
    x = a * (vx - mx) - b * (vy - my) + ox;
    y = b * (vx - mx) + a * (vy - my) + oy;
}

void AddPoint(TPXMovingLeastSquaresWarp& mls, TRefPoint p) {
    TPXRemappingPoint& point = mls.Points().Add();
    point.Original().SetPoint(float(p.Ox), float(p.Oy));
    point.Moved().SetPoint(float(p.Mx), float(p.My));
}

std::vector<int> Nodes(int n, int step) {
    std::vector<int> nodes;
    for (int i = 0; i < n; i += step) nodes.push_back(i);
    if (nodes.back() != n - 1) nodes.push_back(n - 1);
    return nodes;
}

TEST(MlsWarp, GridNodes) {
    const auto flags = TPXMovingLeastSquaresWarp::NodeFlags(50, 20);
    std::vector<int> nodes;
    for (int i = 0; i < 50; ++i)
        if (flags[std::size_t(i)]) nodes.push_back(i);
    EXPECT_EQ(nodes, (std::vector<int>{0, 20, 40, 49}));
    EXPECT_EQ(TPXMovingLeastSquaresWarp::NodeFlags(1, 20), std::vector<bool>{true});
    EXPECT_EQ(TPXMovingLeastSquaresWarp::NodeFlags(3, 1), (std::vector<bool>{true, true, true}));
}

TEST(MlsWarp, MapsAreExactAtNodesAndBilinearBetween) {
    const std::vector<TRefPoint> pts = {{10, 10, 14, 8}, {40, 12, 37, 15}, {25, 30, 27, 33}, {5, 35, 2, 30}};
    for (int step : {1, 7, 20}) {
        TPXMovingLeastSquaresWarp mls;
        mls.SetGridStep(uint32_t(step));
        for (const auto& p : pts) AddPoint(mls, p);
        const TSize size{50, 41};
        const auto maps = mls.BuildMaps(size, size);
        const auto xs = Nodes(50, step), ys = Nodes(41, step);
        // The exact deformation at every node, bilinear interpolation of the four nodes around
        // every other pixel.
        auto nodeValue = [&](int x, int y, double& mx, double& my) { RefDeform(pts, x, y, mx, my); };
        for (int y = 0; y < 41; ++y)
            for (int x = 0; x < 50; ++x) {
                const int x1i = int(std::lower_bound(xs.begin(), xs.end(), x) - xs.begin());
                const int y1i = int(std::lower_bound(ys.begin(), ys.end(), y) - ys.begin());
                const int x1 = xs[std::size_t(x1i)], y1 = ys[std::size_t(y1i)];
                const int x0 = x1 == x ? x : xs[std::size_t(x1i - 1)], y0 = y1 == y ? y : ys[std::size_t(y1i - 1)];
                const double tx = x1 == x0 ? 0 : double(x - x0) / (x1 - x0);
                const double ty = y1 == y0 ? 0 : double(y - y0) / (y1 - y0);
                double v00x, v00y, v10x, v10y, v01x, v01y, v11x, v11y;
                nodeValue(x0, y0, v00x, v00y);
                nodeValue(x1, y0, v10x, v10y);
                nodeValue(x0, y1, v01x, v01y);
                nodeValue(x1, y1, v11x, v11y);
                const double wantX = (1 - ty) * ((1 - tx) * v00x + tx * v10x) + ty * ((1 - tx) * v01x + tx * v11x);
                const double wantY = (1 - ty) * ((1 - tx) * v00y + tx * v10y) + ty * ((1 - tx) * v01y + tx * v11y);
                const std::size_t k = std::size_t(y) * 50 + std::size_t(x);
                ASSERT_NEAR(maps->X[k], wantX, 2e-3) << "step " << step << " pixel " << x << "," << y;
                ASSERT_NEAR(maps->Y[k], wantY, 2e-3) << "step " << step << " pixel " << x << "," << y;
            }
    }
}

TEST(MlsWarp, OnePointTranslatesTheWholePicture) {
    TPXMovingLeastSquaresWarp mls;
    mls.SetThreaded(false);
    mls.SetAutoSize(asInputSize);
    AddPoint(mls, {100, 100, 110, 120});
    const auto maps = mls.BuildMaps({200, 150}, {200, 150});
    for (int y = 0; y < 150; y += 7)
        for (int x = 0; x < 200; x += 3) {
            const std::size_t k = std::size_t(y) * 200 + std::size_t(x);
            ASSERT_NEAR(maps->X[k], x - 10, 1e-3);
            ASSERT_NEAR(maps->Y[k], y - 20, 1e-3);
        }
    // The frame: output (x, y) shows input (x − 10, y − 20), the background where that is outside.
    const auto in = testref::RandomRaw(60, 40, vfRGB24, 9);
    const auto out = testref::Capture(mls.ProcessFrame(testref::ToFrame(in)));
    const auto bg = remaptest::BackgroundPixel(0, vfRGB24);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 60; ++x)
            for (int c = 0; c < 3; ++c) {
                const bool inside = x >= 10 && y >= 20;
                ASSERT_EQ(out.Sample(x, y, c), inside ? in.Sample(x - 10, y - 20, c) : bg.Sample(0, 0, c))
                    << x << "," << y;
            }
}

TEST(MlsWarp, DegeneratePointSets) {
    const auto in = testref::RandomRaw(30, 20, vfGray8, 1);
    {
        TPXMovingLeastSquaresWarp mls;  // no points: every pixel stays where it is
        mls.SetThreaded(false);
        mls.SetAutoSize(asInputSize);
        mls.SetInterpolationType(itLinear);
        EXPECT_TRUE(testref::SameImage(in, testref::Capture(mls.ProcessFrame(testref::ToFrame(in)))));
    }
    {
        // Coincident points (the same Moved twice, different Originals) and a point exactly on a
        // grid node: finite maps; the node maps (nearly) onto that point's Original.
        TPXMovingLeastSquaresWarp mls;
        mls.SetGridStep(5);
        AddPoint(mls, {12, 7, 10, 10});
        AddPoint(mls, {8, 13, 10, 10});
        AddPoint(mls, {3, 4, 20, 15});
        const auto maps = mls.BuildMaps({30, 20}, {30, 20});
        for (std::size_t k = 0; k < maps->X.size(); ++k) {
            ASSERT_TRUE(std::isfinite(maps->X[k]) && std::isfinite(maps->Y[k])) << k;
        }
        EXPECT_NEAR(maps->X[15 * 30 + 20], 3, 1e-3);
        EXPECT_NEAR(maps->Y[15 * 30 + 20], 4, 1e-3);
        double x, y;
        RefDeform({{12, 7, 10, 10}, {8, 13, 10, 10}, {3, 4, 20, 15}}, 10, 10, x, y);
        EXPECT_NEAR(maps->X[10 * 30 + 10], x, 1e-3);
        EXPECT_NEAR(maps->Y[10 * 30 + 10], y, 1e-3);
    }
}

TEST(MlsWarp, GridStepAndItsFormerName) {
    TPXMovingLeastSquaresWarp mls;
    EXPECT_EQ(mls.GetGridStep(), 20u);
    mls.SetGridStep(0);
    EXPECT_EQ(mls.GetGridStep(), 1u);
    LoadProperties(mls, nlohmann::json{{"StepSize", 7}});
    EXPECT_EQ(mls.GetGridStep(), 7u);
    LoadProperties(mls, nlohmann::json{{"GridStep", 9}});
    EXPECT_EQ(mls.GetGridStep(), 9u);
    EXPECT_THROW(LoadProperties(mls, nlohmann::json{{"StepSize", "wide"}}), EPXError);
    nlohmann::json saved;
    SaveProperties(mls, saved);
    EXPECT_FALSE(saved.contains("StepSize")) << saved.dump();
    EXPECT_EQ(saved["GridStep"], 9);
}

TEST(MlsWarp, PointEditsAreTakenUpByTheNextFrame) {
    TPXMovingLeastSquaresWarp mls;
    mls.SetThreaded(false);
    mls.SetAutoSize(asInputSize);
    EXPECT_TRUE(mls.GetPointsModified()) << "a new component";
    const auto in = testref::RandomRaw(30, 20, vfGray8, 2);
    mls.ProcessFrame(testref::ToFrame(in));
    EXPECT_FALSE(mls.GetPointsModified());
    const auto before = mls.GetMaps();
    AddPoint(mls, {5, 5, 8, 9});
    EXPECT_TRUE(mls.GetPointsModified());
    EXPECT_EQ(mls.GetMaps(), before) << "the edit alone does not rebuild";
    const auto out = testref::Capture(mls.ProcessFrame(testref::ToFrame(in)));
    EXPECT_FALSE(mls.GetPointsModified());
    EXPECT_EQ(out.Sample(10, 10, 0), in.Sample(7, 6, 0));
    mls.Points()[0].Moved().SetX(6);
    EXPECT_TRUE(mls.GetPointsModified());
    const auto moved = testref::Capture(mls.ProcessFrame(testref::ToFrame(in)));
    EXPECT_EQ(moved.Sample(10, 10, 0), in.Sample(9, 6, 0));
    // Persisted points come back.
    nlohmann::json saved;
    SaveProperties(mls, saved);
    TPXMovingLeastSquaresWarp copy;
    LoadProperties(copy, saved);
    ASSERT_EQ(copy.Points().Count(), 1);
    EXPECT_FLOAT_EQ(copy.Points()[0].Moved().GetX(), 6.0f);
    EXPECT_FLOAT_EQ(copy.Points()[0].Original().GetY(), 5.0f);
}

}  // namespace
}  // namespace pixora
