// The colour twist over rows, on the widest path the CPU has: 64 pixels per step with AVX-512
// VBMI byte permutes (three channels) or 16 pixels with AVX-512 (four channels); 16 or 8 pixels
// with AVX2 and FMA; one pixel at a time elsewhere and for the ends of rows. All paths give the
// same bytes: the same fused single-precision steps in the same order and the same rounding
// (nearest, halves to even).
#include "platform/kernels/ColorTwist.h"
#include "platform/kernels/ThreeChannelPermutes.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "platform/kernels/Point.h"

namespace pixora::kernels {

namespace {

// Saturates to 0..255 (a NaN becomes 0) and rounds to the nearest integer, halves to even:
// adding and removing 1.5 x 2^23 leaves the value rounded in the current (default) mode.
[[gnu::always_inline]] inline uint8_t SaturateRound(float v) noexcept {
    v = v > 0.0f ? v : 0.0f;
    v = v < 255.0f ? v : 255.0f;
    constexpr float KMagic = 12582912.0f;
    return uint8_t(int((v + KMagic) - KMagic));
}

// m3 + m2 c + m1 b + m0 a, one fused multiply-add per term (std::fma: exact, in hardware where
// the CPU has it).
[[gnu::always_inline]] inline float RowSum(const float* row, float a, float b, float c) noexcept {
    return std::fma(row[0], a, std::fma(row[1], b, std::fma(row[2], c, row[3])));
}

}  // namespace

void TwistPixel(const uint8_t in[3], uint8_t out[3], const TTwistMatrix& m) noexcept {
    const float a = in[0], b = in[1], c = in[2];
    const uint8_t r0 = SaturateRound(RowSum(m.M[0], a, b, c));
    const uint8_t r1 = SaturateRound(RowSum(m.M[1], a, b, c));
    const uint8_t r2 = SaturateRound(RowSum(m.M[2], a, b, c));
    out[0] = r0;
    out[1] = r1;
    out[2] = r2;
}

void detail::TwistRowScalar(const uint8_t* s, uint8_t* d, std::size_t pixels, int channels, const TTwistMatrix& m) noexcept {
    for (std::size_t x = 0; x < pixels; ++x, s += channels, d += channels) {
        const uint8_t fourth = channels == 4 ? s[3] : 0;
        TwistPixel(s, d, m);
        if (channels == 4) d[3] = fourth;
    }
}

namespace {

// ---- AVX2 and FMA -----------------------------------------------------------------------------

#define PIXORA_AVX2 __attribute__((target("avx2,fma")))

// Bytes of v0, v1, v2 picked by three shuffles (-1 gives 0) and merged.
PIXORA_AVX2 inline __m128i Gather(__m128i v0, __m128i v1, __m128i v2, __m128i g0, __m128i g1, __m128i g2) noexcept {
    return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(v0, g0), _mm_shuffle_epi8(v1, g1)), _mm_shuffle_epi8(v2, g2));
}

// Bytes 0-7 (Low) or 8-15 (High) of v as eight floats.
PIXORA_AVX2 inline __m256 Low(__m128i v) noexcept { return _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(v)); }
PIXORA_AVX2 inline __m256 High(__m128i v) noexcept { return _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_srli_si128(v, 8))); }

// One output channel of eight pixels, saturated to 0..255 (max returns its second operand, 0, for a
// NaN) and converted with rounding to nearest even.
PIXORA_AVX2 inline __m256i Sum8(__m256 a, __m256 b, __m256 c, const float* row) noexcept {
    const __m256 s = _mm256_fmadd_ps(_mm256_set1_ps(row[0]), a,
                                     _mm256_fmadd_ps(_mm256_set1_ps(row[1]), b,
                                                     _mm256_fmadd_ps(_mm256_set1_ps(row[2]), c, _mm256_set1_ps(row[3]))));
    return _mm256_cvtps_epi32(_mm256_min_ps(_mm256_max_ps(s, _mm256_setzero_ps()), _mm256_set1_ps(255.0f)));
}

// One output channel of 16 pixels as bytes.
PIXORA_AVX2 inline __m128i Sum16(__m256 a0, __m256 a1, __m256 b0, __m256 b1, __m256 c0, __m256 c1, const float* row) noexcept {
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(Sum8(a0, b0, c0, row), Sum8(a1, b1, c1, row)), 0xD8);
    return _mm_packus_epi16(_mm256_castsi256_si128(packed), _mm256_extracti128_si256(packed, 1));
}

PIXORA_AVX2 void RowAvx2Three(const uint8_t* s, uint8_t* d, std::size_t pixels, const TTwistMatrix& m) noexcept {
    // Byte shuffles that gather channel k of 16 pixels from the three 16-byte loads, and the
    // inverse ones that interleave three channel vectors back into 48 bytes.
    const __m128i ga0 = _mm_setr_epi8(0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i ga1 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14, -1, -1, -1, -1, -1);
    const __m128i ga2 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 1, 4, 7, 10, 13);
    const __m128i gb0 = _mm_setr_epi8(1, 4, 7, 10, 13, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i gb1 = _mm_setr_epi8(-1, -1, -1, -1, -1, 0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1);
    const __m128i gb2 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14);
    const __m128i gc0 = _mm_setr_epi8(2, 5, 8, 11, 14, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i gc1 = _mm_setr_epi8(-1, -1, -1, -1, -1, 1, 4, 7, 10, 13, -1, -1, -1, -1, -1, -1);
    const __m128i gc2 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 3, 6, 9, 12, 15);
    const __m128i pa0 = _mm_setr_epi8(0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1, 5);
    const __m128i pb0 = _mm_setr_epi8(-1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1);
    const __m128i pc0 = _mm_setr_epi8(-1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1);
    const __m128i pa1 = _mm_setr_epi8(-1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10, -1);
    const __m128i pb1 = _mm_setr_epi8(5, -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10);
    const __m128i pc1 = _mm_setr_epi8(-1, 5, -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1);
    const __m128i pa2 = _mm_setr_epi8(-1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1, -1);
    const __m128i pb2 = _mm_setr_epi8(-1, -1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1);
    const __m128i pc2 = _mm_setr_epi8(10, -1, -1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15);
    std::size_t x = 0;
    for (; x + 16 <= pixels; x += 16, s += 48, d += 48) {
        const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16));
        const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 32));
        const __m128i a = Gather(v0, v1, v2, ga0, ga1, ga2), b = Gather(v0, v1, v2, gb0, gb1, gb2),
                      c = Gather(v0, v1, v2, gc0, gc1, gc2);
        const __m256 a0 = Low(a), a1 = High(a), b0 = Low(b), b1 = High(b), c0 = Low(c), c1 = High(c);
        const __m128i o0 = Sum16(a0, a1, b0, b1, c0, c1, m.M[0]);
        const __m128i o1 = Sum16(a0, a1, b0, b1, c0, c1, m.M[1]);
        const __m128i o2 = Sum16(a0, a1, b0, b1, c0, c1, m.M[2]);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), Gather(o0, o1, o2, pa0, pb0, pc0));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), Gather(o0, o1, o2, pa1, pb1, pc1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 32), Gather(o0, o1, o2, pa2, pb2, pc2));
    }
    detail::TwistRowScalar(s, d, pixels - x, 3, m);
}

PIXORA_AVX2 void RowAvx2Four(const uint8_t* s, uint8_t* d, std::size_t pixels, const TTwistMatrix& m) noexcept {
    const __m256i byte = _mm256_set1_epi32(0xFF);
    const __m256i alpha = _mm256_set1_epi32(int32_t(0xFF000000u));
    std::size_t x = 0;
    for (; x + 8 <= pixels; x += 8, s += 32, d += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
        const __m256 a = _mm256_cvtepi32_ps(_mm256_and_si256(v, byte));
        const __m256 b = _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(v, 8), byte));
        const __m256 c = _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(v, 16), byte));
        const __m256i out = _mm256_or_si256(
            _mm256_or_si256(Sum8(a, b, c, m.M[0]), _mm256_slli_epi32(Sum8(a, b, c, m.M[1]), 8)),
            _mm256_or_si256(_mm256_slli_epi32(Sum8(a, b, c, m.M[2]), 16), _mm256_and_si256(v, alpha)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), out);
    }
    detail::TwistRowScalar(s, d, pixels - x, 4, m);
}

#undef PIXORA_AVX2

// ---- AVX-512 with VBMI ------------------------------------------------------------------------

#define PIXORA_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi,fma")))

// One output channel of 16 pixels as dwords 0..255 (see Sum8).
PIXORA_AVX512 inline __m512i Sum16x(__m512 a, __m512 b, __m512 c, const __m512* row) noexcept {
    const __m512 s = _mm512_fmadd_ps(row[0], a, _mm512_fmadd_ps(row[1], b, _mm512_fmadd_ps(row[2], c, row[3])));
    return _mm512_cvtps_epi32(_mm512_min_ps(_mm512_max_ps(s, _mm512_setzero_ps()), _mm512_set1_ps(255.0f)));
}

using detail::TThreeChannelPermutes;
using detail::ThreeChannelPermutes;

PIXORA_AVX512 void RowAvx512Three(const uint8_t* s, uint8_t* d, std::size_t pixels, const TTwistMatrix& m) noexcept {
    const TThreeChannelPermutes& p = ThreeChannelPermutes();
    __m512 rows[3][4];
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 4; ++i) rows[k][i] = _mm512_set1_ps(m.M[k][i]);
    const __mmask64 lowBytes = 0x1111111111111111ull;  // byte 0 of every dword
    std::size_t x = 0;
    for (; x + 64 <= pixels; x += 64, s += 192, d += 192) {
        const __m512i v[3] = {_mm512_loadu_si512(s), _mm512_loadu_si512(s + 64), _mm512_loadu_si512(s + 128)};
        __m512i sums[3][4];
        for (int q = 0; q < 4; ++q) {
            const __m512i lo = v[p.Low[q]], hi = v[p.Low[q] + 1];
            const __m512 a = _mm512_cvtepi32_ps(_mm512_maskz_permutex2var_epi8(lowBytes, lo, p.In[0][q], hi));
            const __m512 b = _mm512_cvtepi32_ps(_mm512_maskz_permutex2var_epi8(lowBytes, lo, p.In[1][q], hi));
            const __m512 c = _mm512_cvtepi32_ps(_mm512_maskz_permutex2var_epi8(lowBytes, lo, p.In[2][q], hi));
            for (int k = 0; k < 3; ++k) sums[k][q] = Sum16x(a, b, c, rows[k]);
        }
        __m512i channel[3];
        for (int k = 0; k < 3; ++k)
            channel[k] = _mm512_packus_epi16(_mm512_packus_epi32(sums[k][0], sums[k][1]), _mm512_packus_epi32(sums[k][2], sums[k][3]));
        for (int j = 0; j < 3; ++j)
            _mm512_storeu_si512(d + 64 * j,
                                _mm512_mask_blend_epi8(p.ThirdMask[j], _mm512_permutex2var_epi8(channel[0], p.OutPair[j], channel[1]),
                                                       _mm512_permutexvar_epi8(p.OutThird[j], channel[2])));
    }
    RowAvx2Three(s, d, pixels - x, m);
}

PIXORA_AVX512 void RowAvx512Four(const uint8_t* s, uint8_t* d, std::size_t pixels, const TTwistMatrix& m) noexcept {
    __m512 rows[3][4];
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 4; ++i) rows[k][i] = _mm512_set1_ps(m.M[k][i]);
    const __m512i byte = _mm512_set1_epi32(0xFF);
    const __m512i alpha = _mm512_set1_epi32(int32_t(0xFF000000u));
    std::size_t x = 0;
    for (; x + 16 <= pixels; x += 16, s += 64, d += 64) {
        const __m512i v = _mm512_loadu_si512(s);
        const __m512 a = _mm512_cvtepi32_ps(_mm512_and_si512(v, byte));
        const __m512 b = _mm512_cvtepi32_ps(_mm512_and_si512(_mm512_srli_epi32(v, 8), byte));
        const __m512 c = _mm512_cvtepi32_ps(_mm512_and_si512(_mm512_srli_epi32(v, 16), byte));
        const __m512i out = _mm512_or_si512(
            _mm512_or_si512(Sum16x(a, b, c, rows[0]), _mm512_slli_epi32(Sum16x(a, b, c, rows[1]), 8)),
            _mm512_or_si512(_mm512_slli_epi32(Sum16x(a, b, c, rows[2]), 16), _mm512_and_si512(v, alpha)));
        _mm512_storeu_si512(d, out);
    }
    RowAvx2Four(s, d, pixels - x, m);
}

#undef PIXORA_AVX512

}  // namespace

void detail::TwistRowAvx2(const uint8_t* s, uint8_t* d, std::size_t pixels, int channels, const TTwistMatrix& m) noexcept {
    if (channels == 4)
        RowAvx2Four(s, d, pixels, m);
    else
        RowAvx2Three(s, d, pixels, m);
}

void detail::TwistRowAvx512(const uint8_t* s, uint8_t* d, std::size_t pixels, int channels, const TTwistMatrix& m) noexcept {
    if (channels == 4)
        RowAvx512Four(s, d, pixels, m);
    else
        RowAvx512Three(s, d, pixels, m);
}

bool detail::CpuHasAvx2() noexcept {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

bool detail::CpuHasAvx512() noexcept {
    __builtin_cpu_init();
    return CpuHasAvx2() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi");
}

namespace {

using TRowFn = void (*)(const uint8_t*, uint8_t*, std::size_t, int, const TTwistMatrix&) noexcept;

TRowFn ChooseRow() noexcept {
    if (detail::CpuHasAvx512()) return detail::TwistRowAvx512;
    if (detail::CpuHasAvx2()) return detail::TwistRowAvx2;
    return detail::TwistRowScalar;
}

}  // namespace

void ColorTwist8(ConstView<uint8_t> src, View<uint8_t> dst, TRect r, const TTwistMatrix& m) noexcept {
    static const TRowFn row = ChooseRow();
    const int channels = dst.Channels;
    if (channels != 3 && channels != 4) return;
    detail::ForEachRun(src, dst, r, [&](const uint8_t* s, uint8_t* d, std::size_t n) {
        row(s, d, n / std::size_t(channels), channels, m);
    });
}

}  // namespace pixora::kernels
