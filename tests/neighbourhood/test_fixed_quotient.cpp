// The fixed filters' divided masks straight through the kernel, on every instruction-set level:
// the rounded quotient floor((sum + d div 2) / d) at every remainder, the boundary ones included.
// The 8-bit 5 x 5 Gauss sums its parts in 16-bit lanes and the divisions by 571, 9 and 25 run as
// float products; both must give the integer result on every sum the samples can produce.
#include <gtest/gtest.h>

#include <algorithm>
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

// The 8-bit 5 x 5 Gauss on one, three and four channels, on every level, over rectangles whose
// widths end at every position of a vector step and cross the pieces a row is cut into, placed
// away from the frame's left edge: every sample of the rectangle matches the integer sum, the
// fourth channel and everything outside the rectangle keep what the output held.
TEST(FixedFilterQuotient, EightBitGauss5x5OnEveryChannelCountWidthAndLevel) {
    std::mt19937 random(5);
    const int widths[] = {1, 2, 3, 7, 8, 9, 10, 11, 12, 13, 31, 32, 33, 63, 64, 65, 127, 170, 171, 172, 255, 300, 513, 700};
    for (const int channels : {1, 3, 4}) {
        for (const int rw : widths) {
            const int width = rw + 9, height = 9;
            const TRect r{3, 2, rw, 5};
            std::vector<uint8_t> in(std::size_t(width) * height * channels);
            const bool bright = rw % 2 == 1;
            for (uint8_t& v : in) v = uint8_t(bright ? 255 - random() % 20 : random() % 256);
            const ConstView<uint8_t> src{in.data(), width * channels, width, height, channels};
            std::vector<uint8_t> expected(in.size(), 77);
            for (int y = r.Y; y < r.Y + r.Height; ++y)
                for (int x = r.X; x < r.X + r.Width; ++x)
                    for (int c = 0; c < std::min(channels, 3); ++c) {
                        long long sum = 0;
                        for (int ky = 0; ky < 5; ++ky)
                            for (int kx = 0; kx < 5; ++kx)
                                sum += (long long)KGauss5.Weights[std::size_t(ky * 5 + kx)] *
                                       in[std::size_t(((y - 2 + ky) * width + (x - 2 + kx)) * channels + c)];
                        expected[std::size_t((y * width + x) * channels + c)] =
                            uint8_t(std::min<long long>((sum + 285) / 571, 255));
                    }
            for (const TIsa level : {TIsa::Avx512, TIsa::Avx2, TIsa::Baseline}) {
                const TIsaLimit limit(level);
                std::vector<uint8_t> out(in.size(), 77);
                ASSERT_TRUE(kernels::FixedFilter<uint8_t>(
                    src, View<uint8_t>{out.data(), width * channels, width, height, channels}, r,
                    TFixedKernel::Gauss5x5));
                for (std::size_t i = 0; i < out.size(); ++i)
                    ASSERT_EQ(int(out[i]), int(expected[i]))
                        << "level " << int(level) << ", " << channels << " channels, width " << rw << ", sample "
                        << i % std::size_t(width * channels) << " of row " << i / std::size_t(width * channels);
            }
        }
    }
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
