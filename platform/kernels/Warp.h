// Affine, perspective and bilinear warps, rotate, shear and mirror, with the semantics of Intel
// IPP's legacy geometric functions (ippiRotate, ippiShear, ippiWarpPerspective[Back],
// ippiWarpBilinear[Back], ippiMirror) and their coefficient and bound helpers.
//
// Coordinates: pixel centres lie at integer positions; source and destination share one origin
// (the top-left pixel of each whole image). A warp works backwards: for every destination pixel
// of dstRoi it computes the source coordinate that the transform carries onto it and samples the
// source there through kernels::RemapRow. So the interpolation, its borders and the smooth edge
// are exactly those of the remap primitive (platform/kernels/Remap.h):
// - nearest (1): the pixel nearest the coordinate; linear (2): the 2 × 2 pixels around it;
//   cubic (4): 4 × 4 pixels (Lagrange cubic); super-sampling (8): IPP offers it for resizing
//   only, a warp has no single scale to average over, so it samples as linear; Lanczos (16):
//   the 3-lobed window over 6 × 6 pixels.
// - A destination pixel whose source coordinate lies outside the box of srcRoi's pixel centres
//   keeps what it held (the caller's background). Window taps that fall outside srcRoi read the
//   nearest pixel of srcRoi (its edge is replicated); nothing outside srcRoi is read.
// - kSmoothEdge (0x80000000) added to the flag: destination pixels whose coordinate lies less than
//   one pixel outside the box are blended with the sample at the coordinate clamped into the box,
//   with weight (1 - dx)(1 - dy) (dx, dy = distance outside along each axis), over what they
//   held: the transformed picture's edges fade into the background over one pixel instead of
//   stepping.
//
// Transforms, with (x, y) a source and (x', y') a destination coordinate:
// - rotate: x' = x·cos a + y·sin a + xShift, y' = −x·sin a + y·cos a + yShift (a in degrees;
//   a positive angle turns the picture counter-clockwise as seen on screen, y pointing down);
// - shear: x' = x + shx·y + xShift, y' = shy·x + y + yShift;
// - perspective: x' = (c00·x + c01·y + c02) / (c20·x + c21·y + c22), y' likewise with row 1;
// - bilinear: x' = c00·x·y + c01·x + c02·y + c03, y' = c10·x·y + c11·x + c12·y + c13.
// The forward warps (rotate, shear, WarpPerspective, WarpBilinear) invert these per destination
// pixel; the Back variants use the coefficients as the destination-to-source mapping directly.
// A transform that cannot be inverted (zero determinant; a destination point with no real
// bilinear preimage, or behind the perspective's horizon) writes nothing there, where IPP
// refuses such coefficients.
//
// Bounds: the rotate and shear bounds transform the centres of srcRoi's corner pixels
// (x .. x + w − 1, y .. y + h − 1). The perspective and bilinear helpers map the rectangle's outer
// edges (x .. x + w, y .. y + h) onto the quadrangle, so that the quadrangle of the unmoved
// rectangle is the identity transform, and their bounds are those of the same four corners.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/kernels/Remap.h"
#include "platform/kernels/View.h"

namespace pixora::kernels {

// IPP's mirror axes: horizontal flips the rows (top becomes bottom), vertical flips the columns
// (left becomes right), both does both (a 180° turn).
enum TMirrorAxis : int { kAxsHorizontal = 0, kAxsVertical = 1, kAxsBoth = 2 };

// ippiGetRotateShift: the shifts that make a rotation by `angle` turn about (xCenter, yCenter).
void GetRotateShift(double xCenter, double yCenter, double angle, double& xShift, double& yShift) noexcept;
// The affine coefficients {{cos, sin, xShift}, {−sin, cos, yShift}} of a rotation.
void GetRotateTransform(double angle, double xShift, double yShift, double coeffs[2][3]) noexcept;
// ippiGetRotateBound: bound[0] = (xmin, ymin), bound[1] = (xmax, ymax) of the rotated ROI.
void GetRotateBound(TRect srcRoi, double bound[2][2], double angle, double xShift, double yShift) noexcept;
// ippiGetShearBound, likewise for the shear.
void GetShearBound(TRect srcRoi, double bound[2][2], double shx, double shy, double xShift, double yShift) noexcept;
// ippiGetPerspectiveTransform: coefficients (c22 = 1) carrying the rectangle's corners
// (top-left, top-right, bottom-right, bottom-left) onto quad. False when no such transform exists
// (three corners on a line); coeffs are then zero.
bool GetPerspectiveTransform(TRect srcRoi, const double quad[4][2], double coeffs[3][3]) noexcept;
// ippiGetPerspectiveBound: the bounds of the transformed rectangle's corners.
void GetPerspectiveBound(TRect srcRoi, double bound[2][2], const double coeffs[3][3]) noexcept;
// ippiGetBilinearTransform / ippiGetBilinearBound, likewise for the bilinear transform.
bool GetBilinearTransform(TRect srcRoi, const double quad[4][2], double coeffs[2][4]) noexcept;
void GetBilinearBound(TRect srcRoi, double bound[2][2], const double coeffs[2][4]) noexcept;

// The source coordinate of destination (x', y') under the inverse of a bilinear transform, the
// preimage inside (or nearest to) srcRoi when there are two. False when there is none.
bool InverseBilinear(const double coeffs[2][4], TRect srcRoi, double xd, double yd, double& x, double& y) noexcept;

// Every warp writes the destination pixels of dstRoi (a rectangle of dst; a band of the whole
// output is a valid dstRoi) whose source coordinate falls inside srcRoi, and no others.
template <class T>
void WarpAffine(ConstView<T> src, TRect srcRoi, View<T> dst, TRect dstRoi, const double coeffs[2][3],
                int interpolation) noexcept;
template <class T>
void Rotate(ConstView<T> src, TRect srcRoi, View<T> dst, TRect dstRoi, double angle, double xShift, double yShift,
            int interpolation) noexcept;
template <class T>
void Shear(ConstView<T> src, TRect srcRoi, View<T> dst, TRect dstRoi, double shx, double shy, double xShift,
           double yShift, int interpolation) noexcept;
template <class T>
void WarpPerspective(ConstView<T> src, TRect srcRoi, View<T> dst, TRect dstRoi, const double coeffs[3][3],
                     int interpolation) noexcept;
template <class T>
void WarpPerspectiveBack(ConstView<T> src, TRect srcRoi, View<T> dst, TRect dstRoi, const double coeffs[3][3],
                         int interpolation) noexcept;
template <class T>
void WarpBilinear(ConstView<T> src, TRect srcRoi, View<T> dst, TRect dstRoi, const double coeffs[2][4],
                  int interpolation) noexcept;
template <class T>
void WarpBilinearBack(ConstView<T> src, TRect srcRoi, View<T> dst, TRect dstRoi, const double coeffs[2][4],
                      int interpolation) noexcept;

// ippiMirror over the rectangle r: dst's pixel (r.X + i, r.Y + j) takes src's pixel mirrored
// within r about `axis`. Pixels outside r are not touched. src and dst must not overlap.
template <class T>
void Mirror(ConstView<T> src, View<T> dst, TRect r, TMirrorAxis axis) noexcept;

}  // namespace pixora::kernels
