// Slow double-precision references for the geometric transform tests, written from the
// definitions: where a destination pixel comes from (rotation about an anchor, shear, the
// projective and bilinear maps of a rectangle onto a quadrangle, solved here in closed form or
// by Newton's method), and what is sampled there (nearest pixel, bilinear with the source
// rectangle's edge repeated, the one-pixel smooth-edge fade). Nothing here calls the kernels.
#pragma once

#include <algorithm>
#include <cmath>
#include <functional>

namespace pixora::warpref {

struct TBox {
    int X = 0, Y = 0, W = 0, H = 0;
};

enum class TOutcome { Untouched, Value, Ambiguous };

struct TPixel {
    TOutcome Outcome = TOutcome::Untouched;
    double Value = 0;
};

// How far a float coordinate may be off a decision point (a pixel-centre box edge, a rounding
// tie of the nearest pixel) before the reference no longer knows which side the code lands on.
inline constexpr double kSlack = 2e-3;

// The sample for a destination pixel whose source coordinate is (x, y): `at(px, py)` reads the
// source; nearest = true takes the nearest pixel (halves up), else bilinear weights of the 2 × 2
// pixels around (x, y), each tap clamped into the box. Outside the box of pixel centres the
// pixel keeps `existing`, unless smooth and less than one pixel out: then the sample at the
// clamped coordinate is faded in with weight (1 − dx)(1 − dy).
inline TPixel Sample(const std::function<double(int, int)>& at, TBox b, double x, double y, bool nearest, bool smooth,
                     double existing) {
    if (!std::isfinite(x) || !std::isfinite(y)) return {};
    const double x0 = b.X, x1 = b.X + b.W - 1, y0 = b.Y, y1 = b.Y + b.H - 1;
    const double dx = std::max({0.0, x0 - x, x - x1}), dy = std::max({0.0, y0 - y, y - y1});
    double weight = 1;
    if (dx > 0 || dy > 0) {
        if (!smooth) {
            if (dx < kSlack && dy < kSlack) return {TOutcome::Ambiguous, 0};
            return {};
        }
        if (dx >= 1 || dy >= 1) {
            if (dx < 1 + kSlack && dy < 1 + kSlack) return {TOutcome::Ambiguous, 0};
            return {};
        }
        weight = (1 - dx) * (1 - dy);
    } else if (!smooth && (x - x0 < kSlack || x1 - x < kSlack || y - y0 < kSlack || y1 - y < kSlack)) {
        return {TOutcome::Ambiguous, 0};  // just inside: the float coordinate may fall out
    }
    const double cx = std::clamp(x, x0, x1), cy = std::clamp(y, y0, y1);
    auto tap = [&](int px, int py) { return at(std::clamp(px, b.X, b.X + b.W - 1), std::clamp(py, b.Y, b.Y + b.H - 1)); };
    double v;
    if (nearest) {
        const double fx = cx - std::floor(cx), fy = cy - std::floor(cy);
        if (std::fabs(fx - 0.5) < kSlack || std::fabs(fy - 0.5) < kSlack) return {TOutcome::Ambiguous, 0};
        v = tap(int(std::floor(cx + 0.5)), int(std::floor(cy + 0.5)));
    } else {
        const int ix = int(std::floor(cx)), iy = int(std::floor(cy));
        const double fx = cx - ix, fy = cy - iy;
        v = tap(ix, iy) * (1 - fx) * (1 - fy) + tap(ix + 1, iy) * fx * (1 - fy) + tap(ix, iy + 1) * (1 - fx) * fy +
            tap(ix + 1, iy + 1) * fx * fy;
    }
    return {TOutcome::Value, v * weight + existing * (1 - weight)};
}

// The source point of a destination point when the picture turns clockwise on screen (y down)
// by `degrees` about (ax, ay) and then moves by (tx, ty): undo the move, turn back.
inline void RotateBack(double degrees, double ax, double ay, double tx, double ty, double X, double Y, double& x,
                       double& y) {
    const double t = degrees * std::acos(-1.0) / 180.0;
    const double dx = X - tx - ax, dy = Y - ty - ay;
    x = ax + dx * std::cos(t) + dy * std::sin(t);
    y = ay - dx * std::sin(t) + dy * std::cos(t);
}

// The projective map of the unit square onto the quadrangle q (top-left, top-right,
// bottom-right, bottom-left) in closed form: m maps (u, v, 1) to homogeneous (X, Y, w).
inline void SquareToQuad(const double q[4][2], double m[3][3]) {
    const double x0 = q[0][0], y0 = q[0][1], x1 = q[1][0], y1 = q[1][1], x2 = q[2][0], y2 = q[2][1], x3 = q[3][0],
                 y3 = q[3][1];
    const double sx = x0 - x1 + x2 - x3, sy = y0 - y1 + y2 - y3;
    double g = 0, h = 0;
    if (sx != 0 || sy != 0) {
        const double dx1 = x1 - x2, dx2 = x3 - x2, dy1 = y1 - y2, dy2 = y3 - y2;
        const double det = dx1 * dy2 - dx2 * dy1;
        g = (sx * dy2 - dx2 * sy) / det;
        h = (dx1 * sy - sx * dy1) / det;
    }
    m[0][0] = x1 - x0 + g * x1, m[0][1] = x3 - x0 + h * x3, m[0][2] = x0;
    m[1][0] = y1 - y0 + g * y1, m[1][1] = y3 - y0 + h * y3, m[1][2] = y0;
    m[2][0] = g, m[2][1] = h, m[2][2] = 1;
}

// The rectangle (rx, ry, rw, rh), by its outer edges, projected onto q: the point for (x, y).
inline void RectToQuadPerspective(const double q[4][2], double rx, double ry, double rw, double rh, double x, double y,
                                  double& X, double& Y) {
    double m[3][3];
    SquareToQuad(q, m);
    const double u = (x - rx) / rw, v = (y - ry) / rh;
    const double w = m[2][0] * u + m[2][1] * v + m[2][2];
    X = (m[0][0] * u + m[0][1] * v + m[0][2]) / w;
    Y = (m[1][0] * u + m[1][1] * v + m[1][2]) / w;
}

// The inverse: which point of the rectangle lands on (X, Y). False beyond the horizon.
inline bool QuadToRectPerspective(const double q[4][2], double rx, double ry, double rw, double rh, double X, double Y,
                                  double& x, double& y) {
    double m[3][3];
    SquareToQuad(q, m);
    // Inverse by cofactors; the sign of the weight tells the picture's side of the horizon.
    const double a = m[0][0], b = m[0][1], c = m[0][2], d = m[1][0], e = m[1][1], f = m[1][2], g = m[2][0],
                 h = m[2][1], k = m[2][2];
    const double A = e * k - f * h, B = c * h - b * k, C = b * f - c * e;
    const double D = f * g - d * k, E = a * k - c * g, F = c * d - a * f;
    const double G = d * h - e * g, H = b * g - a * h, K = a * e - b * d;
    const double w = G * X + H * Y + K;
    const double det = a * A + b * D + c * G;
    if (!(w / det > 0)) return false;  // the forward weight 1 / (w / det) must be positive
    const double u = (A * X + B * Y + C) / w, v = (D * X + E * Y + F) / w;
    x = rx + u * rw;
    y = ry + v * rh;
    return true;
}

// The bilinear map of the rectangle onto q: corners to corners, straight lines along the edges.
inline void RectToQuadBilinear(const double q[4][2], double rx, double ry, double rw, double rh, double x, double y,
                               double& X, double& Y) {
    const double u = (x - rx) / rw, v = (y - ry) / rh;
    X = (1 - u) * (1 - v) * q[0][0] + u * (1 - v) * q[1][0] + u * v * q[2][0] + (1 - u) * v * q[3][0];
    Y = (1 - u) * (1 - v) * q[0][1] + u * (1 - v) * q[1][1] + u * v * q[2][1] + (1 - u) * v * q[3][1];
}

// The inverse by Newton's method from the rectangle's centre; false when it does not converge.
inline bool QuadToRectBilinear(const double q[4][2], double rx, double ry, double rw, double rh, double X, double Y,
                               double& x, double& y) {
    double u = 0.5, v = 0.5;
    for (int it = 0; it < 60; ++it) {
        double px, py;
        RectToQuadBilinear(q, 0, 0, 1, 1, u, v, px, py);
        const double ex = px - X, ey = py - Y;
        if (std::fabs(ex) < 1e-10 && std::fabs(ey) < 1e-10) {
            x = rx + u * rw;
            y = ry + v * rh;
            return true;
        }
        // Partial derivatives of the unit-square map.
        const double xu = (1 - v) * (q[1][0] - q[0][0]) + v * (q[2][0] - q[3][0]);
        const double xv = (1 - u) * (q[3][0] - q[0][0]) + u * (q[2][0] - q[1][0]);
        const double yu = (1 - v) * (q[1][1] - q[0][1]) + v * (q[2][1] - q[3][1]);
        const double yv = (1 - u) * (q[3][1] - q[0][1]) + u * (q[2][1] - q[1][1]);
        const double det = xu * yv - xv * yu;
        if (det == 0) return false;
        u -= (ex * yv - ey * xv) / det;
        v -= (ey * xu - ex * yu) / det;
    }
    return false;
}

}  // namespace pixora::warpref
