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
// stored as float.
struct TGaussianCoefficients {
    int Width = 0, Height = 0;
    std::vector<float> X, Y;      // the one-dimensional vectors
    std::vector<float> Matrix;    // row-major, Width × Height
};
double EffectiveSigma(int size, double sigma) noexcept;
TGaussianCoefficients GaussianCoefficients(int width, int height, double sigmaX, double sigmaY);

// Separable Gaussian blur of rectangle r (all channels): per sample, first the column sum
//   v(x') = sum over KY of Y[KY] × src(x', y − anchorY + KY)      (KY ascending, from 0.0f)
// then the row sum
//   acc = sum over KX of X[KX] × v(x − anchorX + KX)                (KX ascending, from 0.0f)
// in float with every product and sum rounded on its own; window positions outside src mirrored by
// MirrorIndex (edge not repeated before the start, repeated past the end). The result is
// acc + 0.5f converted toward zero, saturated to 0 .. SampleMax<T>.
// The direct 2D sum of the convolution kernel (Convolve2D, and the OpenCL "Convolution" kernel)
// adds the products X[KX]·Y[KY]·s in another order: the two sums differ only by float rounding,
// a few units in the last place of acc (at most (Width + Height) × 2^-23 × SampleMax relative to
// the exact value), so an output sample differs by at most 1, and only where acc + 0.5 lies that
// close to an integer. The separable form does not depend on how the frame is cut into bands.
// r must lie inside src and dst; nothing outside r is written.
void GaussianBlur2D(ConstView<uint8_t> src, View<uint8_t> dst, TRect r, const float* x, int width, const float* y,
                    int height, int anchorX, int anchorY) noexcept;
void GaussianBlur2D(ConstView<uint16_t> src, View<uint16_t> dst, TRect r, const float* x, int width, const float* y,
                    int height, int anchorX, int anchorY) noexcept;

// The unsharp mask. For every sample I of rectangle r (MAX = SampleMax<T>):
//   amount >= 1: the output is MAX (the rescale 1 / (1 − amount) has no finite value);
//   blur: Gauss: acc = sum over KY (outer), KX (inner) of Coefficients[KY × Width + KX] × I(window),
//         Average: acc = coefficient × (sum over KY, KX of I(window)), both in float from 0.0f,
//         every product and sum rounded on its own, window positions mirrored as above;
//   v = I − acc × amount;
//   |v / MAX| > threshold: output = min(MAX, max(0, round(v / (1 − amount)))), halves away from 0;
//   otherwise output = I.
// These are the bits of the OpenCL kernels "UnsharpGauss" / "UnsharpAverage".
struct TUnsharpParams {
    const float* Coefficients = nullptr;  // Gauss only: Width × Height, row-major
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
