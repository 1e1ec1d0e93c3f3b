// Noise kernels: one draw per sample from the counter-based generator.
#include "platform/kernels/Noise.h"

#include <algorithm>
#include <cmath>

namespace pixora::kernels {

template <class T>
void AddRandUniform(View<T> data, TRect r, int channels, int low, int high, uint16_t seed) noexcept {
    const int stride = data.Channels;
    const uint64_t span = uint64_t(int64_t(high) - int64_t(low) + 1);
    for (int y = 0; y < r.Height; ++y) {
        T* row = data.Row(r.Y + y) + std::ptrdiff_t(r.X) * stride;
        const uint64_t base = uint64_t(y) * uint64_t(r.Width) * uint64_t(stride);
        for (int i = 0; i < r.Width * stride; ++i) {
            if (i % stride >= channels) continue;
            // Lemire's multiply-shift maps 32 random bits onto [0, span) without a division.
            const uint64_t bits = NoiseBits(seed, base + uint64_t(i)) >> 32;
            const int64_t noise = int64_t(low) + int64_t((bits * span) >> 32);
            row[i] = T(std::clamp<int64_t>(int64_t(row[i]) + noise, 0, SampleMax<T>));
        }
    }
}

template <class T>
void AddRandGauss(View<T> data, TRect r, int channels, double mean, double stdDev, uint16_t seed) noexcept {
    const int stride = data.Channels;
    constexpr double KTwoPi = 6.283185307179586476925286766559;
    for (int y = 0; y < r.Height; ++y) {
        T* row = data.Row(r.Y + y) + std::ptrdiff_t(r.X) * stride;
        const uint64_t base = uint64_t(y) * uint64_t(r.Width) * uint64_t(stride);
        for (int i = 0; i < r.Width * stride; ++i) {
            if (i % stride >= channels) continue;
            // Two uniforms in (0, 1] and [0, 1) from 53 bits each.
            const double u1 = (double(NoiseBits(seed, base + uint64_t(i), 1) >> 11) + 1.0) * 0x1.0p-53;
            const double u2 = double(NoiseBits(seed, base + uint64_t(i), 2) >> 11) * 0x1.0p-53;
            const double z = std::sqrt(-2.0 * std::log(u1)) * std::cos(KTwoPi * u2);
            const double noise = std::nearbyint(mean + stdDev * z);
            const double value = std::clamp(double(row[i]) + noise, 0.0, double(SampleMax<T>));
            row[i] = T(value);
        }
    }
}

template void AddRandUniform<uint8_t>(View<uint8_t>, TRect, int, int, int, uint16_t) noexcept;
template void AddRandUniform<uint16_t>(View<uint16_t>, TRect, int, int, int, uint16_t) noexcept;
template void AddRandGauss<uint8_t>(View<uint8_t>, TRect, int, double, double, uint16_t) noexcept;
template void AddRandGauss<uint16_t>(View<uint16_t>, TRect, int, double, double, uint16_t) noexcept;

}  // namespace pixora::kernels
