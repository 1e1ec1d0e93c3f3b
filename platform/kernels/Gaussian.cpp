// Gaussian coefficients, the separable Gaussian blur and the unsharp-mask kernels. The hot loops
// are written with the vector types of Neighbourhood.h and compiled for each instruction-set
// level; a lane computes exactly what the scalar arithmetic in the header comments states (no
// fused multiply-add, no reassociation), so every level gives the same bits.
#define PIXORA_NEIGHBOURHOOD_IMPLEMENTATION
#include "platform/kernels/Gaussian.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#include <immintrin.h>

#include "platform/kernels/Neighbourhood.h"

namespace pixora::kernels {

double EffectiveSigma(int size, double sigma) noexcept {
    if (sigma > 0.0) return sigma;
    return 0.3 * ((double(size) - 1.0) * 0.5 - 1.0) + 0.8;
}

namespace {

using nbh::TIsa;
using nbh::TVec;

std::vector<double> Gauss1D(int n, double sigma) {
    std::vector<double> g(std::size_t(std::max(n, 0)));
    const double s = EffectiveSigma(n, sigma);
    const double centre = (double(n) - 1.0) * 0.5;
    double sum = 0.0;
    for (int i = 0; i < n; ++i) {
        const double d = double(i) - centre;
        g[std::size_t(i)] = std::exp(-(d * d) / (2.0 * s * s));
        sum += g[std::size_t(i)];
    }
    for (double& v : g) v /= sum;
    return g;
}

// What a separable pass computes: the Gaussian blur itself, or the blur of an unsharp mask over
// the Gaussian (folded products) or over the box (plain sums of the samples).
enum class TMode { Blur, UnsharpGauss, UnsharpSum };

struct TPlan {
    const float* X = nullptr;  // Width entries, symmetric (modes Blur and UnsharpGauss)
    const float* Y = nullptr;  // Height entries, symmetric
    int Width = 0, Height = 0, AnchorX = 0, AnchorY = 0;
    float AverageCoefficient = 0.0f, Amount = 0.0f, Threshold = 0.0f;
};

// The least float m >= 0 with m / MAX > threshold in float arithmetic. Float division is
// correctly rounded, hence monotonic, and |v / MAX| is |v| / MAX, so |v / MAX| > threshold holds
// exactly when |v| >= m: the vector loops test that instead of dividing.
float LeastAboveThreshold(float threshold, float MAX) noexcept {
    // Non-negative floats are ordered as their bit patterns: bisect those for the least one that
    // passes (infinity passes whenever any finite value does; if none does, infinity is returned
    // and then no finite v passes either).
    const auto passes = [&](uint32_t bits) {
        float m;
        std::memcpy(&m, &bits, sizeof m);
        return m / MAX > threshold;
    };
    const float infinity = std::numeric_limits<float>::infinity();
    uint32_t lo = 0, hi;
    std::memcpy(&hi, &infinity, sizeof hi);
    if (passes(lo)) return 0.0f;
    while (hi - lo > 1) {
        const uint32_t mid = lo + (hi - lo) / 2;
        (passes(mid) ? hi : lo) = mid;
    }
    float m;
    std::memcpy(&m, &hi, sizeof m);
    return m;
}

// Column pass over NV vectors of samples: rows[k] + i is padded window row k (source samples) at
// the block's first sample. Lanes widen the samples to 32-bit integers; the sum of a pair is an
// integer that float holds exactly, so float(a + b) is float(a) + float(b). N is the window
// height when fixed at compile time (the loops then unroll), else 0 and p.Height counts.
// Every product and sum is non-negative (samples >= 0, coefficients >= +0), so the sum starts at
// its first term: 0 + x would give the same bits.
template <class VF, int NV, TMode M, int N, class T>
PIXORA_NBH_INLINE void ColumnSums(const T* const* rows, std::ptrdiff_t i, const TPlan& p, float* out) noexcept {
    constexpr int VL = int(sizeof(VF) / sizeof(float));
    using VI = TVec<int32_t, int(sizeof(VF))>;
    const int height = N > 0 ? N : p.Height;
    VF acc[NV];
    if constexpr (M == TMode::UnsharpSum) {
        // Sums of integers: exact while MAX × Width × Height < 2^24, in int32 as in float.
        VI sum[NV];
        for (int v = 0; v < NV; ++v) sum[v] = nbh::WidenLoad<VI>(rows[0] + i + v * VL);
        for (int k = 1; k < height; ++k)
            for (int v = 0; v < NV; ++v) sum[v] = sum[v] + nbh::WidenLoad<VI>(rows[k] + i + v * VL);
        for (int v = 0; v < NV; ++v) acc[v] = __builtin_convertvector(sum[v], VF);
    } else {
        const int m = height / 2;
        for (int k = 0; k < m; ++k) {
            const VF g = VF{} + p.Y[k];
            const T* a = rows[k] + i;
            const T* b = rows[height - 1 - k] + i;
            for (int v = 0; v < NV; ++v) {
                const VF t = nbh::Mul(g, __builtin_convertvector(nbh::WidenLoad<VI>(a + v * VL) + nbh::WidenLoad<VI>(b + v * VL), VF));
                acc[v] = k == 0 ? t : acc[v] + t;
            }
        }
        if (height & 1) {
            const VF g = VF{} + p.Y[m];
            const T* a = rows[m] + i;
            for (int v = 0; v < NV; ++v) {
                const VF t = nbh::Mul(g, __builtin_convertvector(nbh::WidenLoad<VI>(a + v * VL), VF));
                acc[v] = m == 0 ? t : acc[v] + t;
            }
        }
    }
    for (int v = 0; v < NV; ++v) nbh::Store(out + v * VL, acc[v]);
}

// The column pass of G consecutive output rows at once (window height N fixed at compile time,
// weighted modes): rows[0 .. N + G - 2] are the padded window rows the G windows span, output g's
// window rows[g .. g + N - 1]; its column sums go to out + g × pitch. Each row is widened and
// converted once and serves every output; a pair of integer samples is added in float, which is
// exact (both are integers below 2^24 and so is their sum), so each output gets the same bits as
// ColumnSums gives it.
//
// For the plain sums (UnsharpSum), each window's integer sum is the previous one's less its first
// row plus the next: integers, so exact, and the same sums as ColumnSums forms.
template <class VF, int NV, TMode M, int N, int G, class T>
PIXORA_NBH_INLINE void ColumnSumsGroup(const T* const* rows, std::ptrdiff_t i, const TPlan& p, float* out,
                                       std::ptrdiff_t pitch) noexcept {
    static_assert(N > 0 && G > 0);
    constexpr int VL = int(sizeof(VF) / sizeof(float));
    constexpr int m = N / 2;
    using VI = TVec<int32_t, int(sizeof(VF))>;
    if constexpr (M == TMode::UnsharpSum) {
#pragma GCC unroll 4
        for (int v = 0; v < NV; ++v) {
            VI f[N + G - 1];
#pragma GCC unroll 32
            for (int j = 0; j < N + G - 1; ++j) f[j] = nbh::WidenLoad<VI>(rows[j] + i + v * VL);
            VI sum = f[0];
#pragma GCC unroll 32
            for (int k = 1; k < N; ++k) sum = sum + f[k];
            nbh::Store(out + v * VL, __builtin_convertvector(sum, VF));
#pragma GCC unroll 4
            for (int g = 1; g < G; ++g) {
                sum = sum - f[g - 1] + f[g + N - 1];
                nbh::Store(out + g * pitch + v * VL, __builtin_convertvector(sum, VF));
            }
        }
        return;
    }
#pragma GCC unroll 4
    for (int v = 0; v < NV; ++v) {
        VF f[N + G - 1];
#pragma GCC unroll 32
        for (int j = 0; j < N + G - 1; ++j) f[j] = __builtin_convertvector(nbh::WidenLoad<VI>(rows[j] + i + v * VL), VF);
        VF acc[G] = {};
#pragma GCC unroll 8
        for (int k = 0; k < m; ++k) {
            const VF c = VF{} + p.Y[k];
#pragma GCC unroll 4
            for (int g = 0; g < G; ++g) {
                const VF t = nbh::Mul(c, f[g + k] + f[g + N - 1 - k]);
                acc[g] = k == 0 ? t : acc[g] + t;
            }
        }
        if constexpr (N & 1) {
            const VF c = VF{} + p.Y[m];
#pragma GCC unroll 4
            for (int g = 0; g < G; ++g) {
                const VF t = nbh::Mul(c, f[g + m]);
                acc[g] = m == 0 ? t : acc[g] + t;
            }
        }
#pragma GCC unroll 4
        for (int g = 0; g < G; ++g) nbh::Store(out + g * pitch + v * VL, acc[g]);
    }
}

// Row pass over NV vectors: h is the padded row of column sums at the block's first sample; N
// the window width when fixed at compile time, else 0.
template <class VF, int NV, TMode M, int N>
PIXORA_NBH_INLINE void RowSums(const float* h, int channels, const TPlan& p, VF (&acc)[NV]) noexcept {
    constexpr int VL = int(sizeof(VF) / sizeof(float));
    const int width = N > 0 ? N : p.Width;
    if constexpr (M == TMode::UnsharpSum) {
        for (int v = 0; v < NV; ++v) acc[v] = nbh::Load<VF>(h + v * VL);
        for (int k = 1; k < width; ++k) {
            const float* a = h + std::ptrdiff_t(k) * channels;
            for (int v = 0; v < NV; ++v) acc[v] = acc[v] + nbh::Load<VF>(a + v * VL);
        }
    } else {
        const int m = width / 2;
        for (int k = 0; k < m; ++k) {
            const VF g = VF{} + p.X[k];
            const float* a = h + std::ptrdiff_t(k) * channels;
            const float* b = h + std::ptrdiff_t(width - 1 - k) * channels;
            for (int v = 0; v < NV; ++v) {
                const VF t = nbh::Mul(g, nbh::Load<VF>(a + v * VL) + nbh::Load<VF>(b + v * VL));
                acc[v] = k == 0 ? t : acc[v] + t;
            }
        }
        if (width & 1) {
            const VF g = VF{} + p.X[m];
            const float* a = h + std::ptrdiff_t(m) * channels;
            for (int v = 0; v < NV; ++v) {
                const VF t = nbh::Mul(g, nbh::Load<VF>(a + v * VL));
                acc[v] = m == 0 ? t : acc[v] + t;
            }
        }
    }
}

// The unsharp decision for one sample, in scalar arithmetic (the vector lanes compute the same).
template <class T, TMode M>
inline T UnsharpSample(T sample, float acc, const TPlan& p) noexcept {
    constexpr float MAX = float(SampleMax<T>);
    const float blur = M == TMode::UnsharpSum ? p.AverageCoefficient * acc : acc;
    const float v = float(sample) - blur * p.Amount;
    if (std::fabs(v / MAX) > p.Threshold) {
        const float q = std::round(v / (1.0f - p.Amount));
        return T(std::min(MAX, std::max(0.0f, q)));
    }
    return sample;
}

// The per-frame constants of the unsharp decision in vector form, set up once per band: the
// stores of the output samples may alias anything, so constants read through the plan inside the
// loop would be loaded again for every vector.
template <class VF, class VI, class T, TMode M>
struct TUnsharpLanes {
    VF Amount, Rescale, Least, Coefficient;
    VF Zero{}, Max = VF{} + float(SampleMax<T>);
    // The greatest float below one half: for q >= 0, trunc(q + NearHalf) is round(q) with halves
    // away from zero, for every float q (q + 0.5 would round 0.49999997 up to 1). Checked for
    // every float from 0 to 70000, the range that matters below the clamp to MAX.
    VF NearHalf = VF{} + 0.49999997f;

    TUnsharpLanes(const TPlan& p, float least) noexcept
        : Amount(VF{} + p.Amount), Rescale(VF{} + (1.0f - p.Amount)), Least(VF{} + least),
          Coefficient(VF{} + p.AverageCoefficient) {}

    // The lanes compute what UnsharpSample does: sample holds the samples (integers as floats),
    // acc their blur sums.
    PIXORA_NBH_INLINE VI Decide(VF sample, VF acc) const noexcept {
        VF b = acc;
        if constexpr (M == TMode::UnsharpSum) b = nbh::Mul(Coefficient, b);
        const VF v = sample - nbh::Mul(b, Amount);
        const VF size = v < Zero ? -v : v;
        // min(MAX, max(0, round(v / (1 − amount)))): a negative quotient rounds to at most 0
        // (-0.5 and below to a negative whole), so it is held at 0 first; NaN goes to 0 too, as
        // the comparison fails. Then round as above and clamp; MAX is whole, so clamping before
        // the truncation gives what clamping after it would.
        VF q = v / Rescale;
        q = q > Zero ? q : Zero;
        q = q + NearHalf;
        q = q < Max ? q : Max;
        const VI whole = __builtin_convertvector(q, VI);  // truncates; q is within 0 .. MAX
        return size >= Least ? whole : __builtin_convertvector(sample, VI);  // exact: an integer
    }
};

// The blur's finish of one sample vector: acc + 0.5 held to 0 .. MAX (NaN to 0) and truncated.
template <class T, class VF, class VI>
PIXORA_NBH_INLINE void StoreBlurred(T* out, VF acc, std::ptrdiff_t n) noexcept {
    constexpr float MAX = float(SampleMax<T>);
    const VF zero = VF{}, maximum = VF{} + MAX;
    VF t = acc + 0.5f;
    t = t > zero ? t : zero;  // also NaN -> 0
    t = t < maximum ? t : maximum;
    nbh::StoreSamples(out, __builtin_convertvector(t, VI), n);
}

// The row pass and finish of one 8-bit output row on AVX2 and AVX-512, for the blur and the
// unsharp modes: h is the padded row of column sums, in the row's samples (unsharp), out the
// row's first output sample. The generic finish narrows every vector on its own (on AVX2 two
// byte shuffles, a permute and an or) and GCC compiles its float clamps to compares and blends.
// Here each block of four vectors is packed into bytes by two packs and one permutation, exact
// as every lane already holds 0 .. 255; both packs work within 128-bit lanes, so 128-bit lane k
// holds samples 4k .. 4k + 3 of vectors a, b, c and d in that order, and the permutation puts
// the dwords back in sample order. The blur clamps with vmaxps and vminps, which give the same
// lanes as t > 0 ? t : 0 and t < MAX ? t : MAX, NaN included. The coefficients and the unsharp
// constants are copied to the stack first: the byte stores could alias the caller's, which
// would then be loaded again for every block. The last partial block takes FinishBlock.
template <int N>
struct TRowCoefficients {
    float X[N > 0 ? N : 1];
    TPlan Plan;
    explicit TRowCoefficients(const TPlan& p) noexcept : Plan(p) {
        if constexpr (N > 0) {
            std::copy_n(p.X, N, X);
            Plan.X = X;
        }
    }
    TRowCoefficients(const TRowCoefficients&) = delete;
};

// The generic finish of one block of NV vectors, of which the first n samples are stored: the
// blur's (StoreBlurred) or the unsharp decision on the samples at `in`. Lanes past n read finite
// samples (the callers' rows have a block of room) and are not stored.
template <TMode M, class VF, class VI, int NV, class T, class TLanes>
PIXORA_NBH_INLINE void FinishBlock(const VF (&acc)[NV], const T* in, T* out, std::ptrdiff_t n,
                                   const TLanes& unsharp) noexcept {
    constexpr int VL = int(sizeof(VF) / sizeof(float));
    for (int v = 0; v < NV && n - v * VL > 0; ++v) {
        if constexpr (M == TMode::Blur)
            StoreBlurred<T, VF, VI>(out + v * VL, acc[v], n - v * VL);
        else
            nbh::StoreSamples(out + v * VL,
                              unsharp.Decide(__builtin_convertvector(nbh::WidenLoad<VI>(in + v * VL), VF), acc[v]),
                              n - v * VL);
    }
}

// The level's part of the packed rows: the blur's clamp and truncation, and the store of four
// vectors' bytes. Not always_inline: GCC refuses to inline a function of a wider level into the
// generic RowBytes on its own, so each level's entry below is flattened instead, which inlines
// RowBytes and these into it. The entries stay out of line: inlined into the band's column-pass
// loop they made the unsharp rows about 6% slower.
struct TRowBytesAvx2 {
    using VF = TVec<float, 32>;
    using VI = TVec<int32_t, 32>;
    using Q = __m256i;
    PIXORA_NBH_AVX2 static Q Blurred(VF acc) noexcept {
        const __m256 t = _mm256_add_ps(acc, _mm256_set1_ps(0.5f));
        return _mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(t, _mm256_setzero_ps()), _mm256_set1_ps(255.0f)));
    }
    PIXORA_NBH_AVX2 static void Store4(uint8_t* out, const Q (&q)[4]) noexcept {
        const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(q[0], q[1]), _mm256_packs_epi32(q[2], q[3]));
        const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permutevar8x32_epi32(bytes, order));
    }
};

struct TRowBytesAvx512 {
    using VF = TVec<float, 64>;
    using VI = TVec<int32_t, 64>;
    using Q = __m512i;
    PIXORA_NBH_AVX512 static Q Blurred(VF acc) noexcept {
        const __m512 t = _mm512_add_ps(acc, _mm512_set1_ps(0.5f));
        return _mm512_cvttps_epi32(_mm512_min_ps(_mm512_max_ps(t, _mm512_setzero_ps()), _mm512_set1_ps(255.0f)));
    }
    PIXORA_NBH_AVX512 static void Store4(uint8_t* out, const Q (&q)[4]) noexcept {
        const __m512i bytes = _mm512_packus_epi16(_mm512_packs_epi32(q[0], q[1]), _mm512_packs_epi32(q[2], q[3]));
        const __m512i order = _mm512_setr_epi32(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
        _mm512_storeu_si512(out, _mm512_permutexvar_epi32(order, bytes));
    }
};

template <class TOps, TMode M, int N, class TLanes>
inline void RowBytes(const float* h, const uint8_t* in, uint8_t* out, std::ptrdiff_t samples, int channels,
                     const TPlan& p, const TLanes& lanes) noexcept {
    using VF = typename TOps::VF;
    using VI = typename TOps::VI;
    constexpr int NV = 4, VL = int(sizeof(VF) / sizeof(float)), Block = NV * VL;
    const TRowCoefficients<N> c(p);
    const TLanes unsharp = lanes;
    std::ptrdiff_t i0 = 0;
    for (; i0 + Block <= samples; i0 += Block) {
        VF acc[NV];
        RowSums<VF, NV, M, N>(h + i0, channels, c.Plan, acc);
        typename TOps::Q q[NV];
        for (int v = 0; v < NV; ++v) {
            if constexpr (M == TMode::Blur)
                q[v] = TOps::Blurred(acc[v]);
            else
                q[v] = typename TOps::Q(
                    unsharp.Decide(__builtin_convertvector(nbh::WidenLoad<VI>(in + i0 + v * VL), VF), acc[v]));
        }
        TOps::Store4(out + i0, q);
    }
    if (i0 < samples) {
        VF acc[NV];
        RowSums<VF, NV, M, N>(h + i0, channels, c.Plan, acc);
        FinishBlock<M, VF, VI>(acc, in + i0, out + i0, samples - i0, unsharp);
    }
}

#define PIXORA_ROW_BYTES_ENTRY __attribute__((flatten, noinline))
template <TMode M, int N, class TLanes>
PIXORA_NBH_AVX2 PIXORA_ROW_BYTES_ENTRY void RowBytesAvx2(const float* h, const uint8_t* in, uint8_t* out,
                                                         std::ptrdiff_t samples, int channels, const TPlan& p,
                                                         const TLanes& lanes) noexcept {
    RowBytes<TRowBytesAvx2, M, N>(h, in, out, samples, channels, p, lanes);
}
template <TMode M, int N, class TLanes>
PIXORA_NBH_AVX512 PIXORA_ROW_BYTES_ENTRY void RowBytesAvx512(const float* h, const uint8_t* in, uint8_t* out,
                                                             std::ptrdiff_t samples, int channels, const TPlan& p,
                                                             const TLanes& lanes) noexcept {
    RowBytes<TRowBytesAvx512, M, N>(h, in, out, samples, channels, p, lanes);
}
#undef PIXORA_ROW_BYTES_ENTRY

// One band (rectangle r) of the separable pass, on instruction-set level L.
template <TIsa L, class T, TMode M, int N>
PIXORA_NBH_INLINE void SeparableBand(ConstView<T> src, View<T> dst, TRect r, const TPlan& p) noexcept {
    constexpr int VB = nbh::KVectorBytes<L>;
    constexpr int VL = VB / int(sizeof(float));
    constexpr int NV = 4;  // independent accumulators per block, enough to hide the add latency
    constexpr int Block = VL * NV;
    using VF = TVec<float, VB>;
    using VI = TVec<int32_t, VB>;
    constexpr float MAX = float(SampleMax<T>);
    const int channels = src.Channels;
    const std::ptrdiff_t samples = std::ptrdiff_t(r.Width) * channels;
    if constexpr (M != TMode::Blur) {
        if (p.Amount >= 1.0f) {
            for (int y = r.Y; y < r.Y + r.Height; ++y)
                std::fill_n(dst.Row(y) + std::ptrdiff_t(r.X) * channels, samples, SampleMax<T>);
            return;
        }
    }
    // Window rows are copied once, padded with their mirrored border pixels, into a ring of
    // sample rows (small enough to stay in the first-level cache for small windows); the column
    // pass then covers the whole padded row and writes float column sums. With the window height
    // fixed at compile time every mode runs the column pass four output rows at a time,
    // and the ring holds three rows more than the window.
    constexpr int Group = N > 0 ? 4 : 1;  // output rows per column pass
    const int ringRows = p.Height + Group - 1;
    const nbh::TPadding pad = nbh::MakePadding(r.X, r.Width, p.Width, p.AnchorX, src.Width);
    const std::ptrdiff_t used = std::ptrdiff_t(pad.Pixels) * channels;
    const std::ptrdiff_t pitch = nbh::AlignedPitch<float>(used + Block);  // a block may read Block - 1 past `used`
    const std::ptrdiff_t ringPitch = nbh::AlignedPitch<T>(used + Block);
    thread_local std::vector<T> ringArea;
    thread_local std::vector<float> paddedArea;
    thread_local std::vector<const T*> rowArea;
    T* ringBase = nbh::Scratch(ringArea, std::size_t(ringPitch) * std::size_t(ringRows));
    float* padded = nbh::Scratch(paddedArea, std::size_t(pitch) * Group);  // a row of column sums per output row
    const T** rows = nbh::Scratch(rowArea, std::size_t(ringRows));
    for (int k = 0; k < ringRows; ++k) std::fill_n(ringBase + std::ptrdiff_t(k) * ringPitch + used, ringPitch - used, T(0));
    for (int g = 0; g < Group; ++g) std::fill_n(padded + g * pitch + used, pitch - used, 0.0f);
    nbh::TRowRing<T> ring{ringBase, ringPitch, ringRows, r.Y - p.AnchorY};
    const std::ptrdiff_t centre = std::ptrdiff_t(p.AnchorX) * channels;  // the output sample in a padded row
    const TUnsharpLanes<VF, VI, T, M> unsharp(p, M == TMode::Blur ? 0.0f : LeastAboveThreshold(p.Threshold, MAX));

    // The row pass and the finish of output row y from its column sums h.
    const auto finishRow = [&](int y, const float* h) __attribute__((always_inline)) {
        T* out = dst.Row(y) + std::ptrdiff_t(r.X) * channels;
        // The unsharp finish runs on the row sums while they are in registers. Its lanes past the
        // row's end read finite samples of the padded row (the ring's pitch leaves a block of
        // room) and are not stored.
        const T* in = ring.Slot(y) + centre;  // the samples of row y
        if constexpr (std::is_same_v<T, uint8_t> && L == TIsa::Avx2) {
            RowBytesAvx2<M, N>(h, in, out, samples, channels, p, unsharp);
            return;
        } else if constexpr (std::is_same_v<T, uint8_t> && L == TIsa::Avx512) {
            RowBytesAvx512<M, N>(h, in, out, samples, channels, p, unsharp);
            return;
        }
        for (std::ptrdiff_t i0 = 0; i0 < samples; i0 += Block) {
            VF acc[NV];
            RowSums<VF, NV, M, N>(h + i0, channels, p, acc);
            FinishBlock<M, VF, VI>(acc, in + i0, out + i0, samples - i0, unsharp);
        }
    };

    const int end = r.Y + r.Height;
    for (int y = r.Y; y < end;) {
        const int top = y - p.AnchorY;
        // Rows short of a whole group at the band's end (bands are often a few rows high) run
        // as a smaller group rather than one by one.
        const int rowsOut = std::min(Group, end - y);
        const int count = p.Height + rowsOut - 1;  // window rows this step reads
        nbh::FillRing(ring, top + count - 1, src, pad);
        for (int k = 0; k < count; ++k) rows[k] = ring.Slot(top + k);
        // The source rows the next step adds to the ring are asked for now, while this step's
        // passes run from the ring: the frame is read once, straight from memory.
        const int ahead = rowsOut;
        const std::ptrdiff_t rowBytes = std::ptrdiff_t(pad.End - pad.Begin) * channels * std::ptrdiff_t(sizeof(T));
        const std::ptrdiff_t offset = std::ptrdiff_t(pad.X0 + pad.Begin) * channels * std::ptrdiff_t(sizeof(T));
        const std::ptrdiff_t nextBytes = rowBytes * ahead;
        const auto fetchAddress = [&](std::ptrdiff_t b) {
            const int k = int(b / rowBytes);
            return reinterpret_cast<const char*>(src.Row(MirrorIndex(top + count + k, src.Height))) + offset + (b - k * rowBytes);
        };
        std::ptrdiff_t fetched = 0;
        const std::ptrdiff_t fetchStep = (nextBytes / ((used + Block - 1) / Block) + 63) / 64 * 64;
        for (std::ptrdiff_t i = 0; i < used; i += Block) {
            if constexpr (Group > 1) {
                static_assert(Group == 4);
                switch (rowsOut) {
                case 4: ColumnSumsGroup<VF, NV, M, N, 4>(rows, i, p, padded + i, pitch); break;
                case 3: ColumnSumsGroup<VF, NV, M, N, 3>(rows, i, p, padded + i, pitch); break;
                case 2: ColumnSumsGroup<VF, NV, M, N, 2>(rows, i, p, padded + i, pitch); break;
                default: ColumnSums<VF, NV, M, N>(rows, i, p, padded + i); break;
                }
            } else {
                ColumnSums<VF, NV, M, N>(rows, i, p, padded + i);
            }
            for (std::ptrdiff_t e = fetched + fetchStep; fetched < e && fetched < nextBytes; fetched += 64)
                __builtin_prefetch(fetchAddress(fetched));
        }
        for (int g = 0; g < rowsOut; ++g) finishRow(y + g, padded + g * pitch);
        y += rowsOut;
    }
}

// The Average unsharp in the float order of its OpenCL kernel, for windows whose sums may leave
// the integers that float holds exactly (MAX × Width × Height >= 2^24): KY outer, KX inner.
template <class T>
void UnsharpAverageDirect(ConstView<T> src, View<T> dst, TRect r, const TPlan& p) noexcept {
    const int channels = src.Channels;
    const std::ptrdiff_t samples = std::ptrdiff_t(r.Width) * channels;
    if (p.Amount >= 1.0f) {
        for (int y = r.Y; y < r.Y + r.Height; ++y)
            std::fill_n(dst.Row(y) + std::ptrdiff_t(r.X) * channels, samples, SampleMax<T>);
        return;
    }
    const nbh::TPadding pad = nbh::MakePadding(r.X, r.Width, p.Width, p.AnchorX, src.Width);
    thread_local std::vector<float> rowArea, accArea;
    float* row = nbh::Scratch(rowArea, std::size_t(pad.Pixels) * std::size_t(channels));
    float* acc = nbh::Scratch(accArea, std::size_t(samples));
    for (int y = r.Y; y < r.Y + r.Height; ++y) {
        std::fill_n(acc, samples, 0.0f);
        for (int ky = 0; ky < p.Height; ++ky) {
            nbh::PadRow(src.Row(MirrorIndex(y - p.AnchorY + ky, src.Height)), row, pad, src.Width, channels);
            for (int kx = 0; kx < p.Width; ++kx) {
                const float* q = row + std::ptrdiff_t(kx) * channels;
                for (std::ptrdiff_t i = 0; i < samples; ++i) acc[i] = acc[i] + q[i];
            }
        }
        const T* in = src.Row(y) + std::ptrdiff_t(r.X) * channels;
        T* out = dst.Row(y) + std::ptrdiff_t(r.X) * channels;
        for (std::ptrdiff_t i = 0; i < samples; ++i) out[i] = UnsharpSample<T, TMode::UnsharpSum>(in[i], acc[i], p);
    }
}

// The square windows of 3, 5 and 15 get loops unrolled at compile time; other sizes count at run
// time. The arithmetic is the same either way.
template <TIsa L, class T, TMode M>
PIXORA_NBH_INLINE void SeparableBandOfSize(ConstView<T> src, View<T> dst, TRect r, const TPlan& p) noexcept {
    if (p.Width == 5 && p.Height == 5) SeparableBand<L, T, M, 5>(src, dst, r, p);
    else if (p.Width == 3 && p.Height == 3) SeparableBand<L, T, M, 3>(src, dst, r, p);
    else if (p.Width == 15 && p.Height == 15) SeparableBand<L, T, M, 15>(src, dst, r, p);
    else SeparableBand<L, T, M, 0>(src, dst, r, p);
}

template <class T, TMode M>
PIXORA_NBH_AVX512 void RunAvx512(ConstView<T> src, View<T> dst, TRect r, const TPlan& p) noexcept {
    SeparableBandOfSize<TIsa::Avx512, T, M>(src, dst, r, p);
}
template <class T, TMode M>
PIXORA_NBH_AVX2 void RunAvx2(ConstView<T> src, View<T> dst, TRect r, const TPlan& p) noexcept {
    SeparableBandOfSize<TIsa::Avx2, T, M>(src, dst, r, p);
}
template <class T, TMode M>
void RunBaseline(ConstView<T> src, View<T> dst, TRect r, const TPlan& p) noexcept {
    SeparableBandOfSize<TIsa::Baseline, T, M>(src, dst, r, p);
}

template <class T, TMode M>
void Run(ConstView<T> src, View<T> dst, TRect r, const TPlan& p) noexcept {
    if (r.Empty() || p.Width < 1 || p.Height < 1 || src.Channels < 1) return;
    if constexpr (M == TMode::UnsharpSum) {
        if (double(SampleMax<T>) * p.Width * p.Height >= 16777216.0) {
            UnsharpAverageDirect(src, dst, r, p);
            return;
        }
    }
    switch (nbh::ActiveIsa()) {
    case TIsa::Avx512: RunAvx512<T, M>(src, dst, r, p); break;
    case TIsa::Avx2: RunAvx2<T, M>(src, dst, r, p); break;
    default: RunBaseline<T, M>(src, dst, r, p); break;
    }
}

TPlan GaussPlan(const TGaussianCoefficients& k, int anchorX, int anchorY) noexcept {
    TPlan p;
    p.X = k.X.data();
    p.Y = k.Y.data();
    p.Width = k.Width;
    p.Height = k.Height;
    p.AnchorX = anchorX;
    p.AnchorY = anchorY;
    return p;
}

TPlan UnsharpPlan(const TUnsharpParams& u) noexcept {
    TPlan p;
    if (u.Kernel != nullptr) p = GaussPlan(*u.Kernel, u.AnchorX, u.AnchorY);
    p.Width = u.Width;
    p.Height = u.Height;
    p.AnchorX = u.AnchorX;
    p.AnchorY = u.AnchorY;
    p.AverageCoefficient = u.AverageCoefficient;
    p.Amount = u.Amount;
    p.Threshold = u.Threshold;
    return p;
}

bool Fits(const TGaussianCoefficients& k) noexcept {
    return k.Width >= 1 && k.Height >= 1 && k.X.size() == std::size_t(k.Width) && k.Y.size() == std::size_t(k.Height);
}

}  // namespace

TGaussianCoefficients GaussianCoefficients(int width, int height, double sigmaX, double sigmaY) {
    TGaussianCoefficients k;
    k.Width = width;
    k.Height = height;
    const std::vector<double> gx = Gauss1D(width, sigmaX), gy = Gauss1D(height, sigmaY);
    for (const double v : gx) k.X.push_back(float(v));
    for (const double v : gy) k.Y.push_back(float(v));
    k.Matrix.reserve(gx.size() * gy.size());
    for (const double b : gy)
        for (const double a : gx) k.Matrix.push_back(float(a * b));
    return k;
}

void GaussianBlur2D(ConstView<uint8_t> src, View<uint8_t> dst, TRect r, const TGaussianCoefficients& k, int anchorX,
                    int anchorY) noexcept {
    if (Fits(k)) Run<uint8_t, TMode::Blur>(src, dst, r, GaussPlan(k, anchorX, anchorY));
}
void GaussianBlur2D(ConstView<uint16_t> src, View<uint16_t> dst, TRect r, const TGaussianCoefficients& k, int anchorX,
                    int anchorY) noexcept {
    if (Fits(k)) Run<uint16_t, TMode::Blur>(src, dst, r, GaussPlan(k, anchorX, anchorY));
}
void UnsharpGauss2D(ConstView<uint8_t> src, View<uint8_t> dst, TRect r, const TUnsharpParams& p) noexcept {
    if (p.Kernel != nullptr && Fits(*p.Kernel) && p.Kernel->Width == p.Width && p.Kernel->Height == p.Height)
        Run<uint8_t, TMode::UnsharpGauss>(src, dst, r, UnsharpPlan(p));
}
void UnsharpGauss2D(ConstView<uint16_t> src, View<uint16_t> dst, TRect r, const TUnsharpParams& p) noexcept {
    if (p.Kernel != nullptr && Fits(*p.Kernel) && p.Kernel->Width == p.Width && p.Kernel->Height == p.Height)
        Run<uint16_t, TMode::UnsharpGauss>(src, dst, r, UnsharpPlan(p));
}
void UnsharpAverage2D(ConstView<uint8_t> src, View<uint8_t> dst, TRect r, const TUnsharpParams& p) noexcept {
    Run<uint8_t, TMode::UnsharpSum>(src, dst, r, UnsharpPlan(p));
}
void UnsharpAverage2D(ConstView<uint16_t> src, View<uint16_t> dst, TRect r, const TUnsharpParams& p) noexcept {
    Run<uint16_t, TMode::UnsharpSum>(src, dst, r, UnsharpPlan(p));
}

}  // namespace pixora::kernels
