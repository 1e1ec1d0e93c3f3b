// Brightness, contrast, saturation, hue and lightness of 8-bit colour pixels (three or four
// samples per pixel; a fourth sample is copied). The arithmetic is defined once here and
// mirrored by frame/opencl/ImageAdjust.cl.
#pragma once

#include <cstdint>

#include "platform/kernels/View.h"

namespace pixora::kernels {

struct TImageAdjustParams {
    float Brightness = 0.0f, Contrast = 1.0f, Saturation = 1.0f, Hue = 0.0f, Lightness = 1.0f;
    // The colour step runs unless Saturation = 1, Hue = 0 and Lightness = 1.
    bool UsesHLS() const noexcept { return !(Saturation == 1.0f && Hue == 0.0f && Lightness == 1.0f); }
    // Nothing changes at all with the neutral settings.
    bool IsIdentity() const noexcept { return !UsesHLS() && Contrast == 1.0f && Brightness == 0.0f; }
};

// The colour step on one pixel's three components (stored order), in single precision:
// to hue, lightness and saturation (components / 255), H = (H + hue) floored-mod 1,
// L = min(L × lightness, 1), S = min(S × saturation, 1), back to components × 255 rounded to
// nearest (ties to even).
void AdjustHLS(const uint8_t in[3], uint8_t out[3], float hue, float saturation, float lightness) noexcept;

// The brightness and contrast step as the CPU applies it: v × contrast + round(brightness × 255),
// rounded to nearest (ties to even) and limited to 0..255, as a table over every 8-bit v.
void BuildBrightnessContrastTable(uint8_t table[256], float brightness, float contrast) noexcept;

// Every pixel of r: the colour step (when params.UsesHLS()), then brightness and contrast.
void ImageAdjust(ConstView<uint8_t> src, View<uint8_t> dst, TRect r, const TImageAdjustParams& params) noexcept;

}  // namespace pixora::kernels
