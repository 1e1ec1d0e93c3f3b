// Negative and solarize over a rectangle of interleaved samples, plus a rectangle copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "platform/kernels/View.h"

namespace pixora::kernels {

namespace detail {

// The per-sample arithmetic, defined once. Every path (the dispatched 8- and 16-bit rows, any
// other sample type) runs these bodies; they are written so that GCC vectorizes them.

// constant - s; a sample above the constant gives 0 instead of wrapping around.
template <class T>
[[gnu::always_inline]] inline void SubtractFromConstantSamples(const T* src, T* dst, std::size_t n,
                                                               T constant) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
        const T s = src[i];
        dst[i] = s > constant ? T(0) : T(constant - s);
    }
}

// A sample strictly below the level becomes full scale - s; any other sample is copied.
template <class T>
[[gnu::always_inline]] inline void SolarizeSamples(const T* src, T* dst, std::size_t n,
                                                   T level) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
        const T s = src[i];
        dst[i] = s < level ? T(SampleMax<T> - s) : s;
    }
}

// Rows of 8- and 16-bit samples, compiled for several instruction sets and chosen at load time
// by the CPU's capabilities (Point.cpp).
void SubtractFromConstantRow(const uint8_t* src, uint8_t* dst, std::size_t n, uint8_t constant) noexcept;
void SubtractFromConstantRow(const uint16_t* src, uint16_t* dst, std::size_t n, uint16_t constant) noexcept;
void SolarizeRow(const uint8_t* src, uint8_t* dst, std::size_t n, uint8_t level) noexcept;
void SolarizeRow(const uint16_t* src, uint16_t* dst, std::size_t n, uint16_t level) noexcept;

template <class T>
inline constexpr bool HasDispatchedRows = std::is_same_v<T, uint8_t> || std::is_same_v<T, uint16_t>;

// Calls fn(srcRun, dstRun, samples) for each row of r: the run starts at sample r.X * Channels
// and holds r.Width * Channels samples. Rows without padding between them form one run.
template <class T, class RowFn>
inline void ForEachRun(ConstView<T> src, View<T> dst, TRect r, RowFn fn) noexcept {
    if (r.Empty()) return;
    const std::size_t n = std::size_t(r.Width) * std::size_t(dst.Channels);
    const std::ptrdiff_t x0 = std::ptrdiff_t(r.X) * dst.Channels;
    if (src.Stride == dst.Stride && src.Stride > 0 && std::size_t(src.Stride) == n) {
        fn(src.Row(r.Y) + x0, dst.Row(r.Y) + x0, n * std::size_t(r.Height));
        return;
    }
    for (int y = r.Y; y < r.Y + r.Height; ++y) fn(src.Row(y) + x0, dst.Row(y) + x0, n);
}

}  // namespace detail

// Rectangle r of dst (all channels) becomes constant - src, saturating at 0. Only samples inside
// r are written; r must lie inside both views, which share one channel count. dst may be src
// itself (in place).
template <class T>
void SubtractFromConstant2D(ConstView<T> src, View<T> dst, TRect r, T constant) noexcept {
    static_assert(std::is_unsigned_v<T>, "samples are unsigned integers");
    detail::ForEachRun(src, dst, r, [constant](const T* s, T* d, std::size_t n) {
        if constexpr (detail::HasDispatchedRows<T>)
            detail::SubtractFromConstantRow(s, d, n, constant);
        else
            detail::SubtractFromConstantSamples(s, d, n, constant);
    });
}

// Rectangle r of dst: a src sample below level becomes SampleMax<T> - s, any other is copied.
// Level 0 copies everything; level SampleMax<T> inverts all samples except full scale. Same
// rectangle rules as SubtractFromConstant2D.
template <class T>
void Solarize2D(ConstView<T> src, View<T> dst, TRect r, T level) noexcept {
    static_assert(std::is_unsigned_v<T>, "samples are unsigned integers");
    detail::ForEachRun(src, dst, r, [level](const T* s, T* d, std::size_t n) {
        if constexpr (detail::HasDispatchedRows<T>)
            detail::SolarizeRow(s, d, n, level);
        else
            detail::SolarizeSamples(s, d, n, level);
    });
}

// Copies rectangle r (all channels) from src to dst; nothing else in dst changes.
template <class T>
void CopyRect(ConstView<T> src, View<T> dst, TRect r) noexcept {
    if (src.Data == dst.Data && src.Stride == dst.Stride) return;
    detail::ForEachRun(src, dst, r, [](const T* s, T* d, std::size_t n) {
        std::memcpy(d, s, n * sizeof(T));
    });
}

// Primitive entry points in the framework's calling shape: source pointer, source line size,
// source size, destination pointer, destination line size, destination size, channel count,
// rectangle, then the primitive's own parameter. 8-bit forms take line sizes in bytes, 16-bit
// forms in words (16-bit frames are one channel). The rectangle is cut to both sizes; only
// samples inside it are written. Null pointers, a channel count below 1 or an empty rectangle
// write nothing.
void SubtractFromConstant2D8bit(const uint8_t* src, int srcLineSize, TSize srcSize, uint8_t* dst,
                                int dstLineSize, TSize dstSize, int channels, TRect rect,
                                uint8_t constant) noexcept;
void SubtractFromConstant2D16bit(const uint16_t* src, int srcLineSize, TSize srcSize, uint16_t* dst,
                                 int dstLineSize, TSize dstSize, int channels, TRect rect,
                                 uint16_t constant) noexcept;
void Solarize2D8bit(const uint8_t* src, int srcLineSize, TSize srcSize, uint8_t* dst,
                    int dstLineSize, TSize dstSize, int channels, TRect rect, uint8_t level) noexcept;
void Solarize2D16bit(const uint16_t* src, int srcLineSize, TSize srcSize, uint16_t* dst,
                     int dstLineSize, TSize dstSize, int channels, TRect rect,
                     uint16_t level) noexcept;

}  // namespace pixora::kernels
