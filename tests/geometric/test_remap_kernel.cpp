// The remap kernel against a slow double-precision reference written here from the kernel's
// documented rules: nearest (ties up), bilinear, Lagrange cubic, 3-lobed Lanczos, edge
// replication inside the source rectangle, untouched pixels outside it, the smooth-edge blend.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "platform/kernels/Remap.h"
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

// ---- slow reference -------------------------------------------------------------------------

double RefLanczos(double x) {
    if (x == 0) return 1;
    if (std::fabs(x) >= 3) return 0;
    const double pi = std::acos(-1.0);
    return std::sin(pi * x) / (pi * x) * std::sin(pi * x / 3) / (pi * x / 3);
}

double RefCubic(int k, double t) {  // Lagrange basis for nodes -1, 0, 1, 2, node index k
    const double nodes[4] = {-1, 0, 1, 2};
    double w = 1;
    for (int j = 0; j < 4; ++j)
        if (j != k) w *= (t - nodes[j]) / (nodes[k] - nodes[j]);
    return w;
}

// The value (before rounding) at (x, y) inside the clamped rectangle, channel c.
template <class T>
double RefValue(const TPlane<T>& src, TRect r, double x, double y, int c, int mode) {
    auto at = [&](int px, int py) {
        px = std::clamp(px, r.X, r.X + r.Width - 1);
        py = std::clamp(py, r.Y, r.Y + r.Height - 1);
        return double(src.At(px, py, c));
    };
    const int ix = int(std::floor(x)), iy = int(std::floor(y));
    const double fx = x - ix, fy = y - iy;
    if (mode == kInterNN) return at(int(std::floor(x + 0.5)), int(std::floor(y + 0.5)));
    if (mode == kInterLinear || mode == kInterSuper)
        return at(ix, iy) * (1 - fx) * (1 - fy) + at(ix + 1, iy) * fx * (1 - fy) + at(ix, iy + 1) * (1 - fx) * fy +
               at(ix + 1, iy + 1) * fx * fy;
    if (mode == kInterCubic) {
        double v = 0;
        for (int j = 0; j < 4; ++j)
            for (int i = 0; i < 4; ++i) v += RefCubic(i, fx) * RefCubic(j, fy) * at(ix - 1 + i, iy - 1 + j);
        return v;
    }
    double v = 0, sx = 0, sy = 0;
    for (int i = -2; i <= 3; ++i) sx += RefLanczos(fx - i);
    for (int j = -2; j <= 3; ++j) sy += RefLanczos(fy - j);
    for (int j = -2; j <= 3; ++j)
        for (int i = -2; i <= 3; ++i) v += RefLanczos(fx - i) * RefLanczos(fy - j) * at(ix + i, iy + j);
    return v / (sx * sy);
}

template <class T>
T RefRound(double v) {
    const double r = std::floor(v + 0.5);
    return T(std::clamp(r, 0.0, double(std::numeric_limits<T>::max())));
}

// What the destination plane must hold after the remap: the original destination with every
// pixel whose coordinate is accepted replaced (or blended, with the smooth edge).
template <class T>
TPlane<T> Reference(const TPlane<T>& src, TRect roi, const std::vector<float>& xm, const std::vector<float>& ym,
                    const TPlane<T>& dst0, int flag, int write) {
    TPlane<T> out = dst0;
    TRect r = roi;  // clamp to the source
    const int x0 = std::max(0, r.X), y0 = std::max(0, r.Y);
    const int x1 = std::min(src.Width, r.X + r.Width) - 1, y1 = std::min(src.Height, r.Y + r.Height) - 1;
    if (x1 < x0 || y1 < y0) return out;
    r = {x0, y0, x1 - x0 + 1, y1 - y0 + 1};
    const bool smooth = (unsigned(flag) & kSmoothEdge) != 0;
    const int mode = int(unsigned(flag) & ~kSmoothEdge);
    if (mode != kInterNN && mode != kInterLinear && mode != kInterCubic && mode != kInterSuper &&
        mode != kInterLanczos)
        return out;
    const int nw = write < 0 ? src.Channels : write;
    for (int y = 0; y < dst0.Height; ++y)
        for (int x = 0; x < dst0.Width; ++x) {
            double sx = xm[std::size_t(y * dst0.Width + x)], sy = ym[std::size_t(y * dst0.Width + x)];
            if (std::isnan(sx) || std::isnan(sy)) continue;
            double a = 1;
            const bool inside = sx >= x0 && sx <= x1 && sy >= y0 && sy <= y1;
            if (!inside) {
                if (!smooth) continue;
                const double ox = sx < x0 ? x0 - sx : (sx > x1 ? sx - x1 : 0);
                const double oy = sy < y0 ? y0 - sy : (sy > y1 ? sy - y1 : 0);
                if (ox >= 1 || oy >= 1) continue;
                a = (1 - ox) * (1 - oy);
                sx = std::clamp(sx, double(x0), double(x1));
                sy = std::clamp(sy, double(y0), double(y1));
            }
            for (int c = 0; c < nw; ++c) {
                const double v = RefValue(src, r, sx, sy, c, mode);
                const double d = out.At(x, y, c);
                out.At(x, y, c) = RefRound<T>(d + a * (v - d));
            }
        }
    return out;
}

// ---- helpers --------------------------------------------------------------------------------

struct TMaps {
    int Width, Height;
    std::vector<float> X, Y;
};

// Random coordinates over the source and up to `spill` pixels around it.
TMaps RandomMaps(int w, int h, int srcW, int srcH, float spill, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dx(-spill, float(srcW - 1) + spill), dy(-spill, float(srcH - 1) + spill);
    TMaps m{w, h, std::vector<float>(std::size_t(w * h)), std::vector<float>(std::size_t(w * h))};
    for (std::size_t i = 0; i < m.X.size(); ++i) {
        m.X[i] = dx(rng);
        m.Y[i] = dy(rng);
        if (i % 7 == 0) m.X[i] = std::round(m.X[i]);  // some exact pixel centres
        if (i % 11 == 0) m.Y[i] = std::round(m.Y[i]) + 0.5f;  // some exact ties
    }
    return m;
}

template <class T>
void RunKernel(const TPlane<T>& src, TRect roi, const TMaps& m, TPlane<T>& dst, int flag, int write = -1) {
    kernels::Remap<T>(src.AsConstView(), roi, m.X.data(), m.Width, m.Y.data(), m.Width, dst.AsView(), flag, write);
}

template <class T>
int MaxDifference(const TPlane<T>& a, const TPlane<T>& b, std::string& where) {
    int worst = 0;
    for (std::size_t i = 0; i < a.Samples.size(); ++i) {
        const int d = std::abs(int(a.Samples[i]) - int(b.Samples[i]));
        if (d > worst) {
            worst = d;
            where = "sample index " + std::to_string(i) + ": " + std::to_string(a.Samples[i]) + " vs " +
                    std::to_string(b.Samples[i]);
        }
    }
    return worst;
}

template <class T>
void CheckAgainstReference(int flag, int tolerance) {
    struct TCase { int SrcW, SrcH, DstW, DstH; TRect Roi; };
    const TCase cases[] = {
        {1, 1, 3, 2, {0, 0, 1, 1}},          {2, 1, 5, 3, {0, 0, 2, 1}},
        {37, 23, 37, 23, {0, 0, 37, 23}},    {37, 23, 19, 29, {5, 3, 20, 11}},
        {37, 23, 16, 8, {30, 18, 20, 20}},  // partly outside the source: clamped
        {64, 40, 64, 40, {0, 0, 64, 40}},
    };
    uint32_t seed = 1;
    for (int channels : {1, 3, 4})
        for (const TCase& k : cases) {
            TPlane<T> src(k.SrcW, k.SrcH, channels, 5, seed++);
            TPlane<T> dst(k.DstW, k.DstH, channels, 3, seed++);
            const TMaps m = RandomMaps(k.DstW, k.DstH, k.SrcW, k.SrcH, 2.5f, seed++);
            const TPlane<T> expected = Reference(src, k.Roi, m.X, m.Y, dst, flag, -1);
            const TPlane<T> srcBefore = src;
            RunKernel(src, k.Roi, m, dst, flag);
            std::string where;
            EXPECT_LE(MaxDifference(dst, expected, where), tolerance)
                << "flag " << flag << " channels " << channels << " src " << k.SrcW << "x" << k.SrcH << " roi "
                << k.Roi.X << "," << k.Roi.Y << " " << where;
            EXPECT_EQ(src.Samples, srcBefore.Samples);
        }
}

// ---- tests ----------------------------------------------------------------------------------

TEST(RemapKernel, NearestMatchesReferenceExactly) {
    CheckAgainstReference<uint8_t>(kInterNN, 0);
    CheckAgainstReference<uint16_t>(kInterNN, 0);
}

TEST(RemapKernel, LinearWithinOneLevel) {
    CheckAgainstReference<uint8_t>(kInterLinear, 1);
    CheckAgainstReference<uint16_t>(kInterLinear, 1);
}

TEST(RemapKernel, SuperSamplingResamplesLikeLinear) {
    CheckAgainstReference<uint8_t>(kInterSuper, 1);
    CheckAgainstReference<uint16_t>(kInterSuper, 1);
}

TEST(RemapKernel, CubicWithinOneLevel) {
    CheckAgainstReference<uint8_t>(kInterCubic, 1);
    CheckAgainstReference<uint16_t>(kInterCubic, 1);
}

TEST(RemapKernel, LanczosWithinOneLevel) {
    CheckAgainstReference<uint8_t>(kInterLanczos, 1);
    CheckAgainstReference<uint16_t>(kInterLanczos, 1);
}

TEST(RemapKernel, SmoothEdgeBlendsTheRimIntoTheDestination) {
    CheckAgainstReference<uint8_t>(kInterNN | int(kSmoothEdge), 1);
    CheckAgainstReference<uint8_t>(kInterLinear | int(kSmoothEdge), 1);
    CheckAgainstReference<uint16_t>(kInterCubic | int(kSmoothEdge), 1);
}

template <class T>
void CheckIdentity(int flag) {
    for (int channels : {1, 3, 4}) {
        TPlane<T> src(37, 23, channels, 0, 77u + uint32_t(channels));  // no padding: the last pixel ends the samples
        TPlane<T> dst(37, 23, channels, 2, 99u);
        TMaps m{37, 23, std::vector<float>(37 * 23), std::vector<float>(37 * 23)};
        for (int y = 0; y < 23; ++y)
            for (int x = 0; x < 37; ++x) m.X[std::size_t(y * 37 + x)] = float(x), m.Y[std::size_t(y * 37 + x)] = float(y);
        RunKernel(src, {0, 0, 37, 23}, m, dst, flag);
        for (int y = 0; y < 23; ++y)
            for (int x = 0; x < 37; ++x)
                for (int c = 0; c < channels; ++c)
                    ASSERT_EQ(dst.At(x, y, c), src.At(x, y, c)) << "flag " << flag << " at " << x << "," << y;
    }
}

TEST(RemapKernel, IdentityMapGivesTheInputBackExactly) {
    for (int flag : {kInterNN, kInterLinear, kInterCubic, kInterSuper, kInterLanczos}) {
        CheckIdentity<uint8_t>(flag);
        CheckIdentity<uint16_t>(flag);
    }
}

TEST(RemapKernel, CoordinatesOutsideOrNaNLeaveTheDestinationUntouched) {
    TPlane<uint8_t> src(20, 10, 3, 0, 5u);
    TPlane<uint8_t> dst(8, 4, 3, 4, 6u);
    const TPlane<uint8_t> before = dst;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float xs[] = {-1.f, nan, 20.f, 19.001f, 3.f, inf, -inf, 5.f};
    const float ys[] = {-1.f, 2.f, 3.f, 4.f, nan, 1.f, 1.f, 9.5f};
    TMaps m{8, 4, {}, {}};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x) m.X.push_back(xs[x]), m.Y.push_back(ys[x]);
    for (int flag : {kInterNN, kInterLinear, kInterCubic, kInterLanczos}) {
        RunKernel(src, {0, 0, 20, 10}, m, dst, flag);
        EXPECT_EQ(dst.Samples, before.Samples) << "flag " << flag;
    }
    // The same coordinates against a rectangle that excludes them: (3, 2) lies left of it.
    const TMaps inside{1, 1, {3.f}, {2.f}};
    TPlane<uint8_t> one(1, 1, 3, 0, 8u);
    const TPlane<uint8_t> oneBefore = one;
    RunKernel(src, {4, 0, 10, 10}, inside, one, kInterLinear);
    EXPECT_EQ(one.Samples, oneBefore.Samples);
    RunKernel(src, {0, 0, 10, 10}, inside, one, kInterNN);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(one.At(0, 0, c), src.At(3, 2, c));
}

TEST(RemapKernel, UnknownFlagsWriteNothing) {
    TPlane<uint8_t> src(9, 9, 1, 0, 1u);
    TPlane<uint8_t> dst(9, 9, 1, 0, 2u);
    const TPlane<uint8_t> before = dst;
    const TMaps m = RandomMaps(9, 9, 9, 9, 0.f, 3u);
    for (int flag : {0, 3, 6, 32, int(kSmoothEdge)}) {
        RunKernel(src, {0, 0, 9, 9}, m, dst, flag);
        EXPECT_EQ(dst.Samples, before.Samples) << "flag " << flag;
    }
}

TEST(RemapKernel, ChannelsToWriteKeepsTheRestOfEachPixel) {
    for (int write : {1, 3}) {
        TPlane<uint8_t> src(30, 20, 4, 0, 11u);
        TPlane<uint8_t> dst(25, 15, 4, 4, 12u);
        const TMaps m = RandomMaps(25, 15, 30, 20, 1.f, 13u);
        const TPlane<uint8_t> expected = Reference(src, {0, 0, 30, 20}, m.X, m.Y, dst, kInterLinear, write);
        RunKernel(src, {0, 0, 30, 20}, m, dst, kInterLinear, write);
        std::string where;
        EXPECT_LE(MaxDifference(dst, expected, where), 1) << "write " << write << " " << where;
        // The channels not written are exactly what was there.
        for (int y = 0; y < 15; ++y)
            for (int x = 0; x < 25; ++x)
                for (int c = write; c < 4; ++c) ASSERT_EQ(dst.At(x, y, c), expected.At(x, y, c));
    }
}

TEST(RemapKernel, WholePixelAndPerChannelPathsAgreeExactly) {
    // Writing every channel takes the whole-pixel route; writing fewer takes the per-channel
    // one. The channels both write must be bit-identical, for every interpolation.
    for (int channels : {3, 4})
        for (int flag : {kInterNN, kInterLinear, kInterCubic, kInterLanczos, kInterLinear | int(kSmoothEdge)}) {
            TPlane<uint8_t> src(53, 31, channels, 3, 31u);
            const TMaps m = RandomMaps(47, 29, 53, 31, 1.5f, 32u);
            TPlane<uint8_t> all(47, 29, channels, 0, 33u), some = all;
            RunKernel(src, {0, 0, 53, 31}, m, all, flag, -1);
            RunKernel(src, {0, 0, 53, 31}, m, some, flag, channels - 1);
            for (int y = 0; y < 29; ++y)
                for (int x = 0; x < 47; ++x)
                    for (int c = 0; c < channels - 1; ++c)
                        ASSERT_EQ(all.At(x, y, c), some.At(x, y, c)) << "flag " << flag << " channels " << channels;
        }
}

TEST(RemapKernel, RowEntryMatchesReferenceOnOneRow) {
    TPlane<uint16_t> src(31, 17, 3, 1, 21u);
    TPlane<uint16_t> dst(40, 1, 3, 0, 22u);
    const TMaps m = RandomMaps(40, 1, 31, 17, 1.5f, 23u);
    const TRect roi{2, 1, 25, 14};
    for (int flag : {kInterNN, kInterLinear, kInterCubic, kInterLanczos}) {
        TPlane<uint16_t> row = dst;
        const TPlane<uint16_t> expected = Reference(src, roi, m.X, m.Y, row, flag, -1);
        kernels::RemapRow<uint16_t>(src.AsConstView(), roi, m.X.data(), m.Y.data(), row.Samples.data(), 40, flag);
        std::string where;
        EXPECT_LE(MaxDifference(row, expected, where), flag == kInterNN ? 0 : 1) << "flag " << flag << " " << where;
    }
}

TEST(RemapKernel, EdgeOfTheRectangleIsReplicatedNotTheWholeSource) {
    // A bright frame around a dark rectangle: sampling at the rectangle's rim must never see
    // the bright pixels just outside it, however wide the window.
    TPlane<uint8_t> src(20, 20, 1, 0, 0u);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) src.At(x, y, 0) = (x >= 5 && x < 15 && y >= 5 && y < 15) ? 10 : 250;
    const TRect roi{5, 5, 10, 10};
    TMaps m{4, 1, {5.f, 14.f, 5.3f, 13.7f}, {5.f, 14.f, 9.5f, 14.f}};
    for (int flag : {kInterLinear, kInterCubic, kInterLanczos}) {
        TPlane<uint8_t> dst(4, 1, 1, 0, 0u);
        RunKernel(src, roi, m, dst, flag);
        for (int x = 0; x < 4; ++x) EXPECT_EQ(dst.At(x, 0, 0), 10) << "flag " << flag << " pixel " << x;
    }
}

}  // namespace
}  // namespace pixora
