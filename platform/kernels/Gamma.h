// Gamma correction of 8-bit samples with the ITU-R BT.709 transfer function, as the vendor
// functions ippiGammaFwd_8u and ippiGammaInv_8u define it.
#pragma once

#include <cstdint>

namespace pixora::kernels {

// One sample, normalised to x = v / 255:
// - forward: x < 0.018 gives 4.5 x, else 1.099 x^0.45 - 0.099;
// - inverse: x < 0.0812 gives x / 4.5, else ((x + 0.099) / 1.099)^(1 / 0.45);
// the result times 255, in double precision, rounded to the nearest integer (halves away from
// zero: the forward linear segment gives exact halves for odd v, so 1 becomes 5 and 3 becomes 14)
// and saturated to 0..255.
uint8_t GammaSample8(uint8_t v, bool inverse) noexcept;

// table[v] = GammaSample8(v, inverse) for every 8-bit v.
void BuildGammaTable8(bool inverse, uint8_t table[256]) noexcept;

}  // namespace pixora::kernels
