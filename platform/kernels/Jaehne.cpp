// The Jaehne test pattern, computed once per quarter of the frame and mirrored.
#include "platform/kernels/Jaehne.h"

#include <cmath>
#include <cstddef>
#include <cstring>

namespace pixora::kernels {

int ImageJaehne_8u_C3R(uint8_t* dst, int dstStep, TSize size) noexcept {
    if (dst == nullptr) return ippStsNullPtrErr;
    if (dstStep <= 0) return ippStsStepErr;
    if (size.Width <= 0 || size.Height <= 0) return ippStsSizeErr;

    const int w = size.Width, h = size.Height;
    const double cx = 0.5 * (w - 1);
    const double cy = 0.5 * (h - 1);
    const double twoPi = 2.0 * 3.14159265358979323846;
    const double ringScale = 4.0 * h;

    // x - cx and (w - 1 - x) - cx are exact negatives of each other in double (both are
    // multiples of 0.5 far inside the mantissa), so the pattern is exactly symmetric about both
    // centre lines: compute the top-left quarter with the formula as written and mirror it.
    const std::size_t rowBytes = std::size_t(w) * 3;
    for (int y = 0; y < (h + 1) / 2; ++y) {
        const double dy2 = (y - cy) * (y - cy);
        uint8_t* row = dst + std::ptrdiff_t(y) * dstStep;
        for (int x = 0; x < (w + 1) / 2; ++x) {
            const double r2 = (x - cx) * (x - cx) + dy2;
            // Truncation toward zero; the value lies in [0, 256).
            const uint8_t v = uint8_t(int((std::sin(r2 * twoPi / ringScale) + 1.0) * 127.99999));
            uint8_t* left = row + std::ptrdiff_t(x) * 3;
            uint8_t* right = row + std::ptrdiff_t(w - 1 - x) * 3;
            left[0] = left[1] = left[2] = v;
            right[0] = right[1] = right[2] = v;
        }
        const int mirrorY = h - 1 - y;
        if (mirrorY != y) std::memmove(dst + std::ptrdiff_t(mirrorY) * dstStep, row, rowBytes);
    }
    return ippStsNoErr;
}

}  // namespace pixora::kernels
