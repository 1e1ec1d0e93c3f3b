// The vector remap rows and warp coordinate rows against the per-pixel code: every written sample
// must be the same, on every pixel format, on odd widths and short tails, with coordinates on, just
// inside and just outside the source edges, in the smooth-edge fringe, NaN, infinite and far out
// of range. The source sits against an unreadable page, so a gather reading past its last pixel
// crashes the test instead of passing by luck.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "platform/kernels/Remap.h"
#include "platform/kernels/Warp.h"
#include "tests/kernels/KernelTestImage.h"

namespace pixora {
namespace {

using kernels::kInterLinear;
using kernels::kInterNN;
using kernels::kSmoothEdge;

// Samples whose last byte is the last readable byte before a PROT_NONE page.
template <class T>
class TGuardedPlane {
public:
    TGuardedPlane(int width, int height, int channels, uint32_t seed) : FWidth(width), FHeight(height), FChannels(channels) {
        const std::size_t page = std::size_t(sysconf(_SC_PAGESIZE));
        const std::size_t bytes = std::size_t(width) * height * channels * sizeof(T);
        FDataPages = (bytes + page - 1) / page * page;
        FMapped = FDataPages + page;
        void* p = mmap(nullptr, FMapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::runtime_error("mmap failed");
        FBase = static_cast<uint8_t*>(p);
        mprotect(FBase + FDataPages, page, PROT_NONE);
        FData = reinterpret_cast<T*>(FBase + FDataPages - bytes);
        std::vector<T> samples(std::size_t(width) * height * channels);
        test::FillRandom(samples, seed);
        std::memcpy(FData, samples.data(), bytes);
    }
    ~TGuardedPlane() { munmap(FBase, FMapped); }
    TGuardedPlane(const TGuardedPlane&) = delete;
    TGuardedPlane& operator=(const TGuardedPlane&) = delete;

    ConstView<T> View() const { return {FData, std::ptrdiff_t(FWidth) * FChannels, FWidth, FHeight, FChannels}; }

private:
    int FWidth, FHeight, FChannels;
    std::size_t FDataPages = 0, FMapped = 0;
    uint8_t* FBase = nullptr;
    T* FData = nullptr;
};

// Coordinates that probe every case the rows distinguish, around the box of r's pixel centres.
std::vector<float> Probes(int lo, int hi, std::mt19937& rng) {
    const float l = float(lo), h = float(hi);
    std::vector<float> v = {l,
                            h,
                            std::nextafter(l, -1e9f),
                            std::nextafter(h, 1e9f),
                            std::nextafter(h, -1e9f),
                            l - 0.5f,
                            h + 0.5f,
                            l - 0.999f,
                            h + 0.999f,
                            l - 1.f,
                            h + 1.f,
                            h - 0.5f,
                            l + 0.5f,
                            (l + h) / 2,
                            -1e30f,
                            1e30f,
                            3e9f,
                            -3e9f,
                            std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity()};
    std::uniform_real_distribution<float> in(l - 2.f, h + 2.f);
    for (int i = 0; i < 40; ++i) v.push_back(in(rng));
    return v;
}

template <class T>
void CompareRows(int width, int height, int channels, TRect roi, int flag, int write, uint32_t seed) {
    TGuardedPlane<T> src(width, height, channels, seed);
    std::mt19937 rng(seed * 7 + 1);
    const int lx = std::max(roi.X, 0), hx = std::min(roi.X + roi.Width, width) - 1;
    const int ly = std::max(roi.Y, 0), hy = std::min(roi.Y + roi.Height, height) - 1;
    const std::vector<float> px = Probes(lx, hx, rng), py = Probes(ly, hy, rng);
    // Every pairing of the x and y probes, in rows of assorted lengths (tails of 1 .. 16 lanes).
    std::vector<float> xs, ys;
    for (float x : px)
        for (float y : py) xs.push_back(x), ys.push_back(y);
    std::uniform_int_distribution<int> lengths(1, 53);
    std::size_t at = 0;
    while (at < xs.size()) {
        const int n = int(std::min<std::size_t>(std::size_t(lengths(rng)), xs.size() - at));
        std::vector<T> expected(std::size_t(n) * channels), actual;
        test::FillRandom(expected, seed + uint32_t(at));
        actual = expected;
        kernels::RemapRowScalar<T>(src.View(), roi, xs.data() + at, ys.data() + at, expected.data(), n, flag, write);
        kernels::RemapRow<T>(src.View(), roi, xs.data() + at, ys.data() + at, actual.data(), n, flag, write);
        for (int i = 0; i < n * channels; ++i) {
            const int p = i / channels;
            ASSERT_EQ(actual[std::size_t(i)], expected[std::size_t(i)])
                << "pixel " << p << " channel " << i % channels << " at (" << xs[at + p] << ", " << ys[at + p]
                << "), " << n << " pixels";
        }
        at += std::size_t(n);
    }
}

struct TCase {
    int Width, Height, Channels;
};

template <class T>
void CompareAllRows(const char* type) {
    const TCase cases[] = {{37, 23, 1}, {37, 23, 3}, {37, 23, 4}, {1, 1, 3}, {2, 3, 1}, {17, 5, 4}, {5, 2, 3}};
    for (const TCase& c : cases) {
        const TRect rois[] = {{0, 0, c.Width, c.Height},
                              {c.Width / 3, c.Height / 4, std::max(1, c.Width / 2), std::max(1, c.Height / 2)},
                              {-4, -3, c.Width + 9, c.Height + 7}};
        for (const TRect& roi : rois)
            for (int flag : {kInterNN, kInterLinear, int(unsigned(kInterNN) | kSmoothEdge),
                             int(unsigned(kInterLinear) | kSmoothEdge)})
                for (int write : {-1, c.Channels - 1}) {
                    if (write == 0) continue;
                    SCOPED_TRACE(std::string(type) + " " + std::to_string(c.Width) + "x" + std::to_string(c.Height) +
                                 "x" + std::to_string(c.Channels) + " roi " + std::to_string(roi.X) + "," +
                                 std::to_string(roi.Y) + " " + std::to_string(roi.Width) + "x" +
                                 std::to_string(roi.Height) + " flag " + std::to_string(flag) + " write " +
                                 std::to_string(write));
                    CompareRows<T>(c.Width, c.Height, c.Channels, roi, flag, write, uint32_t(c.Width * 31 + flag));
                    if (::testing::Test::HasFatalFailure()) return;
                }
    }
}

TEST(RemapVectorRows, EightBitRowsEqualThePerPixelCode) {
    if (!kernels::RemapRowVectorized()) GTEST_LOG_(INFO) << "no AVX-512 here: both sides run the per-pixel code";
    CompareAllRows<uint8_t>("8-bit");
}

TEST(RemapVectorRows, SixteenBitRowsEqualThePerPixelCode) { CompareAllRows<uint16_t>("16-bit"); }

// The whole remap over a frame whose map points at every pixel of the last row and column and
// around them: the gathers must stop short of the unreadable page after the source.
TEST(RemapVectorRows, TapsAtTheSourceEndStayInside) {
    for (int channels : {1, 3, 4}) {
        TGuardedPlane<uint8_t> src(29, 7, channels, 5u + uint32_t(channels));
        const int w = 64, h = 8;
        std::vector<float> xm(std::size_t(w) * h), ym(xm.size());
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                xm[std::size_t(y) * w + x] = 28.f - float(x % 8) * 0.25f + (y % 2) * 0.125f;
                ym[std::size_t(y) * w + x] = 6.f - float(y) * 0.2f;
            }
        for (int flag : {kInterNN, kInterLinear}) {
            std::vector<uint8_t> expected(std::size_t(w) * h * channels, 9), actual = expected;
            const View<uint8_t> e{expected.data(), std::ptrdiff_t(w) * channels, w, h, channels};
            const View<uint8_t> a{actual.data(), std::ptrdiff_t(w) * channels, w, h, channels};
            kernels::Remap<uint8_t>(src.View(), {0, 0, 29, 7}, xm.data(), w, ym.data(), w, a, flag);
            for (int y = 0; y < h; ++y)
                kernels::RemapRowScalar<uint8_t>(src.View(), {0, 0, 29, 7}, xm.data() + std::size_t(y) * w,
                                                 ym.data() + std::size_t(y) * w, e.Row(y), w, flag);
            EXPECT_EQ(actual, expected) << channels << " channels, flag " << flag;
        }
    }
}

// A radial table over whole rows, as the fish-eye builds: magnified at the centre, compressed
// towards the rim, with the corners mapping outside the source. Long rows run the vector loop
// block after block (reads spread far apart, blocks with every lane, some or none inside), and
// the guarded source catches a read past its end.
template <class T>
void CompareRadialFrame(int channels) {
    const int sw = 211, sh = 97, w = 333, h = 41;
    TGuardedPlane<T> src(sw, sh, channels, 17u + uint32_t(channels));
    std::vector<float> xm(std::size_t(w) * h), ym(xm.size());
    const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0, r = std::hypot(cx, cy);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double dx = x - cx, dy = (y - cy) * 4, d = std::hypot(dx, dy);
            const double scale = d == 0 ? 0 : (std::exp(2.5 * d / r) - 1) / (std::exp(2.5) - 1) * 1.3 * r / d;
            xm[std::size_t(y) * w + x] = float(sw / 2.0 + dx * scale * sw / w);
            ym[std::size_t(y) * w + x] = float(sh / 2.0 + dy * scale * sh / (4.0 * h));
        }
    for (const TRect roi : {TRect{0, 0, sw, sh}, TRect{13, 7, 150, 61}})
        for (int flag : {kInterNN, kInterLinear}) {
            std::vector<T> expected(std::size_t(w) * h * channels), actual;
            test::FillRandom(expected, 3u);
            actual = expected;
            const View<T> a{actual.data(), std::ptrdiff_t(w) * channels, w, h, channels};
            kernels::Remap<T>(src.View(), roi, xm.data(), w, ym.data(), w, a, flag);
            for (int y = 0; y < h; ++y)
                kernels::RemapRowScalar<T>(src.View(), roi, xm.data() + std::size_t(y) * w,
                                           ym.data() + std::size_t(y) * w,
                                           expected.data() + std::size_t(y) * w * channels, w, flag);
            ASSERT_EQ(actual, expected) << channels << " channels, flag " << flag << ", roi at " << roi.X;
        }
}

TEST(RemapVectorRows, RadialTablesOverWholeRowsEqualThePerPixelCode) {
    for (int channels : {1, 3, 4}) CompareRadialFrame<uint8_t>(channels);
    CompareRadialFrame<uint16_t>(1);
}

// ---- warps: the vector coordinate rows against coordinates computed point by point -----------

template <class T>
std::vector<T> Run(const test::TPlane<T>& src, int w, int h, auto&& warp) {
    test::TPlane<T> dst(w, h, src.Channels, 3, 77);
    warp(dst.AsView());
    return dst.Samples;
}

// The destination a warp must give: for each pixel of dstRoi, the point `map` returns, sampled by
// the per-pixel remap row.
template <class T>
std::vector<T> Reference(const test::TPlane<T>& src, TRect srcRoi, int w, int h, TRect dstRoi, int flag,
                         auto&& map) {
    test::TPlane<T> dst(w, h, src.Channels, 3, 77);
    const View<T> d = dst.AsView();
    for (int y = dstRoi.Y; y < dstRoi.Y + dstRoi.Height; ++y) {
        std::vector<float> xs(std::size_t(dstRoi.Width)), ys(xs.size());
        for (int i = 0; i < dstRoi.Width; ++i) map(dstRoi.X + i, y, xs[std::size_t(i)], ys[std::size_t(i)]);
        kernels::RemapRowScalar<T>(src.AsConstView(), srcRoi, xs.data(), ys.data(),
                                   d.Row(y) + std::ptrdiff_t(dstRoi.X) * src.Channels, dstRoi.Width, flag);
    }
    return dst.Samples;
}

template <class T>
void CompareWarps() {
    for (int channels : {1, 3, 4}) {
        const test::TPlane<T> src(37, 23, channels, 2, 11u + uint32_t(channels));
        const TRect srcRoi{2, 1, 33, 21};
        const int w = 41, h = 27;
        const TRect dstRoi{1, 2, 37, 23};
        for (int flag : {kInterNN, kInterLinear, int(unsigned(kInterLinear) | kSmoothEdge)}) {
            SCOPED_TRACE(std::to_string(channels) + " channels, flag " + std::to_string(flag));
            // Affine: the inverse of a rotation by 23° with a shift.
            const double a = 23 * std::acos(-1.0) / 180, c = std::cos(a), s = std::sin(a);
            const double fwd[2][3] = {{c, s, 3.5}, {-s, c, -6.25}};
            const double det = c * c + s * s;
            const double i00 = c / det, i01 = -s / det, i10 = s / det, i11 = c / det;
            const double i02 = -(i00 * 3.5 + i01 * -6.25), i12 = -(i10 * 3.5 + i11 * -6.25);
            const auto affine = Run(src, w, h, [&](View<T> d) {
                kernels::WarpAffine<T>(src.AsConstView(), srcRoi, d, dstRoi, fwd, flag);
            });
            EXPECT_EQ(affine, Reference(src, srcRoi, w, h, dstRoi, flag, [&](int x, int y, float& sx, float& sy) {
                          // The row base at the row's first pixel, then steps: as the warp adds them.
                          const double bx = i01 * y + i02 + i00 * dstRoi.X, by = i11 * y + i12 + i10 * dstRoi.X;
                          sx = float(bx + i00 * (x - dstRoi.X));
                          sy = float(by + i10 * (x - dstRoi.X));
                      }));
            // Projective, with a horizon crossing the destination so that some points have none.
            const double m[3][3] = {{0.9, 0.05, 1.5}, {-0.04, 1.1, -2.0}, {0.004, -0.03, 1.0}};
            const auto back = Run(src, w, h, [&](View<T> d) {
                kernels::WarpPerspectiveBack<T>(src.AsConstView(), srcRoi, d, dstRoi, m, flag);
            });
            EXPECT_EQ(back, Reference(src, srcRoi, w, h, dstRoi, flag, [&](int xi, int y, float& sx, float& sy) {
                          const double x = xi;
                          const double wt = m[2][0] * x + m[2][1] * y + m[2][2];
                          if (wt > 0 || wt < 0) {
                              const double r = 1.0 / wt;
                              sx = float((m[0][0] * x + m[0][1] * y + m[0][2]) * r);
                              sy = float((m[1][0] * x + m[1][1] * y + m[1][2]) * r);
                          } else {
                              sx = sy = std::numeric_limits<float>::quiet_NaN();
                          }
                      }));
        }
    }
}

// A destination wider than one chunk of coordinates and taller than one tile of rows, with an
// odd origin: the tiles together cover every pixel once, each pixel sampled at its own point.
template <class T>
void CompareWideProjective() {
    for (int channels : {1, 3}) {
        const test::TPlane<T> src(150, 41, channels, 2, 5u + uint32_t(channels));
        const TRect srcRoi{3, 2, 140, 37};
        const int w = 301, h = 29;
        const TRect dstRoi{5, 3, 291, 25};
        const double m[3][3] = {{0.45, 0.02, 1.5}, {-0.003, 1.2, -2.0}, {0.0004, -0.001, 1.0}};
        for (int flag : {kInterNN, kInterLinear, int(unsigned(kInterLinear) | kSmoothEdge)}) {
            SCOPED_TRACE(std::to_string(channels) + " channels, flag " + std::to_string(flag));
            const auto back = Run(src, w, h, [&](View<T> d) {
                kernels::WarpPerspectiveBack<T>(src.AsConstView(), srcRoi, d, dstRoi, m, flag);
            });
            EXPECT_EQ(back, Reference(src, srcRoi, w, h, dstRoi, flag, [&](int xi, int y, float& sx, float& sy) {
                          const double x = xi, r = 1.0 / (m[2][0] * x + m[2][1] * y + m[2][2]);
                          sx = float((m[0][0] * x + m[0][1] * y + m[0][2]) * r);
                          sy = float((m[1][0] * x + m[1][1] * y + m[1][2]) * r);
                      }));
        }
    }
}

TEST(WarpVectorRows, TilesOfAWideDestinationEqualThePointByPointCode) {
    CompareWideProjective<uint8_t>();
    CompareWideProjective<uint16_t>();
}

TEST(WarpVectorRows, CoordinateRowsEqualThePointByPointCode) {
    CompareWarps<uint8_t>();
    CompareWarps<uint16_t>();
}

}  // namespace
}  // namespace pixora

namespace pixora {
namespace {

// Column mirroring over every width from 1 to 150 (whole 64-byte steps plus each possible rest) and
// every pixel size of the native formats, against the reversal written out pixel by pixel.
template <class T>
void CompareMirrorRows(int channels) {
    for (int width = 1; width <= 150; ++width) {
        const test::TPlane<T> src(width, 2, channels, 1, uint32_t(width));
        test::TPlane<T> dst(width, 2, channels, 1, 99);
        const std::vector<T> before = dst.Samples;
        kernels::Mirror<T>(src.AsConstView(), dst.AsView(), {0, 0, width, 2}, kernels::kAxsVertical);
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < channels; ++c)
                    ASSERT_EQ(dst.At(x, y, c), src.At(width - 1 - x, y, c))
                        << "width " << width << " x " << x << " channel " << c << " (" << channels << " channels)";
            // The padding sample after the row is not written.
            const std::size_t pad = std::size_t(y) * std::size_t(dst.Stride) + std::size_t(width) * channels;
            ASSERT_EQ(dst.Samples[pad], before[pad]) << "width " << width;
        }
    }
}

TEST(MirrorVectorRows, ReversedRowsOnEveryWidth) {
    for (int channels : {1, 3, 4}) {
        CompareMirrorRows<uint8_t>(channels);
        CompareMirrorRows<uint16_t>(channels);
    }
}

}  // namespace
}  // namespace pixora
