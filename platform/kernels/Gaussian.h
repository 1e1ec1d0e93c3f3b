// Gaussian coefficients, the separable Gaussian blur and the unsharp-mask kernels.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/kernels/View.h"

namespace pixora::kernels {

// Gaussian coefficients of a width × height window.
//   g(i, n, s) = exp(-(i - (n - 1) / 2)^2 / (2 s^2)) for i in 0 .. n - 1, divided by its sum over i,
// so each one-dimensional vector sums to 1; the centre is the window's geometric centre (for an
// even size it lies half a pixel right of / below the anchor n div 2). A sigma of 0 (or below)
// means the size's own sigma, s = 0.3 × ((n − 1) × 0.5 − 1) + 0.8. The matrix entry (KX, KY) at
// KY × Width + KX is X[KX] × Y[KY] computed in double and stored as float. Everything in double,
// stored as float. Both vectors are symmetric bit for bit (X[i] == X[Width − 1 − i]), since
// (i − c)^2 is the same number on both sides of the centre c; the blur kernels rely on it.
struct TGaussianCoefficients {
    int Width = 0, Height = 0;
    std::vector<float> X, Y;      // the one-dimensional vectors
    std::vector<float> Matrix;    // row-major, Width × Height
};
double EffectiveSigma(int size, double sigma) noexcept;
TGaussianCoefficients GaussianCoefficients(int width, int height, double sigmaX, double sigmaY);

// Separable Gaussian blur of rectangle r (all channels), the window's anchor at (anchorX, anchorY)
// and window positions outside src mirrored by MirrorIndex (edge not repeated before the start,
// repeated past the end). Per sample, with the symmetric vectors of k folded (n = Height,
// m = n div 2; the pairs of window samples a, b are added first):
//   column pass: v = 0; v = v + Y[i] × (s(i) + s(n − 1 − i)) for i = 0 .. m − 1, then, for odd n,
//                v = v + Y[m] × s(m)            (s(i) the source sample in window row i; the sum
//                                                 of two integer samples is exact in float; all
//                                                 terms are >= +0, so the code starts v at its
//                                                 first term, the same bits)
//   row pass:    acc = the same over the padded row of column sums with X and Width
// in float, every product and sum rounded on its own. The result is acc + 0.5f converted toward
// zero, saturated to 0 .. SampleMax<T> (the OpenCL kernel leaves overflow undefined; a Gaussian
// with coefficients summing to 1 stays within range up to rounding anyway).
// Rounding: the direct 2D sum of the convolution kernel (the OpenCL "Convolution" kernel over
// k.Matrix) adds the same products in another order, so the two sums differ by float rounding
// only: relative to the exact sum with the double-precision coefficients, acc is off by at most
// (Width + Height + 2) × 2^-22 × SampleMax<T>. An output sample therefore differs from
// floor(exact + 0.5) by at most 1, and only where exact + 0.5 lies that close to an integer. The
// result of a sample does not depend on how the frame is cut into bands.
// r must lie inside src and dst; nothing outside r is written.
void GaussianBlur2D(ConstView<uint8_t> src, View<uint8_t> dst, TRect r, const TGaussianCoefficients& k, int anchorX,
                    int anchorY) noexcept;
void GaussianBlur2D(ConstView<uint16_t> src, View<uint16_t> dst, TRect r, const TGaussianCoefficients& k, int anchorX,
                    int anchorY) noexcept;

// The unsharp mask. For every sample I of rectangle r (MAX = SampleMax<T>):
//   amount >= 1: the output is MAX (the rescale 1 / (1 − amount) has no finite value);
//   blur: Gauss: the separable Gaussian sum of GaussianBlur2D (acc, before the + 0.5);
//         Average: acc = coefficient × (sum of the window samples);
//   v = I − acc × amount;
//   |v / MAX| > threshold: output = min(MAX, max(0, round(v / (1 − amount)))), halves away from 0;
//   otherwise output = I.
// The Average sum is taken separably (columns, then rows); while MAX × Width × Height < 2^24
// every partial sum is an integer that float holds exactly, so it is the float sum of the OpenCL
// kernel "UnsharpAverage" bit for bit. Larger windows add the samples in float in the kernel's
// order (KY outer, KX inner). Either way every path computes the same bits. The Gauss blur differs from the
// direct 2D sum of the OpenCL kernel "UnsharpGauss" by float rounding only (bound as above), so
// an output sample can differ from the OpenCL one only where v lies within that rounding of the
// threshold or v / (1 − amount) that close to a half.
struct TUnsharpParams {
    const TGaussianCoefficients* Kernel = nullptr;  // Gauss only
    int Width = 0, Height = 0;
    int AnchorX = 0, AnchorY = 0;
    float AverageCoefficient = 0.0f;  // Average only: 1 / (Width × Height)
    float Amount = 0.0f;
    float Threshold = 0.0f;
};
void UnsharpGauss2D(ConstView<uint8_t> src, View<uint8_t> dst, TRect r, const TUnsharpParams& p) noexcept;
void UnsharpGauss2D(ConstView<uint16_t> src, View<uint16_t> dst, TRect r, const TUnsharpParams& p) noexcept;
void UnsharpAverage2D(ConstView<uint8_t> src, View<uint8_t> dst, TRect r, const TUnsharpParams& p) noexcept;
void UnsharpAverage2D(ConstView<uint16_t> src, View<uint16_t> dst, TRect r, const TUnsharpParams& p) noexcept;

}  // namespace pixora::kernels
