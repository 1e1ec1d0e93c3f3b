// The rounding rules that turn the real bounds of a transformed rectangle into the integer
// bounding rectangle of the rotate, shear and warp filters.
#pragma once

#include <cmath>
#include <string>

#include "platform/base/PXErrors.h"
#include "platform/filters/PXROIFilters.h"

namespace pixora::geometric {

// round(v) to the nearest integer, ties to even, as an int; a bound that is not finite or lies
// beyond any frame size is refused (the transform would need an impossible frame).
inline int RoundBound(double v, const char* component) {
    if (!std::isfinite(v) || std::fabs(v) > 1e9)
        throw ERangeError(std::string(component) + ": the transformed frame's bounds are out of range");
    return int(std::nearbyint(v));
}

// Whether a bound is an integer. Bounds come out of trigonometry and linear solves, so a value
// within 1e-7 of an integer counts as that integer (a quarter turn's cos 90° is 6e-17, not 0).
inline bool IsWhole(double v, int rounded) { return std::fabs(v - rounded) <= 1e-7; }

// left = round(min), minus 1 unless min is exactly that integer; right = round(max), plus 1
// unless exact; likewise top and bottom. The extras of each filter are added by the caller.
inline TBoundRect OuterBounds(const double bound[2][2], const char* component) {
    TBoundRect r;
    r.Left = RoundBound(bound[0][0], component);
    if (!IsWhole(bound[0][0], r.Left)) --r.Left;
    r.Top = RoundBound(bound[0][1], component);
    if (!IsWhole(bound[0][1], r.Top)) --r.Top;
    r.Right = RoundBound(bound[1][0], component);
    if (!IsWhole(bound[1][0], r.Right)) ++r.Right;
    r.Bottom = RoundBound(bound[1][1], component);
    if (!IsWhole(bound[1][1], r.Bottom)) ++r.Bottom;
    return r;
}

// The bounding rectangle's size as a frame size; an empty or inverted rectangle gives 0, which
// the base raises to 1.
inline TSize BoundSize(const TBoundRect& r) {
    return {r.Width() > 0 ? r.Width() : 0, r.Height() > 0 ? r.Height() : 0};
}

}  // namespace pixora::geometric
