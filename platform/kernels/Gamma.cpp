// The BT.709 gamma functions on 8-bit samples; filters apply them through a table.
#include "platform/kernels/Gamma.h"

#include <algorithm>
#include <cmath>

namespace pixora::kernels {

uint8_t GammaSample8(uint8_t v, bool inverse) noexcept {
    const double x = double(v) / 255.0;
    // The result scaled to 0..255. The linear segments are computed on v itself, so that their
    // exact halves (4.5 v for odd v) stay exact.
    double scaled;
    if (!inverse)
        scaled = x < 0.018 ? 4.5 * double(v) : (1.099 * std::pow(x, 0.45) - 0.099) * 255.0;
    else
        scaled = x < 0.0812 ? double(v) / 4.5 : std::pow((x + 0.099) / 1.099, 1.0 / 0.45) * 255.0;
    return uint8_t(std::clamp(std::round(scaled), 0.0, 255.0));  // std::round: halves away from zero
}

void BuildGammaTable8(bool inverse, uint8_t table[256]) noexcept {
    for (int v = 0; v < 256; ++v) table[v] = GammaSample8(uint8_t(v), inverse);
}

}  // namespace pixora::kernels
