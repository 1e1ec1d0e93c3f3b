// The warp kernels and their coefficient and bound helpers against slow references: bounds by
// brute force over every pixel, coefficients by their defining corner property and a closed-form
// projective map, warps per pixel in double precision (nearest exact, linear within one level),
// identity for every interpolation type, bands, untouched pixels, the mirror.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "platform/kernels/Warp.h"
#include "tests/geometric/WarpReference.h"
#include "tests/kernels/KernelTestImage.h"

namespace pixora {
namespace {

using kernels::kInterCubic;
using kernels::kInterLanczos;
using kernels::kInterLinear;
using kernels::kInterNN;
using kernels::kInterSuper;
using kernels::kSmoothEdge;
using test::TPlane;

constexpr int kAllTypes[] = {kInterNN, kInterLinear, kInterCubic, kInterSuper, kInterLanczos};

// ---- helpers ---------------------------------------------------------------------------------

void ApplyAffine(const double c[2][3], double x, double y, double& X, double& Y) {
    X = c[0][0] * x + c[0][1] * y + c[0][2];
    Y = c[1][0] * x + c[1][1] * y + c[1][2];
}

// Bounds of every pixel centre of r under f, the slow way.
template <class F>
void BruteBound(TRect r, F&& f, double bound[2][2]) {
    bound[0][0] = bound[0][1] = std::numeric_limits<double>::infinity();
    bound[1][0] = bound[1][1] = -std::numeric_limits<double>::infinity();
    for (int y = r.Y; y < r.Y + r.Height; ++y)
        for (int x = r.X; x < r.X + r.Width; ++x) {
            double X, Y;
            f(double(x), double(y), X, Y);
            bound[0][0] = std::min(bound[0][0], X), bound[0][1] = std::min(bound[0][1], Y);
            bound[1][0] = std::max(bound[1][0], X), bound[1][1] = std::max(bound[1][1], Y);
        }
}

// Compares dst with the reference of every destination pixel of the plane: `source(X, Y, x, y)`
// gives the source point (false: none). Pixels the reference cannot decide are skipped; the
// number decided must be a real share of the picture.
template <class T, class F>
void ExpectWarp(const TPlane<T>& src, TRect srcRoi, const TPlane<T>& before, const TPlane<T>& dst, int interpolation,
                F&& source, const std::string& what) {
    const bool nearest = (interpolation & 0xFF) == kInterNN;
    const bool smooth = (unsigned(interpolation) & kSmoothEdge) != 0;
    const double tolerance = nearest && !smooth ? 0.0 : 1.0;
    int checked = 0, written = 0, failures = 0;
    for (int Y = 0; Y < dst.Height; ++Y)
        for (int X = 0; X < dst.Width; ++X)
            for (int c = 0; c < dst.Channels; ++c) {
                double x = std::numeric_limits<double>::quiet_NaN(), y = x;
                if (!source(double(X), double(Y), x, y)) x = y = std::numeric_limits<double>::quiet_NaN();
                const auto at = [&](int px, int py) { return double(src.At(px, py, c)); };
                const warpref::TPixel want = warpref::Sample(at, {srcRoi.X, srcRoi.Y, srcRoi.Width, srcRoi.Height}, x,
                                                             y, nearest, smooth, double(before.At(X, Y, c)));
                if (want.Outcome == warpref::TOutcome::Ambiguous) continue;
                ++checked;
                const double expect = want.Outcome == warpref::TOutcome::Value ? want.Value : before.At(X, Y, c);
                if (want.Outcome == warpref::TOutcome::Value) ++written;
                if (std::fabs(double(dst.At(X, Y, c)) - expect) > tolerance && ++failures <= 5)
                    ADD_FAILURE() << what << ": pixel (" << X << ", " << Y << ") channel " << c << " is "
                                  << double(dst.At(X, Y, c)) << ", expected " << expect << " (source " << x << ", "
                                  << y << ")";
            }
    EXPECT_EQ(failures, 0) << what;
    EXPECT_GT(checked, dst.Width * dst.Height * dst.Channels * 3 / 4) << what;
    EXPECT_GT(written, 0) << what;
}

template <class T>
TPlane<T> Background(int w, int h, int channels, uint32_t seed) {
    return TPlane<T>(w, h, channels, 3, seed);
}

// ---- coefficient and bound helpers ----------------------------------------------------------

TEST(WarpHelpers, RotateShiftKeepsTheCentreInPlace) {
    for (double angle : {0.0, 17.5, -90.0, 180.0, 333.0}) {
        double xs, ys, c[2][3], X, Y;
        kernels::GetRotateShift(12.25, -3.5, angle, xs, ys);
        kernels::GetRotateTransform(angle, xs, ys, c);
        ApplyAffine(c, 12.25, -3.5, X, Y);
        EXPECT_NEAR(X, 12.25, 1e-9) << angle;
        EXPECT_NEAR(Y, -3.5, 1e-9) << angle;
        // A point one pixel to the right turns counter-clockwise on screen for a positive angle.
        ApplyAffine(c, 13.25, -3.5, X, Y);
        const double t = angle * std::acos(-1.0) / 180;
        EXPECT_NEAR(X, 12.25 + std::cos(t), 1e-9) << angle;
        EXPECT_NEAR(Y, -3.5 - std::sin(t), 1e-9) << angle;
    }
}

TEST(WarpHelpers, RotateAndShearBoundsCoverEveryPixelCentre) {
    const TRect r{3, 5, 37, 23};
    for (double angle : {0.0, 30.0, 90.0, -135.0, 200.0}) {
        double c[2][3], want[2][2], got[2][2];
        kernels::GetRotateTransform(angle, 4.5, -7.0, c);
        BruteBound(r, [&](double x, double y, double& X, double& Y) { ApplyAffine(c, x, y, X, Y); }, want);
        kernels::GetRotateBound(r, got, angle, 4.5, -7.0);
        for (int i = 0; i < 2; ++i)
            for (int k = 0; k < 2; ++k) EXPECT_NEAR(got[i][k], want[i][k], 1e-9) << angle;
    }
    for (double shx : {0.0, 0.5, -0.25})
        for (double shy : {0.0, 0.1, -1.5}) {
            const double c[2][3] = {{1, shx, 2.0}, {shy, 1, -3.0}};
            double want[2][2], got[2][2];
            BruteBound(r, [&](double x, double y, double& X, double& Y) { ApplyAffine(c, x, y, X, Y); }, want);
            kernels::GetShearBound(r, got, shx, shy, 2.0, -3.0);
            for (int i = 0; i < 2; ++i)
                for (int k = 0; k < 2; ++k) EXPECT_NEAR(got[i][k], want[i][k], 1e-9) << shx << " " << shy;
        }
}

TEST(WarpHelpers, PerspectiveCoefficientsCarryTheRectangleOntoTheQuad) {
    const TRect r{4, 2, 37, 23};
    const double quad[4][2] = {{-3, 1}, {45, -4}, {40, 30}, {2, 26}};
    double c[3][3];
    ASSERT_TRUE(kernels::GetPerspectiveTransform(r, quad, c));
    auto apply = [&](double x, double y, double& X, double& Y) {
        const double w = c[2][0] * x + c[2][1] * y + c[2][2];
        X = (c[0][0] * x + c[0][1] * y + c[0][2]) / w;
        Y = (c[1][0] * x + c[1][1] * y + c[1][2]) / w;
    };
    // Interior points agree with the closed-form projective map of the same corners.
    for (double x : {4.0, 10.3, 29.9, 41.0})
        for (double y : {2.0, 7.7, 25.0}) {
            double X, Y, RX, RY;
            apply(x, y, X, Y);
            warpref::RectToQuadPerspective(quad, r.X, r.Y, r.Width, r.Height, x, y, RX, RY);
            EXPECT_NEAR(X, RX, 1e-7);
            EXPECT_NEAR(Y, RY, 1e-7);
        }
    double bound[2][2];
    kernels::GetPerspectiveBound(r, bound, c);
    EXPECT_NEAR(bound[0][0], -3, 1e-7);
    EXPECT_NEAR(bound[0][1], -4, 1e-7);
    EXPECT_NEAR(bound[1][0], 45, 1e-7);
    EXPECT_NEAR(bound[1][1], 30, 1e-7);
    // All corners on one point: no transform.
    const double point[4][2] = {{5, 5}, {5, 5}, {5, 5}, {5, 5}};
    EXPECT_FALSE(kernels::GetPerspectiveTransform(r, point, c));
}

TEST(WarpHelpers, BilinearCoefficientsCarryTheRectangleOntoTheQuad) {
    const TRect r{0, 0, 20, 10};
    const double quad[4][2] = {{1, 2}, {25, -3}, {22, 14}, {-4, 9}};
    double c[2][4];
    ASSERT_TRUE(kernels::GetBilinearTransform(r, quad, c));
    for (double x : {0.0, 3.5, 20.0})
        for (double y : {0.0, 6.25, 10.0}) {
            const double X = c[0][0] * x * y + c[0][1] * x + c[0][2] * y + c[0][3];
            const double Y = c[1][0] * x * y + c[1][1] * x + c[1][2] * y + c[1][3];
            double RX, RY;
            warpref::RectToQuadBilinear(quad, 0, 0, 20, 10, x, y, RX, RY);
            EXPECT_NEAR(X, RX, 1e-9);
            EXPECT_NEAR(Y, RY, 1e-9);
            // And back.
            double bx, by;
            ASSERT_TRUE(kernels::InverseBilinear(c, r, X, Y, bx, by));
            EXPECT_NEAR(bx, x, 1e-7);
            EXPECT_NEAR(by, y, 1e-7);
        }
    double bound[2][2];
    kernels::GetBilinearBound(r, bound, c);
    EXPECT_NEAR(bound[0][0], -4, 1e-9);
    EXPECT_NEAR(bound[0][1], -3, 1e-9);
    EXPECT_NEAR(bound[1][0], 25, 1e-9);
    EXPECT_NEAR(bound[1][1], 14, 1e-9);
}

// ---- the warps per pixel --------------------------------------------------------------------

template <class T>
void RotateAgainstReference(int channels) {
    const TPlane<T> src(37, 23, channels, 5, 11);
    const TRect roi{2, 3, 30, 17};
    for (int interpolation : {kInterNN, kInterLinear, int(kInterLinear | kSmoothEdge), int(kInterNN | kSmoothEdge)}) {
        for (double angle : {30.0, -75.0, 180.0}) {
            const TPlane<T> before = Background<T>(41, 29, channels, 99);
            TPlane<T> dst = before;
            const double ax = 18, ay = 11.5, tx = 2, ty = 3;  // turn about (ax, ay), then move
            double xs, ys;
            kernels::GetRotateShift(ax, ay, -angle, xs, ys);
            kernels::Rotate<T>(src.AsConstView(), roi, dst.AsView(), TRect{0, 0, dst.Width, dst.Height}, -angle,
                               xs + tx, ys + ty, interpolation);
            ExpectWarp(src, roi, before, dst, interpolation,
                       [&](double X, double Y, double& x, double& y) {
                           warpref::RotateBack(angle, ax, ay, tx, ty, X, Y, x, y);
                           return true;
                       },
                       "rotate " + std::to_string(angle) + " flag " + std::to_string(interpolation) + " channels " +
                           std::to_string(channels));
        }
    }
}

TEST(WarpKernels, RotateMatchesTheReference8Bit) {
    for (int ch : {1, 3, 4}) RotateAgainstReference<uint8_t>(ch);
}
TEST(WarpKernels, RotateMatchesTheReference16Bit) { RotateAgainstReference<uint16_t>(1); }

TEST(WarpKernels, ShearMatchesTheReference) {
    const TPlane<uint8_t> src(37, 23, 3, 0, 5);
    const TRect roi{0, 0, 37, 23};
    const double shx = 0.3, shy = -0.2, xs = 1.5, ys = 6.0;
    for (int interpolation : {kInterNN, kInterLinear}) {
        const TPlane<uint8_t> before = Background<uint8_t>(45, 35, 3, 7);
        TPlane<uint8_t> dst = before;
        kernels::Shear<uint8_t>(src.AsConstView(), roi, dst.AsView(), TRect{0, 0, 45, 35}, shx, shy, xs, ys,
                                interpolation);
        ExpectWarp(src, roi, before, dst, interpolation,
                   [&](double X, double Y, double& x, double& y) {
                       // Solve X = x + shx·y + xs, Y = shy·x + y + ys by Cramer's rule.
                       const double det = 1 - shx * shy, u = X - xs, v = Y - ys;
                       x = (u - shx * v) / det;
                       y = (v - shy * u) / det;
                       return true;
                   },
                   "shear");
    }
}

TEST(WarpKernels, PerspectiveForwardAndBackMatchTheReference) {
    const double quad[4][2] = {{-5, 3}, {40, -2}, {36, 28}, {1, 21}};
    for (int channels : {1, 4}) {
        const TPlane<uint8_t> src(37, 23, channels, 2, 21);
        const TRect roi{3, 1, 31, 20};
        double c[3][3];
        ASSERT_TRUE(kernels::GetPerspectiveTransform(roi, quad, c));
        for (int interpolation : {kInterNN, kInterLinear, int(kInterLinear | kSmoothEdge)}) {
            const TPlane<uint8_t> before = Background<uint8_t>(40, 30, channels, 3);
            TPlane<uint8_t> fwd = before, back = before;
            kernels::WarpPerspective<uint8_t>(src.AsConstView(), roi, fwd.AsView(), TRect{0, 0, 40, 30}, c, interpolation);
            kernels::WarpPerspectiveBack<uint8_t>(src.AsConstView(), roi, back.AsView(), TRect{0, 0, 40, 30}, c,
                                                  interpolation);
            ExpectWarp(src, roi, before, fwd, interpolation,
                       [&](double X, double Y, double& x, double& y) {
                           return warpref::QuadToRectPerspective(quad, roi.X, roi.Y, roi.Width, roi.Height, X, Y, x, y);
                       },
                       "perspective forward");
            ExpectWarp(src, roi, before, back, interpolation,
                       [&](double X, double Y, double& x, double& y) {
                           warpref::RectToQuadPerspective(quad, roi.X, roi.Y, roi.Width, roi.Height, X, Y, x, y);
                           return true;
                       },
                       "perspective back");
        }
    }
}

TEST(WarpKernels, BilinearForwardAndBackMatchTheReference) {
    const double quad[4][2] = {{-2, 4}, {33, -3}, {38, 26}, {3, 19}};
    const TPlane<uint16_t> src(37, 23, 1, 1, 8);
    const TRect roi{0, 0, 37, 23};
    double c[2][4];
    ASSERT_TRUE(kernels::GetBilinearTransform(roi, quad, c));
    for (int interpolation : {kInterNN, kInterLinear, int(kInterNN | kSmoothEdge)}) {
        const TPlane<uint16_t> before = Background<uint16_t>(40, 30, 1, 4);
        TPlane<uint16_t> fwd = before, back = before;
        kernels::WarpBilinear<uint16_t>(src.AsConstView(), roi, fwd.AsView(), TRect{0, 0, 40, 30}, c, interpolation);
        kernels::WarpBilinearBack<uint16_t>(src.AsConstView(), roi, back.AsView(), TRect{0, 0, 40, 30}, c, interpolation);
        ExpectWarp(src, roi, before, fwd, interpolation,
                   [&](double X, double Y, double& x, double& y) {
                       return warpref::QuadToRectBilinear(quad, 0, 0, 37, 23, X, Y, x, y);
                   },
                   "bilinear forward");
        ExpectWarp(src, roi, before, back, interpolation,
                   [&](double X, double Y, double& x, double& y) {
                       warpref::RectToQuadBilinear(quad, 0, 0, 37, 23, X, Y, x, y);
                       return true;
                   },
                   "bilinear back");
    }
}

// Zero angle and shear, and the unmoved quadrangle, reproduce the source exactly for every
// interpolation type, with and without smooth edges.
TEST(WarpKernels, IdentitySettingsGiveTheSourceBack) {
    const TPlane<uint8_t> src(37, 23, 3, 4, 13);
    const TRect whole{0, 0, 37, 23};
    const double quad[4][2] = {{0, 0}, {37, 0}, {37, 23}, {0, 23}};
    double p[3][3], b[2][4];
    ASSERT_TRUE(kernels::GetPerspectiveTransform(whole, quad, p));
    ASSERT_TRUE(kernels::GetBilinearTransform(whole, quad, b));
    for (int type : kAllTypes)
        for (unsigned smooth : {0u, kSmoothEdge}) {
            const int flag = int(unsigned(type) | smooth);
            std::vector<TPlane<uint8_t>> outs(6, Background<uint8_t>(37, 23, 3, 77));
            kernels::Rotate<uint8_t>(src.AsConstView(), whole, outs[0].AsView(), whole, 0, 0, 0, flag);
            kernels::Shear<uint8_t>(src.AsConstView(), whole, outs[1].AsView(), whole, 0, 0, 0, 0, flag);
            kernels::WarpPerspective<uint8_t>(src.AsConstView(), whole, outs[2].AsView(), whole, p, flag);
            kernels::WarpPerspectiveBack<uint8_t>(src.AsConstView(), whole, outs[3].AsView(), whole, p, flag);
            kernels::WarpBilinear<uint8_t>(src.AsConstView(), whole, outs[4].AsView(), whole, b, flag);
            kernels::WarpBilinearBack<uint8_t>(src.AsConstView(), whole, outs[5].AsView(), whole, b, flag);
            for (std::size_t k = 0; k < outs.size(); ++k)
                for (int y = 0; y < 23; ++y)
                    for (int x = 0; x < 37; ++x)
                        for (int c = 0; c < 3; ++c)
                            ASSERT_EQ(outs[k].At(x, y, c), src.At(x, y, c))
                                << "warp " << k << " flag " << flag << " at " << x << "," << y;
        }
}

TEST(WarpKernels, BandsEqualOneCallAndPixelsOutsideTheDestinationRectStay) {
    const TPlane<uint8_t> src(37, 23, 4, 0, 17);
    const TRect roi{0, 0, 37, 23};
    const TPlane<uint8_t> before = Background<uint8_t>(50, 40, 4, 5);
    TPlane<uint8_t> whole = before;
    const TRect dstRect{3, 2, 40, 33};
    kernels::Rotate<uint8_t>(src.AsConstView(), roi, whole.AsView(), dstRect, 20, 8, -3, int(kInterLinear | kSmoothEdge));
    for (int rows : {1, 2, 7}) {
        TPlane<uint8_t> banded = before;
        for (int y = dstRect.Y; y < dstRect.Y + dstRect.Height; y += rows)
            kernels::Rotate<uint8_t>(src.AsConstView(), roi, banded.AsView(),
                                     TRect{dstRect.X, y, dstRect.Width, std::min(rows, dstRect.Y + dstRect.Height - y)},
                                     20, 8, -3, int(kInterLinear | kSmoothEdge));
        EXPECT_EQ(banded.Samples, whole.Samples) << rows;
    }
    int changedInside = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 50; ++x)
            for (int c = 0; c < 4; ++c) {
                const bool inside = x >= dstRect.X && x < dstRect.X + dstRect.Width && y >= dstRect.Y &&
                                    y < dstRect.Y + dstRect.Height;
                if (!inside)
                    ASSERT_EQ(whole.At(x, y, c), before.At(x, y, c)) << x << "," << y;
                else if (whole.At(x, y, c) != before.At(x, y, c))
                    ++changedInside;
            }
    EXPECT_GT(changedInside, 0);
}

TEST(WarpKernels, SingularTransformsWriteNothing) {
    const TPlane<uint8_t> src(37, 23, 1, 0, 3);
    const TPlane<uint8_t> before = Background<uint8_t>(37, 23, 1, 9);
    TPlane<uint8_t> dst = before;
    const TRect whole{0, 0, 37, 23};
    kernels::Shear<uint8_t>(src.AsConstView(), whole, dst.AsView(), whole, 2.0, 0.5, 0, 0, kInterLinear);  // 1 − shx·shy = 0
    const double zero[3][3] = {};
    kernels::WarpPerspective<uint8_t>(src.AsConstView(), whole, dst.AsView(), whole, zero, kInterLinear);
    EXPECT_EQ(dst.Samples, before.Samples);
    // An empty source rectangle reads nothing.
    kernels::Rotate<uint8_t>(src.AsConstView(), TRect{0, 0, 0, 5}, dst.AsView(), whole, 0, 0, 0, kInterNN);
    EXPECT_EQ(dst.Samples, before.Samples);
}

// ---- mirror ---------------------------------------------------------------------------------

template <class T>
void MirrorAgainstReference(int channels) {
    const TPlane<T> src(37, 23, channels, 3, 31);
    for (TRect r : {TRect{0, 0, 37, 23}, TRect{5, 2, 11, 17}, TRect{36, 22, 1, 1}, TRect{0, 10, 37, 1}})
        for (kernels::TMirrorAxis axis : {kernels::kAxsHorizontal, kernels::kAxsVertical, kernels::kAxsBoth}) {
            const TPlane<T> before = Background<T>(37, 23, channels, 2);
            TPlane<T> dst = before;
            kernels::Mirror<T>(src.AsConstView(), dst.AsView(), r, axis);
            for (int y = 0; y < 23; ++y)
                for (int x = 0; x < 37; ++x)
                    for (int c = 0; c < channels; ++c) {
                        const bool inside = x >= r.X && x < r.X + r.Width && y >= r.Y && y < r.Y + r.Height;
                        int sx = x, sy = y;
                        if (axis != kernels::kAxsVertical) sy = r.Y + (r.Y + r.Height - 1 - y);  // rows swap
                        if (axis != kernels::kAxsHorizontal) sx = r.X + (r.X + r.Width - 1 - x);  // columns swap
                        const T want = inside ? src.At(sx, sy, c) : before.At(x, y, c);
                        ASSERT_EQ(dst.At(x, y, c), want) << "axis " << axis << " at " << x << "," << y << " c " << c;
                    }
            // Padding past each row stays.
            for (int y = 0; y < 23; ++y)
                for (std::ptrdiff_t i = 37 * channels; i < dst.Stride; ++i)
                    ASSERT_EQ(dst.Samples[std::size_t(y * dst.Stride + i)], before.Samples[std::size_t(y * dst.Stride + i)]);
        }
}

TEST(MirrorKernel, MatchesTheReference) {
    for (int ch : {1, 3, 4}) MirrorAgainstReference<uint8_t>(ch);
    MirrorAgainstReference<uint16_t>(1);
}

}  // namespace
}  // namespace pixora
