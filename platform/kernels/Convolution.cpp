// Rectangular convolution: the float window of Neighbourhood.h with the matrix's coefficients,
// compiled per instruction set, and the framework-shaped entry points.
#define PIXORA_NEIGHBOURHOOD_IMPLEMENTATION
#include "platform/kernels/Convolution.h"

namespace pixora::kernels {

namespace {

using nbh::TFloatFinish;
using nbh::TIsa;

// Rounding and saturation: acc + 0.5f converted toward zero, clamped to 0 .. SampleMax<T> first
// (the OpenCL kernel's convert_<type>_sat does the same, NaN included).
template <TIsa L, class T>
[[gnu::always_inline]] inline void Convolve(ConstView<T> src, View<T> dst, TRect r, const TConvolutionMatrix& m) noexcept {
    nbh::FloatWindowBand<L, T, TFloatFinish::HalfUp>(src, dst, r, m.Width, m.Height, m.AnchorX, m.AnchorY,
                                                     m.Coefficients, 1.0f);
}

template <class T>
PIXORA_NBH_AVX512 void ConvolveAvx512(ConstView<T> src, View<T> dst, TRect r, const TConvolutionMatrix& m) noexcept {
    Convolve<TIsa::Avx512>(src, dst, r, m);
}
template <class T>
PIXORA_NBH_AVX2 void ConvolveAvx2(ConstView<T> src, View<T> dst, TRect r, const TConvolutionMatrix& m) noexcept {
    Convolve<TIsa::Avx2>(src, dst, r, m);
}
template <class T>
void ConvolveBaseline(ConstView<T> src, View<T> dst, TRect r, const TConvolutionMatrix& m) noexcept {
    Convolve<TIsa::Baseline>(src, dst, r, m);
}

template <class T>
void ConvolveDispatch(ConstView<T> src, View<T> dst, TRect r, const TConvolutionMatrix& m) noexcept {
    if (r.Empty() || m.Coefficients == nullptr || m.Width < 1 || m.Height < 1 || src.Channels < 1) return;
    switch (nbh::ActiveIsa()) {
    case TIsa::Avx512: ConvolveAvx512(src, dst, r, m); break;
    case TIsa::Avx2: ConvolveAvx2(src, dst, r, m); break;
    default: ConvolveBaseline(src, dst, r, m); break;
    }
}

template <class T>
void Apply(const T* src, int srcLineSize, TSize srcSize, T* dst, int dstLineSize, TSize dstSize, int channels,
           TRect rect, const float* kernel, int kernelLength, int kernelWidth, int anchorX, int anchorY) noexcept {
    if (kernel == nullptr || kernelWidth < 1 || kernelLength < kernelWidth || kernelLength % kernelWidth != 0) return;
    const TConvolutionMatrix matrix{kernel, kernelWidth, kernelLength / kernelWidth, anchorX, anchorY};
    nbh::RunFrameworkShaped(src, srcLineSize, srcSize, dst, dstLineSize, dstSize, channels, rect,
                            [&](ConstView<T> s, View<T> d, TRect r) { ConvolveDispatch(s, d, r, matrix); });
}

}  // namespace

void Convolve2D(ConstView<uint8_t> src, View<uint8_t> dst, TRect r, const TConvolutionMatrix& matrix) noexcept {
    ConvolveDispatch(src, dst, r, matrix);
}

void Convolve2D(ConstView<uint16_t> src, View<uint16_t> dst, TRect r, const TConvolutionMatrix& matrix) noexcept {
    ConvolveDispatch(src, dst, r, matrix);
}

void Apply2DConvolution8bit(const uint8_t* src, int srcLineSize, TSize srcSize, uint8_t* dst, int dstLineSize,
                            TSize dstSize, int channels, TRect rect, const float* kernel, int kernelLength,
                            int kernelWidth, int anchorX, int anchorY) noexcept {
    Apply(src, srcLineSize, srcSize, dst, dstLineSize, dstSize, channels, rect, kernel, kernelLength, kernelWidth,
          anchorX, anchorY);
}

void Apply2DConvolution16bit(const uint16_t* src, int srcLineSize, TSize srcSize, uint16_t* dst, int dstLineSize,
                             TSize dstSize, int channels, TRect rect, const float* kernel, int kernelLength,
                             int kernelWidth, int anchorX, int anchorY) noexcept {
    Apply(src, srcLineSize, srcSize, dst, dstLineSize, dstSize, channels, rect, kernel, kernelLength, kernelWidth,
          anchorX, anchorY);
}

}  // namespace pixora::kernels
