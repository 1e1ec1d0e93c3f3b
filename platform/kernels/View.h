// Views over interleaved pixel rows: what every pure pixel kernel takes and writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace pixora {

// A rectangle in pixels: X, Y of its top-left corner, then its size.
struct TRect {
    int X = 0, Y = 0, Width = 0, Height = 0;
    bool Empty() const noexcept { return Width <= 0 || Height <= 0; }
    friend bool operator==(const TRect&, const TRect&) = default;
};

// A size in pixels.
struct TSize {
    int Width = 0, Height = 0;
    friend bool operator==(const TSize&, const TSize&) = default;
};

// Stride is in samples of T (bytes for 8-bit, words for 16-bit); Channels is samples per pixel.
template <class T>
struct ConstView {
    const T* Data = nullptr;
    std::ptrdiff_t Stride = 0;
    int Width = 0, Height = 0, Channels = 1;
    const T* Row(int y) const noexcept { return Data + std::ptrdiff_t(y) * Stride; }
};

template <class T>
struct View {
    T* Data = nullptr;
    std::ptrdiff_t Stride = 0;
    int Width = 0, Height = 0, Channels = 1;
    T* Row(int y) const noexcept { return Data + std::ptrdiff_t(y) * Stride; }
    operator ConstView<T>() const noexcept { return {Data, Stride, Width, Height, Channels}; }
};

// Copies what a kernel over `rect` leaves alone in rows [y0, y1) of a frame from src to dst: the
// whole row for rows outside the rectangle's rows or when `wholeRows` is set (kernels that leave
// some samples of the rectangle unwritten, such as a fourth channel), else the parts left and
// right of the rectangle. A band calls it for its own rows, so the copy runs in parallel with the
// other bands instead of as one serial whole-frame copy ahead of them.
template <class T>
void CopyAroundRect(ConstView<T> src, View<T> dst, const TRect& rect, int y0, int y1, bool wholeRows) noexcept {
    const std::ptrdiff_t rowSamples = std::ptrdiff_t(dst.Width) * dst.Channels;
    const std::ptrdiff_t left = std::ptrdiff_t(rect.X) * dst.Channels;
    const std::ptrdiff_t right = std::ptrdiff_t(rect.X + rect.Width) * dst.Channels;
    for (int y = y0; y < y1; ++y) {
        const T* s = src.Row(y);
        T* d = dst.Row(y);
        if (wholeRows || y < rect.Y || y >= rect.Y + rect.Height) {
            std::memcpy(d, s, std::size_t(rowSamples) * sizeof(T));
        } else {
            std::memcpy(d, s, std::size_t(left) * sizeof(T));
            std::memcpy(d + right, s + right, std::size_t(rowSamples - right) * sizeof(T));
        }
    }
}

template <class T>
inline constexpr T SampleMax = T(~T(0));

}  // namespace pixora
