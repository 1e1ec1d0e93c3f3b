// Remap through coordinate tables (see Remap.h for the contract: interpolations, borders, the
// smooth-edge blend). One body per interpolation, templated on the sample type and on the
// channel count (1, 3, 4 compiled as constants; any other count at run time).
#include "platform/kernels/Remap.h"

#include <algorithm>
#include <cmath>
#include <climits>
#include <cstring>
#include <type_traits>

#include <emmintrin.h>
#include <immintrin.h>

namespace pixora::kernels {

namespace {

// The source rectangle as integer pixel bounds and as float bounds of the accepted coordinates.
struct TBox {
    int Ix0 = 0, Iy0 = 0, Ix1 = -1, Iy1 = -1;
    float X0 = 0, Y0 = 0, X1 = -1, Y1 = -1;
};

bool MakeBox(int srcWidth, int srcHeight, TRect roi, TBox& box) noexcept {
    const long long x0 = std::max(0, roi.X), y0 = std::max(0, roi.Y);
    const long long x1 = std::min<long long>(srcWidth, (long long)roi.X + roi.Width) - 1;
    const long long y1 = std::min<long long>(srcHeight, (long long)roi.Y + roi.Height) - 1;
    if (roi.Width <= 0 || roi.Height <= 0 || x1 < x0 || y1 < y0) return false;
    box.Ix0 = int(x0), box.Iy0 = int(y0), box.Ix1 = int(x1), box.Iy1 = int(y1);
    box.X0 = float(x0), box.Y0 = float(y0), box.X1 = float(x1), box.Y1 = float(y1);
    return true;
}

// Round half up, then saturate to the sample range.
// (floor is done by truncation and a correction, which gives exactly floor for every value
// the interpolations produce and keeps the call out of the loops.)
template <class T>
[[gnu::always_inline]] inline T Saturate(float v) noexcept {
    const float t = v + 0.5f;
    if (!(t > 0.f)) return T(0);
    if (t >= float(SampleMax<T>)) return SampleMax<T>;
    int r = int(t);
    if (float(r) > t) --r;
    return T(r);
}

// Writes one channel: the value itself, or blended into what the destination holds.
template <class T>
[[gnu::always_inline]] inline void Put(T& d, float v, float a) noexcept {
    d = a == 1.f ? Saturate<T>(v) : Saturate<T>(float(d) + a * (v - float(d)));
}

inline int Clamp(int v, int lo, int hi) noexcept { return v < lo ? lo : (v > hi ? hi : v); }

// Lagrange cubic through the points at -1, 0, 1, 2, evaluated at t in [0, 1).
inline void CubicWeights(float t, float w[4]) noexcept {
    w[0] = -t * (t - 1.f) * (t - 2.f) / 6.f;
    w[1] = (t + 1.f) * (t - 1.f) * (t - 2.f) / 2.f;
    w[2] = -(t + 1.f) * t * (t - 2.f) / 2.f;
    w[3] = (t + 1.f) * t * (t - 1.f) / 6.f;
}

// 3-lobed Lanczos weights for the taps at -2 .. 3 around t in [0, 1), normalised to sum 1.
inline void LanczosWeights(float t, float w[6]) noexcept {
    if (t == 0.f) {
        for (int k = 0; k < 6; ++k) w[k] = k == 2 ? 1.f : 0.f;
        return;
    }
    constexpr double pi = 3.14159265358979323846;
    double sum = 0, d[6];
    for (int k = 0; k < 6; ++k) {
        const double x = double(t) - double(k - 2);
        d[k] = std::fabs(x) >= 3.0 ? 0.0 : 3.0 * std::sin(pi * x) * std::sin(pi * x / 3.0) / (pi * pi * x * x);
        sum += d[k];
    }
    for (int k = 0; k < 6; ++k) w[k] = float(d[k] / sum);
}

enum class TMode { NN, Linear, Cubic, Lanczos };

// Three or four 8-bit samples as floats in the low lanes. A three-channel pixel is read as four
// bytes (the fourth lane is never stored) unless it ends the source's pixels (from `last` on),
// where only its three bytes are read.
template <int C>
[[gnu::always_inline]] inline __m128 LoadPixel(const uint8_t* p, const uint8_t* last) noexcept {
    int32_t v;
    if (C == 4 || p < last) {
        std::memcpy(&v, p, 4);
    } else {
        v = int32_t(p[0]) | int32_t(p[1]) << 8 | int32_t(p[2]) << 16;
    }
    const __m128i zero = _mm_setzero_si128();
    const __m128i words = _mm_unpacklo_epi8(_mm_cvtsi32_si128(v), zero);
    return _mm_cvtepi32_ps(_mm_unpacklo_epi16(words, zero));
}

// The bilinear value of all channels of one 8-bit pixel at once: the same float operations in
// the same order as the per-channel code (no contraction into fused multiply-adds), so the
// results are identical; rounding half up and saturation by truncation and the packs' clamps.
template <int C>
[[gnu::always_inline]] inline void LinearPixel8(const uint8_t* p00, std::ptrdiff_t sx, std::ptrdiff_t sy, float fx,
                                                float fy, uint8_t* d, const uint8_t* last) noexcept {
    const __m128 v00 = LoadPixel<C>(p00, last), v01 = LoadPixel<C>(p00 + sx, last);
    const __m128 v10 = LoadPixel<C>(p00 + sy, last), v11 = LoadPixel<C>(p00 + sy + sx, last);
    const __m128 x = _mm_set1_ps(fx), y = _mm_set1_ps(fy);
    const __m128 top = _mm_add_ps(v00, _mm_mul_ps(x, _mm_sub_ps(v01, v00)));
    const __m128 bottom = _mm_add_ps(v10, _mm_mul_ps(x, _mm_sub_ps(v11, v10)));
    const __m128 v = _mm_add_ps(top, _mm_mul_ps(y, _mm_sub_ps(bottom, top)));
    const __m128i r = _mm_cvttps_epi32(_mm_add_ps(v, _mm_set1_ps(0.5f)));
    const __m128i w = _mm_packs_epi32(r, r);
    const int32_t bytes = _mm_cvtsi128_si32(_mm_packus_epi16(w, w));
    if constexpr (C == 4) {
        std::memcpy(d, &bytes, 4);
    } else {
        d[0] = uint8_t(bytes), d[1] = uint8_t(bytes >> 8), d[2] = uint8_t(bytes >> 16);
    }
}

// Full: every channel is written (the channel loops then have a constant count).
template <class T, int C, TMode M, bool Full>
void RowBody(const ConstView<T>& src, const TBox& b, const float* xs, const float* ys, T* dstRow, int count,
             bool smooth, int writeCount) noexcept {
    const int nc = C ? C : src.Channels;
    const int write = Full && C ? C : writeCount;
    // The last pixel of the source's last row: from there on a pixel is read byte by byte.
    [[maybe_unused]] const T* last = src.Row(src.Height - 1) + std::ptrdiff_t(src.Width - 1) * nc;
    const std::ptrdiff_t stride = src.Stride;
    for (int i = 0; i < count; ++i) {
        float x = xs[i], y = ys[i];
        float a = 1.f;
        if (!(x >= b.X0 && x <= b.X1 && y >= b.Y0 && y <= b.Y1)) {
            if (!smooth) continue;
            if (!(x > b.X0 - 1.f && x < b.X1 + 1.f && y > b.Y0 - 1.f && y < b.Y1 + 1.f)) continue;
            const float ax = x < b.X0 ? 1.f - (b.X0 - x) : (x > b.X1 ? 1.f - (x - b.X1) : 1.f);
            const float ay = y < b.Y0 ? 1.f - (b.Y0 - y) : (y > b.Y1 ? 1.f - (y - b.Y1) : 1.f);
            a = ax * ay;
            x = std::clamp(x, b.X0, b.X1);
            y = std::clamp(y, b.Y0, b.Y1);
        }
        T* d = dstRow + std::ptrdiff_t(i) * nc;
        // Coordinates are >= 0 here, so truncation is floor and the fractions are exact.
        const int ix = int(x), iy = int(y);
        const float fx = x - float(ix), fy = y - float(iy);
        if constexpr (M == TMode::NN) {
            const int nx = fx >= 0.5f ? ix + 1 : ix, ny = fy >= 0.5f ? iy + 1 : iy;
            const T* p = src.Data + std::ptrdiff_t(ny) * stride + std::ptrdiff_t(nx) * nc;
            if (a == 1.f) {
                for (int c = 0; c < write; ++c) d[c] = p[c];
            } else {
                for (int c = 0; c < write; ++c) Put(d[c], float(p[c]), a);
            }
        } else if constexpr (M == TMode::Linear) {
            const T* p00 = src.Data + std::ptrdiff_t(iy) * stride + std::ptrdiff_t(ix) * nc;
            const std::ptrdiff_t sx = ix < b.Ix1 ? nc : 0, sy = iy < b.Iy1 ? stride : 0;
            auto value = [&](int c) {
                const float v00 = p00[c], v01 = p00[sx + c], v10 = p00[sy + c], v11 = p00[sy + sx + c];
                const float top = v00 + fx * (v01 - v00);
                const float bottom = v10 + fx * (v11 - v10);
                return top + fy * (bottom - top);
            };
            if constexpr (std::is_same_v<T, uint8_t> && Full && (C == 3 || C == 4)) {
                if (a == 1.f) {
                    LinearPixel8<C>(p00, sx, sy, fx, fy, d, last);
                    continue;
                }
            }
            if (a == 1.f) {
                for (int c = 0; c < write; ++c) d[c] = Saturate<T>(value(c));
            } else {
                for (int c = 0; c < write; ++c) Put(d[c], value(c), a);
            }
        } else {
            constexpr int n = M == TMode::Cubic ? 4 : 6;
            constexpr int before = M == TMode::Cubic ? 1 : 2;
            float wx[6], wy[6];
            if constexpr (M == TMode::Cubic) {
                CubicWeights(fx, wx);
                CubicWeights(fy, wy);
            } else {
                LanczosWeights(fx, wx);
                LanczosWeights(fy, wy);
            }
            std::ptrdiff_t colOff[6];
            const T* rows[6];
            for (int k = 0; k < n; ++k) {
                colOff[k] = std::ptrdiff_t(Clamp(ix - before + k, b.Ix0, b.Ix1)) * nc;
                rows[k] = src.Data + std::ptrdiff_t(Clamp(iy - before + k, b.Iy0, b.Iy1)) * stride;
            }
            for (int c = 0; c < write; ++c) {
                float v = 0.f;
                for (int r = 0; r < n; ++r) {
                    float h = 0.f;
                    for (int k = 0; k < n; ++k) h += wx[k] * float(rows[r][colOff[k] + c]);
                    v += wy[r] * h;
                }
                Put(d[c], v, a);
            }
        }
    }
}

template <class T, TMode M, int C>
void RowWrite(const ConstView<T>& src, const TBox& b, const float* xs, const float* ys, T* dstRow, int count,
              bool smooth, int write) noexcept {
    if (write == src.Channels) {
        RowBody<T, C, M, true>(src, b, xs, ys, dstRow, count, smooth, write);
    } else {
        RowBody<T, C, M, false>(src, b, xs, ys, dstRow, count, smooth, write);
    }
}

template <class T, TMode M>
void RowChannels(const ConstView<T>& src, const TBox& b, const float* xs, const float* ys, T* dstRow, int count,
                 bool smooth, int write) noexcept {
    switch (src.Channels) {
        case 1: RowWrite<T, M, 1>(src, b, xs, ys, dstRow, count, smooth, write); break;
        case 3: RowWrite<T, M, 3>(src, b, xs, ys, dstRow, count, smooth, write); break;
        case 4: RowWrite<T, M, 4>(src, b, xs, ys, dstRow, count, smooth, write); break;
        default: RowBody<T, 0, M, false>(src, b, xs, ys, dstRow, count, smooth, write); break;
    }
}

// The interpolation of a flag, or false for a flag that names none (or several).
bool ModeOf(int interpolation, TMode& mode) noexcept {
    switch (unsigned(interpolation) & ~kSmoothEdge) {
        case unsigned(kInterNN): mode = TMode::NN; return true;
        case unsigned(kInterLinear):
        case unsigned(kInterSuper): mode = TMode::Linear; return true;
        case unsigned(kInterCubic): mode = TMode::Cubic; return true;
        case unsigned(kInterLanczos): mode = TMode::Lanczos; return true;
        default: return false;
    }
}

template <class T>
void RowDispatch(const ConstView<T>& src, const TBox& b, TMode mode, const float* xs, const float* ys, T* dstRow,
                 int count, bool smooth, int write) noexcept {
    switch (mode) {
        case TMode::NN: RowChannels<T, TMode::NN>(src, b, xs, ys, dstRow, count, smooth, write); break;
        case TMode::Linear: RowChannels<T, TMode::Linear>(src, b, xs, ys, dstRow, count, smooth, write); break;
        case TMode::Cubic: RowChannels<T, TMode::Cubic>(src, b, xs, ys, dstRow, count, smooth, write); break;
        case TMode::Lanczos: RowChannels<T, TMode::Lanczos>(src, b, xs, ys, dstRow, count, smooth, write); break;
    }
}


// ---- AVX-512 rows -------------------------------------------------------------------------------
//
// Sixteen destination pixels at a time: the coordinates are tested against the box, converted and
// split exactly as the per-pixel code does (truncation, the same float subtractions), each tap is a
// read of the pixel's bytes (plain loads for 8-bit pixels of 3 and 4 channels and for nearest
// 8-bit pixels, a 32-bit gather otherwise), and the bilinear sum runs per channel with the per-pixel
// code's float operations in its order (the build forbids contracting them into fused
// multiply-adds), so every written byte equals the per-pixel result. Lanes the vector code leaves
// out are handed to the per-pixel code one by one: pixels whose read would pass the end
// of the source (the last few pixels of its last row) and, with the smooth edge, pixels less than
// one pixel outside the box (they blend into the destination).

#define PIXORA_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512dq")))

// The destination bytes of 16 pixels of C (1, 3 or 4) 8-bit channels, each pixel the low C bytes
// of a 32-bit lane, written for the lanes of `lanes`.
template <int C>
PIXORA_AVX512 inline void StorePixels8(uint8_t* d, __m512i v, __mmask16 lanes) noexcept {
    if constexpr (C == 4) {
        _mm512_mask_storeu_epi32(d, lanes, v);
    } else if constexpr (C == 1) {
        _mm512_mask_cvtepi32_storeu_epi8(d, lanes, v);
    } else {
        // Three bytes of every lane, packed: 12 bytes per 128-bit block, then the blocks' first
        // three dwords side by side (48 bytes).
        const __m512i pick = _mm512_broadcast_i32x4(_mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
        const __m512i join = _mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 15, 15, 15, 15);
        const __m512i packed = _mm512_permutexvar_epi32(join, _mm512_shuffle_epi8(v, pick));
        if (lanes == 0xFFFF) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), _mm512_castsi512_si256(packed));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 32), _mm512_extracti32x4_epi32(packed, 2));
            return;
        }
        __mmask64 bytes = (__mmask64(1) << 48) - 1;
        {
            const __m512i m = _mm512_permutexvar_epi32(join, _mm512_shuffle_epi8(_mm512_movm_epi32(lanes), pick));
            bytes &= _mm512_movepi8_mask(m);
        }
        _mm512_mask_storeu_epi8(d, bytes, packed);
    }
}

// Eight bytes at each of the offsets o[0] .. o[7] as the eight 64-bit lanes of a vector, read
// with plain loads two to a 128-bit register.
PIXORA_AVX512 inline __m128i LoadTwo(const uint8_t* base, const int32_t* o) noexcept {
    const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(base + o[0]));
    return _mm_castpd_si128(_mm_loadh_pd(_mm_castsi128_pd(a), reinterpret_cast<const double*>(base + o[1])));
}

PIXORA_AVX512 inline __m512i LoadEight(const uint8_t* base, const int32_t* o) noexcept {
    const __m256i l = _mm256_inserti128_si256(_mm256_castsi128_si256(LoadTwo(base, o)), LoadTwo(base, o + 2), 1);
    const __m256i h = _mm256_inserti128_si256(_mm256_castsi128_si256(LoadTwo(base, o + 4)), LoadTwo(base, o + 6), 1);
    return _mm512_inserti64x4(_mm512_castsi256_si512(l), h, 1);
}

// The offsets of `lanes` (at least one) kept, every other lane given the first of them: a read
// there is known to be in range, and its bytes are never stored.
PIXORA_AVX512 inline void SafeOffsets(__m512i off, __mmask16 lanes, int32_t o[16]) noexcept {
    const __m512i first = _mm512_permutexvar_epi32(_mm512_set1_epi32(__builtin_ctz(unsigned(lanes))), off);
    _mm512_store_si512(o, _mm512_mask_blend_epi32(lanes, first, off));
    // Read the offsets back from memory: sixteen scalar loads are cheaper than the lane
    // extractions the compiler would otherwise turn them into.
    asm volatile("" : : "r"(o) : "memory");
}

// Four bytes at each of the offsets o[0] .. o[3] as the four 32-bit lanes of a vector.
PIXORA_AVX512 inline __m128i LoadFour32(const uint8_t* base, const int32_t* o) noexcept {
    int32_t v;
    std::memcpy(&v, base + o[0], 4);
    __m128i r = _mm_cvtsi32_si128(v);
    std::memcpy(&v, base + o[1], 4);
    r = _mm_insert_epi32(r, v, 1);
    std::memcpy(&v, base + o[2], 4);
    r = _mm_insert_epi32(r, v, 2);
    std::memcpy(&v, base + o[3], 4);
    return _mm_insert_epi32(r, v, 3);
}

// Four bytes at each of the 16 offsets of `lanes` (at least one), with plain loads: on some
// processors (AMD's in particular) sixteen loads are much cheaper than one gather.
PIXORA_AVX512 inline __m512i Load32(const uint8_t* base, __m512i off, __mmask16 lanes) noexcept {
    alignas(64) int32_t o[16];
    SafeOffsets(off, lanes, o);
    const __m256i l = _mm256_inserti128_si256(_mm256_castsi128_si256(LoadFour32(base, o)), LoadFour32(base, o + 4),
                                              1);
    const __m256i h = _mm256_inserti128_si256(_mm256_castsi128_si256(LoadFour32(base, o + 8)),
                                              LoadFour32(base, o + 12), 1);
    return _mm512_inserti64x4(_mm512_castsi256_si512(l), h, 1);
}

// Eight bytes at each of the 16 offsets of `lanes` (at least one), with plain loads: lo takes
// bytes 0..3 of each lane's read and hi bytes 4..7.
PIXORA_AVX512 inline void LoadPairs(const uint8_t* base, __m512i off, __mmask16 lanes, __m512i& lo,
                                    __m512i& hi) noexcept {
    alignas(64) int32_t o[16];
    SafeOffsets(off, lanes, o);
    const __m512i a = LoadEight(base, o), b = LoadEight(base, o + 8);
    lo = _mm512_permutex2var_epi32(a, _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30), b);
    hi = _mm512_permutex2var_epi32(a, _mm512_setr_epi32(1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31), b);
}

// Byte j (0 .. 3) of every 32-bit lane, zero-extended: one byte shuffle.
PIXORA_AVX512 [[gnu::always_inline]] inline __m512i ByteOfLanes(__m512i w, int j) noexcept {
    const __m512i pick = _mm512_or_si512(_mm512_set1_epi32(int(0x80808000u) | j),
                                         _mm512_broadcast_i32x4(_mm_setr_epi32(0, 4, 8, 12)));
    return _mm512_shuffle_epi8(w, pick);
}

// The lanes whose point lies in the box (comparisons false for NaN).
PIXORA_AVX512 [[gnu::always_inline]] inline __mmask16 InsideBox(__mmask16 lanes, __m512 x, __m512 y, __m512 bx0,
                                                                 __m512 bx1, __m512 by0, __m512 by1) noexcept {
    __mmask16 m = _mm512_mask_cmp_ps_mask(lanes, x, bx0, _CMP_GE_OQ);
    m = _mm512_mask_cmp_ps_mask(m, x, bx1, _CMP_LE_OQ);
    m = _mm512_mask_cmp_ps_mask(m, y, by0, _CMP_GE_OQ);
    return _mm512_mask_cmp_ps_mask(m, y, by1, _CMP_LE_OQ);
}

// The coordinate tables are read once, front to back; the rows ask for them this many bytes
// ahead. (The address is computed as an integer: past a table's end it points at nothing, and a
// prefetch never faults.)
constexpr std::uintptr_t kMapAhead = 1024;

inline void PrefetchAhead(const float* p) noexcept {
    _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(p) + kMapAhead), _MM_HINT_T0);
}

template <int C, TMode M>
PIXORA_AVX512 void RowVector8(const ConstView<uint8_t>& src, const TBox& b, const float* xs, const float* ys,
                              uint8_t* dstRow, int count, bool smooth, int readLimit) noexcept {
    const __m512 bx0 = _mm512_set1_ps(b.X0), bx1 = _mm512_set1_ps(b.X1);
    const __m512 by0 = _mm512_set1_ps(b.Y0), by1 = _mm512_set1_ps(b.Y1);
    const __m512 one = _mm512_set1_ps(1.f), half = _mm512_set1_ps(0.5f);
    const __m512i iy1 = _mm512_set1_epi32(b.Iy1);
    const __m512i stride = _mm512_set1_epi32(int(src.Stride)), pixel = _mm512_set1_epi32(C);
    const __m512i limit = _mm512_set1_epi32(readLimit);
    const __m512i byteMask = _mm512_set1_epi32(0xFF), zero = _mm512_setzero_si512();
    const uint8_t* base = src.Data;
    for (int i = 0; i < count; i += 16) {
        const int n = std::min(16, count - i);
        const __mmask16 lanes = n == 16 ? __mmask16(0xFFFF) : __mmask16((1u << n) - 1);
        const __m512 x = _mm512_maskz_loadu_ps(lanes, xs + i), y = _mm512_maskz_loadu_ps(lanes, ys + i);
        PrefetchAhead(xs + i), PrefetchAhead(ys + i);
        const __mmask16 inside = InsideBox(lanes, x, y, bx0, bx1, by0, by1);
        __mmask16 done = 0;
        if (inside) {
            // Lanes outside take the box's corner, so that their (unused) offsets stay in range.
            const __m512 cx = _mm512_mask_blend_ps(inside, bx0, x), cy = _mm512_mask_blend_ps(inside, by0, y);
            const __m512i ix = _mm512_cvttps_epi32(cx), iy = _mm512_cvttps_epi32(cy);
            const __m512 fx = _mm512_sub_ps(cx, _mm512_cvtepi32_ps(ix)), fy = _mm512_sub_ps(cy, _mm512_cvtepi32_ps(iy));
            if constexpr (M == TMode::NN) {
                const __m512i nx = _mm512_mask_add_epi32(ix, _mm512_cmp_ps_mask(fx, half, _CMP_GE_OQ), ix,
                                                         _mm512_set1_epi32(1));
                const __m512i ny = _mm512_mask_add_epi32(iy, _mm512_cmp_ps_mask(fy, half, _CMP_GE_OQ), iy,
                                                         _mm512_set1_epi32(1));
                const __m512i off = _mm512_add_epi32(_mm512_mullo_epi32(ny, stride), _mm512_mullo_epi32(nx, pixel));
                done = _mm512_mask_cmple_epi32_mask(inside, off, limit);
                if (done) StorePixels8<C>(dstRow + std::ptrdiff_t(i) * C, Load32(base, off, done), done);
            } else {
                // One read per row takes both horizontal taps: the pixel at ix and the next one.
                // On the box's right column (ix = Ix1) x is exactly ix, so fx = 0 and the second
                // tap's value drops out of the sum (v00 + 0 · (v01 − v00) = v00): it need not be
                // the replicated edge, only readable.
                const __m512i sy = _mm512_maskz_mov_epi32(_mm512_cmplt_epi32_mask(iy, iy1), stride);
                const __m512i o00 = _mm512_add_epi32(_mm512_mullo_epi32(iy, stride), _mm512_mullo_epi32(ix, pixel));
                const __m512i o10 = _mm512_add_epi32(o00, sy);
                done = _mm512_mask_cmple_epi32_mask(inside, o10, limit);
                if (done) {
                    // Per lane: lo = bytes 0..3 and hi = bytes 4..7 read at the tap.
                    __m512i lo0, hi0, lo1, hi1;
                    if constexpr (C == 1) {
                        lo0 = _mm512_mask_i32gather_epi32(zero, done, o00, base, 1);
                        lo1 = _mm512_mask_i32gather_epi32(zero, done, o10, base, 1);
                        hi0 = hi1 = zero;
                    } else {
                        LoadPairs(base, o00, done, lo0, hi0);
                        LoadPairs(base, o10, done, lo1, hi1);
                    }
                    __m512i out = zero;
                    for (int c = 0; c < C; ++c) {
                        // Byte k of the 8 read: in lo for k < 4, else in hi.
                        const int k0 = c, k1 = c + C;
                        const __m512i w00 = k0 < 4 ? lo0 : hi0, w10 = k0 < 4 ? lo1 : hi1;
                        const __m512i w01 = k1 < 4 ? lo0 : hi0, w11 = k1 < 4 ? lo1 : hi1;
                        const __m512 v00 = _mm512_cvtepi32_ps(ByteOfLanes(w00, k0 & 3));
                        const __m512 v01 = _mm512_cvtepi32_ps(ByteOfLanes(w01, k1 & 3));
                        const __m512 v10 = _mm512_cvtepi32_ps(ByteOfLanes(w10, k0 & 3));
                        const __m512 v11 = _mm512_cvtepi32_ps(ByteOfLanes(w11, k1 & 3));
                        const __m512 top = _mm512_add_ps(v00, _mm512_mul_ps(fx, _mm512_sub_ps(v01, v00)));
                        const __m512 bottom = _mm512_add_ps(v10, _mm512_mul_ps(fx, _mm512_sub_ps(v11, v10)));
                        const __m512 v = _mm512_add_ps(top, _mm512_mul_ps(fy, _mm512_sub_ps(bottom, top)));
                        // Round half up and saturate: truncation of v + 0.5, clamped to 0 .. 255.
                        __m512i r = _mm512_cvttps_epi32(_mm512_add_ps(v, half));
                        r = _mm512_min_epi32(_mm512_max_epi32(r, zero), byteMask);
                        out = _mm512_or_si512(out, _mm512_slli_epi32(r, 8 * c));
                    }
                    StorePixels8<C>(dstRow + std::ptrdiff_t(i) * C, out, done);
                }
            }
        }
        // What is left for the per-pixel code: inside lanes the reads could not take and, with
        // the smooth edge, lanes in the one-pixel fringe around the box.
        __mmask16 rest = inside & ~done;
        if (smooth) {
            const __m512 fx0 = _mm512_sub_ps(bx0, one), fx1 = _mm512_add_ps(bx1, one);
            const __m512 fy0 = _mm512_sub_ps(by0, one), fy1 = _mm512_add_ps(by1, one);
            const __mmask16 fringe = _mm512_mask_cmp_ps_mask(
                _mm512_mask_cmp_ps_mask(_mm512_mask_cmp_ps_mask(_mm512_mask_cmp_ps_mask(lanes & ~inside, x, fx0, _CMP_GT_OQ),
                                                                x, fx1, _CMP_LT_OQ),
                                        y, fy0, _CMP_GT_OQ),
                y, fy1, _CMP_LT_OQ);
            rest |= fringe;
        }
        for (unsigned r = rest; r; r &= r - 1) {
            const int k = i + __builtin_ctz(r);
            RowBody<uint8_t, C, M, true>(src, b, xs + k, ys + k, dstRow + std::ptrdiff_t(k) * C, 1, smooth, C);
        }
    }
}

// The same for 16-bit single-channel pixels: offsets count samples (the gathers scale them by 2),
// each gather reads two samples (a linear tap's horizontal pair), sums saturate to 0 .. 65535.
template <TMode M>
PIXORA_AVX512 void RowVectorGray16(const ConstView<uint16_t>& src, const TBox& b, const float* xs, const float* ys,
                                   uint16_t* dstRow, int count, bool smooth, int readLimit) noexcept {
    const __m512 bx0 = _mm512_set1_ps(b.X0), bx1 = _mm512_set1_ps(b.X1);
    const __m512 by0 = _mm512_set1_ps(b.Y0), by1 = _mm512_set1_ps(b.Y1);
    const __m512 one = _mm512_set1_ps(1.f), half = _mm512_set1_ps(0.5f);
    const __m512i iy1 = _mm512_set1_epi32(b.Iy1), stride = _mm512_set1_epi32(int(src.Stride));
    const __m512i limit = _mm512_set1_epi32(readLimit), wordMask = _mm512_set1_epi32(0xFFFF);
    const __m512i zero = _mm512_setzero_si512(), oneI = _mm512_set1_epi32(1);
    const uint16_t* base = src.Data;
    for (int i = 0; i < count; i += 16) {
        const int n = std::min(16, count - i);
        const __mmask16 lanes = n == 16 ? __mmask16(0xFFFF) : __mmask16((1u << n) - 1);
        const __m512 x = _mm512_maskz_loadu_ps(lanes, xs + i), y = _mm512_maskz_loadu_ps(lanes, ys + i);
        PrefetchAhead(xs + i), PrefetchAhead(ys + i);
        const __mmask16 inside = InsideBox(lanes, x, y, bx0, bx1, by0, by1);
        __mmask16 done = 0;
        if (inside) {
            const __m512 cx = _mm512_mask_blend_ps(inside, bx0, x), cy = _mm512_mask_blend_ps(inside, by0, y);
            const __m512i ix = _mm512_cvttps_epi32(cx), iy = _mm512_cvttps_epi32(cy);
            const __m512 fx = _mm512_sub_ps(cx, _mm512_cvtepi32_ps(ix)), fy = _mm512_sub_ps(cy, _mm512_cvtepi32_ps(iy));
            if constexpr (M == TMode::NN) {
                const __m512i nx = _mm512_mask_add_epi32(ix, _mm512_cmp_ps_mask(fx, half, _CMP_GE_OQ), ix, oneI);
                const __m512i ny = _mm512_mask_add_epi32(iy, _mm512_cmp_ps_mask(fy, half, _CMP_GE_OQ), iy, oneI);
                const __m512i off = _mm512_add_epi32(_mm512_mullo_epi32(ny, stride), nx);
                done = _mm512_mask_cmple_epi32_mask(inside, off, limit);
                const __m512i v = _mm512_mask_i32gather_epi32(zero, done, off, base, 2);
                _mm512_mask_cvtepi32_storeu_epi16(dstRow + i, done, v);
            } else {
                // As for 8-bit pixels: on the box's right column fx = 0 and the pair's second
                // sample drops out of the sum.
                const __m512i sy = _mm512_maskz_mov_epi32(_mm512_cmplt_epi32_mask(iy, iy1), stride);
                const __m512i o00 = _mm512_add_epi32(_mm512_mullo_epi32(iy, stride), ix);
                const __m512i o10 = _mm512_add_epi32(o00, sy);
                done = _mm512_mask_cmple_epi32_mask(inside, o10, limit);
                const __m512i g0 = _mm512_mask_i32gather_epi32(zero, done, o00, base, 2);
                const __m512i g1 = _mm512_mask_i32gather_epi32(zero, done, o10, base, 2);
                const __m512 v00 = _mm512_cvtepi32_ps(_mm512_and_si512(g0, wordMask));
                const __m512 v01 = _mm512_cvtepi32_ps(_mm512_srli_epi32(g0, 16));
                const __m512 v10 = _mm512_cvtepi32_ps(_mm512_and_si512(g1, wordMask));
                const __m512 v11 = _mm512_cvtepi32_ps(_mm512_srli_epi32(g1, 16));
                const __m512 top = _mm512_add_ps(v00, _mm512_mul_ps(fx, _mm512_sub_ps(v01, v00)));
                const __m512 bottom = _mm512_add_ps(v10, _mm512_mul_ps(fx, _mm512_sub_ps(v11, v10)));
                const __m512 v = _mm512_add_ps(top, _mm512_mul_ps(fy, _mm512_sub_ps(bottom, top)));
                __m512i r = _mm512_cvttps_epi32(_mm512_add_ps(v, half));
                r = _mm512_min_epi32(_mm512_max_epi32(r, zero), wordMask);
                _mm512_mask_cvtepi32_storeu_epi16(dstRow + i, done, r);
            }
        }
        __mmask16 rest = inside & ~done;
        if (smooth) {
            const __m512 fx0 = _mm512_sub_ps(bx0, one), fx1 = _mm512_add_ps(bx1, one);
            const __m512 fy0 = _mm512_sub_ps(by0, one), fy1 = _mm512_add_ps(by1, one);
            rest |= _mm512_mask_cmp_ps_mask(
                _mm512_mask_cmp_ps_mask(_mm512_mask_cmp_ps_mask(_mm512_mask_cmp_ps_mask(lanes & ~inside, x, fx0, _CMP_GT_OQ),
                                                                x, fx1, _CMP_LT_OQ),
                                        y, fy0, _CMP_GT_OQ),
                y, fy1, _CMP_LT_OQ);
        }
        for (unsigned r = rest; r; r &= r - 1) {
            const int k = i + __builtin_ctz(r);
            RowBody<uint16_t, 1, M, true>(src, b, xs + k, ys + k, dstRow + k, 1, smooth, 1);
        }
    }
}

#undef PIXORA_AVX512

bool HaveAvx512() noexcept {
    static const bool have = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                             __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq");
    return have;
}

// Runs the vector row when it covers this call; false leaves the row to the per-pixel code.
template <class T>
bool RowVector(const ConstView<T>& src, const TBox& b, TMode mode, const float* xs, const float* ys, T* dstRow,
               int count, bool smooth, int write) noexcept {
    if constexpr (std::is_same_v<T, uint16_t>) {
        if (!HaveAvx512() || src.Channels != 1 || write != 1 || (mode != TMode::NN && mode != TMode::Linear) ||
            src.Stride <= 0)
            return false;
        // Offsets in samples; every gather reads two samples.
        const long long end = (long long)(src.Height - 1) * src.Stride + src.Width;
        if (end > INT32_MAX / 2) return false;
        const int limit = int(end - 2);
        if (mode == TMode::NN)
            RowVectorGray16<TMode::NN>(src, b, xs, ys, dstRow, count, smooth, limit);
        else
            RowVectorGray16<TMode::Linear>(src, b, xs, ys, dstRow, count, smooth, limit);
        return true;
    } else {
        const int nc = src.Channels;
        if (!HaveAvx512() || write != nc || (nc != 1 && nc != 3 && nc != 4) ||
            (mode != TMode::NN && mode != TMode::Linear) || src.Stride <= 0)
            return false;
        // Offsets are 32-bit. A tap reads four bytes (eight for the horizontal pair of
        // a 3- or 4-channel linear tap): a read that would pass the end of the source's pixels is
        // left to the per-pixel code.
        const long long end = (long long)(src.Height - 1) * src.Stride + (long long)src.Width * nc;
        if (end > INT32_MAX || (long long)src.Stride * nc > INT32_MAX) return false;
        const int limit = int(end - (mode == TMode::Linear && nc > 1 ? 8 : 4));
        const bool nn = mode == TMode::NN;
        switch (nc) {
            case 1: nn ? RowVector8<1, TMode::NN>(src, b, xs, ys, dstRow, count, smooth, limit)
                       : RowVector8<1, TMode::Linear>(src, b, xs, ys, dstRow, count, smooth, limit); break;
            case 3: nn ? RowVector8<3, TMode::NN>(src, b, xs, ys, dstRow, count, smooth, limit)
                       : RowVector8<3, TMode::Linear>(src, b, xs, ys, dstRow, count, smooth, limit); break;
            default: nn ? RowVector8<4, TMode::NN>(src, b, xs, ys, dstRow, count, smooth, limit)
                        : RowVector8<4, TMode::Linear>(src, b, xs, ys, dstRow, count, smooth, limit); break;
        }
        return true;
    }
}

int ChannelsToWrite(int channels, int requested) noexcept {
    return requested < 0 || requested > channels ? channels : requested;
}

}  // namespace

template <class T>
void RemapRow(ConstView<T> src, TRect srcRoi, const float* xs, const float* ys, T* dstRow, int count,
              int interpolation, int channelsToWrite) noexcept {
    TBox box;
    TMode mode;
    if (count <= 0 || src.Channels <= 0 || !MakeBox(src.Width, src.Height, srcRoi, box) ||
        !ModeOf(interpolation, mode))
        return;
    const bool smooth = (unsigned(interpolation) & kSmoothEdge) != 0;
    const int write = ChannelsToWrite(src.Channels, channelsToWrite);
    if (!RowVector(src, box, mode, xs, ys, dstRow, count, smooth, write))
        RowDispatch(src, box, mode, xs, ys, dstRow, count, smooth, write);
}

template <class T>
void RemapRowScalar(ConstView<T> src, TRect srcRoi, const float* xs, const float* ys, T* dstRow, int count,
                    int interpolation, int channelsToWrite) noexcept {
    TBox box;
    TMode mode;
    if (count <= 0 || src.Channels <= 0 || !MakeBox(src.Width, src.Height, srcRoi, box) ||
        !ModeOf(interpolation, mode))
        return;
    const bool smooth = (unsigned(interpolation) & kSmoothEdge) != 0;
    RowDispatch(src, box, mode, xs, ys, dstRow, count, smooth, ChannelsToWrite(src.Channels, channelsToWrite));
}

bool RemapRowVectorized() noexcept { return HaveAvx512(); }

template <class T>
void Remap(ConstView<T> src, TRect srcRoi, const float* xMap, std::ptrdiff_t xMapStride, const float* yMap,
           std::ptrdiff_t yMapStride, View<T> dst, int interpolation, int channelsToWrite) noexcept {
    TBox box;
    TMode mode;
    if (dst.Width <= 0 || dst.Height <= 0 || src.Channels <= 0 || !MakeBox(src.Width, src.Height, srcRoi, box) ||
        !ModeOf(interpolation, mode))
        return;
    const bool smooth = (unsigned(interpolation) & kSmoothEdge) != 0;
    const int write = ChannelsToWrite(src.Channels, channelsToWrite);
    for (int y = 0; y < dst.Height; ++y) {
        const float* xs = xMap + std::ptrdiff_t(y) * xMapStride;
        const float* ys = yMap + std::ptrdiff_t(y) * yMapStride;
        if (!RowVector(src, box, mode, xs, ys, dst.Row(y), dst.Width, smooth, write))
            RowDispatch(src, box, mode, xs, ys, dst.Row(y), dst.Width, smooth, write);
    }
}

template void Remap<uint8_t>(ConstView<uint8_t>, TRect, const float*, std::ptrdiff_t, const float*, std::ptrdiff_t,
                             View<uint8_t>, int, int) noexcept;
template void Remap<uint16_t>(ConstView<uint16_t>, TRect, const float*, std::ptrdiff_t, const float*,
                              std::ptrdiff_t, View<uint16_t>, int, int) noexcept;
template void RemapRow<uint8_t>(ConstView<uint8_t>, TRect, const float*, const float*, uint8_t*, int, int,
                                int) noexcept;
template void RemapRow<uint16_t>(ConstView<uint16_t>, TRect, const float*, const float*, uint16_t*, int, int,
                                 int) noexcept;
template void RemapRowScalar<uint8_t>(ConstView<uint8_t>, TRect, const float*, const float*, uint8_t*, int, int,
                                      int) noexcept;
template void RemapRowScalar<uint16_t>(ConstView<uint16_t>, TRect, const float*, const float*, uint16_t*, int,
                                       int, int) noexcept;

}  // namespace pixora::kernels
