// RGB to HLS per pixel, and the hue-vector planes through 256-entry tables of the trigonometric
// terms (the hue byte has 256 values).
#include "platform/kernels/HueVector.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <numbers>

namespace pixora::kernels {

namespace {

// num / den rounded to the nearest integer, halves up; num >= 0, den > 0, both below 2^20.
// One correctly rounded double division: a true half stays exactly half, and any other
// quotient lies at least 1 / (2 den) away from a half, far beyond the division's error.
inline uint8_t RoundedQuotient(int num, int den) noexcept { return uint8_t(std::floor(double(num) / double(den) + 0.5)); }

}  // namespace

void RGBToHLSPixel8(const uint8_t rgb[3], uint8_t hls[3]) noexcept {
    const int r = rgb[0], g = rgb[1], b = rgb[2];
    const int m1 = std::max(r, std::max(g, b)), m2 = std::min(r, std::min(g, b));
    hls[1] = uint8_t((m1 + m2 + 1) / 2);  // (M1 + M2) / 2 x 255, halves up
    if (m1 == m2) {
        hls[0] = 0;
        hls[2] = 0;
        return;
    }
    const int delta = m1 - m2;
    // L <= 0.5 exactly when m1 + m2 <= 255.
    const int sden = m1 + m2 <= 255 ? m1 + m2 : 510 - m1 - m2;
    hls[2] = RoundedQuotient(255 * delta, sden);
    // H / 60 x delta, from the last matching maximum.
    int h = g - b;                       // red:   Cb - Cg
    if (g == m1) h = 2 * delta + b - r;  // green: 2 + Cr - Cb
    if (b == m1) h = 4 * delta + r - g;  // blue:  4 + Cg - Cr
    if (h < 0) h += 6 * delta;
    hls[0] = RoundedQuotient(255 * h, 6 * delta);  // H x 255 / 360
}

void RGBToHLS8(ConstView<uint8_t> src, View<uint8_t> dst, TRect r) noexcept {
    for (int y = r.Y; y < r.Y + r.Height; ++y) {
        const uint8_t* s = src.Row(y) + std::ptrdiff_t(r.X) * 3;
        uint8_t* d = dst.Row(y) + std::ptrdiff_t(r.X) * 3;
        for (int x = 0; x < r.Width; ++x, s += 3, d += 3) RGBToHLSPixel8(s, d);
    }
}

void HueVectorPlanes(ConstView<uint8_t> hls, bool scaleLightness, double* hue, double* lightness, double* saturation,
                     double* x, double* y) noexcept {
    struct TTerms {
        std::array<double, 256> Angle, Sin, Cos;
    };
    static const TTerms terms = [] {
        TTerms t{};
        for (int h = 0; h < 256; ++h) {
            const double angle = double(h) * (std::numbers::pi / 128.0);
            t.Angle[std::size_t(h)] = angle;
            t.Sin[std::size_t(h)] = std::sin(angle);
            t.Cos[std::size_t(h)] = std::cos(angle);
        }
        return t;
    }();
    const double lightScale = scaleLightness ? 1.0 / 256.0 : 1.0;  // exact: a power of two
    std::size_t i = 0;
    for (int row = 0; row < hls.Height; ++row) {
        const uint8_t* p = hls.Row(row);
        for (int col = 0; col < hls.Width; ++col, p += 3, ++i) {
            const std::size_t h = p[0];
            const double sat = double(p[2]) / 256.0;
            if (hue) hue[i] = terms.Angle[h];
            if (lightness) lightness[i] = double(p[1]) * lightScale;
            if (saturation) saturation[i] = sat;
            if (x) x[i] = sat * terms.Sin[h];
            if (y) y[i] = sat * terms.Cos[h];
        }
    }
}

void GrayPlanes(ConstView<uint8_t> gray, double* hue, double* lightness, double* saturation) noexcept {
    std::size_t i = 0;
    for (int row = 0; row < gray.Height; ++row) {
        const uint8_t* p = gray.Row(row);
        for (int col = 0; col < gray.Width; ++col, ++i) {
            hue[i] = 0.0;
            lightness[i] = double(p[col]);
            saturation[i] = 0.0;
        }
    }
}

}  // namespace pixora::kernels
