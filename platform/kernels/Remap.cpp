// Remap through coordinate tables (see Remap.h for the contract: interpolations, borders, the
// smooth-edge blend). One body per interpolation, templated on the sample type and on the
// channel count (1, 3, 4 compiled as constants; any other count at run time).
#include "platform/kernels/Remap.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

#include <emmintrin.h>

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
    RowDispatch(src, box, mode, xs, ys, dstRow, count, smooth, ChannelsToWrite(src.Channels, channelsToWrite));
}

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
    for (int y = 0; y < dst.Height; ++y)
        RowDispatch(src, box, mode, xMap + std::ptrdiff_t(y) * xMapStride, yMap + std::ptrdiff_t(y) * yMapStride,
                    dst.Row(y), dst.Width, smooth, write);
}

template void Remap<uint8_t>(ConstView<uint8_t>, TRect, const float*, std::ptrdiff_t, const float*, std::ptrdiff_t,
                             View<uint8_t>, int, int) noexcept;
template void Remap<uint16_t>(ConstView<uint16_t>, TRect, const float*, std::ptrdiff_t, const float*,
                              std::ptrdiff_t, View<uint16_t>, int, int) noexcept;
template void RemapRow<uint8_t>(ConstView<uint8_t>, TRect, const float*, const float*, uint8_t*, int, int,
                                int) noexcept;
template void RemapRow<uint16_t>(ConstView<uint16_t>, TRect, const float*, const float*, uint16_t*, int, int,
                                 int) noexcept;

}  // namespace pixora::kernels
