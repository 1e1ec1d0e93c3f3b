// The Jaehne test pattern against its per-pixel formula, and the status codes of bad calls.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "platform/kernels/Jaehne.h"

namespace pixora {
namespace {

// The pattern value of one pixel, straight from the definition.
uint8_t ReferencePixel(int x, int y, int w, int h) {
    const double pi = std::acos(-1.0);
    const double cx = 0.5 * (w - 1), cy = 0.5 * (h - 1);
    const double r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
    const double value = (std::sin(r2 * (2.0 * pi) / (4.0 * h)) + 1.0) * 127.99999;
    return uint8_t(std::trunc(value));
}

TEST(JaehnePattern, MatchesFormulaOnOddAndEvenSizesWithPaddedRows) {
    const TSize sizes[] = {{1, 1}, {2, 1}, {1, 2}, {3, 3}, {4, 2}, {37, 23}, {64, 48}, {65, 31}, {320, 240}, {641, 479}};
    for (const TSize size : sizes) {
        SCOPED_TRACE(testing::Message() << size.Width << "x" << size.Height);
        const int step = size.Width * 3 + 5;
        std::vector<uint8_t> frame(std::size_t(step) * size.Height, 0xA5);
        ASSERT_EQ(kernels::ImageJaehne_8u_C3R(frame.data(), step, size), kernels::ippStsNoErr);
        std::size_t bad = 0;
        for (int y = 0; y < size.Height; ++y) {
            const uint8_t* row = frame.data() + std::size_t(y) * step;
            for (int x = 0; x < size.Width; ++x) {
                const uint8_t want = ReferencePixel(x, y, size.Width, size.Height);
                for (int c = 0; c < 3; ++c) bad += row[x * 3 + c] != want;
            }
            for (int i = size.Width * 3; i < step; ++i) ASSERT_EQ(row[i], 0xA5) << "padding of row " << y;
        }
        EXPECT_EQ(bad, 0u);
    }
}

TEST(JaehnePattern, CentreOfOddFrameIsMidGrey) {
    for (const TSize size : {TSize{1, 1}, TSize{5, 3}, TSize{37, 23}, TSize{101, 99}}) {
        std::vector<uint8_t> frame(std::size_t(size.Width) * 3 * size.Height);
        ASSERT_EQ(kernels::ImageJaehne_8u_C3R(frame.data(), size.Width * 3, size), kernels::ippStsNoErr);
        const std::size_t centre = std::size_t(size.Height / 2) * size.Width * 3 + std::size_t(size.Width / 2) * 3;
        EXPECT_EQ(frame[centre], 127) << size.Width << "x" << size.Height;
        EXPECT_EQ(frame[centre + 1], 127);
        EXPECT_EQ(frame[centre + 2], 127);
    }
}

// Bad arguments return their status in the order null pointer, step, size, and write nothing.
TEST(JaehnePattern, StatusCodes) {
    std::vector<uint8_t> frame(300, 7);
    const std::vector<uint8_t> untouched = frame;
    EXPECT_EQ(kernels::ImageJaehne_8u_C3R(nullptr, 30, {10, 10}), -8);
    EXPECT_EQ(kernels::ImageJaehne_8u_C3R(nullptr, 0, {0, 0}), -8);
    EXPECT_EQ(kernels::ImageJaehne_8u_C3R(frame.data(), 0, {10, 10}), -14);
    EXPECT_EQ(kernels::ImageJaehne_8u_C3R(frame.data(), -30, {10, 10}), -14);
    EXPECT_EQ(kernels::ImageJaehne_8u_C3R(frame.data(), 0, {0, 10}), -14);
    EXPECT_EQ(kernels::ImageJaehne_8u_C3R(frame.data(), 30, {0, 10}), -6);
    EXPECT_EQ(kernels::ImageJaehne_8u_C3R(frame.data(), 30, {10, 0}), -6);
    EXPECT_EQ(kernels::ImageJaehne_8u_C3R(frame.data(), 30, {-1, 10}), -6);
    EXPECT_EQ(kernels::ImageJaehne_8u_C3R(frame.data(), 30, {10, -5}), -6);
    EXPECT_EQ(frame, untouched);
    EXPECT_EQ(kernels::ImageJaehne_8u_C3R(frame.data(), 30, {10, 10}), 0);
}

}  // namespace
}  // namespace pixora
