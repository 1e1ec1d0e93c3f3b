// Box statistics: integer running sums (and an exact fixed-point finish) for the mean, separable
// extremes, column-sorted comparator networks and sliding histograms for the median. The
// vectorised bodies are compiled per instruction set (Neighbourhood.h); the framework-shaped entry
// points come last.
#define PIXORA_NEIGHBOURHOOD_IMPLEMENTATION
#include "platform/kernels/Box.h"

#include <immintrin.h>

#include <cmath>
#include <iterator>
#include <type_traits>
#include <utility>

namespace pixora::kernels {

namespace {

using nbh::TFloatFinish;
using nbh::TIsa;
using nbh::TVec;

// ---------------------------------------------------------------------------------------------
// Mean

// True while every partial sum of the window is an integer that float holds exactly, so that
// integer sums give the very bits of the float sum in window order.
template <class T>
bool SumsExactInFloat(const TBoxWindow& w) noexcept {
    return uint64_t(w.Width) * uint64_t(w.Height) * uint64_t(SampleMax<T>) <= (uint64_t(1) << 24);
}

// True while a whole window's sum fits 16 bits: the column and running sums are then kept as
// 16-bit lanes (twice the lanes per vector, half the scratch traffic). Running sums wrap modulo
// 2^16, which leaves the difference of two of them, a window sum below 2^16, exact.
template <class T>
bool SumsFitSixteenBits(const TBoxWindow& w) noexcept {
    return uint64_t(w.Width) * uint64_t(w.Height) * uint64_t(SampleMax<T>) <= 0xFFFFu;
}

// Windows up to this width add their column sums directly; wider ones take the difference of
// two running (prefix) sums of the column sums along the row.
constexpr int KDirectWidth = 6;

// Lane j of the result is v[j - S], or 0 for j < S.
template <int S, class VU, std::size_t... I>
PIXORA_NBH_INLINE VU ShiftLanes(const VU& v, std::index_sequence<I...>) noexcept {
    using E = std::remove_cvref_t<decltype(v[0])>;
    constexpr int VL = int(sizeof...(I));
    return __builtin_shuffle(v, VU{}, VU{E(int(I) >= S ? int(I) - S : VL + int(I))...});
}

// Lane j of the result is v[VL - C + j mod C]: the last sample of each channel, spread over the
// lanes of that channel in the next vector.
template <int C, class VU, std::size_t... I>
PIXORA_NBH_INLINE VU CarryLanes(const VU& v, std::index_sequence<I...>) noexcept {
    using E = std::remove_cvref_t<decltype(v[0])>;
    constexpr int VL = int(sizeof...(I));
    return __builtin_shuffle(v, VU{E(VL - C + int(I) % C)...});
}

// Sum of lanes j, j - C, j - 2C, ... of v (lanes of one channel), in log2(VL / C) steps.
template <int C, int S, class VU>
PIXORA_NBH_INLINE VU ScanLanes(VU v) noexcept {
    constexpr int VL = int(sizeof(VU) / sizeof(v[0]));
    if constexpr (S >= VL) {
        return v;
    } else {
        v += ShiftLanes<S>(v, std::make_index_sequence<VL>());
        return ScanLanes<C, 2 * S>(v);
    }
}

// prefix[C + j] = column[j] + prefix[j], prefix[0 .. C) = 0: running sums per channel (modulo
// 2^bits of the lane; a window's difference of two of them is exact since its sum fits the
// lane). The column sums must be zero for VL samples past `used`.
template <int C, class VU, class S>
PIXORA_NBH_INLINE void RunningSums(const S* column, S* prefix, std::ptrdiff_t used) noexcept {
    constexpr int VL = int(sizeof(VU) / sizeof(S));
    std::fill_n(prefix, C, S(0));
    VU carry{};
    for (std::ptrdiff_t j = 0; j < used; j += VL) {
        VU v = ScanLanes<C, C>(nbh::Load<VU>(column + j));
        v += CarryLanes<C>(carry, std::make_index_sequence<VL>());
        nbh::Store(prefix + C + j, v);
        carry = v;
    }
}

// Stores round(sum * coefficient) of up to n samples (halves away from zero, saturated, NaN 0).
template <TIsa L, class T>
PIXORA_NBH_INLINE void FinishMean(T* out, const TVec<uint32_t, nbh::KVectorBytes<L>>& sum, float coefficient,
                                  std::ptrdiff_t n) noexcept {
    constexpr int VB = nbh::KVectorBytes<L>;
    using VI = TVec<int32_t, VB>;
    using VF = TVec<float, VB>;
    const VF scale = VF{} + coefficient, half = VF{} + 0.5f, zero = VF{}, maximum = VF{} + float(SampleMax<T>);
    VF t = nbh::Mul(__builtin_convertvector(VI(sum), VF), scale);
    t = t > zero ? t : zero;  // also NaN -> 0
    t = t < maximum ? t : maximum;
    const VI whole = __builtin_convertvector(t, VI);
    const VF fraction = t - __builtin_convertvector(whole, VF);
    nbh::StoreSamples(out, VI(whole - VI(fraction >= half)), n);  // a true lane is -1
}

// The mean's float finish of a window sum s, one sample at a time: round(s * coefficient), halves
// away from zero, saturated (the lanes of FinishMean compute the same).
inline int FloatMean(uint32_t s, float coefficient, int maximum) noexcept {
    float t = float(s) * coefficient;
    t = t > 0.0f ? t : 0.0f;
    t = t < float(maximum) ? t : float(maximum);
    const int whole = int(t);
    return whole + (t - float(whole) >= 0.5f ? 1 : 0);
}

// A fixed-point form of the finish for 16-bit window sums: ((s + Bias) * Multiplier) >> (16 +
// Shift), a 16-bit high multiply and a shift per vector. Used only when it equals FloatMean for
// every sum 0 .. the window's largest, which is checked exhaustively when the coefficient or the
// window changes (once per thread), so the bits are the float finish's by construction.
struct TFixedMean {
    bool Exact = false;
    uint16_t Bias = 0, Multiplier = 0;
    int Shift = 0;
};

inline TFixedMean FindFixedMean(float coefficient, uint32_t largestSum, int maximum) noexcept {
    struct TCache {
        float Coefficient = 0.0f;
        uint32_t LargestSum = 0;
        int Maximum = -1;
        TFixedMean Result;
    };
    // A few recent answers per thread, so that filters with different windows sharing the band
    // threads do not search again on every call.
    thread_local TCache cache[4];
    thread_local int nextSlot = 0;
    for (const TCache& entry : cache)
        if (entry.Maximum == maximum && entry.LargestSum == largestSum &&
            std::memcmp(&entry.Coefficient, &coefficient, sizeof coefficient) == 0)
            return entry.Result;
    TFixedMean found;
    thread_local std::vector<uint8_t> target;
    bool targetReady = false;
    if (coefficient > 0.0f && largestSum <= 0xFFFFu) {
        const double half = 0.5 / double(coefficient);
        for (int shift = 0; shift < 16 && !found.Exact; ++shift) {
            const double scaled = double(coefficient) * double(uint32_t(1) << (16 + shift));
            for (const double m : {std::floor(scaled), std::ceil(scaled)}) {
                if (m < 1.0 || m > 65535.0 || found.Exact) continue;
                for (const double b : {std::floor(half), std::ceil(half), std::floor(half) - 1.0}) {
                    if (b < 0.0 || double(largestSum) + b > 65535.0 || found.Exact) continue;
                    if (!targetReady) {
                        target.resize(std::size_t(largestSum) + 1);
                        for (uint32_t v = 0; v <= largestSum; ++v) target[v] = uint8_t(FloatMean(v, coefficient, maximum));
                        targetReady = true;
                    }
                    const uint32_t bias = uint32_t(b), multiplier = uint32_t(m);
                    bool exact = true;
                    for (uint32_t v = 0; v <= largestSum && exact; ++v)
                        exact = (((v + bias) * multiplier) >> (16 + shift)) == target[v];
                    if (exact) found = {true, uint16_t(bias), uint16_t(multiplier), shift};
                }
            }
        }
    }
    cache[nextSlot] = {coefficient, largestSum, maximum, found};
    nextSlot = (nextSlot + 1) % 4;
    return found;
}

// Writes n samples of a row from its window sums in fixed point (FindFixedMean's form, which
// keeps every result within 0 .. 255), one entry point per instruction-set level.
PIXORA_NBH_AVX512 void FixedMeanRowAvx512(const uint16_t* sums, uint8_t* out, std::ptrdiff_t n,
                                          const TFixedMean& f) noexcept {
    const __m512i bias = _mm512_set1_epi16(short(f.Bias)), multiplier = _mm512_set1_epi16(short(f.Multiplier));
    const __m128i shift = _mm_cvtsi32_si128(f.Shift);
    for (std::ptrdiff_t i = 0; i < n; i += 32) {
        const __m512i v = _mm512_loadu_si512(sums + i);
        const __m512i q = _mm512_srl_epi16(_mm512_mulhi_epu16(_mm512_add_epi16(v, bias), multiplier), shift);
        const __m256i narrow = _mm512_cvtepi16_epi8(q);
        if (n - i >= 32) _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), narrow);
        else _mm256_mask_storeu_epi8(out + i, __mmask32((uint64_t(1) << (n - i)) - 1), narrow);
    }
}

PIXORA_NBH_AVX2 void FixedMeanRowAvx2(const uint16_t* sums, uint8_t* out, std::ptrdiff_t n, const TFixedMean& f) noexcept {
    const __m256i bias = _mm256_set1_epi16(short(f.Bias)), multiplier = _mm256_set1_epi16(short(f.Multiplier));
    const __m128i shift = _mm_cvtsi32_si128(f.Shift);
    for (std::ptrdiff_t i = 0; i < n; i += 16) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sums + i));
        const __m256i q = _mm256_srl_epi16(_mm256_mulhi_epu16(_mm256_add_epi16(v, bias), multiplier), shift);
        const __m128i narrow = _mm_packus_epi16(_mm256_castsi256_si128(q), _mm256_extracti128_si256(q, 1));
        if (n - i >= 16) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), narrow);
        } else {
            alignas(16) uint8_t staged[16];
            _mm_store_si128(reinterpret_cast<__m128i*>(staged), narrow);
            std::memcpy(out + i, staged, std::size_t(n - i));
        }
    }
}

void FixedMeanRowBaseline(const uint16_t* sums, uint8_t* out, std::ptrdiff_t n, const TFixedMean& f) noexcept {
    const __m128i bias = _mm_set1_epi16(short(f.Bias)), multiplier = _mm_set1_epi16(short(f.Multiplier));
    const __m128i shift = _mm_cvtsi32_si128(f.Shift);
    for (std::ptrdiff_t i = 0; i < n; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + i));
        const __m128i q = _mm_srl_epi16(_mm_mulhi_epu16(_mm_add_epi16(v, bias), multiplier), shift);
        const __m128i narrow = _mm_packus_epi16(q, q);
        if (n - i >= 8) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), narrow);
        } else {
            alignas(16) uint8_t staged[16];
            _mm_store_si128(reinterpret_cast<__m128i*>(staged), narrow);
            std::memcpy(out + i, staged, std::size_t(n - i));
        }
    }
}

template <TIsa L>
void FixedMeanRow(const uint16_t* sums, uint8_t* out, std::ptrdiff_t n, const TFixedMean& f) noexcept {
    if constexpr (L == TIsa::Avx512) FixedMeanRowAvx512(sums, out, n, f);
    else if constexpr (L == TIsa::Avx2) FixedMeanRowAvx2(sums, out, n, f);
    else FixedMeanRowBaseline(sums, out, n, f);
}

// Column sums (lanes of S) of the window rows, updated by one row in and one row out per output
// row, then the horizontal window sum of the column sums; result = round(sum * coefficient).
template <TIsa L, class T, class S>
PIXORA_NBH_INLINE void AverageIntegerBand(ConstView<T> src, View<T> dst, TRect r, const TBoxWindow& w,
                                          float coefficient) noexcept {
    constexpr int VB = nbh::KVectorBytes<L>;
    constexpr int VL = VB / int(sizeof(S));
    using VU = TVec<S, VB>;
    using VU32 = TVec<uint32_t, VB>;
    using VHalf = TVec<S, VB / 2>;
    const int channels = src.Channels, kw = w.Width, kh = w.Height;
    const nbh::TPadding pad = nbh::MakePadding(r.X, r.Width, kw, w.AnchorX, src.Width);
    const std::ptrdiff_t samples = std::ptrdiff_t(r.Width) * channels;
    const std::ptrdiff_t used = std::ptrdiff_t(pad.Pixels) * channels;
    thread_local std::vector<S> sumArea;
    thread_local std::vector<const T*> rowArea;
    nbh::TColumnMap& map = nbh::ThreadColumnMap();
    nbh::MakeColumnMap(map, pad, src.Width, channels);
    // Column sums, then (wide windows) running sums; vector passes read up to VL samples past
    // `used`, which stay zero.
    const bool direct = kw <= KDirectWidth || !(channels == 1 || channels == 3 || channels == 4);
    const std::ptrdiff_t pitch = nbh::AlignedPitch<S>(used + channels + 2 * VL);
    S* column = nbh::Scratch(sumArea, std::size_t(pitch) * 3);
    S* prefix = column + pitch;
    S* sums = prefix + pitch;  // a row of window sums for the fixed-point finish
    std::fill_n(column + used, pitch - used, S(0));
    const T** rows = nbh::Scratch(rowArea, std::size_t(kh));
    // 8-bit frames with 16-bit sums finish in fixed point when that is exact (FindFixedMean).
    TFixedMean fixed;
    if constexpr (sizeof(T) == 1 && sizeof(S) == 2)
        fixed = FindFixedMean(coefficient, uint32_t(kw) * uint32_t(kh) * SampleMax<T>, SampleMax<T>);
    for (int y = r.Y; y < r.Y + r.Height; ++y) {
        const int top = y - w.AnchorY;
        if (y == r.Y) {
            // The band's first window: each vector of column sums adds up its kh rows in a
            // register (a band is often only a few times kh rows high, so this start counts).
            nbh::WindowRows(rows, src, top, kh);
            std::ptrdiff_t j = map.Begin;
            for (; j + VL <= map.End; j += VL) {
                VU sum = nbh::WidenLoad<VU>(rows[0] + map.Shift + j);
                for (int k = 1; k < kh; ++k) sum += nbh::WidenLoad<VU>(rows[k] + map.Shift + j);
                nbh::Store(column + j, sum);
            }
            for (; j < map.End; ++j) {
                S sum = S(rows[0][map.Shift + j]);
                for (int k = 1; k < kh; ++k) sum = S(sum + S(rows[k][map.Shift + j]));
                column[j] = sum;
            }
            for (const auto& [padded, source] : map.Border) {
                S sum = S(rows[0][source]);
                for (int k = 1; k < kh; ++k) sum = S(sum + S(rows[k][source]));
                column[padded] = sum;
            }
        } else {
            // One row enters the window, one leaves it (modulo the lane width; the sums stay exact).
            const T* entering = src.Row(MirrorIndex(top + kh - 1, src.Height));
            const T* leaving = src.Row(MirrorIndex(top - 1, src.Height));
            const T* added = entering + map.Shift;
            const T* removed = leaving + map.Shift;
            for (std::ptrdiff_t j = map.Begin; j < map.End; ++j) column[j] = S(column[j] + S(added[j]) - S(removed[j]));
            for (const auto& [padded, source] : map.Border)
                column[padded] = S(column[padded] + S(entering[source]) - S(leaving[source]));
        }
        if (!direct) {
            switch (channels) {
            case 1: RunningSums<1, VU>(column, prefix, used); break;
            case 3: RunningSums<3, VU>(column, prefix, used); break;
            default: RunningSums<4, VU>(column, prefix, used); break;
            }
        }
        T* out = dst.Row(y) + std::ptrdiff_t(r.X) * channels;
        const std::ptrdiff_t reach = std::ptrdiff_t(kw) * channels;
        for (std::ptrdiff_t i0 = 0; i0 < samples; i0 += VL) {
            VU sum;
            if (direct) {
                sum = nbh::Load<VU>(column + i0);
                for (int kx = 1; kx < kw; ++kx) sum += nbh::Load<VU>(column + i0 + std::ptrdiff_t(kx) * channels);
            } else {
                sum = nbh::Load<VU>(prefix + i0 + reach) - nbh::Load<VU>(prefix + i0);
            }
            if constexpr (sizeof(S) == 4) {
                FinishMean<L>(out + i0, sum, coefficient, samples - i0);
            } else {
                if constexpr (sizeof(T) == 1) {
                    if (fixed.Exact) {
                        nbh::Store(sums + i0, sum);
                        continue;
                    }
                }
                // Widened to 32 bits in two halves.
                alignas(64) S staged[VL];
                nbh::Store(staged, sum);
                FinishMean<L>(out + i0, __builtin_convertvector(nbh::Load<VHalf>(staged), VU32), coefficient,
                              samples - i0);
                if (samples - i0 > VL / 2)
                    FinishMean<L>(out + i0 + VL / 2, __builtin_convertvector(nbh::Load<VHalf>(staged + VL / 2), VU32),
                                  coefficient, samples - i0 - VL / 2);
            }
        }
        if constexpr (sizeof(T) == 1 && sizeof(S) == 2) {
            if (fixed.Exact) FixedMeanRow<L>(sums, out, samples, fixed);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Minimum and maximum

template <bool IsMin, class T>
PIXORA_NBH_INLINE T Pick(const T& a, const T& b) noexcept {
    if constexpr (IsMin) return a < b ? a : b;
    else return a < b ? b : a;
}

// Vertical extreme of the window rows (read straight from the frame) into one padded row, then
// the horizontal extreme of that row.
template <TIsa L, class T, bool IsMin>
PIXORA_NBH_INLINE void ExtremeBand(ConstView<T> src, View<T> dst, TRect r, const TBoxWindow& w) noexcept {
    constexpr int VB = nbh::KVectorBytes<L>;
    constexpr int VL = VB / int(sizeof(T));
    using V = TVec<T, VB>;
    const int channels = src.Channels, kw = w.Width, kh = w.Height;
    const nbh::TPadding pad = nbh::MakePadding(r.X, r.Width, kw, w.AnchorX, src.Width);
    const std::ptrdiff_t samples = std::ptrdiff_t(r.Width) * channels;
    const std::ptrdiff_t used = std::ptrdiff_t(pad.Pixels) * channels;
    thread_local std::vector<T> area;
    thread_local std::vector<const T*> rowArea;
    nbh::TColumnMap& map = nbh::ThreadColumnMap();
    nbh::MakeColumnMap(map, pad, src.Width, channels);
    // Two padded rows: the horizontal pass of row y - 1 runs after the vertical pass of row y,
    // so that it reads a row whose stores have long left the store buffer.
    const std::ptrdiff_t pitch = nbh::AlignedPitch<T>(used);
    T* const columns = nbh::Scratch(area, std::size_t(pitch) * 2);
    const T** rows = nbh::Scratch(rowArea, std::size_t(kh));
    // The vertical extreme of the window rows of output row y into padded row `column`.
    const auto vertical = [&](int y, T* column) __attribute__((always_inline)) {
        nbh::WindowRows(rows, src, y - w.AnchorY, kh);
        std::ptrdiff_t j = map.Begin;
        for (; j + VL <= map.End; j += VL) {
            V m = nbh::Load<V>(rows[0] + map.Shift + j);
            for (int k = 1; k < kh; ++k) m = Pick<IsMin>(m, nbh::Load<V>(rows[k] + map.Shift + j));
            nbh::Store(column + j, m);
        }
        for (; j < map.End; ++j) {
            T m = rows[0][map.Shift + j];
            for (int k = 1; k < kh; ++k) m = Pick<IsMin>(m, rows[k][map.Shift + j]);
            column[j] = m;
        }
        for (const auto& [padded, source] : map.Border) {
            T m = rows[0][source];
            for (int k = 1; k < kh; ++k) m = Pick<IsMin>(m, rows[k][source]);
            column[padded] = m;
        }
    };
    // The horizontal extreme of padded row `column` into output row y.
    const auto horizontal = [&](int y, const T* column) __attribute__((always_inline)) {
        T* out = dst.Row(y) + std::ptrdiff_t(r.X) * channels;
        std::ptrdiff_t i = 0;
        for (; i + VL <= samples; i += VL) {
            V m = nbh::Load<V>(column + i);
            for (int kx = 1; kx < kw; ++kx) m = Pick<IsMin>(m, nbh::Load<V>(column + i + std::ptrdiff_t(kx) * channels));
            nbh::Store(out + i, m);
        }
        for (; i < samples; ++i) {
            T m = column[i];
            for (int kx = 1; kx < kw; ++kx) m = Pick<IsMin>(m, column[i + std::ptrdiff_t(kx) * channels]);
            out[i] = m;
        }
    };
    const auto slot = [&](int y) { return columns + (y & 1) * pitch; };
    vertical(r.Y, slot(r.Y));
    for (int y = r.Y + 1; y < r.Y + r.Height; ++y) {
        vertical(y, slot(y));
        horizontal(y - 1, slot(y - 1));
    }
    horizontal(r.Y + r.Height - 1, slot(r.Y + r.Height - 1));
}

// ---------------------------------------------------------------------------------------------
// Median with comparator networks (3 × 3 and 5 × 5)

// One comparator: the minimum goes to wire A, the maximum to wire B; a comparator whose other
// output nothing reads computes only the one that is read.
struct TComparator {
    uint8_t Kind, A, B;
};
constexpr uint8_t KBoth = 0, KMinOnly = 1, KMaxOnly = 2;

// Sorting networks for a column of 3 and of 5 samples, ascending.
constexpr TComparator KSortColumn3[] = {{KBoth, 0, 1}, {KBoth, 1, 2}, {KBoth, 0, 1}};
constexpr TComparator KSortColumn5[] = {{KBoth, 0, 1}, {KBoth, 3, 4}, {KBoth, 2, 4}, {KBoth, 2, 3}, {KBoth, 0, 3},
                                        {KBoth, 0, 2}, {KBoth, 1, 4}, {KBoth, 1, 3}, {KBoth, 1, 2}};

// Median selection over 5 sorted columns of 5 samples; wire c * 5 + k holds the k-th smallest
// sample of window column c. Built from Batcher's odd-even merges of the sorted columns
// (((0, 1), 2), (3, 4)) and pruned to the comparators that reach the middle element; checked on
// every column-sorted 0/1 input, which by the 0-1 principle covers all inputs.
constexpr TComparator KMedian5x5[] = {
    {KBoth, 0, 5},      {KBoth, 4, 9},      {KBoth, 5, 4},      {KBoth, 2, 7},      {KBoth, 5, 2},
    {KBoth, 4, 7},      {KBoth, 1, 6},      {KBoth, 3, 8},      {KBoth, 6, 3},      {KBoth, 5, 1},
    {KBoth, 2, 6},      {KBoth, 4, 3},      {KBoth, 7, 8},      {KBoth, 0, 10},     {KBoth, 10, 8},
    {KBoth, 6, 14},     {KBoth, 10, 6},     {KBoth, 8, 14},     {KBoth, 1, 12},     {KBoth, 12, 3},
    {KBoth, 10, 1},     {KBoth, 6, 12},     {KBoth, 8, 3},      {KBoth, 5, 11},     {KBoth, 11, 9},
    {KBoth, 11, 4},     {KBoth, 2, 13},     {KBoth, 13, 7},     {KBoth, 11, 2},     {KBoth, 4, 13},
    {KBoth, 9, 7},      {KBoth, 10, 5},     {KBoth, 1, 11},     {KBoth, 6, 2},      {KBoth, 12, 4},
    {KBoth, 8, 13},     {KBoth, 3, 9},      {KMinOnly, 14, 7},  {KBoth, 15, 20},    {KBoth, 19, 24},
    {KBoth, 20, 19},    {KBoth, 17, 22},    {KBoth, 20, 17},    {KBoth, 19, 22},    {KBoth, 16, 21},
    {KBoth, 18, 23},    {KBoth, 21, 18},    {KBoth, 20, 16},    {KBoth, 17, 21},    {KBoth, 19, 18},
    {KBoth, 22, 23},    {KMaxOnly, 0, 15},  {KMinOnly, 4, 23},  {KMaxOnly, 15, 4},  {KMaxOnly, 11, 21},
    {KMinOnly, 21, 9},  {KMinOnly, 4, 21},  {KMaxOnly, 5, 16},  {KMinOnly, 16, 13}, {KMinOnly, 2, 18},
    {KMaxOnly, 16, 2},  {KMaxOnly, 4, 2},   {KMaxOnly, 10, 20}, {KMinOnly, 8, 24},  {KMaxOnly, 20, 8},
    {KMaxOnly, 6, 19},  {KMinOnly, 19, 14}, {KMinOnly, 8, 19},  {KMaxOnly, 1, 17},  {KMinOnly, 17, 3},
    {KMinOnly, 12, 22}, {KMaxOnly, 17, 12}, {KMinOnly, 8, 12},  {KMaxOnly, 2, 8}};
constexpr int KMedian5x5Wire = 8;

template <uint8_t Kind, int A, int B, class V>
PIXORA_NBH_INLINE void Exchange(V* wires) noexcept {
    const V a = wires[A], b = wires[B];
    if constexpr (Kind != KMaxOnly) wires[A] = nbh::VMin(a, b);
    if constexpr (Kind != KMinOnly) wires[B] = nbh::VMax(a, b);
}

template <const auto& Network, class V, std::size_t... I>
PIXORA_NBH_INLINE void RunNetwork(V* wires, std::index_sequence<I...>) noexcept {
    (Exchange<Network[I].Kind, Network[I].A, Network[I].B>(wires), ...);
}

template <const auto& Network, class V>
PIXORA_NBH_INLINE void RunNetwork(V* wires) noexcept {
    RunNetwork<Network>(wires, std::make_index_sequence<std::size(Network)>());
}

template <class V>
PIXORA_NBH_INLINE V MedianOf3(const V& a, const V& b, const V& c) noexcept {
    return nbh::VMax(nbh::VMin(a, b), nbh::VMin(nbh::VMax(a, b), c));
}

template <int K, class V>
PIXORA_NBH_INLINE void SortColumn(V* column) noexcept {
    if constexpr (K == 3) RunNetwork<KSortColumn3>(column);
    else RunNetwork<KSortColumn5>(column);
}

// Sorts the one column of source sample `source` into padded sample `padded` of the planes.
template <int K, class T>
PIXORA_NBH_INLINE void SortOneColumn(const T* const* rows, T* planes, std::ptrdiff_t pitch, std::ptrdiff_t padded,
                                     std::ptrdiff_t source) noexcept {
    T column[K];
    for (int k = 0; k < K; ++k) column[k] = rows[k][source];
    SortColumn<K>(column);
    for (int k = 0; k < K; ++k) planes[k * pitch + padded] = column[k];
}

// The 5 × 5 median. Per output row: the K window rows sorted column by column into K planes
// (shared by the K outputs that see each column), then the selection network per vector of
// output samples.
template <TIsa L, class T>
PIXORA_NBH_INLINE void Median5x5Band(ConstView<T> src, View<T> dst, TRect r, const TBoxWindow& w) noexcept {
    constexpr int K = 5;
    constexpr int VB = nbh::KVectorBytes<L>;
    constexpr int VL = VB / int(sizeof(T));
    using V = TVec<T, VB>;
    const int channels = src.Channels;
    const nbh::TPadding pad = nbh::MakePadding(r.X, r.Width, K, w.AnchorX, src.Width);
    const std::ptrdiff_t samples = std::ptrdiff_t(r.Width) * channels;
    const std::ptrdiff_t used = std::ptrdiff_t(pad.Pixels) * channels;
    // Vector passes over a row run up to VL - 1 samples past `used`.
    const std::ptrdiff_t pitch = nbh::AlignedPitch<T>(used + VL);
    thread_local std::vector<T> area;
    nbh::TColumnMap& map = nbh::ThreadColumnMap();
    nbh::MakeColumnMap(map, pad, src.Width, channels);
    T* planes = nbh::Scratch(area, std::size_t(pitch) * K);
    for (int k = 0; k < K; ++k) std::fill_n(planes + k * pitch + used, pitch - used, T(0));
    alignas(64) T staged[VL];
    for (int y = r.Y; y < r.Y + r.Height; ++y) {
        const T* rows[K];
        nbh::WindowRows(rows, src, y - w.AnchorY, K);
        std::ptrdiff_t j = map.Begin;
        for (; j + VL <= map.End; j += VL) {
            V column[K];
            for (int k = 0; k < K; ++k) column[k] = nbh::Load<V>(rows[k] + map.Shift + j);
            SortColumn<K>(column);
            for (int k = 0; k < K; ++k) nbh::Store(planes + k * pitch + j, column[k]);
        }
        for (; j < map.End; ++j) SortOneColumn<K>(rows, planes, pitch, j, map.Shift + j);
        for (const auto& [padded, source] : map.Border) SortOneColumn<K>(rows, planes, pitch, padded, source);
        T* out = dst.Row(y) + std::ptrdiff_t(r.X) * channels;
        for (std::ptrdiff_t i0 = 0; i0 < samples; i0 += VL) {
            V wires[K * K];
            for (int c = 0; c < K; ++c)
                for (int k = 0; k < K; ++k)
                    wires[c * K + k] = nbh::Load<V>(planes + k * pitch + i0 + std::ptrdiff_t(c) * channels);
            RunNetwork<KMedian5x5>(wires);
            const V result = wires[KMedian5x5Wire];
            if (samples - i0 >= VL) {
                nbh::Store(out + i0, result);
            } else {
                nbh::Store(staged, result);
                std::memcpy(out + i0, staged, std::size_t(samples - i0) * sizeof(T));
            }
        }
    }
}

// The most rows a strip of the 3 x 3 median walks down before the next strip starts.
constexpr int KMedianStripRows = 16;

// The sorted horizontal triple (lowest, middle, highest) of a row, at one sample or one vector.
template <class V>
struct TTriple {
    V Lo, Mid, Hi;
};
template <class V, class T>
PIXORA_NBH_INLINE TTriple<V> SortTriple(const T* s, std::ptrdiff_t ch) noexcept {
    V column[3] = {nbh::Load<V>(s), nbh::Load<V>(s + ch), nbh::Load<V>(s + 2 * ch)};
    SortColumn<3>(column);
    return {column[0], column[1], column[2]};
}

// The median of a 3 x 3 window from its three rows' sorted triples.
template <class V>
PIXORA_NBH_INLINE V MedianOfSortedRows(const TTriple<V>& a, const TTriple<V>& b, const TTriple<V>& c) noexcept {
    return MedianOf3(nbh::VMax(nbh::VMax(a.Lo, b.Lo), c.Lo), MedianOf3(a.Mid, b.Mid, c.Mid),
                     nbh::VMin(nbh::VMin(a.Hi, b.Hi), c.Hi));
}

// The 3 x 3 median of output sample i of a window whose rows are `rows`, read through the column
// map (any sample, border or not).
template <class T>
PIXORA_NBH_INLINE T Median3x3At(const T* const* rows, const nbh::TColumnMap& map, std::ptrdiff_t i,
                                std::ptrdiff_t ch) noexcept {
    TTriple<T> t[3];
    for (int k = 0; k < 3; ++k) {
        T column[3] = {rows[k][map.Source(i)], rows[k][map.Source(i + ch)], rows[k][map.Source(i + 2 * ch)]};
        SortColumn<3>(column);
        t[k] = {column[0], column[1], column[2]};
    }
    return MedianOfSortedRows(t[0], t[1], t[2]);
}

// The band's columns: the map of its padded samples, and the output samples [VectorBegin,
// VectorEnd) that the strips cover (empty when no whole vector fits).
struct TMedianColumns {
    const nbh::TColumnMap& Map;
    std::ptrdiff_t Samples, VectorBegin, VectorEnd;
};

// The 3 x 3 median, in vertical strips of one vector: each source row's horizontal triples are
// sorted once and kept in registers while the strip walks down, and two output rows at a time
// share what they can of the selection. With the three rows of a window sorted, the median of
// the nine is the median of three: the largest row minimum, the median of the row medians and
// the smallest row maximum. Checked on every row-sorted 0/1 input, which covers all inputs as
// these are comparators. Outputs y and y + 1 both see source rows y and y + 1, so that pair's
// maximum of minimums, minimum of maximums and sorted medians are computed once; the median of
// three with two of them sorted (a <= b) is max(a, min(b, x)). Samples whose window reaches past
// the frame's left or right edge go one at a time through the column map. r.Height is at most
// KMedianStripRows.
template <TIsa L, class T>
PIXORA_NBH_INLINE void Median3x3StripsBand(ConstView<T> src, View<T> dst, TRect r, const TBoxWindow& w,
                                           const TMedianColumns& columns) noexcept {
    constexpr int VB = nbh::KVectorBytes<L>;
    constexpr int VL = VB / int(sizeof(T));
    using V = TVec<T, VB>;
    const std::ptrdiff_t ch = src.Channels;
    const nbh::TColumnMap& map = columns.Map;
    const std::ptrdiff_t samples = columns.Samples, vectorBegin = columns.VectorBegin, vectorEnd = columns.VectorEnd;
    const T* in[KMedianStripRows + 2];
    T* out[KMedianStripRows];
    nbh::WindowRows(in, src, r.Y - w.AnchorY, r.Height + 2);
    for (int k = 0; k < r.Height; ++k) out[k] = dst.Row(r.Y + k) + std::ptrdiff_t(r.X) * ch;
    for (int k = 0; k < r.Height; ++k) {
        for (std::ptrdiff_t i = 0; i < vectorBegin; ++i) out[k][i] = Median3x3At(in + k, map, i, ch);
        for (std::ptrdiff_t i = vectorEnd; i < samples; ++i) out[k][i] = Median3x3At(in + k, map, i, ch);
    }
    if (vectorBegin == vectorEnd) return;
    const std::ptrdiff_t shift = map.Shift;
    // The first strip starts at vectorBegin, the last one ends at vectorEnd; overlapping strips
    // write the same values again.
    for (std::ptrdiff_t i = vectorBegin;; i += VL) {
        if (i + VL > vectorEnd) i = vectorEnd - VL;
        TTriple<V> t0 = SortTriple<V>(in[0] + shift + i, ch);
        TTriple<V> t1 = SortTriple<V>(in[1] + shift + i, ch);
        int k = 0;
        for (; k + 2 <= r.Height; k += 2) {
            const TTriple<V> t2 = SortTriple<V>(in[k + 2] + shift + i, ch);
            const TTriple<V> t3 = SortTriple<V>(in[k + 3] + shift + i, ch);
            const V pairLo = nbh::VMax(t1.Lo, t2.Lo), pairHi = nbh::VMin(t1.Hi, t2.Hi);
            const V midLow = nbh::VMin(t1.Mid, t2.Mid), midHigh = nbh::VMax(t1.Mid, t2.Mid);
            nbh::Store(out[k] + i, MedianOf3(nbh::VMax(t0.Lo, pairLo), nbh::VMax(midLow, nbh::VMin(midHigh, t0.Mid)),
                                             nbh::VMin(t0.Hi, pairHi)));
            nbh::Store(out[k + 1] + i, MedianOf3(nbh::VMax(pairLo, t3.Lo), nbh::VMax(midLow, nbh::VMin(midHigh, t3.Mid)),
                                                 nbh::VMin(pairHi, t3.Hi)));
            t0 = t2;
            t1 = t3;
        }
        if (k < r.Height) {
            const TTriple<V> t2 = SortTriple<V>(in[k + 2] + shift + i, ch);
            nbh::Store(out[k] + i, MedianOfSortedRows(t0, t1, t2));
        }
        if (i + VL == vectorEnd) break;
    }
}

// The 3 x 3 median in bands of at most KMedianStripRows rows: a strip re-sorts the two rows above
// its first output row, and outputs depend on the source only, so any cut gives the same result.
template <TIsa L, class T>
PIXORA_NBH_INLINE void Median3x3Band(ConstView<T> src, View<T> dst, TRect r, const TBoxWindow& w) noexcept {
    constexpr int VL = nbh::KVectorBytes<L> / int(sizeof(T));
    const std::ptrdiff_t ch = src.Channels, samples = std::ptrdiff_t(r.Width) * ch;
    nbh::TColumnMap& map = nbh::ThreadColumnMap();
    nbh::MakeColumnMap(map, nbh::MakePadding(r.X, r.Width, 3, w.AnchorX, src.Width), src.Width, src.Channels);
    // Output samples [vectorBegin, vectorEnd) read only padded samples inside the frame.
    std::ptrdiff_t vectorBegin = map.Begin, vectorEnd = std::min(samples, map.End - 2 * ch);
    if (vectorEnd - vectorBegin < VL) vectorBegin = vectorEnd = samples;
    const TMedianColumns columns{map, samples, vectorBegin, vectorEnd};
    for (int y = r.Y; y < r.Y + r.Height; y += KMedianStripRows)
        Median3x3StripsBand<L, T>(src, dst, {r.X, y, r.Width, std::min(KMedianStripRows, r.Y + r.Height - y)}, w, columns);
}

// ---------------------------------------------------------------------------------------------
// Median of other windows

// The two middle ranks of n samples: equal for an odd n.
struct TMiddle {
    int Low, High;
};
inline TMiddle MiddleRanks(int n) noexcept { return n % 2 == 1 ? TMiddle{n / 2, n / 2} : TMiddle{n / 2 - 1, n / 2}; }

// Gathers each window and selects its middle ranks.
template <class T>
void MedianSelectBand(ConstView<T> src, View<T> dst, TRect r, const TBoxWindow& w) noexcept {
    const int channels = src.Channels, kw = w.Width, kh = w.Height, n = kw * kh;
    const nbh::TPadding pad = nbh::MakePadding(r.X, r.Width, kw, w.AnchorX, src.Width);
    const std::ptrdiff_t used = std::ptrdiff_t(pad.Pixels) * channels;
    thread_local std::vector<T> area;
    thread_local std::vector<const T*> rowArea;
    T* base = nbh::Scratch(area, std::size_t(used) * std::size_t(kh) + std::size_t(n));
    T* window = base + used * kh;
    const T** rows = nbh::Scratch(rowArea, std::size_t(kh));
    nbh::TRowRing<T> ring{base, used, kh, r.Y - w.AnchorY};
    const TMiddle middle = MiddleRanks(n);
    for (int y = r.Y; y < r.Y + r.Height; ++y) {
        const int top = y - w.AnchorY;
        nbh::FillRing(ring, top + kh - 1, src, pad);
        for (int ky = 0; ky < kh; ++ky) rows[ky] = ring.Slot(top + ky);
        T* out = dst.Row(y) + std::ptrdiff_t(r.X) * channels;
        for (int x = 0; x < r.Width; ++x)
            for (int c = 0; c < channels; ++c) {
                T* fill = window;
                for (int ky = 0; ky < kh; ++ky) {
                    const T* p = rows[ky] + std::ptrdiff_t(x) * channels + c;
                    for (int kx = 0; kx < kw; ++kx, p += channels) *fill++ = *p;
                }
                std::nth_element(window, window + middle.High, window + n);
                const T high = window[middle.High];
                const T low = middle.Low == middle.High ? high : *std::max_element(window, window + middle.High);
                out[std::ptrdiff_t(x) * channels + c] = T((uint32_t(low) + uint32_t(high)) / 2);
            }
    }
}

// 8-bit windows: one 256-bin histogram per channel (with 16 coarse bins of 16) slides along each
// output row, one window column out and one in per pixel.
void MedianHistogramBand(ConstView<uint8_t> src, View<uint8_t> dst, TRect r, const TBoxWindow& w) noexcept {
    const int channels = src.Channels, kw = w.Width, kh = w.Height;
    const nbh::TPadding pad = nbh::MakePadding(r.X, r.Width, kw, w.AnchorX, src.Width);
    const std::ptrdiff_t used = std::ptrdiff_t(pad.Pixels) * channels;
    thread_local std::vector<uint8_t> area;
    thread_local std::vector<const uint8_t*> rowArea;
    uint8_t* base = nbh::Scratch(area, std::size_t(used) * std::size_t(kh));
    const uint8_t** rows = nbh::Scratch(rowArea, std::size_t(kh));
    nbh::TRowRing<uint8_t> ring{base, used, kh, r.Y - w.AnchorY};
    const TMiddle middle = MiddleRanks(kw * kh);
    uint32_t fine[256], coarse[16];
    const auto rank = [&](int k) {
        int bin = 0, below = 0;
        while (below + int(coarse[bin]) <= k) below += int(coarse[bin++]);
        int value = bin * 16;
        while (below + int(fine[value]) <= k) below += int(fine[value++]);
        return value;
    };
    for (int y = r.Y; y < r.Y + r.Height; ++y) {
        const int top = y - w.AnchorY;
        nbh::FillRing(ring, top + kh - 1, src, pad);
        for (int ky = 0; ky < kh; ++ky) rows[ky] = ring.Slot(top + ky);
        uint8_t* out = dst.Row(y) + std::ptrdiff_t(r.X) * channels;
        for (int c = 0; c < channels; ++c) {
            std::fill_n(fine, 256, 0u);
            std::fill_n(coarse, 16, 0u);
            for (int ky = 0; ky < kh; ++ky)
                for (int kx = 0; kx < kw; ++kx) {
                    const uint8_t v = rows[ky][std::ptrdiff_t(kx) * channels + c];
                    ++fine[v];
                    ++coarse[v >> 4];
                }
            for (int x = 0; x < r.Width; ++x) {
                if (x > 0) {
                    const std::ptrdiff_t leaving = std::ptrdiff_t(x - 1) * channels + c;
                    const std::ptrdiff_t entering = std::ptrdiff_t(x - 1 + kw) * channels + c;
                    for (int ky = 0; ky < kh; ++ky) {
                        const uint8_t a = rows[ky][leaving], b = rows[ky][entering];
                        --fine[a];
                        --coarse[a >> 4];
                        ++fine[b];
                        ++coarse[b >> 4];
                    }
                }
                const int high = rank(middle.High);
                const int low = middle.Low == middle.High ? high : rank(middle.Low);
                out[std::ptrdiff_t(x) * channels + c] = uint8_t((low + high) / 2);
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Dispatch

enum class TOp { AverageInteger, AverageInteger16, AverageFloat, Min, Max, Median3x3, Median5x5 };

template <TIsa L, TOp Op, class T>
PIXORA_NBH_INLINE void RunOp(ConstView<T> src, View<T> dst, TRect r, const TBoxWindow& w, float coefficient) noexcept {
    if constexpr (Op == TOp::AverageInteger) AverageIntegerBand<L, T, uint32_t>(src, dst, r, w, coefficient);
    else if constexpr (Op == TOp::AverageInteger16) AverageIntegerBand<L, T, uint16_t>(src, dst, r, w, coefficient);
    else if constexpr (Op == TOp::AverageFloat)
        nbh::FloatWindowBand<L, T, TFloatFinish::Round>(src, dst, r, w.Width, w.Height, w.AnchorX, w.AnchorY, nullptr,
                                                        coefficient);
    else if constexpr (Op == TOp::Min) ExtremeBand<L, T, true>(src, dst, r, w);
    else if constexpr (Op == TOp::Max) ExtremeBand<L, T, false>(src, dst, r, w);
    else if constexpr (Op == TOp::Median3x3) Median3x3Band<L, T>(src, dst, r, w);
    else Median5x5Band<L, T>(src, dst, r, w);
}

template <TOp Op, class T>
PIXORA_NBH_AVX512 void RunAvx512(ConstView<T> src, View<T> dst, TRect r, const TBoxWindow& w, float coefficient) noexcept {
    RunOp<TIsa::Avx512, Op>(src, dst, r, w, coefficient);
}
template <TOp Op, class T>
PIXORA_NBH_AVX2 void RunAvx2(ConstView<T> src, View<T> dst, TRect r, const TBoxWindow& w, float coefficient) noexcept {
    RunOp<TIsa::Avx2, Op>(src, dst, r, w, coefficient);
}
template <TOp Op, class T>
void RunBaseline(ConstView<T> src, View<T> dst, TRect r, const TBoxWindow& w, float coefficient) noexcept {
    RunOp<TIsa::Baseline, Op>(src, dst, r, w, coefficient);
}

template <TOp Op, class T>
void Run(ConstView<T> src, View<T> dst, TRect r, const TBoxWindow& w, float coefficient = 0.0f) noexcept {
    switch (nbh::ActiveIsa()) {
    case TIsa::Avx512: RunAvx512<Op>(src, dst, r, w, coefficient); break;
    case TIsa::Avx2: RunAvx2<Op>(src, dst, r, w, coefficient); break;
    default: RunBaseline<Op>(src, dst, r, w, coefficient); break;
    }
}

bool Valid(TRect r, const TBoxWindow& w, int channels) noexcept {
    return !r.Empty() && w.Width >= 1 && w.Height >= 1 && channels >= 1;
}

template <class T>
void Average(ConstView<T> src, View<T> dst, TRect r, const TBoxWindow& w, float coefficient) noexcept {
    if (!Valid(r, w, src.Channels)) return;
    if (SumsFitSixteenBits<T>(w)) Run<TOp::AverageInteger16>(src, dst, r, w, coefficient);
    else if (SumsExactInFloat<T>(w)) Run<TOp::AverageInteger>(src, dst, r, w, coefficient);
    else Run<TOp::AverageFloat>(src, dst, r, w, coefficient);
}

template <class T>
void Median(ConstView<T> src, View<T> dst, TRect r, const TBoxWindow& w) noexcept {
    if (!Valid(r, w, src.Channels)) return;
    if (w.Width == 3 && w.Height == 3) Run<TOp::Median3x3>(src, dst, r, w);
    else if (w.Width == 5 && w.Height == 5) Run<TOp::Median5x5>(src, dst, r, w);
    else if constexpr (sizeof(T) == 1) {
        if (w.Width * w.Height > 64) MedianHistogramBand(src, dst, r, w);
        else MedianSelectBand(src, dst, r, w);
    } else {
        MedianSelectBand(src, dst, r, w);
    }
}

}  // namespace

void Average2D(ConstView<uint8_t> src, View<uint8_t> dst, TRect r, const TBoxWindow& window, float coefficient) noexcept {
    Average(src, dst, r, window, coefficient);
}
void Average2D(ConstView<uint16_t> src, View<uint16_t> dst, TRect r, const TBoxWindow& window, float coefficient) noexcept {
    Average(src, dst, r, window, coefficient);
}
void Min2D(ConstView<uint8_t> src, View<uint8_t> dst, TRect r, const TBoxWindow& window) noexcept {
    if (Valid(r, window, src.Channels)) Run<TOp::Min>(src, dst, r, window);
}
void Min2D(ConstView<uint16_t> src, View<uint16_t> dst, TRect r, const TBoxWindow& window) noexcept {
    if (Valid(r, window, src.Channels)) Run<TOp::Min>(src, dst, r, window);
}
void Max2D(ConstView<uint8_t> src, View<uint8_t> dst, TRect r, const TBoxWindow& window) noexcept {
    if (Valid(r, window, src.Channels)) Run<TOp::Max>(src, dst, r, window);
}
void Max2D(ConstView<uint16_t> src, View<uint16_t> dst, TRect r, const TBoxWindow& window) noexcept {
    if (Valid(r, window, src.Channels)) Run<TOp::Max>(src, dst, r, window);
}
void Median2D(ConstView<uint8_t> src, View<uint8_t> dst, TRect r, const TBoxWindow& window) noexcept {
    Median(src, dst, r, window);
}
void Median2D(ConstView<uint16_t> src, View<uint16_t> dst, TRect r, const TBoxWindow& window) noexcept {
    Median(src, dst, r, window);
}

// Framework-shaped entry points.

namespace {
template <class T, class Op>
void Shaped(const T* src, int srcLineSize, TSize srcSize, T* dst, int dstLineSize, TSize dstSize, int channels,
            TRect rect, TSize kernelSize, int anchorX, int anchorY, Op op) noexcept {
    const TBoxWindow window{kernelSize.Width, kernelSize.Height, anchorX, anchorY};
    nbh::RunFrameworkShaped(src, srcLineSize, srcSize, dst, dstLineSize, dstSize, channels, rect,
                            [&](ConstView<T> s, View<T> d, TRect r) { op(s, d, r, window); });
}
}  // namespace

#define PIXORA_BOX_SHAPED(Name, T, Call)                                                                          \
    void Name(const T* src, int srcLineSize, TSize srcSize, T* dst, int dstLineSize, TSize dstSize, int channels, \
              TRect rect, TSize kernelSize, int anchorX, int anchorY) noexcept {                                  \
        Shaped(src, srcLineSize, srcSize, dst, dstLineSize, dstSize, channels, rect, kernelSize, anchorX, anchorY, \
               [](ConstView<T> s, View<T> d, TRect r, const TBoxWindow& w) { Call(s, d, r, w); });              \
    }
PIXORA_BOX_SHAPED(Min2D8bit, uint8_t, Min2D)
PIXORA_BOX_SHAPED(Min2D16bit, uint16_t, Min2D)
PIXORA_BOX_SHAPED(Max2D8bit, uint8_t, Max2D)
PIXORA_BOX_SHAPED(Max2D16bit, uint16_t, Max2D)
PIXORA_BOX_SHAPED(Median2D8bit, uint8_t, Median2D)
PIXORA_BOX_SHAPED(Median2D16bit, uint16_t, Median2D)
#undef PIXORA_BOX_SHAPED

void Average2D8bit(const uint8_t* src, int srcLineSize, TSize srcSize, uint8_t* dst, int dstLineSize, TSize dstSize,
                   int channels, TRect rect, TSize kernelSize, int anchorX, int anchorY, float coefficient) noexcept {
    Shaped(src, srcLineSize, srcSize, dst, dstLineSize, dstSize, channels, rect, kernelSize, anchorX, anchorY,
           [coefficient](ConstView<uint8_t> s, View<uint8_t> d, TRect r, const TBoxWindow& w) {
               Average2D(s, d, r, w, coefficient);
           });
}

void Average2D16bit(const uint16_t* src, int srcLineSize, TSize srcSize, uint16_t* dst, int dstLineSize, TSize dstSize,
                    int channels, TRect rect, TSize kernelSize, int anchorX, int anchorY, float coefficient) noexcept {
    Shaped(src, srcLineSize, srcSize, dst, dstLineSize, dstSize, channels, rect, kernelSize, anchorX, anchorY,
           [coefficient](ConstView<uint16_t> s, View<uint16_t> d, TRect r, const TBoxWindow& w) {
               Average2D(s, d, r, w, coefficient);
           });
}

}  // namespace pixora::kernels
