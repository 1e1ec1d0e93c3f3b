// The fixed neighbourhood filters. Every linear mask is written as a sum of at most three
// separable parts (column vector x row vector, exact in integers); each output row is a vertical
// pass per part over the rows the mask reads, then one horizontal pass that weighs the parts and
// finishes the sum. Sums run in 16-bit lanes for 8-bit samples whenever the mask's largest
// possible sum fits; else, when every part's own sum fits unsigned 16 bits, the parts run in
// 16-bit lanes and only their total in 32-bit lanes; else everything runs in 32-bit lanes. The loops are written for the compiler's vectoriser
// and compiled once per instruction-set level.
#define PIXORA_NEIGHBOURHOOD_IMPLEMENTATION
#include "platform/kernels/FixedFilters.h"

#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <type_traits>
#include <vector>

#include "platform/kernels/Neighbourhood.h"

namespace pixora::kernels {

namespace {

using nbh::TIsa;

// A linear mask as the sum over parts p of Col[p] (top row first) x Row[p] (left column first),
// in correlation order (already flipped from the documented convolution kernels), then divided by
// Divisor with halves rounded up.
template <int N, int P>
struct TLinearSpec {
    int Col[P][N];
    int Row[P][N];
    int Divisor;
};

// Below: row below minus row above, and so on; see the header for the documented kernels.
constexpr TLinearSpec<3, 1> KPrewittHoriz{{{-1, 0, 1}}, {{1, 1, 1}}, 1};
constexpr TLinearSpec<3, 1> KPrewittVert{{{1, 1, 1}}, {{1, 0, -1}}, 1};
constexpr TLinearSpec<3, 1> KSobelHoriz{{{-1, 0, 1}}, {{1, 2, 1}}, 1};
constexpr TLinearSpec<3, 1> KSobelVert{{{1, 2, 1}}, {{1, 0, -1}}, 1};
// Centre minus the upper-left (down) or upper-right (up) neighbour.
constexpr TLinearSpec<3, 2> KRobertsDown{{{0, 1, 0}, {1, 0, 0}}, {{0, 1, 0}, {-1, 0, 0}}, 1};
constexpr TLinearSpec<3, 2> KRobertsUp{{{0, 1, 0}, {1, 0, 0}}, {{0, 1, 0}, {0, 0, -1}}, 1};
// 9 x centre minus the 3 x 3 sum: the 3 x 3 Laplace and high-pass masks are the same.
constexpr TLinearSpec<3, 2> KLaplace3{{{1, 1, 1}, {0, 1, 0}}, {{-1, -1, -1}, {0, 9, 0}}, 1};
// The 5 x 5 Laplace mask has rank 2: rows 0 and 4 are r0, rows 1 and 3 are r1, row 2 = 2 r1 - 2 r0.
constexpr TLinearSpec<5, 2> KLaplace5{{{1, 0, -2, 0, 1}, {0, 1, 2, 1, 0}}, {{-1, -3, -4, -3, -1}, {-3, 0, 6, 0, -3}}, 1};
constexpr TLinearSpec<3, 1> KGauss3{{{1, 2, 1}}, {{1, 2, 1}}, 16};
// The 5 x 5 Gauss mask is symmetric with three distinct rows: one part per row pair.
constexpr TLinearSpec<5, 3> KGauss5{{{1, 0, 0, 0, 1}, {0, 1, 0, 1, 0}, {0, 0, 1, 0, 0}},
                                    {{2, 7, 12, 7, 2}, {7, 31, 52, 31, 7}, {12, 52, 127, 52, 12}},
                                    571};
constexpr TLinearSpec<5, 2> KHipass5{{{1, 1, 1, 1, 1}, {0, 0, 1, 0, 0}}, {{-1, -1, -1, -1, -1}, {0, 0, 25, 0, 0}}, 1};
constexpr TLinearSpec<3, 1> KLowpass3{{{1, 1, 1}}, {{1, 1, 1}}, 9};
constexpr TLinearSpec<5, 1> KLowpass5{{{1, 1, 1, 1, 1}}, {{1, 1, 1, 1, 1}}, 25};
// 16 x centre minus the 8 neighbours = 17 x centre minus the 3 x 3 sum, divided by 8.
constexpr TLinearSpec<3, 2> KSharpen{{{1, 1, 1}, {0, 1, 0}}, {{-1, -1, -1}, {0, 17, 0}}, 8};

template <auto S>
constexpr int KParts = int(std::size(S.Col));
template <auto S>
constexpr int KTaps = int(std::size(S.Col[0]));

// The largest magnitude any partial sum of the mask can reach for samples up to `maximum`, plus
// the rounding term.
template <auto S>
constexpr long long SumBound(long long maximum) {
    long long bound = 0;
    for (int p = 0; p < KParts<S>; ++p) {
        long long col = 0, row = 0;
        for (int t = 0; t < KTaps<S>; ++t) {
            col += S.Col[p][t] < 0 ? -S.Col[p][t] : S.Col[p][t];
            row += S.Row[p][t] < 0 ? -S.Row[p][t] : S.Row[p][t];
        }
        bound += col * row;
    }
    return bound * maximum + S.Divisor;
}

template <class T, auto S>
using TAccOf = std::conditional_t<sizeof(T) == 1 && SumBound<S>(SampleMax<T>) <= 32767, int16_t, int32_t>;

// Whether a mask whose full sum needs 32 bits can still run its parts in unsigned 16-bit lanes:
// every coefficient non-negative and each part's largest sum (column sums, then the weighted row)
// at most 65535. The parts are then widened and added in 32 bits (the 5 x 5 Gauss mask: parts of
// at most 15300, 65280 and 65025 for 8-bit samples).
template <class T, auto S>
constexpr bool SplitParts() {
    if (sizeof(T) != 1 || !std::is_same_v<TAccOf<T, S>, int32_t>) return false;
    for (int p = 0; p < KParts<S>; ++p) {
        long long col = 0, row = 0;
        for (int t = 0; t < KTaps<S>; ++t) {
            if (S.Col[p][t] < 0 || S.Row[p][t] < 0) return false;
            col += S.Col[p][t];
            row += S.Row[p][t];
        }
        if (col * row * SampleMax<T> > 65535) return false;
    }
    return true;
}

// The type of the column sums and of each part's row sum.
template <class T, auto S>
using TPartAccOf = std::conditional_t<SplitParts<T, S>(), uint16_t, TAccOf<T, S>>;

// Whether floor(t / D) may be taken as the float product (t + 0.5) × float(1 / D) truncated, for
// every t in 0 .. Bound: (t + 0.5) / D lies at least 0.5 / D from any integer, while the float
// product is off by at most two roundings, (Bound / D + 1) × 2^-23; demanding 2^-22 keeps a
// margin. Vector lanes have no integer division; this replaces a 32-bit one by three cheap steps.
template <int D, long long Bound>
constexpr bool FloatQuotientExact() {
    if ((D & (D - 1)) == 0 || Bound >= (1LL << 23)) return false;
    return (double(Bound) / D + 1.0) / double(1 << 22) < 0.5 / D;
}

// Rounds (halves up) and saturates one sum; Bound is the largest |s| + D.
template <class T, class Acc, int D, long long Bound>
PIXORA_NBH_INLINE T Finish(Acc s) noexcept {
    constexpr Acc maximum = Acc(SampleMax<T>);
    if constexpr (D == 1) {
        s = s < Acc(0) ? Acc(0) : s;
        return T(s > maximum ? maximum : s);
    } else if constexpr (sizeof(Acc) == 4 && FloatQuotientExact<D, Bound>()) {
        Acc t = Acc(s + Acc(D / 2));
        t = t < Acc(0) ? Acc(0) : t;
        constexpr float inverse = float(1.0 / D);
        const Acc q = Acc((float(t) + 0.5f) * inverse);
        return T(q < maximum ? q : maximum);
    } else {
        using U = std::make_unsigned_t<Acc>;
        Acc t = Acc(s + Acc(D / 2));
        t = t < Acc(0) ? Acc(0) : t;  // below zero the quotient saturates to 0 anyway
        const U q = U(U(t) / U(D));
        return T(q < U(maximum) ? q : U(maximum));
    }
}

// v[i] = sum over t of Col[p][t] * rows[t][i].
template <class T, class Acc, auto S, int p>
PIXORA_NBH_INLINE void VerticalPart(const T* const* rows, Acc* __restrict v, std::ptrdiff_t n) noexcept {
    constexpr int N = KTaps<S>;
    const T* r[N];
    for (int t = 0; t < N; ++t) r[t] = rows[t];
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        Acc s = 0;
#pragma GCC unroll 8
        for (int t = 0; t < N; ++t)
            if (S.Col[p][t] != 0) s = Acc(s + Acc(S.Col[p][t]) * Acc(r[t][i]));
        v[i] = s;
    }
}

// Row[p] · (v_p[i], v_p[i + c], ...): taps of equal weight on both sides of the centre are added
// before the product (one multiplication per pair). The pair sums stay within the mask's bound.
template <class A, auto S, int p>
PIXORA_NBH_INLINE A RowPart(const A* v, std::ptrdiff_t i, std::ptrdiff_t c) noexcept {
    constexpr int N = KTaps<S>;
    A s = 0;
#pragma GCC unroll 8
    for (int u = 0; u < N / 2; ++u) {
        constexpr int last = N - 1;
        const int w = S.Row[p][u], w2 = S.Row[p][last - u];
        if (w != 0 && w == w2) {
            s = A(s + A(w) * A(v[i + u * c] + v[i + (last - u) * c]));
        } else {
            if (w != 0) s = A(s + A(w) * v[i + u * c]);
            if (w2 != 0) s = A(s + A(w2) * v[i + (last - u) * c]);
        }
    }
    if constexpr (N % 2 == 1) {
        if (S.Row[p][N / 2] != 0) s = A(s + A(S.Row[p][N / 2]) * v[i + (N / 2) * c]);
    }
    return s;
}

// out[i] = Finish(sum over parts p and taps u of Row[p][u] * v_p[i + u * channels]); with split
// parts each part's sum is taken in its 16-bit lanes and the parts are added in 32 bits.
template <class T, class Acc, class PartAcc, auto S>
PIXORA_NBH_INLINE void HorizontalPass(const PartAcc* v, std::ptrdiff_t pitch, T* __restrict out, std::ptrdiff_t n,
                                      int channels) noexcept {
    constexpr int P = KParts<S>;
    const PartAcc* p0 = v;
    const PartAcc* p1 = v + pitch;
    const PartAcc* p2 = v + 2 * pitch;
    const std::ptrdiff_t c = channels;
    for (std::ptrdiff_t i = 0; i < n; ++i) {
        Acc s = Acc(RowPart<PartAcc, S, 0>(p0, i, c));
        if constexpr (P > 1) s = Acc(s + Acc(RowPart<PartAcc, S, 1>(p1, i, c)));
        if constexpr (P > 2) s = Acc(s + Acc(RowPart<PartAcc, S, 2>(p2, i, c)));
        out[i] = Finish<T, Acc, S.Divisor, SumBound<S>(SampleMax<T>)>(s);
    }
}

// The three colour samples of each of `pixels` four-channel pixels; the fourth stays as it is.
template <class T>
PIXORA_NBH_INLINE void StoreColour(const T* __restrict staged, T* __restrict out, int pixels) noexcept {
    for (int x = 0; x < pixels; ++x) {
        out[4 * x] = staged[4 * x];
        out[4 * x + 1] = staged[4 * x + 1];
        out[4 * x + 2] = staged[4 * x + 2];
    }
}

template <class T, auto S>
PIXORA_NBH_INLINE void Linear(ConstView<T> src, View<T> dst, TRect r) noexcept {
    using Acc = TAccOf<T, S>;
    using PartAcc = TPartAccOf<T, S>;
    static_assert(KParts<S> <= 3);
    constexpr int P = KParts<S>, N = KTaps<S>, R = N / 2;
    const int c = src.Channels;
    const std::ptrdiff_t nIn = std::ptrdiff_t(r.Width + 2 * R) * c;
    const std::ptrdiff_t nOut = std::ptrdiff_t(r.Width) * c;
    const std::ptrdiff_t pitch = nbh::AlignedPitch<PartAcc>(nIn);
    thread_local std::vector<PartAcc> area;
    thread_local std::vector<T> stagedArea;
    PartAcc* const v = nbh::Scratch(area, std::size_t(pitch) * P);
    T* const staged = c == 4 ? nbh::Scratch(stagedArea, std::size_t(nOut)) : nullptr;
    for (int y = r.Y; y < r.Y + r.Height; ++y) {
        const T* rows[N];
        for (int t = 0; t < N; ++t) rows[t] = src.Row(y - R + t) + std::ptrdiff_t(r.X - R) * c;
        VerticalPart<T, PartAcc, S, 0>(rows, v, nIn);
        if constexpr (P > 1) VerticalPart<T, PartAcc, S, 1>(rows, v + pitch, nIn);
        if constexpr (P > 2) VerticalPart<T, PartAcc, S, 2>(rows, v + 2 * pitch, nIn);
        T* const row = dst.Row(y) + std::ptrdiff_t(r.X) * c;
        if (c == 4) {
            HorizontalPass<T, Acc, PartAcc, S>(v, pitch, staged, nOut, c);
            StoreColour(staged, row, r.Width);
        } else {
            HorizontalPass<T, Acc, PartAcc, S>(v, pitch, row, nOut, c);
        }
    }
}

template <class T>
PIXORA_NBH_INLINE void Sort2(T& a, T& b) noexcept {
    const T lo = a < b ? a : b;
    const T hi = a < b ? b : a;
    a = lo;
    b = hi;
}

// Median of five (a comparator network of seven exchanges).
template <class T>
PIXORA_NBH_INLINE T Median5(T p0, T p1, T p2, T p3, T p4) noexcept {
    Sort2(p0, p1);
    Sort2(p3, p4);
    Sort2(p0, p3);
    Sort2(p1, p4);
    Sort2(p1, p2);
    Sort2(p2, p3);
    Sort2(p1, p2);
    return p2;
}

// Median of nine (a comparator network of nineteen exchanges).
template <class T>
PIXORA_NBH_INLINE T Median9(T p0, T p1, T p2, T p3, T p4, T p5, T p6, T p7, T p8) noexcept {
    Sort2(p1, p2);
    Sort2(p4, p5);
    Sort2(p7, p8);
    Sort2(p0, p1);
    Sort2(p3, p4);
    Sort2(p6, p7);
    Sort2(p1, p2);
    Sort2(p4, p5);
    Sort2(p7, p8);
    Sort2(p0, p3);
    Sort2(p5, p8);
    Sort2(p4, p7);
    Sort2(p3, p6);
    Sort2(p1, p4);
    Sort2(p2, p5);
    Sort2(p4, p7);
    Sort2(p4, p2);
    Sort2(p6, p4);
    Sort2(p4, p2);
    return p4;
}

// The median of the cross through the centre, per channel: 5 samples (R = 1) or 9 (R = 2).
template <class T, int R>
PIXORA_NBH_INLINE void MedianCross(ConstView<T> src, View<T> dst, TRect r) noexcept {
    const int c = src.Channels;
    const std::ptrdiff_t n = std::ptrdiff_t(r.Width) * c;
    const std::ptrdiff_t s = c;
    thread_local std::vector<T> stagedArea;
    T* const staged = c == 4 ? nbh::Scratch(stagedArea, std::size_t(n)) : nullptr;
    for (int y = r.Y; y < r.Y + r.Height; ++y) {
        T* const row = dst.Row(y) + std::ptrdiff_t(r.X) * c;
        T* __restrict out = c == 4 ? staged : row;
        const std::ptrdiff_t x0 = std::ptrdiff_t(r.X - R) * c;
        if constexpr (R == 1) {
            const T* __restrict up = src.Row(y - 1) + x0;
            const T* __restrict mid = src.Row(y) + x0;
            const T* __restrict down = src.Row(y + 1) + x0;
            for (std::ptrdiff_t i = 0; i < n; ++i)
                out[i] = Median5(up[i + s], mid[i], mid[i + s], mid[i + 2 * s], down[i + s]);
        } else {
            const T* __restrict r0 = src.Row(y - 2) + x0;
            const T* __restrict r1 = src.Row(y - 1) + x0;
            const T* __restrict r2 = src.Row(y) + x0;
            const T* __restrict r3 = src.Row(y + 1) + x0;
            const T* __restrict r4 = src.Row(y + 2) + x0;
            for (std::ptrdiff_t i = 0; i < n; ++i)
                out[i] = Median9(r0[i + 2 * s], r1[i + 2 * s], r2[i + 2 * s], r3[i + 2 * s], r4[i + 2 * s], r2[i],
                                 r2[i + s], r2[i + 3 * s], r2[i + 4 * s]);
        }
        if (c == 4) StoreColour(staged, row, r.Width);
    }
}

// e[x] = |b1 - b2| + |g1 - g2| + |r1 - r2| of pixel x of two rows of colour planes.
PIXORA_NBH_INLINE void Distances(const int16_t* __restrict b1, const int16_t* __restrict g1,
                                 const int16_t* __restrict r1, const int16_t* __restrict b2,
                                 const int16_t* __restrict g2, const int16_t* __restrict r2, int16_t* __restrict e,
                                 int n) noexcept {
    for (int x = 0; x < n; ++x) {
        const int16_t db = int16_t(b1[x] - b2[x]), dg = int16_t(g1[x] - g2[x]), dr = int16_t(r1[x] - r2[x]);
        e[x] = int16_t((db < 0 ? -db : db) + (dg < 0 ? -dg : dg) + (dr < 0 ? -dr : dr));
    }
}

// Adds one pair's distances to both pixels' sums.
PIXORA_NBH_INLINE void AddToBoth(const int16_t* __restrict e, int16_t* __restrict sum1, int16_t* __restrict sum2,
                                 int n) noexcept {
    for (int x = 0; x < n; ++x) {
        sum1[x] = int16_t(sum1[x] + e[x]);
        sum2[x] = int16_t(sum2[x] + e[x]);
    }
}

// Where sum[x] < least[x]: least[x] = sum[x], choice[x] = j.
PIXORA_NBH_INLINE void SelectLess(const int16_t* __restrict sum, int16_t j, int16_t* __restrict least,
                                  int16_t* __restrict choice, int n) noexcept {
    for (int x = 0; x < n; ++x) {
        const bool less = sum[x] < least[x];
        least[x] = less ? sum[x] : least[x];
        choice[x] = less ? j : choice[x];
    }
}

// Plane of colour sample `channel` (0 blue, 1 green, 2 red) of window row `row`.
PIXORA_NBH_INLINE int16_t* PlaneOf(int16_t* planes, std::ptrdiff_t pitch, int row, int channel) noexcept {
    return planes + (std::ptrdiff_t(row) * 3 + channel) * pitch;
}

// The vector median of the (2R + 1)^2 window: each window pixel's distances to all others are
// summed (at most 24 x 765, so 16 bits hold them), and the first pixel in raster order with the
// smallest sum is copied. The colour samples of each window row are split into planes once per
// output row so that the pairwise distances run over contiguous lanes; pairs that lie the same
// way apart share their distances.
template <int R>
PIXORA_NBH_INLINE void MedianColor(ConstView<uint8_t> src, View<uint8_t> dst, TRect r) noexcept {
    constexpr int N = 2 * R + 1, K = N * N;
    const int c = src.Channels;
    const int w = r.Width, span = r.Width + 2 * R;
    const std::ptrdiff_t planePitch = nbh::AlignedPitch<int16_t>(span);
    const std::ptrdiff_t sumPitch = nbh::AlignedPitch<int16_t>(w);
    thread_local std::vector<int16_t> planeArea, sumArea;
    thread_local std::vector<int16_t> choiceArea;
    int16_t* const planes = nbh::Scratch(planeArea, std::size_t(planePitch) * N * 3);
    int16_t* const sums = nbh::Scratch(sumArea, std::size_t(sumPitch) * K);
    int16_t* const choice = nbh::Scratch(choiceArea, std::size_t(w));
    thread_local std::vector<int16_t> runArea;
    int16_t* const run = nbh::Scratch(runArea, std::size_t(planePitch));
    for (int y = r.Y; y < r.Y + r.Height; ++y) {
        for (int t = 0; t < N; ++t) {
            const uint8_t* in = src.Row(y - R + t) + std::ptrdiff_t(r.X - R) * c;
            int16_t* b = PlaneOf(planes, planePitch, t, 0);
            int16_t* g = PlaneOf(planes, planePitch, t, 1);
            int16_t* rr = PlaneOf(planes, planePitch, t, 2);
            for (int x = 0; x < span; ++x) {
                b[x] = in[std::ptrdiff_t(x) * c];
                g[x] = in[std::ptrdiff_t(x) * c + 1];
                rr[x] = in[std::ptrdiff_t(x) * c + 2];
            }
        }
        std::memset(sums, 0, std::size_t(sumPitch) * K * sizeof(int16_t));
        // Pairs (j, k) of window pixels, j before k in raster order, grouped by their rows (a, b)
        // and column offset d: their distances along the output row are one run of the row
        // pair's distances at that offset, computed once and added for every such pair.
        for (int a = 0; a < N; ++a)
            for (int b = a; b < N; ++b)
                for (int d = a == b ? 1 : 1 - N; d < N; ++d) {
                    const int first = d < 0 ? -d : 0, last = d > 0 ? N - 1 - d : N - 1;
                    Distances(PlaneOf(planes, planePitch, a, 0) + first, PlaneOf(planes, planePitch, a, 1) + first,
                              PlaneOf(planes, planePitch, a, 2) + first, PlaneOf(planes, planePitch, b, 0) + first + d,
                              PlaneOf(planes, planePitch, b, 1) + first + d,
                              PlaneOf(planes, planePitch, b, 2) + first + d, run, last - first + w);
                    for (int jx = first; jx <= last; ++jx)
                        AddToBoth(run + (jx - first), sums + std::ptrdiff_t(a * N + jx) * sumPitch,
                                  sums + std::ptrdiff_t(b * N + jx + d) * sumPitch, w);
                }
        // The first smallest sum: row 0 of the sums becomes the running least.
        std::fill_n(choice, w, int16_t(0));
        for (int j = 1; j < K; ++j) SelectLess(sums + std::ptrdiff_t(j) * sumPitch, int16_t(j), sums, choice, w);
        uint8_t* const out = dst.Row(y) + std::ptrdiff_t(r.X) * c;
        for (int x = 0; x < w; ++x) {
            const int j = choice[x];
            const uint8_t* pick = src.Row(y - R + j / N) + std::ptrdiff_t(r.X + x - R + j % N) * c;
            out[std::ptrdiff_t(x) * c] = pick[0];
            out[std::ptrdiff_t(x) * c + 1] = pick[1];
            out[std::ptrdiff_t(x) * c + 2] = pick[2];
        }
    }
}

// The 8-bit 5 x 5 Gauss mask on AVX-512, one output row at a time. The vertical pass keeps the
// three row pairs' sums u0 = r0 + r4, u1 = r1 + r3 and u2 = r2 in 16-bit lanes; the horizontal
// pass folds the mask's symmetric taps into six 16-bit terms,
//   s = 2 A + 7 B + 12 C + 31 D + 52 E + 127 F,
//   A = u0[-2] + u0[2], B = u0[-1] + u0[1] + u1[-2] + u1[2], C = u0[0] + u2[-2] + u2[2],
//   D = u1[-1] + u1[1], E = u1[0] + u2[-1] + u2[1], F = u2[0]
// (offsets in pixels), each at most 2040, and forms s in 32-bit lanes by multiplying interleaved
// term pairs with their weight pairs and adding neighbours (vpmaddwd). The quotient is
// floor((s + 285) / 571), as Finish's, so the bytes equal the portable path's.
constexpr int KGauss5Block = 32;  // output samples per step: one 512-bit vector of 16-bit lanes

// The six terms above for the 16-bit lanes of V from sample i on (c samples a pixel).
template <class V>
struct TGauss5Terms {
    V A, B, C, D, E, F;
};
template <class V>
PIXORA_NBH_INLINE TGauss5Terms<V> Gauss5Terms(const int16_t* u0, const int16_t* u1, const int16_t* u2, std::ptrdiff_t i,
                                              std::ptrdiff_t c) noexcept {
    const auto at = [&](const int16_t* u, int k) __attribute__((always_inline)) { return nbh::Load<V>(u + i + k * c); };
    return {at(u0, 0) + at(u0, 4),
            (at(u0, 1) + at(u0, 3)) + (at(u1, 0) + at(u1, 4)),
            at(u0, 2) + (at(u2, 0) + at(u2, 4)),
            at(u1, 1) + at(u1, 3),
            at(u1, 2) + (at(u2, 1) + at(u2, 3)),
            at(u2, 2)};
}

PIXORA_NBH_AVX512 void Gauss5VerticalAvx512(const uint8_t* const* rows, int16_t* __restrict u0,
                                            int16_t* __restrict u1, int16_t* __restrict u2,
                                            std::ptrdiff_t n) noexcept {
    for (std::ptrdiff_t i = 0; i < n; i += KGauss5Block) {
        const __mmask32 m = n - i >= KGauss5Block ? ~__mmask32(0) : __mmask32((1u << (n - i)) - 1u);
        const __m512i a = _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(m, rows[0] + i));
        const __m512i b = _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(m, rows[1] + i));
        const __m512i c = _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(m, rows[2] + i));
        const __m512i d = _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(m, rows[3] + i));
        const __m512i e = _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(m, rows[4] + i));
        _mm512_store_si512(u0 + i, _mm512_add_epi16(a, e));
        _mm512_store_si512(u1 + i, _mm512_add_epi16(b, d));
        _mm512_store_si512(u2 + i, c);
    }
}

// out[i] for i < n from the row sums; reads the sums up to KGauss5Block - 1 samples past
// n + 4 * channels (the areas are padded for it) and writes only out[0 .. n).
PIXORA_NBH_AVX512 void Gauss5HorizontalAvx512(const int16_t* u0, const int16_t* u1, const int16_t* u2,
                                              uint8_t* __restrict out, std::ptrdiff_t n, int channels) noexcept {
    const std::ptrdiff_t c = channels;
    const __m512i wAB = _mm512_set1_epi32(2 | (7 << 16));
    const __m512i wCD = _mm512_set1_epi32(12 | (31 << 16));
    const __m512i wEF = _mm512_set1_epi32(52 | (127 << 16));
    const __m512 inverse = _mm512_set1_ps(float(1.0 / 571));
    const __m512 offset = _mm512_set1_ps(float((571 / 2 + 0.5) / 571));
    for (std::ptrdiff_t i = 0; i < n; i += KGauss5Block) {
        // trunc(s × (1 / 571) + 285.5 / 571) with one rounding of the sum. For s < 2^18 the
        // rounded inverse puts the product at most 2^-16 off, the offset is 2^-26 off and the
        // final rounding (the result is below 256) adds 2^-17: the result is within 2^-15 of
        // (s + 285.5) / 571, which lies at least 0.5 / 571 (about 2^-10) from any integer. The
        // truncation is therefore floor((s + 285) / 571), as Finish's is.
        const auto quotient = [=](__m512i s) PIXORA_NBH_AVX512 {
            return _mm512_cvttps_epi32(_mm512_fmadd_ps(_mm512_cvtepi32_ps(s), inverse, offset));
        };
        const auto t = Gauss5Terms<nbh::TVec<int16_t, 64>>(u0, u1, u2, i, c);
        const __m512i A = __m512i(t.A), B = __m512i(t.B), C = __m512i(t.C), D = __m512i(t.D), E = __m512i(t.E),
                      F = __m512i(t.F);
        // Within each 128-bit lane, unpacklo takes pixels 0-3 and unpackhi pixels 4-7; packing the
        // two results again restores the order.
        const __m512i lo = _mm512_add_epi32(
            _mm512_add_epi32(_mm512_madd_epi16(_mm512_unpacklo_epi16(A, B), wAB),
                             _mm512_madd_epi16(_mm512_unpacklo_epi16(C, D), wCD)),
            _mm512_madd_epi16(_mm512_unpacklo_epi16(E, F), wEF));
        const __m512i hi = _mm512_add_epi32(
            _mm512_add_epi32(_mm512_madd_epi16(_mm512_unpackhi_epi16(A, B), wAB),
                             _mm512_madd_epi16(_mm512_unpackhi_epi16(C, D), wCD)),
            _mm512_madd_epi16(_mm512_unpackhi_epi16(E, F), wEF));
        const __m512i q = _mm512_packs_epi32(quotient(lo), quotient(hi));
        const __m256i bytes = _mm512_cvtusepi16_epi8(q);
        if (n - i >= KGauss5Block)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), bytes);
        else
            _mm256_mask_storeu_epi8(out + i, __mmask32((1u << (n - i)) - 1u), bytes);
    }
}

// The rows of the 8-bit 5 x 5 Gauss mask, with one level's vertical and horizontal passes.
template <class TVertical, class THorizontal>
PIXORA_NBH_INLINE void Gauss5Rows(ConstView<uint8_t> src, View<uint8_t> dst, TRect r, TVertical vertical,
                                  THorizontal horizontal) noexcept {
    const int c = src.Channels;
    const std::ptrdiff_t nOut = std::ptrdiff_t(r.Width) * c;
    // A row runs in pieces of KGauss5Piece output samples, so that the row sums of a piece stay
    // in the first-level cache beside the five source rows (whole rows of sums of a wide colour
    // frame do not). Each piece's vertical pass also covers the 4 c samples its mask reaches past
    // it, and rounds up to a whole vector; its horizontal pass reads one vector from
    // n - 1 + 4 c at most: the areas have room for both (for AVX-512's vectors, the widest).
    constexpr std::ptrdiff_t KGauss5Piece = 512;
    const std::ptrdiff_t pitch = nbh::AlignedPitch<int16_t>(KGauss5Piece + 4 * c + KGauss5Block);
    thread_local std::vector<int16_t> area;
    thread_local std::vector<uint8_t> stagedArea;
    int16_t* const u = nbh::Scratch(area, std::size_t(pitch) * 3);
    uint8_t* const staged = c == 4 ? nbh::Scratch(stagedArea, std::size_t(nOut)) : nullptr;
    for (int y = r.Y; y < r.Y + r.Height; ++y) {
        const uint8_t* rows[5];
        for (int t = 0; t < 5; ++t) rows[t] = src.Row(y - 2 + t) + std::ptrdiff_t(r.X - 2) * c;
        uint8_t* const row = dst.Row(y) + std::ptrdiff_t(r.X) * c;
        uint8_t* const out = c == 4 ? staged : row;
        for (std::ptrdiff_t x = 0; x < nOut; x += KGauss5Piece) {
            const std::ptrdiff_t n = std::min(KGauss5Piece, nOut - x);
            const uint8_t* const piece[5] = {rows[0] + x, rows[1] + x, rows[2] + x, rows[3] + x, rows[4] + x};
            vertical(piece, u, u + pitch, u + 2 * pitch, n + 4 * c);
            horizontal(u, u + pitch, u + 2 * pitch, out + x, n, c);
        }
        if (c == 4) StoreColour(staged, row, r.Width);
    }
}

// The same mask on AVX2, 16 samples per step. AVX2 has no byte masks: the last partial step of
// the vertical pass goes sample by sample (it must not read past the piece's source samples),
// and that of the horizontal pass is stored through a staged block.
constexpr int KGauss5BlockAvx2 = 16;

PIXORA_NBH_AVX2 void Gauss5VerticalAvx2(const uint8_t* const* rows, int16_t* __restrict u0, int16_t* __restrict u1,
                                        int16_t* __restrict u2, std::ptrdiff_t n) noexcept {
    std::ptrdiff_t i = 0;
    const auto at = [&](int t) PIXORA_NBH_AVX2 {
        return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[t] + i)));
    };
    for (; i + KGauss5BlockAvx2 <= n; i += KGauss5BlockAvx2) {
        _mm256_store_si256(reinterpret_cast<__m256i*>(u0 + i), _mm256_add_epi16(at(0), at(4)));
        _mm256_store_si256(reinterpret_cast<__m256i*>(u1 + i), _mm256_add_epi16(at(1), at(3)));
        _mm256_store_si256(reinterpret_cast<__m256i*>(u2 + i), at(2));
    }
    for (; i < n; ++i) {
        u0[i] = int16_t(rows[0][i] + rows[4][i]);
        u1[i] = int16_t(rows[1][i] + rows[3][i]);
        u2[i] = int16_t(rows[2][i]);
    }
}

PIXORA_NBH_AVX2 void Gauss5HorizontalAvx2(const int16_t* u0, const int16_t* u1, const int16_t* u2,
                                          uint8_t* __restrict out, std::ptrdiff_t n, int channels) noexcept {
    const std::ptrdiff_t c = channels;
    const __m256i wAB = _mm256_set1_epi32(2 | (7 << 16));
    const __m256i wCD = _mm256_set1_epi32(12 | (31 << 16));
    const __m256i wEF = _mm256_set1_epi32(52 | (127 << 16));
    const __m256 half = _mm256_set1_ps(571 / 2 + 0.5f);  // s + 285.5 is exact in float
    const __m256 inverse = _mm256_set1_ps(float(1.0 / 571));
    for (std::ptrdiff_t i = 0; i < n; i += KGauss5BlockAvx2) {
        const auto quotient = [=](__m256i s) PIXORA_NBH_AVX2 {
            return _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_add_ps(_mm256_cvtepi32_ps(s), half), inverse));
        };
        const auto t = Gauss5Terms<nbh::TVec<int16_t, 32>>(u0, u1, u2, i, c);
        const __m256i A = __m256i(t.A), B = __m256i(t.B), C = __m256i(t.C), D = __m256i(t.D), E = __m256i(t.E),
                      F = __m256i(t.F);
        const __m256i lo = _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(A, B), wAB),
                                                             _mm256_madd_epi16(_mm256_unpacklo_epi16(C, D), wCD)),
                                            _mm256_madd_epi16(_mm256_unpacklo_epi16(E, F), wEF));
        const __m256i hi = _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(A, B), wAB),
                                                             _mm256_madd_epi16(_mm256_unpackhi_epi16(C, D), wCD)),
                                            _mm256_madd_epi16(_mm256_unpackhi_epi16(E, F), wEF));
        // Both packs work within 128-bit lanes: the bytes of 128-bit lane 0 land in quadword 0,
        // those of lane 1 in quadword 2.
        const __m256i q = _mm256_packs_epi32(quotient(lo), quotient(hi));
        const __m128i bytes = _mm256_castsi256_si128(_mm256_permute4x64_epi64(_mm256_packus_epi16(q, q), 0x08));
        if (n - i >= KGauss5BlockAvx2) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), bytes);
        } else {
            alignas(16) uint8_t staged[KGauss5BlockAvx2];
            _mm_store_si128(reinterpret_cast<__m128i*>(staged), bytes);
            std::memcpy(out + i, staged, std::size_t(n - i));
        }
    }
}

PIXORA_NBH_AVX512 void Gauss5Avx512(ConstView<uint8_t> src, View<uint8_t> dst, TRect r) noexcept {
    Gauss5Rows(src, dst, r, Gauss5VerticalAvx512, Gauss5HorizontalAvx512);
}
PIXORA_NBH_AVX2 void Gauss5Avx2(ConstView<uint8_t> src, View<uint8_t> dst, TRect r) noexcept {
    Gauss5Rows(src, dst, r, Gauss5VerticalAvx2, Gauss5HorizontalAvx2);
}

template <class T>
PIXORA_NBH_INLINE void Dispatch(ConstView<T> src, View<T> dst, TRect r, TFixedKernel kernel) noexcept {
    switch (kernel) {
    case TFixedKernel::PrewittHoriz: Linear<T, KPrewittHoriz>(src, dst, r); break;
    case TFixedKernel::PrewittVert: Linear<T, KPrewittVert>(src, dst, r); break;
    case TFixedKernel::SobelHoriz: Linear<T, KSobelHoriz>(src, dst, r); break;
    case TFixedKernel::SobelVert: Linear<T, KSobelVert>(src, dst, r); break;
    case TFixedKernel::RobertsDown: Linear<T, KRobertsDown>(src, dst, r); break;
    case TFixedKernel::RobertsUp: Linear<T, KRobertsUp>(src, dst, r); break;
    case TFixedKernel::Laplace3x3:
    case TFixedKernel::Hipass3x3: Linear<T, KLaplace3>(src, dst, r); break;
    case TFixedKernel::Laplace5x5: Linear<T, KLaplace5>(src, dst, r); break;
    case TFixedKernel::Gauss3x3: Linear<T, KGauss3>(src, dst, r); break;
    case TFixedKernel::Gauss5x5: Linear<T, KGauss5>(src, dst, r); break;
    case TFixedKernel::Hipass5x5: Linear<T, KHipass5>(src, dst, r); break;
    case TFixedKernel::Lowpass3x3: Linear<T, KLowpass3>(src, dst, r); break;
    case TFixedKernel::Lowpass5x5: Linear<T, KLowpass5>(src, dst, r); break;
    case TFixedKernel::Sharpen: Linear<T, KSharpen>(src, dst, r); break;
    case TFixedKernel::MedianCross3x3: MedianCross<T, 1>(src, dst, r); break;
    case TFixedKernel::MedianCross5x5: MedianCross<T, 2>(src, dst, r); break;
    case TFixedKernel::MedianColor3x3:
        if constexpr (sizeof(T) == 1) MedianColor<1>(src, dst, r);
        break;
    case TFixedKernel::MedianColor5x5:
        if constexpr (sizeof(T) == 1) MedianColor<2>(src, dst, r);
        break;
    }
}

template <class T>
PIXORA_NBH_AVX512 void RunAvx512(ConstView<T> src, View<T> dst, TRect r, TFixedKernel kernel) noexcept {
    if constexpr (sizeof(T) == 1) {
        if (kernel == TFixedKernel::Gauss5x5) {
            Gauss5Avx512(src, dst, r);
            return;
        }
    }
    Dispatch(src, dst, r, kernel);
}
template <class T>
PIXORA_NBH_AVX2 void RunAvx2(ConstView<T> src, View<T> dst, TRect r, TFixedKernel kernel) noexcept {
    if constexpr (sizeof(T) == 1) {
        if (kernel == TFixedKernel::Gauss5x5) {
            Gauss5Avx2(src, dst, r);
            return;
        }
    }
    Dispatch(src, dst, r, kernel);
}
template <class T>
void RunBaseline(ConstView<T> src, View<T> dst, TRect r, TFixedKernel kernel) noexcept {
    Dispatch(src, dst, r, kernel);
}

bool IsMedianColor(TFixedKernel kernel) noexcept {
    return kernel == TFixedKernel::MedianColor3x3 || kernel == TFixedKernel::MedianColor5x5;
}

}  // namespace

int FixedKernelReach(TFixedKernel kernel) noexcept {
    switch (kernel) {
    case TFixedKernel::Laplace5x5:
    case TFixedKernel::Gauss5x5:
    case TFixedKernel::Hipass5x5:
    case TFixedKernel::Lowpass5x5:
    case TFixedKernel::MedianCross5x5:
    case TFixedKernel::MedianColor5x5: return 2;
    default: return 1;
    }
}

TRect FixedKernelRect(TRect region, int frameWidth, int frameHeight, int reach) noexcept {
    if (region.Empty()) return {};
    const long long x0 = std::max<long long>(region.X, reach);
    const long long y0 = std::max<long long>(region.Y, reach);
    const long long x1 = std::min<long long>((long long)region.X + region.Width, (long long)frameWidth - reach);
    const long long y1 = std::min<long long>((long long)region.Y + region.Height, (long long)frameHeight - reach);
    if (x1 <= x0 || y1 <= y0) return {};
    return {int(x0), int(y0), int(x1 - x0), int(y1 - y0)};
}

template <class T>
bool FixedFilter(ConstView<T> src, View<T> dst, TRect r, TFixedKernel kernel) noexcept {
    if (src.Data == nullptr || dst.Data == nullptr || r.Empty()) return false;
    const int channels = src.Channels;
    if (channels != dst.Channels || (channels != 1 && channels != 3 && channels != 4)) return false;
    if (IsMedianColor(kernel) && (sizeof(T) != 1 || channels < 3)) return false;
    const int reach = FixedKernelReach(kernel);
    if (r.X < reach || r.Y < reach || (long long)r.X + r.Width + reach > src.Width ||
        (long long)r.Y + r.Height + reach > src.Height)
        return false;
    if ((long long)r.X + r.Width > dst.Width || (long long)r.Y + r.Height > dst.Height) return false;
    switch (nbh::ActiveIsa()) {
    case TIsa::Avx512: RunAvx512(src, dst, r, kernel); break;
    case TIsa::Avx2: RunAvx2(src, dst, r, kernel); break;
    default: RunBaseline(src, dst, r, kernel); break;
    }
    return true;
}

template bool FixedFilter<uint8_t>(ConstView<uint8_t>, View<uint8_t>, TRect, TFixedKernel) noexcept;
template bool FixedFilter<uint16_t>(ConstView<uint16_t>, View<uint16_t>, TRect, TFixedKernel) noexcept;

}  // namespace pixora::kernels
