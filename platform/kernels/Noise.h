// Additive uniform and Gaussian noise over a rectangle, in place, from a counter-based random
// generator: the value added to a sample depends only on the key and the sample's position in
// the rectangle, so results repeat exactly across runs, bands and thread counts.
#pragma once

#include <cstdint>

#include "platform/kernels/View.h"

namespace pixora::kernels {

// SplitMix64's finaliser: a bijective 64-bit mix (Steele, Lea and Flood, 2014).
constexpr uint64_t Mix64(uint64_t x) noexcept {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// The next working seed of a stream: IPP's noise functions advance their seed from call to
// call; ours takes the low 16 bits of the mixed seed (never 0 after 0, so a stream never sticks).
constexpr uint16_t NextSeed(uint16_t seed) noexcept { return uint16_t(Mix64(seed) | 1u); }

// Adds an integer uniformly distributed in [low, high] to each of the first `channels` samples
// of every pixel in r (the others, such as alpha, stay), saturating at 0 and the sample maximum.
template <class T>
void AddRandUniform(View<T> data, TRect r, int channels, int low, int high, uint16_t seed) noexcept;
// Adds round(mean + stdDev * z), z standard normal (Box-Muller on two uniforms), saturating.
template <class T>
void AddRandGauss(View<T> data, TRect r, int channels, double mean, double stdDev, uint16_t seed) noexcept;

extern template void AddRandUniform<uint8_t>(View<uint8_t>, TRect, int, int, int, uint16_t) noexcept;
extern template void AddRandUniform<uint16_t>(View<uint16_t>, TRect, int, int, int, uint16_t) noexcept;
extern template void AddRandGauss<uint8_t>(View<uint8_t>, TRect, int, double, double, uint16_t) noexcept;
extern template void AddRandGauss<uint16_t>(View<uint16_t>, TRect, int, double, double, uint16_t) noexcept;

// The uniform draw of one sample: its index counts samples row by row from the rectangle's
// top-left corner (channels that are skipped still count).
inline uint64_t NoiseBits(uint16_t seed, uint64_t index, uint64_t stream = 0) noexcept {
    return Mix64((uint64_t(seed) << 48) ^ (stream << 44) ^ index);
}

}  // namespace pixora::kernels
