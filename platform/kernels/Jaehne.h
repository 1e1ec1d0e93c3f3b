// The Jaehne test pattern: concentric rings whose frequency rises with the distance from the centre.
#pragma once

#include <cstdint>

#include "platform/kernels/View.h"

namespace pixora::kernels {

// Status codes of the pattern function, with the values of the Intel IPP status codes.
inline constexpr int ippStsNoErr = 0;
inline constexpr int ippStsSizeErr = -6;
inline constexpr int ippStsNullPtrErr = -8;
inline constexpr int ippStsStepErr = -14;

// Fills size.Width x size.Height pixels of three 8-bit channels at dst (rows dstStep bytes apart)
// with the pattern, the same byte in all three channels. With cx = (w - 1) / 2, cy = (h - 1) / 2
// and r2 = (x - cx)^2 + (y - cy)^2, a pixel is (sin(r2 * 2pi / (4h)) + 1) * 127.99999 truncated.
// Returns ippStsNullPtrErr for a null dst, ippStsStepErr for dstStep <= 0, ippStsSizeErr for a
// width or height <= 0 (checked in that order, nothing written), else ippStsNoErr.
int ImageJaehne_8u_C3R(uint8_t* dst, int dstStep, TSize size) noexcept;

}  // namespace pixora::kernels
