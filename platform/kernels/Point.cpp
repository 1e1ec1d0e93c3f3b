// Negative and solarize rows compiled per instruction set, and the framework-shaped entry points.
#include "platform/kernels/Point.h"
#include "platform/base/PXTargetClones.h"

#include <algorithm>

namespace pixora::kernels {

namespace detail {

// Each row function is cloned for AVX2 and for the x86-64 baseline (SSE2); the loader picks the
// clone once, by the CPU's capabilities. The bodies are the shared templates of Point.h.

PIXORA_TARGET_CLONES("avx2", "default")
void SubtractFromConstantRow(const uint8_t* src, uint8_t* dst, std::size_t n, uint8_t constant) noexcept {
    SubtractFromConstantSamples(src, dst, n, constant);
}

PIXORA_TARGET_CLONES("avx2", "default")
void SubtractFromConstantRow(const uint16_t* src, uint16_t* dst, std::size_t n, uint16_t constant) noexcept {
    SubtractFromConstantSamples(src, dst, n, constant);
}

PIXORA_TARGET_CLONES("avx2", "default")
void SolarizeRow(const uint8_t* src, uint8_t* dst, std::size_t n, uint8_t level) noexcept {
    SolarizeSamples(src, dst, n, level);
}

PIXORA_TARGET_CLONES("avx2", "default")
void SolarizeRow(const uint16_t* src, uint16_t* dst, std::size_t n, uint16_t level) noexcept {
    SolarizeSamples(src, dst, n, level);
}

}  // namespace detail

namespace {

// The rectangle cut to both frame sizes; empty when nothing of it lies inside both.
TRect ClipToBoth(TRect r, TSize a, TSize b) noexcept {
    const int64_t x0 = std::max<int64_t>(r.X, 0);
    const int64_t y0 = std::max<int64_t>(r.Y, 0);
    const int64_t x1 = std::min<int64_t>({int64_t(r.X) + r.Width, a.Width, b.Width});
    const int64_t y1 = std::min<int64_t>({int64_t(r.Y) + r.Height, a.Height, b.Height});
    if (x1 <= x0 || y1 <= y0) return {};
    return {int(x0), int(y0), int(x1 - x0), int(y1 - y0)};
}

// Builds the views of a framework-shaped call and runs op over the clipped rectangle.
template <class T, class Op>
void RunPrimitive(const T* src, int srcLineSize, TSize srcSize, T* dst, int dstLineSize, TSize dstSize,
                  int channels, TRect rect, Op op) noexcept {
    if (src == nullptr || dst == nullptr || channels < 1) return;
    const TRect r = ClipToBoth(rect, srcSize, dstSize);
    if (r.Empty()) return;
    const ConstView<T> s{src, srcLineSize, srcSize.Width, srcSize.Height, channels};
    const View<T> d{dst, dstLineSize, dstSize.Width, dstSize.Height, channels};
    op(s, d, r);
}

}  // namespace

void SubtractFromConstant2D8bit(const uint8_t* src, int srcLineSize, TSize srcSize, uint8_t* dst,
                                int dstLineSize, TSize dstSize, int channels, TRect rect,
                                uint8_t constant) noexcept {
    RunPrimitive(src, srcLineSize, srcSize, dst, dstLineSize, dstSize, channels, rect,
                 [constant](ConstView<uint8_t> s, View<uint8_t> d, TRect r) {
                     SubtractFromConstant2D(s, d, r, constant);
                 });
}

void SubtractFromConstant2D16bit(const uint16_t* src, int srcLineSize, TSize srcSize, uint16_t* dst,
                                 int dstLineSize, TSize dstSize, int channels, TRect rect,
                                 uint16_t constant) noexcept {
    RunPrimitive(src, srcLineSize, srcSize, dst, dstLineSize, dstSize, channels, rect,
                 [constant](ConstView<uint16_t> s, View<uint16_t> d, TRect r) {
                     SubtractFromConstant2D(s, d, r, constant);
                 });
}

void Solarize2D8bit(const uint8_t* src, int srcLineSize, TSize srcSize, uint8_t* dst,
                    int dstLineSize, TSize dstSize, int channels, TRect rect, uint8_t level) noexcept {
    RunPrimitive(src, srcLineSize, srcSize, dst, dstLineSize, dstSize, channels, rect,
                 [level](ConstView<uint8_t> s, View<uint8_t> d, TRect r) { Solarize2D(s, d, r, level); });
}

void Solarize2D16bit(const uint16_t* src, int srcLineSize, TSize srcSize, uint16_t* dst,
                     int dstLineSize, TSize dstSize, int channels, TRect rect,
                     uint16_t level) noexcept {
    RunPrimitive(src, srcLineSize, srcSize, dst, dstLineSize, dstSize, channels, rect,
                 [level](ConstView<uint16_t> s, View<uint16_t> d, TRect r) { Solarize2D(s, d, r, level); });
}

}  // namespace pixora::kernels
