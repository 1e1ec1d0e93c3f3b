// Apply alpha: colour from the first input, alpha from the second (its alpha byte or its grey
// sample), against a per-pixel reference.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "platform/kernels/Combine.h"

namespace pixora {
namespace {

std::vector<uint8_t> RandomBytes(std::size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (uint8_t& b : v) b = uint8_t(rng());
    return v;
}

TEST(ApplyAlphaKernel, ColourFromInputOneAlphaFromTheAlphaInputInBothAlphaFormats) {
    const int w = 37, h = 23, x0 = 2, y0 = 1, rw = 33, rh = 20;
    for (int alphaBytes : {4, 1}) {
        const std::ptrdiff_t cs = w * 4 + 8, as = w * alphaBytes + 3, ds = w * 4 + 12;
        const auto colour = RandomBytes(std::size_t(cs * h), 1), alpha = RandomBytes(std::size_t(as * h), 2);
        const auto before = RandomBytes(std::size_t(ds * h), 3);
        auto dst = before;
        kernels::ApplyAlphaOp(colour.data() + y0 * cs + x0 * 4, cs, alpha.data() + y0 * as + x0 * alphaBytes,
                              alphaBytes, as, dst.data() + y0 * ds + x0 * 4, ds, {rw, rh});
        for (int y = 0; y < h; ++y)
            for (std::ptrdiff_t i = 0; i < ds; ++i) {
                const int x = int(i / 4), c = int(i % 4);
                const bool inside = i < w * 4 && x >= x0 && x < x0 + rw && y >= y0 && y < y0 + rh;
                uint8_t want = before[std::size_t(y * ds + i)];
                if (inside)
                    want = c < 3 ? colour[std::size_t(y * cs + x * 4 + c)]
                                 : alpha[std::size_t(y * as + x * alphaBytes + (alphaBytes - 1))];
                ASSERT_EQ(dst[std::size_t(y * ds + i)], want) << "alpha bytes " << alphaBytes << " at " << x << "," << y
                                                              << " channel " << c;
            }
    }
}

TEST(ApplyAlphaKernel, UnsupportedAlphaPixelSizeWritesNothing) {
    const auto colour = RandomBytes(64, 4), alpha = RandomBytes(64, 5), before = RandomBytes(64, 6);
    auto dst = before;
    kernels::ApplyAlphaOp(colour.data(), 16, alpha.data(), 3, 16, dst.data(), 16, {4, 4});
    kernels::ApplyAlphaOp(colour.data(), 16, nullptr, 4, 16, dst.data(), 16, {4, 4});
    EXPECT_EQ(dst, before);
}

}  // namespace
}  // namespace pixora
