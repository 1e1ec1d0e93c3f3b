// Box statistics of a rectangular window, per channel: mean, minimum, maximum and median.
#pragma once

#include <cstdint>

#include "platform/kernels/Neighbourhood.h"
#include "platform/kernels/View.h"

namespace pixora::kernels {

// The window: Width × Height samples of one channel, its cell (AnchorX, AnchorY) over the output
// sample, so that output (x, y) reads src(x - AnchorX + KX, y - AnchorY + KY). Positions outside
// src are mirrored by MirrorIndex.
struct TBoxWindow {
    int Width = 0, Height = 0;
    int AnchorX = 0, AnchorY = 0;
};

// Common rules: every sample of rectangle r of dst (all channels) is written from the window of
// the same channel in src; r must lie inside dst and inside src's frame size; src and dst must not
// overlap; nothing outside r is written; a window below 1 × 1 writes nothing. Each function gives
// the same bits as the matching OpenCL kernel of the template "BoxFilter".

// Mean: acc = the window's sum in float, added KY outer, KX inner; result = round(acc *
// coefficient), halves away from zero, saturated to 0 .. SampleMax<T> (NaN gives 0). While
// Width × Height × SampleMax<T> <= 2^24 every partial float sum is an exact integer, so the sums
// are taken as integers with running sums (one row added, one removed per output row; 16-bit
// lanes while a window's sum fits them, else 32-bit); larger windows add floats in the window
// order. On 8-bit frames with 16-bit sums the final round(sum * coefficient) runs as a fixed-point
// multiply and shift when an exhaustive check over every possible sum shows it gives the same
// results (checked once per thread for each coefficient and window).
void Average2D(ConstView<uint8_t> src, View<uint8_t> dst, TRect r, const TBoxWindow& window, float coefficient) noexcept;
void Average2D(ConstView<uint16_t> src, View<uint16_t> dst, TRect r, const TBoxWindow& window, float coefficient) noexcept;

// Minimum / maximum of the window (a minimum folded from SampleMax<T>, a maximum from 0: the
// window is never empty, so both are the window's own extremes). Separable: a vertical pass over
// the window rows, then a horizontal one.
void Min2D(ConstView<uint8_t> src, View<uint8_t> dst, TRect r, const TBoxWindow& window) noexcept;
void Min2D(ConstView<uint16_t> src, View<uint16_t> dst, TRect r, const TBoxWindow& window) noexcept;
void Max2D(ConstView<uint8_t> src, View<uint8_t> dst, TRect r, const TBoxWindow& window) noexcept;
void Max2D(ConstView<uint16_t> src, View<uint16_t> dst, TRect r, const TBoxWindow& window) noexcept;

// Median: the window sorted ascending; with n samples the result is element n / 2 when n is odd,
// else the integer mean (element n/2 - 1 + element n/2) / 2, truncated. 3 × 3 windows sort each
// source row's triples once and take the median of three row statistics; 5 × 5 windows sort their
// columns once per output row and select with a comparator network; 8-bit windows of more than
// 64 samples use a sliding histogram; the others select per sample.
void Median2D(ConstView<uint8_t> src, View<uint8_t> dst, TRect r, const TBoxWindow& window) noexcept;
void Median2D(ConstView<uint16_t> src, View<uint16_t> dst, TRect r, const TBoxWindow& window) noexcept;

// Primitive entry points in the framework's calling shape: source pointer, source line size,
// source size, destination pointer, destination line size, destination size, channel count,
// rectangle, kernel size, anchor, and for the mean the coefficient last. 8-bit forms take line
// sizes in bytes, 16-bit forms in words (16-bit frames are one channel). The rectangle is cut to
// both sizes; null pointers, a channel count below 1 or an empty rectangle write nothing.
void Average2D8bit(const uint8_t* src, int srcLineSize, TSize srcSize, uint8_t* dst, int dstLineSize, TSize dstSize,
                   int channels, TRect rect, TSize kernelSize, int anchorX, int anchorY, float coefficient) noexcept;
void Average2D16bit(const uint16_t* src, int srcLineSize, TSize srcSize, uint16_t* dst, int dstLineSize, TSize dstSize,
                    int channels, TRect rect, TSize kernelSize, int anchorX, int anchorY, float coefficient) noexcept;
void Min2D8bit(const uint8_t* src, int srcLineSize, TSize srcSize, uint8_t* dst, int dstLineSize, TSize dstSize,
               int channels, TRect rect, TSize kernelSize, int anchorX, int anchorY) noexcept;
void Min2D16bit(const uint16_t* src, int srcLineSize, TSize srcSize, uint16_t* dst, int dstLineSize, TSize dstSize,
                int channels, TRect rect, TSize kernelSize, int anchorX, int anchorY) noexcept;
void Max2D8bit(const uint8_t* src, int srcLineSize, TSize srcSize, uint8_t* dst, int dstLineSize, TSize dstSize,
               int channels, TRect rect, TSize kernelSize, int anchorX, int anchorY) noexcept;
void Max2D16bit(const uint16_t* src, int srcLineSize, TSize srcSize, uint16_t* dst, int dstLineSize, TSize dstSize,
                int channels, TRect rect, TSize kernelSize, int anchorX, int anchorY) noexcept;
void Median2D8bit(const uint8_t* src, int srcLineSize, TSize srcSize, uint8_t* dst, int dstLineSize, TSize dstSize,
                  int channels, TRect rect, TSize kernelSize, int anchorX, int anchorY) noexcept;
void Median2D16bit(const uint16_t* src, int srcLineSize, TSize srcSize, uint16_t* dst, int dstLineSize, TSize dstSize,
                   int channels, TRect rect, TSize kernelSize, int anchorX, int anchorY) noexcept;

}  // namespace pixora::kernels
