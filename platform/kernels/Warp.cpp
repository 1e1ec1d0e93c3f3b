// The warps compute, row by row, the source coordinate of every destination pixel in double
// precision, then let RemapRow sample the source there (one interpolation code for every
// geometric transform).
#include "platform/kernels/Warp.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

#include <immintrin.h>

namespace pixora::kernels {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The destination is sampled in tiles of kTileRows rows × kChunk pixels; each tile row is handed
// to RemapRow at once (the coordinate buffers live on the stack). Sampling whole rows one after
// the other, a transform that tilts slightly (a gentle perspective, a small shear) ran at half
// the speed of a 30° turn or a plain scale: its reads follow a source row for a few dozen pixels,
// then step to the next one, a pattern the memory system handles badly. A small tile reads a
// compact patch of the source, most of it already cached by the tile's previous rows.
constexpr int kChunk = 128;
constexpr int kTileRows = 8;

// The four corners of srcRoi in IPP's order (top-left, top-right, bottom-right, bottom-left):
// pixel centres (last = w − 1) for rotate and shear, outer edges (last = w) for the quadrangle
// transforms.
void Corners(TRect r, int extent, double c[4][2]) noexcept {
    const double x0 = r.X, y0 = r.Y, x1 = double(r.X) + r.Width - 1 + extent, y1 = double(r.Y) + r.Height - 1 + extent;
    c[0][0] = x0, c[0][1] = y0;
    c[1][0] = x1, c[1][1] = y0;
    c[2][0] = x1, c[2][1] = y1;
    c[3][0] = x0, c[3][1] = y1;
}

void BoundOf(const double p[4][2], double bound[2][2]) noexcept {
    bound[0][0] = bound[1][0] = p[0][0];
    bound[0][1] = bound[1][1] = p[0][1];
    for (int i = 1; i < 4; ++i) {
        bound[0][0] = std::min(bound[0][0], p[i][0]);
        bound[0][1] = std::min(bound[0][1], p[i][1]);
        bound[1][0] = std::max(bound[1][0], p[i][0]);
        bound[1][1] = std::max(bound[1][1], p[i][1]);
    }
}

void AffineBound(TRect srcRoi, const double c[2][3], double bound[2][2]) noexcept {
    double p[4][2];
    Corners(srcRoi, 0, p);
    for (auto& q : p) {
        const double x = q[0], y = q[1];
        q[0] = c[0][0] * x + c[0][1] * y + c[0][2];
        q[1] = c[1][0] * x + c[1][1] * y + c[1][2];
    }
    BoundOf(p, bound);
}

// Solves the n × n system a·x = b (n ≤ 8) by Gaussian elimination with partial pivoting; false
// when the matrix is singular.
bool Solve(double a[8][8], double b[8], int n, double x[8]) noexcept {
    for (int col = 0; col < n; ++col) {
        int pivot = col;
        for (int r = col + 1; r < n; ++r)
            if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
        if (!(std::fabs(a[pivot][col]) > 1e-12)) return false;
        if (pivot != col) {
            for (int k = 0; k < n; ++k) std::swap(a[col][k], a[pivot][k]);
            std::swap(b[col], b[pivot]);
        }
        for (int r = col + 1; r < n; ++r) {
            const double f = a[r][col] / a[col][col];
            for (int k = col; k < n; ++k) a[r][k] -= f * a[col][k];
            b[r] -= f * b[col];
        }
    }
    for (int r = n - 1; r >= 0; --r) {
        double s = b[r];
        for (int k = r + 1; k < n; ++k) s -= a[r][k] * x[k];
        x[r] = s / a[r][r];
    }
    return true;
}


// ---- AVX-512 coordinate rows ---------------------------------------------------------------------
//
// Eight source points at a time in double precision with the per-point code's operations in its
// order (no fused multiply-adds), each rounded to float as the per-point code does: the
// coordinates, and so the sampled pixels, are identical.

#define PIXORA_AVX512 __attribute__((target("avx512f,avx512vl,avx512dq")))

bool HaveAvx512() noexcept {
    static const bool have = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
                             __builtin_cpu_supports("avx512dq");
    return have;
}

// xs[i] = float(bx + dx·i), ys[i] = float(by + dy·i).
PIXORA_AVX512 void AffineRowVector(double bx, double by, double dx, double dy, int count, float* xs,
                                   float* ys) noexcept {
    const __m512d vbx = _mm512_set1_pd(bx), vby = _mm512_set1_pd(by), vdx = _mm512_set1_pd(dx), vdy = _mm512_set1_pd(dy);
    __m512d index = _mm512_setr_pd(0, 1, 2, 3, 4, 5, 6, 7);
    const __m512d eight = _mm512_set1_pd(8);
    for (int i = 0; i < count; i += 8, index = _mm512_add_pd(index, eight)) {
        const __mmask8 lanes = count - i >= 8 ? __mmask8(0xFF) : __mmask8((1u << (count - i)) - 1);
        _mm256_mask_storeu_ps(xs + i, lanes, _mm512_cvtpd_ps(_mm512_add_pd(vbx, _mm512_mul_pd(vdx, index))));
        _mm256_mask_storeu_ps(ys + i, lanes, _mm512_cvtpd_ps(_mm512_add_pd(vby, _mm512_mul_pd(vdy, index))));
    }
}

// The projective row of ProjectRow below. A point has a source when its weight w is nonzero
// (sign 0) or when w·sign > 0.
PIXORA_AVX512 void ProjectRowVector(const double m[3][3], int y, int x0, int count, float* xs, float* ys,
                                    double sign) noexcept {
    const double yd = y;
    const __m512d m00 = _mm512_set1_pd(m[0][0]), m01y = _mm512_set1_pd(m[0][1] * yd), m02 = _mm512_set1_pd(m[0][2]);
    const __m512d m10 = _mm512_set1_pd(m[1][0]), m11y = _mm512_set1_pd(m[1][1] * yd), m12 = _mm512_set1_pd(m[1][2]);
    const __m512d m20 = _mm512_set1_pd(m[2][0]), m21y = _mm512_set1_pd(m[2][1] * yd), m22 = _mm512_set1_pd(m[2][2]);
    const __m512d zero = _mm512_setzero_pd(), one = _mm512_set1_pd(1.0), vsign = _mm512_set1_pd(sign);
    const __m256 nan = _mm256_set1_ps(std::numeric_limits<float>::quiet_NaN());
    __m512d x = _mm512_add_pd(_mm512_set1_pd(double(x0)), _mm512_setr_pd(0, 1, 2, 3, 4, 5, 6, 7));
    const __m512d eight = _mm512_set1_pd(8);
    for (int i = 0; i < count; i += 8, x = _mm512_add_pd(x, eight)) {
        const __mmask8 lanes = count - i >= 8 ? __mmask8(0xFF) : __mmask8((1u << (count - i)) - 1);
        const __m512d w = _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(m20, x), m21y), m22);
        const __mmask8 ok = sign == 0 ? _mm512_cmp_pd_mask(w, zero, _CMP_NEQ_OQ)
                                      : _mm512_cmp_pd_mask(_mm512_mul_pd(w, vsign), zero, _CMP_GT_OQ);
        const __m512d r = _mm512_div_pd(one, w);
        const __m512d sx = _mm512_mul_pd(_mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(m00, x), m01y), m02), r);
        const __m512d sy = _mm512_mul_pd(_mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(m10, x), m11y), m12), r);
        _mm256_mask_storeu_ps(xs + i, lanes, _mm256_mask_blend_ps(ok, nan, _mm512_cvtpd_ps(sx)));
        _mm256_mask_storeu_ps(ys + i, lanes, _mm256_mask_blend_ps(ok, nan, _mm512_cvtpd_ps(sy)));
    }
}

#undef PIXORA_AVX512

// Runs fill(y, x0, count, xs, ys) for each chunk of each row of dstRoi (clipped to dst), tile by
// tile, then samples the chunk. Every chunk's coordinates depend only on (y, x0), so the order
// changes nothing in the result.
template <class T, class TFill>
void WarpRows(ConstView<T> src, TRect srcRoi, View<T> dst, TRect dstRoi, int interpolation, TFill&& fill) noexcept {
    const int xBegin = std::max(dstRoi.X, 0), xEnd = std::min(dstRoi.X + dstRoi.Width, dst.Width);
    const int yBegin = std::max(dstRoi.Y, 0), yEnd = std::min(dstRoi.Y + dstRoi.Height, dst.Height);
    if (xBegin >= xEnd || yBegin >= yEnd || srcRoi.Empty()) return;
    alignas(64) float xs[kChunk], ys[kChunk];
    for (int yTile = yBegin; yTile < yEnd; yTile += kTileRows) {
        const int yTileEnd = std::min(yEnd, yTile + kTileRows);
        for (int x0 = xBegin; x0 < xEnd; x0 += kChunk) {
            const int count = std::min(kChunk, xEnd - x0);
            for (int y = yTile; y < yTileEnd; ++y) {
                fill(y, x0, count, xs, ys);
                RemapRow<T>(src, srcRoi, xs, ys, dst.Row(y) + std::ptrdiff_t(x0) * dst.Channels, count, interpolation);
            }
        }
    }
}

}  // namespace

void GetRotateShift(double xCenter, double yCenter, double angle, double& xShift, double& yShift) noexcept {
    // The shift that brings the rotated centre back onto itself.
    const double a = angle * std::numbers::pi / 180.0, c = std::cos(a), s = std::sin(a);
    xShift = xCenter - (xCenter * c + yCenter * s);
    yShift = yCenter - (-xCenter * s + yCenter * c);
}

void GetRotateTransform(double angle, double xShift, double yShift, double coeffs[2][3]) noexcept {
    const double a = angle * std::numbers::pi / 180.0, c = std::cos(a), s = std::sin(a);
    coeffs[0][0] = c, coeffs[0][1] = s, coeffs[0][2] = xShift;
    coeffs[1][0] = -s, coeffs[1][1] = c, coeffs[1][2] = yShift;
}

void GetRotateBound(TRect srcRoi, double bound[2][2], double angle, double xShift, double yShift) noexcept {
    double c[2][3];
    GetRotateTransform(angle, xShift, yShift, c);
    AffineBound(srcRoi, c, bound);
}

void GetShearBound(TRect srcRoi, double bound[2][2], double shx, double shy, double xShift, double yShift) noexcept {
    const double c[2][3] = {{1.0, shx, xShift}, {shy, 1.0, yShift}};
    AffineBound(srcRoi, c, bound);
}

bool GetPerspectiveTransform(TRect srcRoi, const double quad[4][2], double coeffs[3][3]) noexcept {
    // Eight unknowns c00 .. c21 (c22 = 1): for each corner (x, y) → (X, Y),
    // c00·x + c01·y + c02 − c20·x·X − c21·y·X = X and c10·x + c11·y + c12 − c20·x·Y − c21·y·Y = Y.
    double p[4][2];
    Corners(srcRoi, 1, p);
    double a[8][8] = {}, b[8], x[8];
    for (int i = 0; i < 4; ++i) {
        const double sx = p[i][0], sy = p[i][1], X = quad[i][0], Y = quad[i][1];
        double* r0 = a[2 * i];
        double* r1 = a[2 * i + 1];
        r0[0] = sx, r0[1] = sy, r0[2] = 1, r0[6] = -sx * X, r0[7] = -sy * X;
        r1[3] = sx, r1[4] = sy, r1[5] = 1, r1[6] = -sx * Y, r1[7] = -sy * Y;
        b[2 * i] = X;
        b[2 * i + 1] = Y;
    }
    if (!Solve(a, b, 8, x)) {
        for (int r = 0; r < 3; ++r)
            for (int k = 0; k < 3; ++k) coeffs[r][k] = 0;
        return false;
    }
    coeffs[0][0] = x[0], coeffs[0][1] = x[1], coeffs[0][2] = x[2];
    coeffs[1][0] = x[3], coeffs[1][1] = x[4], coeffs[1][2] = x[5];
    coeffs[2][0] = x[6], coeffs[2][1] = x[7], coeffs[2][2] = 1;
    return true;
}

void GetPerspectiveBound(TRect srcRoi, double bound[2][2], const double coeffs[3][3]) noexcept {
    double p[4][2];
    Corners(srcRoi, 1, p);
    for (auto& q : p) {
        const double x = q[0], y = q[1];
        const double w = coeffs[2][0] * x + coeffs[2][1] * y + coeffs[2][2];
        q[0] = (coeffs[0][0] * x + coeffs[0][1] * y + coeffs[0][2]) / w;
        q[1] = (coeffs[1][0] * x + coeffs[1][1] * y + coeffs[1][2]) / w;
    }
    BoundOf(p, bound);
}

bool GetBilinearTransform(TRect srcRoi, const double quad[4][2], double coeffs[2][4]) noexcept {
    // For each output coordinate four unknowns: c0·x·y + c1·x + c2·y + c3 = Q at the four corners.
    double p[4][2];
    Corners(srcRoi, 1, p);
    bool ok = true;
    for (int axis = 0; axis < 2; ++axis) {
        double a[8][8] = {}, b[8], x[8];
        for (int i = 0; i < 4; ++i) {
            a[i][0] = p[i][0] * p[i][1], a[i][1] = p[i][0], a[i][2] = p[i][1], a[i][3] = 1;
            b[i] = quad[i][axis];
        }
        if (Solve(a, b, 4, x)) {
            for (int k = 0; k < 4; ++k) coeffs[axis][k] = x[k];
        } else {
            for (int k = 0; k < 4; ++k) coeffs[axis][k] = 0;
            ok = false;
        }
    }
    return ok;
}

void GetBilinearBound(TRect srcRoi, double bound[2][2], const double coeffs[2][4]) noexcept {
    double p[4][2];
    Corners(srcRoi, 1, p);
    for (auto& q : p) {
        const double x = q[0], y = q[1];
        q[0] = coeffs[0][0] * x * y + coeffs[0][1] * x + coeffs[0][2] * y + coeffs[0][3];
        q[1] = coeffs[1][0] * x * y + coeffs[1][1] * x + coeffs[1][2] * y + coeffs[1][3];
    }
    BoundOf(p, bound);
}

bool InverseBilinear(const double c[2][4], TRect srcRoi, double xd, double yd, double& x, double& y) noexcept {
    // u = a0·x·y + a1·x + a2·y and v = b0·x·y + b1·x + b2·y. Then b0·u − a0·v = p·x + q·y is linear;
    // solving it for one unknown and substituting into the equation with the larger xy term leaves
    // a quadratic in the other.
    const double a0 = c[0][0], a1 = c[0][1], a2 = c[0][2], b0 = c[1][0], b1 = c[1][1], b2 = c[1][2];
    const double u = xd - c[0][3], v = yd - c[1][3];
    const double scale = std::max({std::fabs(a0), std::fabs(a1), std::fabs(a2), std::fabs(b0), std::fabs(b1),
                                   std::fabs(b2)});
    if (!(scale > 0)) return false;
    const double eps = 1e-12 * scale;
    if (std::fabs(a0) <= eps && std::fabs(b0) <= eps) {
        const double det = a1 * b2 - a2 * b1;
        if (!(std::fabs(det) > eps * scale)) return false;
        x = (u * b2 - a2 * v) / det;
        y = (a1 * v - b1 * u) / det;
        return true;
    }
    const double p = b0 * a1 - a0 * b1, q = b0 * a2 - a0 * b2, r = b0 * u - a0 * v;
    // The equation used for the substitution: the one whose xy coefficient is larger.
    const bool first = std::fabs(a0) >= std::fabs(b0);
    const double e0 = first ? a0 : b0, e1 = first ? a1 : b1, e2 = first ? a2 : b2, ew = first ? u : v;
    // Solve for t = x (when |q| ≥ |p|, y = (r − p·x)/q) or t = y (x = (r − q·y)/p).
    const bool forX = std::fabs(q) >= std::fabs(p);
    if (!(std::fabs(forX ? q : p) > 0)) return false;
    const double k = forX ? q : p, m = forX ? p : q;  // other = (r − m·t) / k
    const double f1 = forX ? e1 : e2, f2 = forX ? e2 : e1;  // coefficient of t and of the other
    // e0·t·(r − m·t)/k + f1·t + f2·(r − m·t)/k = ew, times k:
    const double A = -e0 * m, B = e0 * r + f1 * k - f2 * m, C = f2 * r - ew * k;
    double roots[2];
    int n = 0;
    if (std::fabs(A) <= 1e-14 * (std::fabs(B) + std::fabs(C) + 1.0) * scale) {
        if (!(std::fabs(B) > 0)) return false;
        roots[n++] = -C / B;
    } else {
        const double disc = B * B - 4 * A * C;
        if (disc < 0) return false;
        const double sq = std::sqrt(disc);
        // The numerically stable pair of roots.
        const double qq = -0.5 * (B + std::copysign(sq, B));
        roots[n++] = qq / A;
        if (qq != 0) roots[n++] = C / qq;
    }
    const double cx = srcRoi.X + (srcRoi.Width - 1) * 0.5, cy = srcRoi.Y + (srcRoi.Height - 1) * 0.5;
    double best = std::numeric_limits<double>::infinity();
    for (int i = 0; i < n; ++i) {
        const double t = roots[i], o = (r - m * t) / k;
        const double px = forX ? t : o, py = forX ? o : t;
        // Distance outside the pixel-centre box; 0 inside. Ties go to the point nearer the centre.
        const double ox = std::max({0.0, srcRoi.X - px, px - (srcRoi.X + srcRoi.Width - 1)});
        const double oy = std::max({0.0, srcRoi.Y - py, py - (srcRoi.Y + srcRoi.Height - 1)});
        const double d = (ox + oy) * 1e6 + std::fabs(px - cx) + std::fabs(py - cy);
        if (d < best) {
            best = d;
            x = px;
            y = py;
        }
    }
    return std::isfinite(best);
}

template <class T>
void WarpAffine(ConstView<T> src, TRect srcRoi, View<T> dst, TRect dstRoi, const double c[2][3],
                int interpolation) noexcept {
    // The inverse of the forward map carries destination pixels back into the source.
    const double det = c[0][0] * c[1][1] - c[0][1] * c[1][0];
    if (!(std::fabs(det) > 1e-12) || !std::isfinite(det)) return;
    const double i00 = c[1][1] / det, i01 = -c[0][1] / det, i10 = -c[1][0] / det, i11 = c[0][0] / det;
    const double i02 = -(i00 * c[0][2] + i01 * c[1][2]), i12 = -(i10 * c[0][2] + i11 * c[1][2]);
    WarpRows(src, srcRoi, dst, dstRoi, interpolation, [&](int y, int x0, int count, float* xs, float* ys) {
        const double bx = i01 * y + i02 + i00 * x0, by = i11 * y + i12 + i10 * x0;
        if (HaveAvx512()) {
            AffineRowVector(bx, by, i00, i10, count, xs, ys);
            return;
        }
        for (int i = 0; i < count; ++i) {
            xs[i] = float(bx + i00 * i);
            ys[i] = float(by + i10 * i);
        }
    });
}

template <class T>
void Rotate(ConstView<T> src, TRect srcRoi, View<T> dst, TRect dstRoi, double angle, double xShift, double yShift,
            int interpolation) noexcept {
    double c[2][3];
    GetRotateTransform(angle, xShift, yShift, c);
    WarpAffine(src, srcRoi, dst, dstRoi, c, interpolation);
}

template <class T>
void Shear(ConstView<T> src, TRect srcRoi, View<T> dst, TRect dstRoi, double shx, double shy, double xShift,
           double yShift, int interpolation) noexcept {
    const double c[2][3] = {{1.0, shx, xShift}, {shy, 1.0, yShift}};
    WarpAffine(src, srcRoi, dst, dstRoi, c, interpolation);
}

// Source points of one destination row through the projective matrix m (destination to source):
// a point whose homogeneous weight w fails `hasSource` gets none (NaN, which samples nothing).
template <class Accept>
void ProjectRow(const double m[3][3], int y, int x0, int count, float* xs, float* ys, Accept hasSource) noexcept {
    for (int i = 0; i < count; ++i) {
        const double x = x0 + i;
        const double w = m[2][0] * x + m[2][1] * y + m[2][2];
        if (hasSource(w)) {
            const double r = 1.0 / w;
            xs[i] = float((m[0][0] * x + m[0][1] * y + m[0][2]) * r);
            ys[i] = float((m[1][0] * x + m[1][1] * y + m[1][2]) * r);
        } else {
            xs[i] = ys[i] = float(kNaN);
        }
    }
}

template <class T>
void WarpPerspectiveBack(ConstView<T> src, TRect srcRoi, View<T> dst, TRect dstRoi, const double m[3][3],
                         int interpolation) noexcept {
    // A destination point whose homogeneous weight is not positive lies beyond the horizon and
    // has no source point.
    WarpRows(src, srcRoi, dst, dstRoi, interpolation, [&](int y, int x0, int count, float* xs, float* ys) {
        if (HaveAvx512())
            ProjectRowVector(m, y, x0, count, xs, ys, 0.0);
        else
            ProjectRow(m, y, x0, count, xs, ys, [](double w) { return w > 0 || w < 0; });
    });
}

template <class T>
void WarpPerspective(ConstView<T> src, TRect srcRoi, View<T> dst, TRect dstRoi, const double c[3][3],
                     int interpolation) noexcept {
    // The inverse matrix (adjugate over determinant) maps destination to source; a point counts
    // only when its source weight has the sign that source points inside the picture have.
    const double det = c[0][0] * (c[1][1] * c[2][2] - c[1][2] * c[2][1]) -
                       c[0][1] * (c[1][0] * c[2][2] - c[1][2] * c[2][0]) +
                       c[0][2] * (c[1][0] * c[2][1] - c[1][1] * c[2][0]);
    if (!(std::fabs(det) > 1e-300) || !std::isfinite(det)) return;
    double m[3][3] = {
        {c[1][1] * c[2][2] - c[1][2] * c[2][1], c[0][2] * c[2][1] - c[0][1] * c[2][2], c[0][1] * c[1][2] - c[0][2] * c[1][1]},
        {c[1][2] * c[2][0] - c[1][0] * c[2][2], c[0][0] * c[2][2] - c[0][2] * c[2][0], c[0][2] * c[1][0] - c[0][0] * c[1][2]},
        {c[1][0] * c[2][1] - c[1][1] * c[2][0], c[0][1] * c[2][0] - c[0][0] * c[2][1], c[0][0] * c[1][1] - c[0][1] * c[1][0]}};
    for (auto& row : m)
        for (double& v : row) v /= det;
    // Source points of the picture have the forward weight's sign at the ROI centre.
    const double sx = srcRoi.X + srcRoi.Width * 0.5, sy = srcRoi.Y + srcRoi.Height * 0.5;
    const double sign = (c[2][0] * sx + c[2][1] * sy + c[2][2]) < 0 ? -1.0 : 1.0;
    WarpRows(src, srcRoi, dst, dstRoi, interpolation, [&](int y, int x0, int count, float* xs, float* ys) {
        if (HaveAvx512())
            ProjectRowVector(m, y, x0, count, xs, ys, sign);
        else
            ProjectRow(m, y, x0, count, xs, ys, [&](double w) { return w * sign > 0; });
    });
}

template <class T>
void WarpBilinearBack(ConstView<T> src, TRect srcRoi, View<T> dst, TRect dstRoi, const double c[2][4],
                      int interpolation) noexcept {
    WarpRows(src, srcRoi, dst, dstRoi, interpolation, [&](int y, int x0, int count, float* xs, float* ys) {
        for (int i = 0; i < count; ++i) {
            const double x = x0 + i;
            xs[i] = float(c[0][0] * x * y + c[0][1] * x + c[0][2] * y + c[0][3]);
            ys[i] = float(c[1][0] * x * y + c[1][1] * x + c[1][2] * y + c[1][3]);
        }
    });
}

template <class T>
void WarpBilinear(ConstView<T> src, TRect srcRoi, View<T> dst, TRect dstRoi, const double c[2][4],
                  int interpolation) noexcept {
    WarpRows(src, srcRoi, dst, dstRoi, interpolation, [&](int y, int x0, int count, float* xs, float* ys) {
        for (int i = 0; i < count; ++i) {
            double sx, sy;
            if (InverseBilinear(c, srcRoi, x0 + i, y, sx, sy)) {
                xs[i] = float(sx);
                ys[i] = float(sy);
            } else {
                xs[i] = ys[i] = float(kNaN);
            }
        }
    });
}

namespace {

template <class T, int N>
void ReverseRow(const T* s, T* d, int width) noexcept {
    const T* p = s + std::ptrdiff_t(width - 1) * N;
    for (int x = 0; x < width; ++x, p -= N, d += N)
        for (int k = 0; k < N; ++k) d[k] = p[k];
}

// The pixels of a row in reverse order, 64 bytes at a time by a byte permutation (AVX-512 VBMI):
// each step takes the last whole pixels that fit in 64 bytes before what is done and writes them
// reversed. Returns the pixels done; the rest (fewer than one step) is left to the caller.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) int ReverseBytesVector(const uint8_t* s, uint8_t* d, int width,
                                                                            int pixelBytes) noexcept {
    const int n = 64 / pixelBytes, bytes = n * pixelBytes;
    alignas(64) uint8_t order[64];
    for (int j = 0; j < 64; ++j) order[j] = uint8_t(j < bytes ? (n - 1 - j / pixelBytes) * pixelBytes + j % pixelBytes : 0);
    const __m512i perm = _mm512_load_si512(order);
    const __mmask64 mask = bytes == 64 ? ~__mmask64(0) : (__mmask64(1) << bytes) - 1;
    int x = 0;
    for (; x + n <= width; x += n) {
        const __m512i v = _mm512_maskz_loadu_epi8(mask, s + std::ptrdiff_t(width - x - n) * pixelBytes);
        _mm512_mask_storeu_epi8(d + std::ptrdiff_t(x) * pixelBytes, mask, _mm512_permutexvar_epi8(perm, v));
    }
    return x;
}

bool HaveVbmi() noexcept {
    static const bool have = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                             __builtin_cpu_supports("avx512vbmi");
    return have;
}

template <class T>
void ReverseRowAny(const T* s, T* d, int width, int channels) noexcept {
    if (channels >= 1 && channels <= 4 && HaveVbmi()) {
        const int done = ReverseBytesVector(reinterpret_cast<const uint8_t*>(s), reinterpret_cast<uint8_t*>(d), width,
                                            int(sizeof(T)) * channels);
        // The first (width − done) source pixels land at the end of the destination row.
        if (done == width) return;
        d += std::ptrdiff_t(done) * channels;
        width -= done;
    }
    switch (channels) {
    case 1: ReverseRow<T, 1>(s, d, width); break;
    case 3: ReverseRow<T, 3>(s, d, width); break;
    case 4: ReverseRow<T, 4>(s, d, width); break;
    default:
        for (int x = 0; x < width; ++x)
            for (int k = 0; k < channels; ++k)
                d[std::ptrdiff_t(x) * channels + k] = s[std::ptrdiff_t(width - 1 - x) * channels + k];
    }
}

}  // namespace

template <class T>
void Mirror(ConstView<T> src, View<T> dst, TRect r, TMirrorAxis axis) noexcept {
    if (r.Empty()) return;
    const int ch = src.Channels;
    const bool flipRows = axis == kAxsHorizontal || axis == kAxsBoth;
    const bool flipColumns = axis == kAxsVertical || axis == kAxsBoth;
    for (int j = 0; j < r.Height; ++j) {
        const int sy = flipRows ? r.Y + r.Height - 1 - j : r.Y + j;
        const T* s = src.Row(sy) + std::ptrdiff_t(r.X) * ch;
        T* d = dst.Row(r.Y + j) + std::ptrdiff_t(r.X) * ch;
        if (flipColumns)
            ReverseRowAny(s, d, r.Width, ch);
        else
            std::memcpy(d, s, sizeof(T) * std::size_t(r.Width) * std::size_t(ch));
    }
}

#define PIXORA_WARP_INSTANTIATE(T)                                                                                  \
    template void WarpAffine<T>(ConstView<T>, TRect, View<T>, TRect, const double[2][3], int) noexcept;              \
    template void Rotate<T>(ConstView<T>, TRect, View<T>, TRect, double, double, double, int) noexcept;              \
    template void Shear<T>(ConstView<T>, TRect, View<T>, TRect, double, double, double, double, int) noexcept;       \
    template void WarpPerspective<T>(ConstView<T>, TRect, View<T>, TRect, const double[3][3], int) noexcept;         \
    template void WarpPerspectiveBack<T>(ConstView<T>, TRect, View<T>, TRect, const double[3][3], int) noexcept;     \
    template void WarpBilinear<T>(ConstView<T>, TRect, View<T>, TRect, const double[2][4], int) noexcept;            \
    template void WarpBilinearBack<T>(ConstView<T>, TRect, View<T>, TRect, const double[2][4], int) noexcept;        \
    template void Mirror<T>(ConstView<T>, View<T>, TRect, TMirrorAxis) noexcept;

PIXORA_WARP_INSTANTIATE(uint8_t)
PIXORA_WARP_INSTANTIATE(uint16_t)

#undef PIXORA_WARP_INSTANTIATE

}  // namespace pixora::kernels
