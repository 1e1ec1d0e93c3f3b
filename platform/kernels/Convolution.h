// Convolution of a rectangle with a rectangular matrix of float coefficients.
#pragma once

#include <cstdint>

#include "platform/kernels/Neighbourhood.h"
#include "platform/kernels/View.h"

namespace pixora::kernels {

// The matrix: Width × Height coefficients, row-major (entry (KX, KY) at KY * Width + KX), and the
// anchor, the matrix cell that lies over the output pixel.
struct TConvolutionMatrix {
    const float* Coefficients = nullptr;
    int Width = 0, Height = 0;
    int AnchorX = 0, AnchorY = 0;
};

// Every sample of rectangle r of dst (all channels) becomes, for its channel,
//   acc = 0; for KY in 0 .. Height-1, for KX in 0 .. Width-1:
//       acc = acc + Coefficients[KY * Width + KX] * src(x - AnchorX + KX, y - AnchorY + KY)
// in float, each product and each sum rounded on its own (never fused), window positions outside
// src mirrored by MirrorIndex; the result is acc + 0.5f converted toward zero, saturated to
// 0 .. SampleMax<T> (a negative or NaN sum gives 0, a sum past the maximum gives the maximum).
// The OpenCL kernel "Convolution" computes the same bits; where its text would leave an overflow
// undefined it saturates the same way (convert_<type>_sat).
// r must lie inside dst and inside src's frame size; src and dst must not overlap; nothing
// outside r is written. Any anchor is safe (positions are mirrored into the frame). A matrix
// without coefficients or with a size below 1 writes nothing.
void Convolve2D(ConstView<uint8_t> src, View<uint8_t> dst, TRect r, const TConvolutionMatrix& matrix) noexcept;
void Convolve2D(ConstView<uint16_t> src, View<uint16_t> dst, TRect r, const TConvolutionMatrix& matrix) noexcept;

// Primitive entry points in the framework's calling shape: source pointer, source line size,
// source size, destination pointer, destination line size, destination size, channel count,
// rectangle, then the coefficients (kernelLength of them), the kernel width and the anchor. The
// kernel height is kernelLength / kernelWidth. 8-bit forms take line sizes in bytes, 16-bit forms
// in words (16-bit frames are one channel). The rectangle is cut to both sizes; null pointers, a
// channel count below 1, a width that does not divide the length or an empty rectangle write
// nothing.
void Apply2DConvolution8bit(const uint8_t* src, int srcLineSize, TSize srcSize, uint8_t* dst, int dstLineSize,
                            TSize dstSize, int channels, TRect rect, const float* kernel, int kernelLength,
                            int kernelWidth, int anchorX, int anchorY) noexcept;
void Apply2DConvolution16bit(const uint16_t* src, int srcLineSize, TSize srcSize, uint16_t* dst, int dstLineSize,
                             TSize dstSize, int channels, TRect rect, const float* kernel, int kernelLength,
                             int kernelWidth, int anchorX, int anchorY) noexcept;

}  // namespace pixora::kernels
