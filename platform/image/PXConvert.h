// Converts pixel rows between the frame formats (RGB24, RGBA32, UYVY, Gray8, Gray16).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/image/PXVideoFormat.h"

namespace pixora {

// Bytes that one row of width pixels occupies in format (a UYVY row holds (width + 1) / 2 pixel
// pairs). Throws std::invalid_argument("Unsupported format") for an unknown ordinal and
// std::invalid_argument for a negative width.
std::size_t PixelRowBytes(TPXVideoFormat format, int width);

// Converts width x height pixels from src (rows srcStride bytes apart, srcFormat) to dst (rows
// dstStride bytes apart, dstFormat). Every ordered pair of the five formats is handled; equal
// formats copy the rows. Strides may be negative (bottom-up rows). Source and destination must
// not overlap, unless they are the same rows in the same format.
//
// The arithmetic, in short (each rule is stated in full where it is applied):
// - RGB24 <-> RGBA32: blue, green, red copied; alpha 255 when added, dropped when removed.
// - colour -> Gray8: BT.601 luma Y = (299 R + 587 G + 114 B + 500) / 1000.
// - Gray8 -> colour: grey copied to blue, green and red; alpha 255.
// - Gray8 -> Gray16: v * 257; Gray16 -> Gray8: (v + 128) / 257 (nearest).
// - Gray16 <-> colour and UYVY: through the Gray8 rules; colour -> Gray16 is the 8-bit luma * 257.
// - UYVY <-> colour: BT.601 limited range (Y 16..235, Cb/Cr 16..240), 16-bit fixed point with
//   rounding and saturation; a pair's chroma is the rounded mean of its two pixels' chroma; for an
//   odd width the last pair repeats the last pixel's luma.
// - UYVY <-> Gray8: Y stretched from 16..235 to 0..255 and back, U = V = 128.
//
// Throws std::invalid_argument: "Unsupported format" for an unknown ordinal, and a message
// naming the argument for a negative width or height, a null pointer, or a stride shorter than
// a row. Zero width or height converts nothing.
void ConvertPixels(const uint8_t* src, std::ptrdiff_t srcStride, TPXVideoFormat srcFormat, uint8_t* dst,
                   std::ptrdiff_t dstStride, TPXVideoFormat dstFormat, int width, int height);

}  // namespace pixora
