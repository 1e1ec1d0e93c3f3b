// The fixed filters' divided masks straight through the kernel, on every instruction-set level:
// the rounded quotient floor((sum + d div 2) / d) at every remainder, the boundary ones included.
// The 8-bit 5 x 5 Gauss sums its parts in 16-bit lanes and the divisions by 571, 9 and 25 run as
// float products; both must give the integer result on every sum the samples can produce.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "platform/kernels/FixedFilters.h"
#include "platform/kernels/Neighbourhood.h"

namespace pixora {
namespace {

using kernels::TFixedKernel;
using kernels::nbh::TIsa;

class TIsaLimit {
public:
    explicit TIsaLimit(TIsa level) : FPrevious(kernels::nbh::LimitIsa(level)) {}
    ~TIsaLimit() { kernels::nbh::LimitIsa(FPrevious); }
    TIsaLimit(const TIsaLimit&) = delete;
    TIsaLimit& operator=(const TIsaLimit&) = delete;

private:
    TIsa FPrevious;
};

struct TMask {
    TFixedKernel Kernel;
    int Size;
    std::vector<int> Weights;  // row-major, symmetric, so correlation and convolution agree
    int Divisor;
};

const TMask KGauss5{TFixedKernel::Gauss5x5, 5,
                    {2, 7, 12, 7, 2, 7, 31, 52, 31, 7, 12, 52, 127, 52, 12, 7, 31, 52, 31, 7, 2, 7, 12, 7, 2},
                    571};
const TMask KLowpass3{TFixedKernel::Lowpass3x3, 3, std::vector<int>(9, 1), 9};
const TMask KLowpass5{TFixedKernel::Lowpass5x5, 5, std::vector<int>(25, 1), 25};

// Frames of uniform noise over the whole sample range, and mostly-bright ones (sums near the
// top of the range, where the quotient is largest).
template <class T>
std::vector<T> Noise(int width, int height, uint32_t seed, bool bright) {
    std::mt19937 random(seed);
    std::vector<T> samples(std::size_t(width) * std::size_t(height));
    const uint32_t maximum = SampleMax<T>;
    for (T& s : samples) {
        const uint32_t r = random() % (maximum + 1);
        s = T(bright ? maximum - r % (maximum / 16 + 1) : r);
    }
    return samples;
}

// Runs the mask over a one-channel frame on every level; checks each sample against the integer
// reference and counts the sums that fell on the last remainder below a rounding step and on the
// first one at it.
template <class T>
void ExpectExactQuotients(const TMask& mask, int width, int height, int frames) {
    const int reach = mask.Size / 2;
    int below = 0, at = 0;
    for (int f = 0; f < frames; ++f) {
        const std::vector<T> in = Noise<T>(width, height, 17u + uint32_t(f), f % 2 == 1);
        const ConstView<T> src{in.data(), width, width, height, 1};
        const TRect r{reach, reach, width - 2 * reach, height - 2 * reach};
        std::vector<T> expected(in.size(), 0);
        for (int y = r.Y; y < r.Y + r.Height; ++y)
            for (int x = r.X; x < r.X + r.Width; ++x) {
                long long sum = 0;
                for (int ky = 0; ky < mask.Size; ++ky)
                    for (int kx = 0; kx < mask.Size; ++kx)
                        sum += (long long)mask.Weights[std::size_t(ky * mask.Size + kx)] *
                               in[std::size_t((y - reach + ky) * width + (x - reach + kx))];
                const long long t = sum + mask.Divisor / 2;
                below += t % mask.Divisor == mask.Divisor - 1;
                at += t % mask.Divisor == 0;
                expected[std::size_t(y * width + x)] = T(std::min<long long>(t / mask.Divisor, SampleMax<T>));
            }
        for (const TIsa level : {TIsa::Avx512, TIsa::Avx2, TIsa::Baseline}) {
            const TIsaLimit limit(level);
            std::vector<T> out(in.size(), 0);
            ASSERT_TRUE(kernels::FixedFilter<T>(src, View<T>{out.data(), width, width, height, 1}, r, mask.Kernel));
            int failures = 0;
            for (std::size_t i = 0; i < out.size() && failures < 5; ++i)
                if (out[i] != expected[i]) {
                    ADD_FAILURE() << "level " << int(level) << " divisor " << mask.Divisor << " at " << i % width
                                  << "," << i / width << ": " << int(out[i]) << " instead of " << int(expected[i]);
                    ++failures;
                }
        }
    }
    // Every remainder class around the rounding step was actually produced.
    EXPECT_GT(below, 0) << "divisor " << mask.Divisor;
    EXPECT_GT(at, 0) << "divisor " << mask.Divisor;
}

TEST(FixedFilterQuotient, EightBitGauss5x5RoundsEverySumLikeIntegerDivision) {
    ExpectExactQuotients<uint8_t>(KGauss5, 301, 157, 4);
}

TEST(FixedFilterQuotient, EightBitLowpassRoundsEverySumLikeIntegerDivision) {
    ExpectExactQuotients<uint8_t>(KLowpass3, 97, 61, 2);
    ExpectExactQuotients<uint8_t>(KLowpass5, 97, 61, 2);
}

TEST(FixedFilterQuotient, SixteenBitDividedMasksRoundEverySumLikeIntegerDivision) {
    ExpectExactQuotients<uint16_t>(KGauss5, 211, 97, 2);
    ExpectExactQuotients<uint16_t>(KLowpass3, 211, 97, 2);
    ExpectExactQuotients<uint16_t>(KLowpass5, 211, 97, 2);
}

// A flat field at the maximum: the largest sum the mask can form comes back as the maximum.
TEST(FixedFilterQuotient, TheLargestSumGivesTheMaximum) {
    for (const TMask* mask : {&KGauss5, &KLowpass3, &KLowpass5}) {
        const std::vector<uint8_t> in(37 * 23, 255);
        std::vector<uint8_t> out(in.size(), 0);
        const int reach = mask->Size / 2;
        ASSERT_TRUE(kernels::FixedFilter<uint8_t>(ConstView<uint8_t>{in.data(), 37, 37, 23, 1},
                                                  View<uint8_t>{out.data(), 37, 37, 23, 1},
                                                  TRect{reach, reach, 37 - 2 * reach, 23 - 2 * reach}, mask->Kernel));
        EXPECT_EQ(out[std::size_t(10 * 37 + 10)], 255) << "divisor " << mask->Divisor;
    }
}

}  // namespace
}  // namespace pixora
