// Resampling through per-pixel coordinate tables, with the semantics of Intel IPP's ippiRemap:
// every destination pixel (x, y) takes the source sample at (xMap(x, y), yMap(x, y)).
//
// Coordinates are in pixels of the WHOLE source (pixel centres at integer positions); only the
// source rectangle srcRoi (clamped to the source) is read. A destination pixel whose coordinate
// lies outside the closed box [roi.X, roi.X + roi.Width - 1] × [roi.Y, roi.Y + roi.Height - 1] of
// pixel centres, or is NaN, is left untouched (callers fill the destination with a background
// first). So a map pointing at (-1, -1) writes nothing, and an identity map writes every pixel.
//
// Interpolation flag (IPP's constants; the filters pass 1 shifted left by the ordinal of their
// interpolation type):
// - kInterNN (1): the nearest pixel, ties rounded up: ix = floor(x + 0.5).
// - kInterLinear (2): bilinear over the 2 × 2 pixels around (x, y), computed in float, horizontally
//   then vertically, rounded half up and saturated. A coordinate exactly on a pixel centre gives
//   that pixel exactly.
// - kInterCubic (4): the cubic polynomial through four pixels (Lagrange interpolation of the
//   pixels at ix - 1 .. ix + 2, as IPP's cubic) in each direction, rounded half up and saturated
//   to the sample range (the polynomial overshoots at edges in the picture).
// - kInterSuper (8): IPP's super-sampling only exists for down-scaling resizes, not for remap; a
//   remap table has no scale to average over, so super-sampling resamples as kInterLinear.
// - kInterLanczos (16): the 3-lobed Lanczos window sinc(t) · sinc(t / 3) over the 6 × 6 pixels
//   ix - 2 .. ix + 3, weights normalised to sum 1, rounded half up and saturated.
// - any other value (0, several type bits): nothing is written, as IPP refuses such a flag.
//
// Borders: taps of the linear, cubic and Lanczos windows that fall outside the source rectangle
// read the nearest pixel of the rectangle (the rectangle's edge is replicated); nothing outside
// srcRoi is ever read, even when the whole source has pixels there.
//
// kSmoothEdge (bit 31) added to the flag: a coordinate less than one pixel outside the box is no
// longer skipped; the sample at the coordinate clamped into the box is blended into the existing
// destination pixel with weight ax · ay, where ax = 1 - (distance outside the box along x) and
// likewise ay (1 inside). This gives antialiased edges against the background instead of a hard
// step. Without the bit the result is IPP's plain remap.
//
// channelsToWrite: -1 writes every channel; n (1 .. channels) writes the first n channels of each
// pixel and leaves the others (3 on a 4-channel frame resamples the colour and keeps the alpha).
//
// 8- and 16-bit samples share one body; explicit instantiations for uint8_t and uint16_t.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/kernels/View.h"

namespace pixora::kernels {

inline constexpr int kInterNN = 1, kInterLinear = 2, kInterCubic = 4, kInterSuper = 8, kInterLanczos = 16;
inline constexpr unsigned kSmoothEdge = 0x80000000u;

// For every destination pixel, sample src at (xMap, yMap) (coordinates in the WHOLE source);
// destination pixels whose coordinate falls outside srcRoi are left untouched. Map strides are in
// floats; the destination's size is dst.Width × dst.Height and each map has that many cells.
// channelsToWrite: -1 all; 3 on a 4-channel frame resamples the colour and leaves the fourth.
template <class T>
void Remap(ConstView<T> src, TRect srcRoi, const float* xMap, std::ptrdiff_t xMapStride, const float* yMap,
           std::ptrdiff_t yMapStride, View<T> dst, int interpolation, int channelsToWrite = -1) noexcept;

// One destination row of `count` pixels with per-pixel source coordinates xs, ys.
template <class T>
void RemapRow(ConstView<T> src, TRect srcRoi, const float* xs, const float* ys, T* dstRow, int count,
              int interpolation, int channelsToWrite = -1) noexcept;

// RemapRow without the vector rows: the plain per-pixel code, which the vector rows reproduce
// byte for byte (tests compare the two).
template <class T>
void RemapRowScalar(ConstView<T> src, TRect srcRoi, const float* xs, const float* ys, T* dstRow, int count,
                    int interpolation, int channelsToWrite = -1) noexcept;

// True when this CPU takes the AVX-512 rows (nearest and linear, 8-bit 1-, 3- and 4-channel and
// 16-bit 1-channel pixels, every channel written); everything else runs the plain code.
bool RemapRowVectorized() noexcept;

}  // namespace pixora::kernels
