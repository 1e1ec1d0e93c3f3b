#include "platform/kernels/ThreeChannelPermutes.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace pixora::kernels::detail {

const TThreeChannelPermutes& ThreeChannelPermutes() noexcept {
    static const TThreeChannelPermutes permutes = [] {
        TThreeChannelPermutes t{};
        for (int q = 0; q < 4; ++q) t.Low[q] = std::min(48 * q / 64, 1);
        for (int k = 0; k < 3; ++k)
            for (int q = 0; q < 4; ++q) {
                alignas(64) uint8_t index[64] = {};
                for (int i = 0; i < 64; i += 4) index[i] = uint8_t(3 * (16 * q + i / 4) + k - 64 * t.Low[q]);
                std::memcpy(&t.In[k][q], index, 64);
            }
        for (int j = 0; j < 3; ++j) {
            alignas(64) uint8_t pair[64], third[64];
            for (int i = 0; i < 64; ++i) {
                const int b = 64 * j + i, p = b / 3, k = b % 3;
                const int at = 16 * ((p % 16) / 4) + 4 * (p / 16) + p % 4;
                pair[i] = uint8_t(at + 64 * (k & 1));
                third[i] = uint8_t(at);
                if (k == 2) t.ThirdMask[j] |= __mmask64(1) << i;
            }
            std::memcpy(&t.OutPair[j], pair, 64);
            std::memcpy(&t.OutThird[j], third, 64);
        }
        return t;
    }();
    return permutes;
}

}  // namespace pixora::kernels::detail
