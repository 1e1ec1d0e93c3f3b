// Two-frame combining rows, compiled per instruction set, and their per-format drivers.
#include "platform/kernels/Combine.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <sstream>

#include <immintrin.h>

#include "platform/base/PXErrors.h"
#include "platform/base/PXTargetClones.h"

namespace pixora::kernels {

namespace {

constexpr std::size_t KChunkPixels = 512;  // vfRGBA32 rows are worked in chunks of this many pixels

// ---- Per-sample operations ---------------------------------------------------------------------
// Written as plain loops over samples so that GCC vectorizes them; each is instantiated for bytes
// and words inside the instruction-set clones of the row functions below.

template <class T>
[[gnu::always_inline]] inline void AddSamples(const T* a, const T* b, T* d, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
        const T s = T(a[i] + b[i]);
        d[i] = s < a[i] ? SampleMax<T> : s;  // wrapped around: saturate
    }
}

// b - a, saturated at 0.
template <class T>
[[gnu::always_inline]] inline void SubSamples(const T* a, const T* b, T* d, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
        const T m = a[i] < b[i] ? a[i] : b[i];
        d[i] = T(b[i] - m);
    }
}

template <class T>
[[gnu::always_inline]] inline void MulSamples(const T* a, const T* b, T* d, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
        const uint32_t p = uint32_t(a[i]) * uint32_t(b[i]);
        d[i] = T(p > SampleMax<T> ? SampleMax<T> : p);
    }
}

// b / a rounded half to even; a = 0 gives the maximum (0 for b = 0). Bytes go through float and
// words through double: the quotient is then exact whenever it lies halfway, and a quotient that
// is not halfway lies at least 1 / (2a) from the halfway point, far more than the division's
// rounding error. Adding and removing 2^23 (2^52) rounds to an integer, ties to even.
// a = 0 becomes a division by 1 of b * max, which then saturates (0 stays 0): no branch, so the
// loops vectorize.
__attribute__((always_inline)) inline void DivSamples(const uint8_t* a, const uint8_t* b, uint8_t* d,
                                                      std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
        const int32_t ai = a[i], zero = ai == 0;
        const float num = float(int32_t(b[i]) * (1 + 254 * zero));
        const float q = (num / float(ai + zero) + 8388608.0f) - 8388608.0f;
        d[i] = uint8_t(int32_t(q < 255.0f ? q : 255.0f));
    }
}

__attribute__((always_inline)) inline void DivSamples(const uint16_t* a, const uint16_t* b, uint16_t* d,
                                                      std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
        const int32_t ai = a[i], zero = ai == 0;
        const double num = double(b[i]) * double(1 + 65534 * zero);
        const double q = (num / double(ai + zero) + 4503599627370496.0) - 4503599627370496.0;
        d[i] = uint16_t(int32_t(q < 65535.0 ? q : 65535.0));
    }
}

template <class T>
[[gnu::always_inline]] inline void OrSamples(const T* a, const T* b, T* d, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) d[i] = T(a[i] | b[i]);
}

template <class T>
[[gnu::always_inline]] inline void AndSamples(const T* a, const T* b, T* d, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) d[i] = T(a[i] & b[i]);
}

template <class T>
[[gnu::always_inline]] inline void XorSamples(const T* a, const T* b, T* d, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) d[i] = T(a[i] ^ b[i]);
}

template <class T>
[[gnu::always_inline]] inline void AbsDiffSamples(const T* a, const T* b, T* d, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
        const T hi = a[i] < b[i] ? b[i] : a[i];
        const T lo = a[i] < b[i] ? a[i] : b[i];
        d[i] = T(hi - lo);
    }
}

template <class T>
[[gnu::always_inline]] inline void OpSamples(TPXCombineOperation op, const T* a, const T* b, T* d,
                                             std::size_t n) noexcept {
    switch (op) {
    case coAdd: AddSamples(a, b, d, n); break;
    case coSubtract: SubSamples(a, b, d, n); break;
    case coMultiply: MulSamples(a, b, d, n); break;
    case coDivide: DivSamples(a, b, d, n); break;
    case coOr: OrSamples(a, b, d, n); break;
    case coAnd: AndSamples(a, b, d, n); break;
    case coXor: XorSamples(a, b, d, n); break;
    case coAbsDiff: AbsDiffSamples(a, b, d, n); break;
    case coCopy:
        if (d != b) std::memmove(d, b, n * sizeof(T));
        break;
    }
}

// "Over": fg with alpha a over bg with alpha b, both normalised to 0..1:
// colour = a * fg + (1 - a) * b * bg, alpha = a + (1 - a) * b. In integers, with A and B the
// alpha bytes: colour = (255 A fg + (255 - A) B bg) / 65025 and alpha = (255 A + (255 - A) B) / 255,
// both rounded to nearest (65025 and 255 are odd, so no value lies halfway).
[[gnu::always_inline]] inline void OverPixels(const uint8_t* fg, const uint8_t* bg, uint8_t* d,
                                              std::size_t pixels) noexcept {
    for (std::size_t p = 0; p < pixels; ++p) {
        const uint8_t* f = fg + 4 * p;
        const uint8_t* g = bg + 4 * p;
        const uint32_t wf = uint32_t(f[3]) * 255u;
        const uint32_t wb = (255u - f[3]) * uint32_t(g[3]);
        const uint32_t c0 = (wf * f[0] + wb * g[0] + 32512u) / 65025u;
        const uint32_t c1 = (wf * f[1] + wb * g[1] + 32512u) / 65025u;
        const uint32_t c2 = (wf * f[2] + wb * g[2] + 32512u) / 65025u;
        const uint32_t al = (wf + wb + 127u) / 255u;
        uint8_t* o = d + 4 * p;
        o[0] = uint8_t(c0);
        o[1] = uint8_t(c1);
        o[2] = uint8_t(c2);
        o[3] = uint8_t(al);
    }
}

// round(s * k / 255) in 16-bit lanes: with t = s k + 128, (t + (t >> 8)) >> 8 equals
// (s k + 127) div 255 for every s, k in 0..255 (255 is odd: no value lies halfway), and t +
// (t >> 8) <= 65407 stays below 2^16.
[[gnu::always_inline]] inline void ScaleSamples8(const uint8_t* s, uint8_t* d, std::size_t n, uint32_t k) noexcept {
    const uint16_t k16 = uint16_t(k);
    for (std::size_t i = 0; i < n; ++i) {
        const uint16_t t = uint16_t(uint16_t(s[i]) * k16 + 128u);
        d[i] = uint8_t(uint16_t(t + (t >> 8)) >> 8);
    }
}

// round(s * k / 65535): s * k + 32767 <= 65535 * 65535 + 32767 still fits 32 bits.
[[gnu::always_inline]] inline void ScaleSamples16(const uint16_t* s, uint16_t* d, std::size_t n, uint32_t k) noexcept {
    for (std::size_t i = 0; i < n; ++i) d[i] = uint16_t((uint32_t(s[i]) * k + 32767u) / 65535u);
}

// ---- Row functions, one clone per instruction set ------------------------------------------------

PIXORA_TARGET_CLONES("avx2", "default")
void OpRow8Clones(TPXCombineOperation op, const uint8_t* a, const uint8_t* b, uint8_t* d, std::size_t n) noexcept {
    OpSamples(op, a, b, d, n);
}

PIXORA_TARGET_CLONES("avx2", "default")
void OpRow16Clones(TPXCombineOperation op, const uint16_t* a, const uint16_t* b, uint16_t* d, std::size_t n) noexcept {
    OpSamples(op, a, b, d, n);
}

// ---- Explicit vector rows: the byte division and "over" ---------------------------------------
//
// Both compute a rounded quotient of small integers in float lanes, exactly as the scalar code
// above does: the results are the same, byte for byte.

#define PIXORA_COMBINE_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512dq,avx2,fma")))
#define PIXORA_COMBINE_AVX2 __attribute__((target("avx2")))

// Vectors are passed by value between always_inline helpers; the ABI note GCC gives for that
// does not concern code that is never called across a boundary.
#pragma GCC diagnostic ignored "-Wpsabi"

void DivRow8Baseline(const uint8_t* a, const uint8_t* b, uint8_t* d, std::size_t n) noexcept {
    DivSamples(a, b, d, n);
}

// 16 byte quotients b / a rounded half to even (a = 0: 255, or 0 for b = 0). The division is
// correctly rounded: a quotient that lies halfway is exact in float and rounds to even when
// converted, and one that does not lies at least 1 / (2a) >= 1/510 from the halfway point, far
// more than the float's rounding error (2^-16 at 255), so the conversion rounds it as the exact
// value. (A true division measured faster here than a reciprocal estimate with a remainder
// correction.)
PIXORA_COMBINE_AVX512 [[gnu::always_inline]] inline __m128i Div16Avx512(const uint8_t* a8, const uint8_t* b8) noexcept {
    const __m512i a = _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a8)));
    const __m512i b = _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b8)));
    const __m512 af = _mm512_cvtepi32_ps(_mm512_max_epi32(a, _mm512_set1_epi32(1)));
    __m512i q = _mm512_cvt_roundps_epi32(_mm512_div_ps(_mm512_cvtepi32_ps(b), af),
                                         _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    // a = 0 was divided by 1: b itself, which becomes the maximum unless it is 0.
    const __mmask16 overflow = _mm512_cmpeq_epi32_mask(a, _mm512_setzero_si512()) & _mm512_test_epi32_mask(b, b);
    q = _mm512_mask_mov_epi32(q, overflow, _mm512_set1_epi32(255));
    return _mm512_cvtepi32_epi8(q);
}

PIXORA_COMBINE_AVX512 void DivRow8Avx512(const uint8_t* a, const uint8_t* b, uint8_t* d, std::size_t n) noexcept {
    std::size_t i = 0;
    for (; i + 64 <= n; i += 64)
        for (std::size_t j = i; j < i + 64; j += 16)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + j), Div16Avx512(a + j, b + j));
    for (; i + 16 <= n; i += 16) _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), Div16Avx512(a + i, b + i));
    DivSamples(a + i, b + i, d + i, n - i);
}

// 8 quotients as Div16Avx512, returned in 32-bit lanes.
PIXORA_COMBINE_AVX2 [[gnu::always_inline]] inline __m256i Div8Avx2(const uint8_t* a8, const uint8_t* b8) noexcept {
    const __m256i a = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a8)));
    const __m256i b = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(b8)));
    const __m256 af = _mm256_cvtepi32_ps(_mm256_max_epi32(a, _mm256_set1_epi32(1)));
    const __m256i q = _mm256_cvtps_epi32(
        _mm256_round_ps(_mm256_div_ps(_mm256_cvtepi32_ps(b), af), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC));
    const __m256i zero = _mm256_setzero_si256();
    const __m256i overflow = _mm256_andnot_si256(_mm256_cmpeq_epi32(b, zero), _mm256_cmpeq_epi32(a, zero));
    return _mm256_blendv_epi8(q, _mm256_set1_epi32(255), overflow);
}

PIXORA_COMBINE_AVX2 void DivRow8Avx2(const uint8_t* a, const uint8_t* b, uint8_t* d, std::size_t n) noexcept {
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i v0 = Div8Avx2(a + i, b + i), v1 = Div8Avx2(a + i + 8, b + i + 8);
        const __m256i v2 = Div8Avx2(a + i + 16, b + i + 16), v3 = Div8Avx2(a + i + 24, b + i + 24);
        const __m256i bytes = _mm256_packus_epi16(_mm256_packus_epi32(v0, v1), _mm256_packus_epi32(v2, v3));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), _mm256_permutevar8x32_epi32(bytes, order));
    }
    DivSamples(a + i, b + i, d + i, n - i);
}

void OverRowBaseline(const uint8_t* fg, const uint8_t* bg, uint8_t* d, std::size_t pixels) noexcept {
    OverPixels(fg, bg, d, pixels);
}

// "Over" for four pixels (16 samples, one pixel per 128-bit lane) in float lanes:
// x = 255 A fg + (255 - A) B bg (255 in place of both alpha samples) is an integer below 2^24,
// exact in float (so are the fused products and sums of integers this small), and the
// correctly rounded x / 65025 converts to the right integer: the exact quotient (at most 255)
// lies at least 1 / 130050 (about 7.69e-6) from a halfway point, since 65025 is odd, and the
// division's error is at most half a float step at 255, 2^-17 (about 7.63e-6), so the rounded
// quotient never reaches or crosses it.
PIXORA_COMBINE_AVX512 [[gnu::always_inline]] inline __m128i Over4Avx512(const uint8_t* fg, const uint8_t* bg) noexcept {
    const __m512 k255 = _mm512_set1_ps(255.0f);
    const __m512 f = _mm512_cvtepi32_ps(_mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(fg))));
    const __m512 g = _mm512_cvtepi32_ps(_mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bg))));
    const __m512 fa = _mm512_permute_ps(f, 0xFF);  // each pixel's alpha in its four lanes
    const __m512 ga = _mm512_permute_ps(g, 0xFF);
    const __m512 wf = _mm512_mul_ps(fa, k255);
    const __m512 wb = _mm512_mul_ps(_mm512_sub_ps(k255, fa), ga);
    const __m512 fv = _mm512_mask_mov_ps(f, 0x8888, k255);
    const __m512 gv = _mm512_mask_mov_ps(g, 0x8888, k255);
    const __m512 x = _mm512_fmadd_ps(wf, fv, _mm512_mul_ps(wb, gv));
    const __m512i q = _mm512_cvt_roundps_epi32(_mm512_div_ps(x, _mm512_set1_ps(65025.0f)),
                                               _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    return _mm512_cvtepi32_epi8(q);
}

PIXORA_COMBINE_AVX512 void OverRowAvx512(const uint8_t* fg, const uint8_t* bg, uint8_t* d, std::size_t pixels) noexcept {
    std::size_t p = 0;
    for (; p + 16 <= pixels; p += 16)
        for (std::size_t j = 4 * p; j < 4 * p + 64; j += 16)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + j), Over4Avx512(fg + j, bg + j));
    for (; p + 4 <= pixels; p += 4)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * p), Over4Avx512(fg + 4 * p, bg + 4 * p));
    OverPixels(fg + 4 * p, bg + 4 * p, d + 4 * p, pixels - p);
}

// "Over" for two pixels (8 samples) in float lanes, as Over4Avx512 (the alpha lane takes both
// samples as 255, which gives (255 A + (255 - A) B) / 255).
PIXORA_COMBINE_AVX2 [[gnu::always_inline]] inline __m256i Over2Pixels(const uint8_t* fg, const uint8_t* bg) noexcept {
    const __m256 k255 = _mm256_set1_ps(255.0f);
    const __m256i alphaIndex = _mm256_setr_epi32(3, 3, 3, 3, 7, 7, 7, 7);
    const __m256i fi = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(fg)));
    const __m256i gi = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bg)));
    const __m256 fa = _mm256_cvtepi32_ps(_mm256_permutevar8x32_epi32(fi, alphaIndex));
    const __m256 ga = _mm256_cvtepi32_ps(_mm256_permutevar8x32_epi32(gi, alphaIndex));
    const __m256 wf = _mm256_mul_ps(fa, k255);
    const __m256 wb = _mm256_mul_ps(_mm256_sub_ps(k255, fa), ga);
    const __m256 fv = _mm256_blend_ps(_mm256_cvtepi32_ps(fi), k255, 0x88);
    const __m256 gv = _mm256_blend_ps(_mm256_cvtepi32_ps(gi), k255, 0x88);
    const __m256 x = _mm256_add_ps(_mm256_mul_ps(wf, fv), _mm256_mul_ps(wb, gv));
    return _mm256_cvtps_epi32(
        _mm256_round_ps(_mm256_div_ps(x, _mm256_set1_ps(65025.0f)), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC));
}

PIXORA_COMBINE_AVX2 void OverRowAvx2(const uint8_t* fg, const uint8_t* bg, uint8_t* d, std::size_t pixels) noexcept {
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    std::size_t p = 0;
    for (; p + 8 <= pixels; p += 8) {
        const uint8_t* f = fg + 4 * p;
        const uint8_t* g = bg + 4 * p;
        const __m256i v0 = Over2Pixels(f, g), v1 = Over2Pixels(f + 8, g + 8);
        const __m256i v2 = Over2Pixels(f + 16, g + 16), v3 = Over2Pixels(f + 24, g + 24);
        const __m256i bytes = _mm256_packus_epi16(_mm256_packus_epi32(v0, v1), _mm256_packus_epi32(v2, v3));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 4 * p), _mm256_permutevar8x32_epi32(bytes, order));
    }
    OverPixels(fg + 4 * p, bg + 4 * p, d + 4 * p, pixels - p);
}

// 16-bit products saturated at 65535: the low and high halves of each product come from one
// multiply each, and a non-zero high half means the product did not fit.
void MulRow16Baseline(const uint16_t* a, const uint16_t* b, uint16_t* d, std::size_t n) noexcept {
    MulSamples(a, b, d, n);
}

PIXORA_COMBINE_AVX512 [[gnu::always_inline]] inline __m512i Mul32Avx512(__m512i x, __m512i y) noexcept {
    const __m512i hi = _mm512_mulhi_epu16(x, y);
    return _mm512_mask_mov_epi16(_mm512_mullo_epi16(x, y), _mm512_test_epi16_mask(hi, hi), _mm512_set1_epi16(-1));
}

// Whole vectors with plain loads and stores (a masked store is slow on some cores), the rest masked.
PIXORA_COMBINE_AVX512 void MulRow16Avx512(const uint16_t* a, const uint16_t* b, uint16_t* d, std::size_t n) noexcept {
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32)
        _mm512_storeu_si512(d + i, Mul32Avx512(_mm512_loadu_si512(a + i), _mm512_loadu_si512(b + i)));
    if (i < n) {
        const __mmask32 lanes = __mmask32((1u << (n - i)) - 1u);
        _mm512_mask_storeu_epi16(d + i, lanes,
                                 Mul32Avx512(_mm512_maskz_loadu_epi16(lanes, a + i), _mm512_maskz_loadu_epi16(lanes, b + i)));
    }
}

PIXORA_COMBINE_AVX2 void MulRow16Avx2(const uint16_t* a, const uint16_t* b, uint16_t* d, std::size_t n) noexcept {
    std::size_t i = 0;
    const __m256i zero = _mm256_setzero_si256(), ones = _mm256_set1_epi16(-1);
    for (; i + 16 <= n; i += 16) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i));
        const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i));
        const __m256i fits = _mm256_cmpeq_epi16(_mm256_mulhi_epu16(x, y), zero);
        const __m256i product = _mm256_or_si256(_mm256_mullo_epi16(x, y), _mm256_xor_si256(fits, ones));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), product);
    }
    MulSamples(a + i, b + i, d + i, n - i);
}

std::atomic<int>& IsaLimit() noexcept {
    static std::atomic<int> limit{int(TCombineIsa::Avx512)};
    return limit;
}

// The level the rows use now: the CPU's, at most the limit.
TCombineIsa ActiveIsa() noexcept {
    return TCombineIsa(std::min(int(CombineCpuIsa()), IsaLimit().load(std::memory_order_relaxed)));
}

void OverRow(const uint8_t* fg, const uint8_t* bg, uint8_t* d, std::size_t pixels) noexcept {
    switch (ActiveIsa()) {
    case TCombineIsa::Avx512: OverRowAvx512(fg, bg, d, pixels); return;
    case TCombineIsa::Avx2: OverRowAvx2(fg, bg, d, pixels); return;
    case TCombineIsa::Baseline: OverRowBaseline(fg, bg, d, pixels); return;
    }
}

// One row of byte samples: the division through its explicit vector rows, the other operations
// through the compiler's instruction-set clones.
void OpRow8(TPXCombineOperation op, const uint8_t* a, const uint8_t* b, uint8_t* d, std::size_t n) noexcept {
    if (op != coDivide) {
        OpRow8Clones(op, a, b, d, n);
        return;
    }
    switch (ActiveIsa()) {
    case TCombineIsa::Avx512: DivRow8Avx512(a, b, d, n); return;
    case TCombineIsa::Avx2: DivRow8Avx2(a, b, d, n); return;
    case TCombineIsa::Baseline: DivRow8Baseline(a, b, d, n); return;
    }
}

// One row of word samples: the multiplication through its explicit vector rows, the other
// operations through the compiler's instruction-set clones.
void OpRow16(TPXCombineOperation op, const uint16_t* a, const uint16_t* b, uint16_t* d, std::size_t n) noexcept {
    if (op != coMultiply) {
        OpRow16Clones(op, a, b, d, n);
        return;
    }
    switch (ActiveIsa()) {
    case TCombineIsa::Avx512: MulRow16Avx512(a, b, d, n); return;
    case TCombineIsa::Avx2: MulRow16Avx2(a, b, d, n); return;
    case TCombineIsa::Baseline: MulRow16Baseline(a, b, d, n); return;
    }
}

// One vfRGBA32 row of operations coAdd .. coXor: the colour bytes of op(a, b) with b's alpha,
// composited over a. Worked through a stack chunk so that neither input is written.
void OpOverRow(TPXCombineOperation op, const uint8_t* a, const uint8_t* b, uint8_t* d, std::size_t pixels) noexcept {
    alignas(64) uint8_t tmp[KChunkPixels * 4];
    for (std::size_t p0 = 0; p0 < pixels; p0 += KChunkPixels) {
        const std::size_t m = std::min(KChunkPixels, pixels - p0);
        const uint8_t* ac = a + 4 * p0;
        const uint8_t* bc = b + 4 * p0;
        OpRow8(op, ac, bc, tmp, 4 * m);
        for (std::size_t p = 0; p < m; ++p) tmp[4 * p + 3] = bc[4 * p + 3];  // alpha untouched
        OverRow(tmp, ac, d + 4 * p0, m);
    }
}

PIXORA_TARGET_CLONES("avx2", "default")
void ScaleRow8(const uint8_t* s, uint8_t* d, std::size_t n, uint32_t k) noexcept { ScaleSamples8(s, d, n, k); }

PIXORA_TARGET_CLONES("avx2", "default")
void ScaleRow16(const uint16_t* s, uint16_t* d, std::size_t n, uint32_t k) noexcept { ScaleSamples16(s, d, n, k); }

// Bytes per pixel of an 8-bit format's rows; 0 for an unknown ordinal.
int PixelBytes(TPXVideoFormat format) noexcept { return BitsPerPixel(format) / 8; }

std::string CoefficientText(double c) {
    std::ostringstream s;
    s << c;
    return s.str();
}

}  // namespace

TCombineIsa CombineCpuIsa() noexcept {
    static const TCombineIsa isa = [] {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
            __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("fma"))
            return TCombineIsa::Avx512;
        if (__builtin_cpu_supports("avx2")) return TCombineIsa::Avx2;
        return TCombineIsa::Baseline;
    }();
    return isa;
}

TCombineIsa LimitCombineIsa(TCombineIsa level) noexcept { return TCombineIsa(IsaLimit().exchange(int(level))); }

void CombineOp(TPXCombineOperation op, TPXVideoFormat format, const uint8_t* src1, std::ptrdiff_t step1,
               uint8_t* src2, std::ptrdiff_t step2, uint8_t* dst, std::ptrdiff_t dstStep, TSize size) noexcept {
    if (src1 == nullptr || src2 == nullptr || dst == nullptr) return;
    if (size.Width <= 0 || size.Height <= 0 || int(op) > int(coCopy)) return;
    const int bytes = PixelBytes(format);
    if (bytes == 0) return;
    const std::size_t w = std::size_t(size.Width);
    for (int y = 0; y < size.Height; ++y) {
        const uint8_t* a = src1 + std::ptrdiff_t(y) * step1;
        const uint8_t* b = src2 + std::ptrdiff_t(y) * step2;
        uint8_t* d = dst + std::ptrdiff_t(y) * dstStep;
        if (format == vfGray16) {
            OpRow16(op, reinterpret_cast<const uint16_t*>(a), reinterpret_cast<const uint16_t*>(b),
                    reinterpret_cast<uint16_t*>(d), w);
        } else if (format == vfRGBA32 && op == coCopy) {
            OverRow(b, a, d, w);
        } else if (format == vfRGBA32 && op != coAbsDiff) {
            OpOverRow(op, a, b, d, w);
        } else {
            OpRow8(op, a, b, d, w * std::size_t(bytes));
        }
    }
}

void AlphaCompositeOver(const uint8_t* fg, std::ptrdiff_t fgStep, const uint8_t* bg, std::ptrdiff_t bgStep,
                        uint8_t* dst, std::ptrdiff_t dstStep, TSize size) noexcept {
    if (fg == nullptr || bg == nullptr || dst == nullptr || size.Width <= 0 || size.Height <= 0) return;
    for (int y = 0; y < size.Height; ++y)
        OverRow(fg + std::ptrdiff_t(y) * fgStep, bg + std::ptrdiff_t(y) * bgStep, dst + std::ptrdiff_t(y) * dstStep,
                std::size_t(size.Width));
}

TCoefficientAction CoefficientAction(double coefficient) noexcept {
    if (coefficient == 1.0) return TCoefficientAction::Keep;
    if (coefficient == 0.0) return TCoefficientAction::Fill;
    return TCoefficientAction::Scale;
}

int CoefficientScale(TPXVideoFormat format, double coefficient) {
    if (std::isnan(coefficient)) throw ERangeError("Coefficient is not a number");
    const bool wide = format == vfGray16;
    const double factor = wide ? 65280.0 : 255.0;
    const double limit = wide ? 65535.0 : 255.0;
    const double k = std::nearbyint(coefficient * factor);  // default rounding: half to even
    if (!(k >= 0.0 && k <= limit)) {
        std::ostringstream s;
        s << "Coefficient " << CoefficientText(coefficient) << " gives the scale " << k << ", outside 0.."
          << int(limit) << (wide ? " for 16-bit samples" : " for 8-bit samples");
        throw ERangeError(s.str());
    }
    return int(k);
}

void ScaleSamples(TPXVideoFormat format, uint8_t* data, std::ptrdiff_t step, TSize size, int k) noexcept {
    ScaleSamples(format, data, step, data, step, size, k);
}

void ScaleSamples(TPXVideoFormat format, const uint8_t* src, std::ptrdiff_t srcStep, uint8_t* dst,
                  std::ptrdiff_t dstStep, TSize size, int k) noexcept {
    if (src == nullptr || dst == nullptr || size.Width <= 0 || size.Height <= 0) return;
    const int bytes = PixelBytes(format);
    if (bytes == 0) return;
    for (int y = 0; y < size.Height; ++y) {
        const uint8_t* from = src + std::ptrdiff_t(y) * srcStep;
        uint8_t* to = dst + std::ptrdiff_t(y) * dstStep;
        if (format == vfGray16)
            ScaleRow16(reinterpret_cast<const uint16_t*>(from), reinterpret_cast<uint16_t*>(to), std::size_t(size.Width),
                       uint32_t(std::clamp(k, 0, 65535)));
        else
            ScaleRow8(from, to, std::size_t(size.Width) * std::size_t(bytes), uint32_t(std::clamp(k, 0, 255)));
    }
}

void FillBackground(TPXVideoFormat format, uint8_t* data, std::ptrdiff_t step, TSize size,
                    uint32_t backgroundColor, bool firstInput) noexcept {
    if (data == nullptr || size.Width <= 0 || size.Height <= 0) return;
    const uint8_t blue = uint8_t(backgroundColor), green = uint8_t(backgroundColor >> 8);
    const uint8_t red = uint8_t(backgroundColor >> 16), alpha = uint8_t(backgroundColor >> 24);
    const std::size_t w = std::size_t(size.Width);
    for (int y = 0; y < size.Height; ++y) {
        uint8_t* row = data + std::ptrdiff_t(y) * step;
        switch (format) {
        case vfRGBA32:
            for (std::size_t x = 0; x < w; ++x) {
                row[4 * x] = blue;
                row[4 * x + 1] = green;
                row[4 * x + 2] = red;
                if (firstInput) row[4 * x + 3] = alpha;
            }
            break;
        case vfRGB24:
            for (std::size_t x = 0; x < w; ++x) {
                row[3 * x] = blue;
                row[3 * x + 1] = green;
                row[3 * x + 2] = red;
            }
            break;
        case vfGray8: std::memset(row, red, w); break;
        case vfGray16: std::fill_n(reinterpret_cast<uint16_t*>(row), w, uint16_t(red)); break;
        default: return;
        }
    }
}

void ApplyCoefficient(TPXVideoFormat format, uint8_t* data, std::ptrdiff_t step, TSize size,
                      double coefficient, uint32_t backgroundColor, bool firstInput) {
    switch (CoefficientAction(coefficient)) {
    case TCoefficientAction::Keep: return;
    case TCoefficientAction::Fill: FillBackground(format, data, step, size, backgroundColor, firstInput); return;
    case TCoefficientAction::Scale: ScaleSamples(format, data, step, size, CoefficientScale(format, coefficient)); return;
    }
}

namespace {

// The red, green and blue of a pixel for the key test.
struct TRgb {
    int Red, Green, Blue;
};

inline bool InRanges(const TRgb& p, const TColorKeyRange* ranges, int count) noexcept {
    for (int i = 0; i < count; ++i) {
        const TColorKeyRange& r = ranges[i];
        if (p.Red >= r.RedLow && p.Red <= r.RedHigh && p.Green >= r.GreenLow && p.Green <= r.GreenHigh &&
            p.Blue >= r.BlueLow && p.Blue <= r.BlueHigh)
            return true;
    }
    return false;
}

void TransparentRow(TPXVideoFormat format, const uint8_t* f, const uint8_t* b, uint8_t* d, std::size_t w,
                    const TColorKeyRange* ranges, int count) noexcept {
    switch (format) {
    case vfRGBA32:
        for (std::size_t x = 0; x < w; ++x) {
            const uint8_t* fp = f + 4 * x;
            const uint8_t* bp = b + 4 * x;
            uint8_t* dp = d + 4 * x;
            const uint32_t a = fp[3];
            const uint32_t alpha = std::min<uint32_t>(255u, a + bp[3]);
            if (InRanges({fp[2], fp[1], fp[0]}, ranges, count)) {
                dp[0] = bp[0], dp[1] = bp[1], dp[2] = bp[2];
            } else {
                // (fg a + bg (255 - a)) / 255 to nearest; 255 is odd, so never halfway.
                const uint32_t c0 = (fp[0] * a + bp[0] * (255u - a) + 127u) / 255u;
                const uint32_t c1 = (fp[1] * a + bp[1] * (255u - a) + 127u) / 255u;
                const uint32_t c2 = (fp[2] * a + bp[2] * (255u - a) + 127u) / 255u;
                dp[0] = uint8_t(c0), dp[1] = uint8_t(c1), dp[2] = uint8_t(c2);
            }
            dp[3] = uint8_t(alpha);
        }
        break;
    case vfRGB24:
        for (std::size_t x = 0; x < w; ++x) {
            const uint8_t* fp = f + 3 * x;
            const uint8_t* src = InRanges({fp[2], fp[1], fp[0]}, ranges, count) ? b + 3 * x : fp;
            d[3 * x] = src[0], d[3 * x + 1] = src[1], d[3 * x + 2] = src[2];
        }
        break;
    case vfGray8:
        for (std::size_t x = 0; x < w; ++x) {
            const int s = f[x];
            d[x] = InRanges({s, s, s}, ranges, count) ? b[x] : f[x];
        }
        break;
    case vfGray16: {
        const auto* f16 = reinterpret_cast<const uint16_t*>(f);
        const auto* b16 = reinterpret_cast<const uint16_t*>(b);
        auto* d16 = reinterpret_cast<uint16_t*>(d);
        for (std::size_t x = 0; x < w; ++x) {
            const int s = f16[x] >> 8;
            d16[x] = InRanges({s, s, s}, ranges, count) ? b16[x] : f16[x];
        }
        break;
    }
    default: break;
    }
}

}  // namespace

void TransparentColorOp(TPXVideoFormat format, const uint8_t* fg, std::ptrdiff_t fgStep, const uint8_t* bg,
                        std::ptrdiff_t bgStep, uint8_t* dst, std::ptrdiff_t dstStep, TSize size,
                        const TColorKeyRange* ranges, int count) noexcept {
    if (fg == nullptr || bg == nullptr || dst == nullptr || size.Width <= 0 || size.Height <= 0) return;
    if (ranges == nullptr) count = 0;
    for (int y = 0; y < size.Height; ++y)
        TransparentRow(format, fg + std::ptrdiff_t(y) * fgStep, bg + std::ptrdiff_t(y) * bgStep,
                       dst + std::ptrdiff_t(y) * dstStep, std::size_t(size.Width), ranges, count);
}

void ApplyAlphaOp(const uint8_t* colour, std::ptrdiff_t colourStep, const uint8_t* alpha, int alphaPixelBytes,
                  std::ptrdiff_t alphaStep, uint8_t* dst, std::ptrdiff_t dstStep, TSize size) noexcept {
    if (colour == nullptr || alpha == nullptr || dst == nullptr || size.Width <= 0 || size.Height <= 0) return;
    if (alphaPixelBytes != 1 && alphaPixelBytes != 4) return;
    const std::size_t w = std::size_t(size.Width);
    const std::size_t alphaAt = alphaPixelBytes == 4 ? 3 : 0;
    for (int y = 0; y < size.Height; ++y) {
        const uint8_t* c = colour + std::ptrdiff_t(y) * colourStep;
        const uint8_t* a = alpha + std::ptrdiff_t(y) * alphaStep;
        uint8_t* d = dst + std::ptrdiff_t(y) * dstStep;
        for (std::size_t x = 0; x < w; ++x) {
            const uint8_t av = a[x * std::size_t(alphaPixelBytes) + alphaAt];
            d[4 * x] = c[4 * x];
            d[4 * x + 1] = c[4 * x + 1];
            d[4 * x + 2] = c[4 * x + 2];
            d[4 * x + 3] = av;
        }
    }
}

}  // namespace pixora::kernels
