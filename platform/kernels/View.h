// Views over interleaved pixel rows: what every pure pixel kernel takes and writes.
#pragma once

#include <cstddef>
#include <cstdint>

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

template <class T>
inline constexpr T SampleMax = T(~T(0));

}  // namespace pixora
