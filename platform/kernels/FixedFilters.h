// The fixed neighbourhood filters: edge detectors (Prewitt, Sobel, Roberts, Laplace), smoothing
// (Gauss, low-pass), high-pass, sharpening and the cross and colour medians, with the published
// semantics of the Intel IPP functions of the same names (ippiFilterPrewittHoriz ...
// ippiFilterMedianColor) for 8-bit one-, three- and four-channel (alpha untouched) and 16-bit
// one-channel samples.
//
// Kernels as IPP documents them (row by row, top row first); IPP applies them as a convolution, so
// the documented top-left coefficient weighs the bottom-right neighbour. The anchor is the centre
// cell of every mask.
//   PrewittHoriz   1  1  1 /  0  0  0 / -1 -1 -1      -> row below minus row above
//   PrewittVert   -1  0  1 / -1  0  1 / -1  0  1      -> column left minus column right
//   SobelHoriz     1  2  1 /  0  0  0 / -1 -2 -1      -> (row below minus row above), 1 2 1 weights
//   SobelVert     -1  0  1 / -2  0  2 / -1  0  1      -> (left minus right), 1 2 1 weights
//   RobertsDown    0  0  0 /  0  1  0 /  0  0 -1      -> centre minus upper-left neighbour
//   RobertsUp      0  0  0 /  0  1  0 / -1  0  0      -> centre minus upper-right neighbour
//   Laplace 3x3   -1 -1 -1 / -1  8 -1 / -1 -1 -1
//   Laplace 5x5   -1 -3 -4 -3 -1 / -3 0 6 0 -3 / -4 6 20 6 -4 / -3 0 6 0 -3 / -1 -3 -4 -3 -1
//   Gauss 3x3      1 2 1 / 2 4 2 / 1 2 1, divided by 16
//   Gauss 5x5      2 7 12 7 2 / 7 31 52 31 7 / 12 52 127 52 12 / 7 31 52 31 7 / 2 7 12 7 2, by 571
//   Hipass 3x3    -1 -1 -1 / -1  8 -1 / -1 -1 -1
//   Hipass 5x5     all -1, centre 24
//   Lowpass 3x3    all 1, divided by 9;   Lowpass 5x5: all 1, divided by 25
//   Sharpen       -1 -1 -1 / -1 16 -1 / -1 -1 -1, divided by 8
// Arithmetic: the weighted sum is exact in integers; a divisor d rounds to nearest with halves up,
// floor((sum + d div 2) / d); the result saturates to 0 .. SampleMax<T>, so negative responses of
// the edge detectors on unsigned samples give 0.
//
// Medians: MedianCross takes the median of the cross through the centre (5 samples for 3 x 3, 9
// for 5 x 5), per channel. MedianColor (three colour channels, 8-bit only) replaces the pixel by
// the window pixel whose summed colour distance to all window pixels is smallest, the distance of
// two pixels being |B1 - B2| + |G1 - G2| + |R1 - R2|; on equal sums the first such pixel in
// raster order (top row first, left to right) wins. This is the vector median the published
// description names; its "smallest distance to the input pixel" read literally would always pick
// the centre pixel itself and leave the frame unchanged.
//
// Borders: like the IPP functions, the kernels read the neighbours of the rectangle from src and
// never invent samples. The rectangle must keep the kernel's reach inside src on every side;
// FixedKernelRect narrows a region accordingly (the frame's outermost Reach rows and columns are
// not computed and keep what dst holds).
#pragma once

#include <cstdint>

#include "platform/kernels/View.h"

namespace pixora::kernels {

enum class TFixedKernel : uint8_t {
    PrewittHoriz,
    PrewittVert,
    SobelHoriz,
    SobelVert,
    RobertsDown,
    RobertsUp,
    Laplace3x3,
    Laplace5x5,
    Gauss3x3,
    Gauss5x5,
    Hipass3x3,
    Hipass5x5,
    Lowpass3x3,
    Lowpass5x5,
    Sharpen,
    MedianCross3x3,
    MedianCross5x5,
    MedianColor3x3,
    MedianColor5x5,
};

// Pixels the kernel reads on each side of the output pixel: 2 for the 5 x 5 masks, else 1.
int FixedKernelReach(TFixedKernel kernel) noexcept;

// The part of a region (already clamped to the frame) that a kernel of that reach can compute in
// a frame of that size: the region less the frame's outermost `reach` rows and columns. Empty
// when nothing is left (a frame or region smaller than the mask).
TRect FixedKernelRect(TRect region, int frameWidth, int frameHeight, int reach) noexcept;

// Filters rectangle r of src into dst. src and dst have the same channel count (1, 3 or 4; with 4
// the fourth sample of every pixel is neither read nor written) and must not overlap; r must lie
// FixedKernelReach pixels inside src on every side and inside dst. Nothing outside r is written.
// Returns false, writing nothing, when the call cannot run: an empty rectangle, one too close to
// src's edges, an unsupported channel count, or MedianColor on fewer than three channels or on
// 16-bit samples. Any band of a rectangle gives the same samples as the whole rectangle.
template <class T>
bool FixedFilter(ConstView<T> src, View<T> dst, TRect r, TFixedKernel kernel) noexcept;

extern template bool FixedFilter<uint8_t>(ConstView<uint8_t>, View<uint8_t>, TRect, TFixedKernel) noexcept;
extern template bool FixedFilter<uint16_t>(ConstView<uint16_t>, View<uint16_t>, TRect, TFixedKernel) noexcept;

}  // namespace pixora::kernels
