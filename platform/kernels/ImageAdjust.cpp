// Image adjustment kernels: single precision throughout, floored modulo, ties-to-even rounding.
#include "platform/kernels/ImageAdjust.h"
#include "platform/kernels/ThreeChannelPermutes.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <immintrin.h>

#include "platform/kernels/Lookup.h"

namespace pixora::kernels {

namespace {

// a mod b with the sign of b.
inline float FlooredMod(float a, float b) noexcept { return a - b * std::floor(a / b); }

inline uint8_t ToByte(float value) noexcept { return uint8_t(std::clamp(std::nearbyint(value), 0.0f, 255.0f)); }

}  // namespace

void BuildBrightnessContrastTable(uint8_t table[256], float brightness, float contrast) noexcept {
    const float offset = std::nearbyint(brightness * 255.0f);
    for (int v = 0; v < 256; ++v) table[v] = ToByte(float(v) * contrast + offset);
}

namespace {

constexpr int KChunk = 64;

// The colour step over up to KChunk pixels held as three float arrays (components in, rounded
// components out), every case computed and then selected. This is the definition the vector
// path below reproduces bit for bit; frame/opencl/ImageAdjust.cl computes the same operations in
// the same order.
void AdjustHLSChunk(float* __restrict p0, float* __restrict p1,
                                                                        float* __restrict p2, int count, float hue,
                                                                        float saturation, float lightness,
                                                                        float contrast = 1.0f, float offset = 0.0f) noexcept {
    for (int i = 0; i < count; ++i) {
        const float first = p0[i] / 255.0f, second = p1[i] / 255.0f, third = p2[i] / 255.0f;
        const float maximum = std::max(first, std::max(second, third));
        const float minimum = std::min(first, std::min(second, third));
        const float chroma = maximum - minimum;
        float l = (maximum + minimum) / 2.0f;
        const bool grey = chroma == 0.0f;
        const float safeChroma = grey ? 1.0f : chroma;
        const float sRaw = chroma / (grey ? 1.0f : (1.0f - std::fabs(2.0f * l - 1.0f)));
        const float hFirst = FlooredMod((second - third) / safeChroma, 6.0f);
        const float hSecond = (third - first) / safeChroma + 2.0f;
        const float hThird = (first - second) / safeChroma + 4.0f;
        const float hPick = maximum == first ? hFirst : (maximum == second ? hSecond : hThird);
        float h = grey ? 0.0f : hPick * 60.0f / 360.0f;
        float s = grey ? 0.0f : sRaw;
        h = FlooredMod(h + hue, 1.0f);
        l = std::min(l * lightness, 1.0f);
        s = std::min(s * saturation, 1.0f);
        const float degrees = h * 360.0f;
        const float c = (1.0f - std::fabs(2.0f * l - 1.0f)) * s;
        const float x = c * (1.0f - std::fabs(FlooredMod(degrees / 60.0f, 2.0f) - 1.0f));
        const float m = l - c / 2.0f;
        const bool s0 = degrees < 60.0f, s1 = degrees < 120.0f, s2 = degrees < 180.0f, s3 = degrees < 240.0f,
                   s4 = degrees < 300.0f;
        const float a = s0 ? c : s1 ? x : s2 ? 0.0f : s3 ? 0.0f : s4 ? x : c;
        const float b = s0 ? x : s1 ? c : s2 ? c : s3 ? x : s4 ? 0.0f : 0.0f;
        const float d = s0 ? 0.0f : s1 ? 0.0f : s2 ? x : s3 ? c : s4 ? c : x;
        const float v0 = std::clamp(std::nearbyint((a + m) * 255.0f), 0.0f, 255.0f);
        const float v1 = std::clamp(std::nearbyint((b + m) * 255.0f), 0.0f, 255.0f);
        const float v2 = std::clamp(std::nearbyint((d + m) * 255.0f), 0.0f, 255.0f);
        // The brightness and contrast step, as BuildBrightnessContrastTable computes it.
        p0[i] = std::clamp(std::nearbyint(v0 * contrast + offset), 0.0f, 255.0f);
        p1[i] = std::clamp(std::nearbyint(v1 * contrast + offset), 0.0f, 255.0f);
        p2[i] = std::clamp(std::nearbyint(v2 * contrast + offset), 0.0f, 255.0f);
    }
}

}  // namespace

void AdjustHLS(const uint8_t in[3], uint8_t out[3], float hue, float saturation, float lightness) noexcept {
    float p0[1] = {float(in[0])}, p1[1] = {float(in[1])}, p2[1] = {float(in[2])};
    AdjustHLSChunk(p0, p1, p2, 1, hue, saturation, lightness);
    out[0] = uint8_t(p0[0]), out[1] = uint8_t(p1[0]), out[2] = uint8_t(p2[0]);
}

namespace {

// ---- AVX-512 (F, BW, VBMI) -------------------------------------------------------------------
//
// Sixteen pixels per vector, the operations of AdjustHLSChunk in the same order. Where the vector
// code differs in form it is equal in value:
// - x / 255 for the 256 integer components is the product with the rounded reciprocal, corrected
//   once by its exact residual (fma): the correctly rounded quotient for every one of them;
// - the other divisions before the settings apply (saturation, hue quotient, / 360) use a refined
//   reciprocal and the same correction; these depend on the colour alone, and their results
//   (hue, lightness, saturation, signed zeros included) equal the divisions' for all 2^24
//   colours. The one division after the settings apply (degrees / 60) stays a division;
// - the three hue quotients share one division (the numerator is picked first);
// - (q mod 6) for the picked quotient q of magnitude at most 1 (and, when nonzero, at least
//   about 1/255) is q + 6 below zero and q + 0 otherwise, exactly what q - 6 floor(q / 6) gives;
// - division by 2 is the product with 0.5, and std::min(a, b) / std::max(a, b) are
//   min_ps(b, a) / max_ps(b, a), which pick the same operand in every case.
// Checked against AdjustHLSChunk over all 2^24 colours for a range of settings.

#define PIXORA_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi,fma")))

struct TAdjust16 {
    __m512 Hue, Saturation, Lightness, Contrast, Offset;
};

PIXORA_AVX512 inline __m512 Div255(__m512 v) noexcept {
    const __m512 r = _mm512_set1_ps(1.0f / 255.0f), k = _mm512_set1_ps(255.0f);
    const __m512 q = _mm512_mul_ps(v, r);
    return _mm512_fmadd_ps(_mm512_fnmadd_ps(q, k, v), r, q);
}

// a / b for the colour-to-hue quotients: the 14-bit reciprocal estimate refined once (Newton),
// the product corrected once by its exact residual.
PIXORA_AVX512 inline __m512 Quotient(__m512 a, __m512 b) noexcept {
    __m512 r = _mm512_rcp14_ps(b);
    r = _mm512_fmadd_ps(r, _mm512_fnmadd_ps(b, r, _mm512_set1_ps(1.0f)), r);
    const __m512 q = _mm512_mul_ps(a, r);
    return _mm512_fmadd_ps(_mm512_fnmadd_ps(q, b, a), r, q);
}

// v / 360 the same way with the rounded reciprocal of 360.
PIXORA_AVX512 inline __m512 Div360(__m512 v) noexcept {
    const __m512 r = _mm512_set1_ps(1.0f / 360.0f), k = _mm512_set1_ps(360.0f);
    const __m512 q = _mm512_mul_ps(v, r);
    return _mm512_fmadd_ps(_mm512_fnmadd_ps(q, k, v), r, q);
}

PIXORA_AVX512 inline __m512 Abs(__m512 v) noexcept { return _mm512_abs_ps(v); }
PIXORA_AVX512 inline __m512 Floor(__m512 v) noexcept { return _mm512_roundscale_ps(v, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC); }
PIXORA_AVX512 inline __m512 Nearby(__m512 v) noexcept { return _mm512_roundscale_ps(v, _MM_FROUND_CUR_DIRECTION | _MM_FROUND_NO_EXC); }
// std::min(a, b) and std::max(a, b), std::clamp(v, 0, 255) = min(max(v, 0), 255).
PIXORA_AVX512 inline __m512 Min(__m512 a, __m512 b) noexcept { return _mm512_min_ps(b, a); }
PIXORA_AVX512 inline __m512 Max(__m512 a, __m512 b) noexcept { return _mm512_max_ps(b, a); }
PIXORA_AVX512 inline __m512 Clamp255(__m512 v) noexcept {
    return Min(Max(v, _mm512_setzero_ps()), _mm512_set1_ps(255.0f));
}
// m ? a : b
PIXORA_AVX512 inline __m512 Select(__mmask16 m, __m512 a, __m512 b) noexcept { return _mm512_mask_blend_ps(m, b, a); }

// The colour step, then brightness and contrast, on 16 pixels' components (floats 0..255);
// returns the results as dwords 0..255.
PIXORA_AVX512 inline void Adjust16(__m512 p0, __m512 p1, __m512 p2, const TAdjust16& k, __m512i out[3]) noexcept {
    const __m512 zero = _mm512_setzero_ps(), one = _mm512_set1_ps(1.0f), two = _mm512_set1_ps(2.0f),
                 half = _mm512_set1_ps(0.5f);
    const __m512 first = Div255(p0), second = Div255(p1), third = Div255(p2);
    const __m512 maximum = Max(first, Max(second, third));
    const __m512 minimum = Min(first, Min(second, third));
    const __m512 chroma = _mm512_sub_ps(maximum, minimum);
    __m512 l = _mm512_mul_ps(_mm512_add_ps(maximum, minimum), half);
    const __mmask16 grey = _mm512_cmp_ps_mask(chroma, zero, _CMP_EQ_OQ);
    const __m512 safeChroma = Select(grey, one, chroma);
    const __m512 sRaw =
        Quotient(chroma, Select(grey, one, _mm512_sub_ps(one, Abs(_mm512_sub_ps(_mm512_mul_ps(two, l), one)))));
    const __mmask16 firstMax = _mm512_cmp_ps_mask(maximum, first, _CMP_EQ_OQ);
    const __mmask16 secondMax = _mm512_cmp_ps_mask(maximum, second, _CMP_EQ_OQ);
    const __m512 numerator = Select(firstMax, _mm512_sub_ps(second, third),
                                    Select(secondMax, _mm512_sub_ps(third, first), _mm512_sub_ps(first, second)));
    const __m512 q = Quotient(numerator, safeChroma);
    const __m512 hFirst = Select(_mm512_cmp_ps_mask(q, zero, _CMP_LT_OQ), _mm512_add_ps(q, _mm512_set1_ps(6.0f)),
                                 _mm512_add_ps(q, zero));
    const __m512 hPick = Select(firstMax, hFirst,
                                Select(secondMax, _mm512_add_ps(q, two), _mm512_add_ps(q, _mm512_set1_ps(4.0f))));
    __m512 h = Select(grey, zero, Div360(_mm512_mul_ps(hPick, _mm512_set1_ps(60.0f))));
    __m512 s = Select(grey, zero, sRaw);
    h = _mm512_add_ps(h, k.Hue);
    h = _mm512_sub_ps(h, Floor(h));
    l = Min(_mm512_mul_ps(l, k.Lightness), one);
    s = Min(_mm512_mul_ps(s, k.Saturation), one);
    const __m512 degrees = _mm512_mul_ps(h, _mm512_set1_ps(360.0f));
    const __m512 c = _mm512_mul_ps(_mm512_sub_ps(one, Abs(_mm512_sub_ps(_mm512_mul_ps(two, l), one))), s);
    const __m512 sixth = _mm512_div_ps(degrees, _mm512_set1_ps(60.0f));
    const __m512 wrapped = _mm512_sub_ps(sixth, _mm512_mul_ps(two, Floor(_mm512_mul_ps(sixth, half))));
    const __m512 x = _mm512_mul_ps(c, _mm512_sub_ps(one, Abs(_mm512_sub_ps(wrapped, one))));
    const __m512 m = _mm512_sub_ps(l, _mm512_mul_ps(c, half));
    const __mmask16 s0 = _mm512_cmp_ps_mask(degrees, _mm512_set1_ps(60.0f), _CMP_LT_OQ);
    const __mmask16 s1 = _mm512_cmp_ps_mask(degrees, _mm512_set1_ps(120.0f), _CMP_LT_OQ);
    const __mmask16 s2 = _mm512_cmp_ps_mask(degrees, _mm512_set1_ps(180.0f), _CMP_LT_OQ);
    const __mmask16 s3 = _mm512_cmp_ps_mask(degrees, _mm512_set1_ps(240.0f), _CMP_LT_OQ);
    const __mmask16 s4 = _mm512_cmp_ps_mask(degrees, _mm512_set1_ps(300.0f), _CMP_LT_OQ);
    const __m512 a = Select(s0, c, Select(s1, x, Select(s2, zero, Select(s3, zero, Select(s4, x, c)))));
    const __m512 b = Select(s0, x, Select(s1, c, Select(s2, c, Select(s3, x, zero))));
    const __m512 d = Select(s0, zero, Select(s1, zero, Select(s2, x, Select(s3, c, Select(s4, c, x)))));
    const __m512 scale = _mm512_set1_ps(255.0f);
    const __m512 v[3] = {Clamp255(Nearby(_mm512_mul_ps(_mm512_add_ps(a, m), scale))),
                         Clamp255(Nearby(_mm512_mul_ps(_mm512_add_ps(b, m), scale))),
                         Clamp255(Nearby(_mm512_mul_ps(_mm512_add_ps(d, m), scale)))};
    for (int i = 0; i < 3; ++i)
        out[i] = _mm512_cvttps_epi32(Clamp255(Nearby(_mm512_add_ps(_mm512_mul_ps(v[i], k.Contrast), k.Offset))));
}

using detail::TThreeChannelPermutes;
using detail::ThreeChannelPermutes;

// Whole groups of pixels of one row (64 for three samples, 16 for four); returns how many pixels
// it did.
PIXORA_AVX512 int AdjustRowAvx512(const uint8_t* s, uint8_t* d, int pixels, int channels,
                                  const TImageAdjustParams& params, float offset) noexcept {
    const TAdjust16 k{_mm512_set1_ps(params.Hue), _mm512_set1_ps(params.Saturation), _mm512_set1_ps(params.Lightness),
                      _mm512_set1_ps(params.Contrast), _mm512_set1_ps(offset)};
    int x = 0;
    if (channels == 4) {
        const __m512i byte = _mm512_set1_epi32(0xFF);
        const __m512i alpha = _mm512_set1_epi32(int32_t(0xFF000000u));
        for (; x + 16 <= pixels; x += 16, s += 64, d += 64) {
            const __m512i v = _mm512_loadu_si512(s);
            __m512i out[3];
            Adjust16(_mm512_cvtepi32_ps(_mm512_and_si512(v, byte)),
                     _mm512_cvtepi32_ps(_mm512_and_si512(_mm512_srli_epi32(v, 8), byte)),
                     _mm512_cvtepi32_ps(_mm512_and_si512(_mm512_srli_epi32(v, 16), byte)), k, out);
            _mm512_storeu_si512(d, _mm512_or_si512(_mm512_or_si512(out[0], _mm512_slli_epi32(out[1], 8)),
                                                   _mm512_or_si512(_mm512_slli_epi32(out[2], 16), _mm512_and_si512(v, alpha))));
        }
        return x;
    }
    const TThreeChannelPermutes& p = ThreeChannelPermutes();
    const __mmask64 lowBytes = 0x1111111111111111ull;  // byte 0 of every dword
    for (; x + 64 <= pixels; x += 64, s += 192, d += 192) {
        const __m512i v[3] = {_mm512_loadu_si512(s), _mm512_loadu_si512(s + 64), _mm512_loadu_si512(s + 128)};
        __m512i results[3][4];
        for (int q = 0; q < 4; ++q) {
            const __m512i lo = v[p.Low[q]], hi = v[p.Low[q] + 1];
            __m512i out[3];
            Adjust16(_mm512_cvtepi32_ps(_mm512_maskz_permutex2var_epi8(lowBytes, lo, p.In[0][q], hi)),
                     _mm512_cvtepi32_ps(_mm512_maskz_permutex2var_epi8(lowBytes, lo, p.In[1][q], hi)),
                     _mm512_cvtepi32_ps(_mm512_maskz_permutex2var_epi8(lowBytes, lo, p.In[2][q], hi)), k, out);
            for (int c = 0; c < 3; ++c) results[c][q] = out[c];
        }
        __m512i channel[3];
        for (int c = 0; c < 3; ++c)
            channel[c] = _mm512_packus_epi16(_mm512_packus_epi32(results[c][0], results[c][1]),
                                             _mm512_packus_epi32(results[c][2], results[c][3]));
        for (int j = 0; j < 3; ++j)
            _mm512_storeu_si512(d + 64 * j,
                                _mm512_mask_blend_epi8(p.ThirdMask[j], _mm512_permutex2var_epi8(channel[0], p.OutPair[j], channel[1]),
                                                       _mm512_permutexvar_epi8(p.OutThird[j], channel[2])));
    }
    return x;
}

#undef PIXORA_AVX512

bool CpuHasAvx512Vbmi() noexcept {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("fma");
}

// The pixels [x0, x0 + count) of one row through AdjustHLSChunk, KChunk at a time.
void AdjustRowScalar(const uint8_t* in, uint8_t* out, int count, int stride, const TImageAdjustParams& params,
                     float offset) noexcept {
    alignas(32) float p0[KChunk], p1[KChunk], p2[KChunk];
    for (int x0 = 0; x0 < count; x0 += KChunk) {
        const int n = std::min(KChunk, count - x0);
        for (int k = 0; k < n; ++k) {
            const uint8_t* p = in + (x0 + k) * stride;
            p0[k] = p[0], p1[k] = p[1], p2[k] = p[2];
        }
        AdjustHLSChunk(p0, p1, p2, n, params.Hue, params.Saturation, params.Lightness, params.Contrast, offset);
        for (int k = 0; k < n; ++k) {
            const int i = (x0 + k) * stride;
            out[i] = uint8_t(p0[k]);
            out[i + 1] = uint8_t(p1[k]);
            out[i + 2] = uint8_t(p2[k]);
            if (stride == 4) out[i + 3] = in[i + 3];
        }
    }
}

}  // namespace

void ImageAdjust(ConstView<uint8_t> src, View<uint8_t> dst, TRect r, const TImageAdjustParams& params) noexcept {
    const int stride = src.Channels;
    if (!params.UsesHLS()) {
        // Brightness and contrast alone are a per-sample table; a fourth sample is copied.
        uint8_t table[256];
        BuildBrightnessContrastTable(table, params.Brightness, params.Contrast);
        const uint8_t* const tables[4] = {table, table, table, nullptr};
        Lookup8(src, dst, r, tables);
        return;
    }
    static const bool vector = CpuHasAvx512Vbmi();
    const float offset = std::nearbyint(params.Brightness * 255.0f);
    for (int y = r.Y; y < r.Y + r.Height; ++y) {
        const uint8_t* in = src.Row(y) + std::ptrdiff_t(r.X) * stride;
        uint8_t* out = dst.Row(y) + std::ptrdiff_t(r.X) * stride;
        const int done = vector ? AdjustRowAvx512(in, out, r.Width, stride, params, offset) : 0;
        AdjustRowScalar(in + std::ptrdiff_t(done) * stride, out + std::ptrdiff_t(done) * stride, r.Width - done, stride,
                        params, offset);
    }
}

}  // namespace pixora::kernels
