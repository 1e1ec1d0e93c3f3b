// Padded sample planes and seeded random fills for the pixel kernel and conversion tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "platform/kernels/View.h"

namespace pixora::test {

// Uniformly random samples over T's whole range, reproducible from the seed.
template <class T>
void FillRandom(std::vector<T>& samples, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<uint32_t> dist(0, T(~T(0)));
    for (T& s : samples) s = T(dist(rng));
}

// Interleaved samples with Pad extra samples at the end of every row, so that a kernel writing
// past its row shows up as a changed padding sample.
template <class T>
struct TPlane {
    int Width = 0, Height = 0, Channels = 1;
    std::ptrdiff_t Stride = 0;
    std::vector<T> Samples;

    TPlane(int width, int height, int channels, int pad, uint32_t seed)
        : Width(width), Height(height), Channels(channels),
          Stride(std::ptrdiff_t(width) * channels + pad),
          Samples(std::size_t(Stride) * std::size_t(height)) {
        FillRandom(Samples, seed);
    }

    T& At(int x, int y, int c) { return Samples[std::size_t(y * Stride + x * Channels + c)]; }
    T At(int x, int y, int c) const { return Samples[std::size_t(y * Stride + x * Channels + c)]; }
    View<T> AsView() { return {Samples.data(), Stride, Width, Height, Channels}; }
    ConstView<T> AsConstView() const { return {Samples.data(), Stride, Width, Height, Channels}; }
};

}  // namespace pixora::test
