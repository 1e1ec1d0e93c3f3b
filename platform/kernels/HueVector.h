// Hue, lightness and saturation of 8-bit pixels (the vendor function ippiRGBToHLS_8u_C3R), and
// the real-valued planes that describe each pixel's colour as a vector.
#pragma once

#include <cstdint>

#include "platform/kernels/View.h"

namespace pixora::kernels {

// One pixel: rgb[0..2] are the conversion's red, green and blue inputs. With M1 = max, M2 = min
// (normalised to 0..1): L = (M1 + M2) / 2; S = 0 when M1 = M2, else (M1 - M2) / (M1 + M2) for
// L <= 0.5 and (M1 - M2) / (2 - M1 - M2) above; H = 0 when M1 = M2, else 60 x (Cb - Cg),
// 60 x (2 + Cr - Cb) or 60 x (4 + Cg - Cr) where red, green or blue is the maximum (tested in that
// order, the last match wins; Cx = (M1 - x) / (M1 - M2)), plus 360 when negative. The results are
// scaled to the byte range: H x 255 / 360, L x 255, S x 255, each rounded to the nearest integer
// with halves up. The rounding is exact: every scaled value is one quotient of integers.
void RGBToHLSPixel8(const uint8_t rgb[3], uint8_t hls[3]) noexcept;

// Every pixel of r (three-channel views) through RGBToHLSPixel8; hls channels 0, 1, 2 receive
// H, L, S.
void RGBToHLS8(ConstView<uint8_t> src, View<uint8_t> dst, TRect r) noexcept;

// The planes of a frame of HLS pixels, row by row (Width x Height doubles each, no padding).
// With angle = H x pi / 128 (256 steps per turn), sat = S / 256, light = L (or L / 256 when
// scaleLightness): hue receives angle, saturation sat, lightness light, x receives
// sat x sin(angle) and y sat x cos(angle). A null plane is not written.
void HueVectorPlanes(ConstView<uint8_t> hls, bool scaleLightness, double* hue, double* lightness, double* saturation,
                     double* x, double* y) noexcept;

// The planes of a grey frame: lightness receives the samples (0..255, unscaled), hue and
// saturation zeros.
void GrayPlanes(ConstView<uint8_t> gray, double* hue, double* lightness, double* saturation) noexcept;

}  // namespace pixora::kernels
