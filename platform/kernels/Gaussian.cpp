// Gaussian coefficients, the separable Gaussian blur and the unsharp-mask kernels. The inner loops
// run over the contiguous samples of a row with one coefficient at a time, so the compiler
// vectorises them without changing the order of any sum (contraction is off for the whole build).
#include "platform/kernels/Gaussian.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/kernels/Neighbourhood.h"

namespace pixora::kernels {

double EffectiveSigma(int size, double sigma) noexcept {
    if (sigma > 0.0) return sigma;
    return 0.3 * ((double(size) - 1.0) * 0.5 - 1.0) + 0.8;
}

namespace {

std::vector<double> Gauss1D(int n, double sigma) {
    std::vector<double> g(std::size_t(std::max(n, 0)));
    const double s = EffectiveSigma(n, sigma);
    const double centre = (double(n) - 1.0) * 0.5;
    double sum = 0.0;
    for (int i = 0; i < n; ++i) {
        const double d = double(i) - centre;
        g[std::size_t(i)] = std::exp(-(d * d) / (2.0 * s * s));
        sum += g[std::size_t(i)];
    }
    for (double& v : g) v /= sum;
    return g;
}

// Per-thread scratch rows; contents undefined between calls.
struct TScratch {
    std::vector<float> A, B, C;
    std::vector<std::ptrdiff_t> Columns;
};
thread_local TScratch GScratch;

float* Grow(std::vector<float>& v, std::size_t n) {
    if (v.size() < n) v.resize(n);
    return v.data();
}

// Source sample offsets (within a row) of the padded row that covers the window columns of
// rectangle r: padded pixel j is source column MirrorIndex(r.X − anchorX + j, width).
void PaddedColumns(std::vector<std::ptrdiff_t>& columns, int x0, int pixels, int width, int channels) {
    columns.resize(std::size_t(pixels) * std::size_t(channels));
    for (int j = 0; j < pixels; ++j) {
        const std::ptrdiff_t s = std::ptrdiff_t(MirrorIndex(x0 + j, width)) * channels;
        for (int c = 0; c < channels; ++c) columns[std::size_t(j) * std::size_t(channels) + std::size_t(c)] = s + c;
    }
}

// acc + 0.5f converted toward zero, saturated to 0 .. MAX (NaN gives 0).
template <class T>
inline T HalfUpSaturate(float acc) noexcept {
    float t = acc + 0.5f;
    if (!(t > 0.0f)) return T(0);
    if (t >= float(SampleMax<T>)) return SampleMax<T>;
    return T(t);
}

template <class T>
void SeparableBlur(ConstView<T> src, View<T> dst, TRect r, const float* gx, int width, const float* gy, int height,
                   int anchorX, int anchorY) noexcept {
    if (r.Width <= 0 || r.Height <= 0 || width < 1 || height < 1) return;
    const int channels = src.Channels;
    const int x0 = r.X - anchorX;
    const int pixels = r.Width + width - 1;
    // The source columns the padded row reads lie in [lo, hi].
    int lo = src.Width, hi = -1;
    for (int j = 0; j < pixels; ++j) {
        const int m = MirrorIndex(x0 + j, src.Width);
        lo = std::min(lo, m);
        hi = std::max(hi, m);
    }
    const std::ptrdiff_t columnSamples = std::ptrdiff_t(hi - lo + 1) * channels;
    const std::ptrdiff_t padded = std::ptrdiff_t(pixels) * channels;
    const std::ptrdiff_t samples = std::ptrdiff_t(r.Width) * channels;
    TScratch& s = GScratch;
    PaddedColumns(s.Columns, x0, pixels, src.Width, channels);
    float* v = Grow(s.A, std::size_t(columnSamples));
    float* h = Grow(s.B, std::size_t(padded));
    float* acc = Grow(s.C, std::size_t(samples));
    const std::ptrdiff_t* columns = s.Columns.data();
    const std::ptrdiff_t base = std::ptrdiff_t(lo) * channels;
    for (int y = r.Y; y < r.Y + r.Height; ++y) {
        // Column sums over the window rows.
        std::fill_n(v, columnSamples, 0.0f);
        for (int ky = 0; ky < height; ++ky) {
            const T* row = src.Row(MirrorIndex(y - anchorY + ky, src.Height)) + base;
            const float g = gy[ky];
            for (std::ptrdiff_t i = 0; i < columnSamples; ++i) v[i] = v[i] + g * float(row[i]);
        }
        // The padded row of column sums, then the row sums.
        for (std::ptrdiff_t j = 0; j < padded; ++j) h[j] = v[columns[j] - base];
        std::fill_n(acc, samples, 0.0f);
        for (int kx = 0; kx < width; ++kx) {
            const float g = gx[kx];
            const float* p = h + std::ptrdiff_t(kx) * channels;
            for (std::ptrdiff_t i = 0; i < samples; ++i) acc[i] = acc[i] + g * p[i];
        }
        T* out = dst.Row(y) + std::ptrdiff_t(r.X) * channels;
        for (std::ptrdiff_t i = 0; i < samples; ++i) out[i] = HalfUpSaturate<T>(acc[i]);
    }
}

template <class T, bool Gauss>
void Unsharp(ConstView<T> src, View<T> dst, TRect r, const TUnsharpParams& p) noexcept {
    if (r.Width <= 0 || r.Height <= 0 || p.Width < 1 || p.Height < 1) return;
    if (Gauss && p.Coefficients == nullptr) return;
    const int channels = src.Channels;
    const std::ptrdiff_t samples = std::ptrdiff_t(r.Width) * channels;
    constexpr float MAX = float(SampleMax<T>);
    if (p.Amount >= 1.0f) {
        for (int y = r.Y; y < r.Y + r.Height; ++y) std::fill_n(dst.Row(y) + std::ptrdiff_t(r.X) * channels, samples, SampleMax<T>);
        return;
    }
    const int x0 = r.X - p.AnchorX;
    const int pixels = r.Width + p.Width - 1;
    const std::ptrdiff_t padded = std::ptrdiff_t(pixels) * channels;
    TScratch& s = GScratch;
    PaddedColumns(s.Columns, x0, pixels, src.Width, channels);
    float* rowF = Grow(s.B, std::size_t(padded));
    float* acc = Grow(s.C, std::size_t(samples));
    const std::ptrdiff_t* columns = s.Columns.data();
    const float rescale = 1.0f - p.Amount;
    for (int y = r.Y; y < r.Y + r.Height; ++y) {
        std::fill_n(acc, samples, 0.0f);
        const float* k = p.Coefficients;
        for (int ky = 0; ky < p.Height; ++ky) {
            const T* row = src.Row(MirrorIndex(y - p.AnchorY + ky, src.Height));
            for (std::ptrdiff_t j = 0; j < padded; ++j) rowF[j] = float(row[columns[j]]);
            for (int kx = 0; kx < p.Width; ++kx) {
                const float* q = rowF + std::ptrdiff_t(kx) * channels;
                if constexpr (Gauss) {
                    const float g = *k++;
                    for (std::ptrdiff_t i = 0; i < samples; ++i) acc[i] = acc[i] + g * q[i];
                } else {
                    for (std::ptrdiff_t i = 0; i < samples; ++i) acc[i] = acc[i] + q[i];
                }
            }
        }
        const T* in = src.Row(y) + std::ptrdiff_t(r.X) * channels;
        T* out = dst.Row(y) + std::ptrdiff_t(r.X) * channels;
        for (std::ptrdiff_t i = 0; i < samples; ++i) {
            const float blur = Gauss ? acc[i] : p.AverageCoefficient * acc[i];
            const float sample = float(in[i]);
            const float v = sample - blur * p.Amount;
            if (std::fabs(v / MAX) > p.Threshold) {
                const float q = std::round(v / rescale);
                out[i] = T(std::min(MAX, std::max(0.0f, q)));
            } else {
                out[i] = in[i];
            }
        }
    }
}

}  // namespace

TGaussianCoefficients GaussianCoefficients(int width, int height, double sigmaX, double sigmaY) {
    TGaussianCoefficients k;
    k.Width = width;
    k.Height = height;
    const std::vector<double> gx = Gauss1D(width, sigmaX), gy = Gauss1D(height, sigmaY);
    for (const double v : gx) k.X.push_back(float(v));
    for (const double v : gy) k.Y.push_back(float(v));
    k.Matrix.reserve(gx.size() * gy.size());
    for (const double b : gy)
        for (const double a : gx) k.Matrix.push_back(float(a * b));
    return k;
}

void GaussianBlur2D(ConstView<uint8_t> src, View<uint8_t> dst, TRect r, const float* x, int width, const float* y,
                    int height, int anchorX, int anchorY) noexcept {
    SeparableBlur(src, dst, r, x, width, y, height, anchorX, anchorY);
}
void GaussianBlur2D(ConstView<uint16_t> src, View<uint16_t> dst, TRect r, const float* x, int width, const float* y,
                    int height, int anchorX, int anchorY) noexcept {
    SeparableBlur(src, dst, r, x, width, y, height, anchorX, anchorY);
}
void UnsharpGauss2D(ConstView<uint8_t> src, View<uint8_t> dst, TRect r, const TUnsharpParams& p) noexcept {
    Unsharp<uint8_t, true>(src, dst, r, p);
}
void UnsharpGauss2D(ConstView<uint16_t> src, View<uint16_t> dst, TRect r, const TUnsharpParams& p) noexcept {
    Unsharp<uint16_t, true>(src, dst, r, p);
}
void UnsharpAverage2D(ConstView<uint8_t> src, View<uint8_t> dst, TRect r, const TUnsharpParams& p) noexcept {
    Unsharp<uint8_t, false>(src, dst, r, p);
}
void UnsharpAverage2D(ConstView<uint16_t> src, View<uint16_t> dst, TRect r, const TUnsharpParams& p) noexcept {
    Unsharp<uint16_t, false>(src, dst, r, p);
}

}  // namespace pixora::kernels
