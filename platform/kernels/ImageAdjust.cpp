// Image adjustment kernels: single precision throughout, floored modulo, ties-to-even rounding.
#include "platform/kernels/ImageAdjust.h"

#include <algorithm>
#include <cmath>

namespace pixora::kernels {

namespace {

// a mod b with the sign of b.
inline float FlooredMod(float a, float b) noexcept { return a - b * std::floor(a / b); }

inline uint8_t ToByte(float value) noexcept { return uint8_t(std::clamp(std::nearbyint(value), 0.0f, 255.0f)); }

}  // namespace

void BuildBrightnessContrastTable(uint8_t table[256], float brightness, float contrast) noexcept {
    const float offset = std::nearbyint(brightness * 255.0f);
    for (int v = 0; v < 256; ++v) table[v] = ToByte(float(v) * contrast + offset);
}

namespace {

constexpr int KChunk = 64;

// The colour step over up to KChunk pixels held as three float arrays (components in, rounded
// components out), written without branches (every case computed, then selected) so that it
// vectorises. frame/opencl/ImageAdjust.cl computes the same operations in the same order.
__attribute__((target_clones("avx512f", "avx2", "default"))) void AdjustHLSChunk(float* __restrict p0, float* __restrict p1,
                                                                        float* __restrict p2, int count, float hue,
                                                                        float saturation, float lightness,
                                                                        float contrast = 1.0f, float offset = 0.0f) noexcept {
    for (int i = 0; i < count; ++i) {
        const float first = p0[i] / 255.0f, second = p1[i] / 255.0f, third = p2[i] / 255.0f;
        const float maximum = std::max(first, std::max(second, third));
        const float minimum = std::min(first, std::min(second, third));
        const float chroma = maximum - minimum;
        float l = (maximum + minimum) / 2.0f;
        const bool grey = chroma == 0.0f;
        const float safeChroma = grey ? 1.0f : chroma;
        const float sRaw = chroma / (grey ? 1.0f : (1.0f - std::fabs(2.0f * l - 1.0f)));
        const float hFirst = FlooredMod((second - third) / safeChroma, 6.0f);
        const float hSecond = (third - first) / safeChroma + 2.0f;
        const float hThird = (first - second) / safeChroma + 4.0f;
        const float hPick = maximum == first ? hFirst : (maximum == second ? hSecond : hThird);
        float h = grey ? 0.0f : hPick * 60.0f / 360.0f;
        float s = grey ? 0.0f : sRaw;
        h = FlooredMod(h + hue, 1.0f);
        l = std::min(l * lightness, 1.0f);
        s = std::min(s * saturation, 1.0f);
        const float degrees = h * 360.0f;
        const float c = (1.0f - std::fabs(2.0f * l - 1.0f)) * s;
        const float x = c * (1.0f - std::fabs(FlooredMod(degrees / 60.0f, 2.0f) - 1.0f));
        const float m = l - c / 2.0f;
        const bool s0 = degrees < 60.0f, s1 = degrees < 120.0f, s2 = degrees < 180.0f, s3 = degrees < 240.0f,
                   s4 = degrees < 300.0f;
        const float a = s0 ? c : s1 ? x : s2 ? 0.0f : s3 ? 0.0f : s4 ? x : c;
        const float b = s0 ? x : s1 ? c : s2 ? c : s3 ? x : s4 ? 0.0f : 0.0f;
        const float d = s0 ? 0.0f : s1 ? 0.0f : s2 ? x : s3 ? c : s4 ? c : x;
        const float v0 = std::clamp(std::nearbyint((a + m) * 255.0f), 0.0f, 255.0f);
        const float v1 = std::clamp(std::nearbyint((b + m) * 255.0f), 0.0f, 255.0f);
        const float v2 = std::clamp(std::nearbyint((d + m) * 255.0f), 0.0f, 255.0f);
        // The brightness and contrast step, as BuildBrightnessContrastTable computes it.
        p0[i] = std::clamp(std::nearbyint(v0 * contrast + offset), 0.0f, 255.0f);
        p1[i] = std::clamp(std::nearbyint(v1 * contrast + offset), 0.0f, 255.0f);
        p2[i] = std::clamp(std::nearbyint(v2 * contrast + offset), 0.0f, 255.0f);
    }
}

}  // namespace

void AdjustHLS(const uint8_t in[3], uint8_t out[3], float hue, float saturation, float lightness) noexcept {
    float p0[1] = {float(in[0])}, p1[1] = {float(in[1])}, p2[1] = {float(in[2])};
    AdjustHLSChunk(p0, p1, p2, 1, hue, saturation, lightness);
    out[0] = uint8_t(p0[0]), out[1] = uint8_t(p1[0]), out[2] = uint8_t(p2[0]);
}

void ImageAdjust(ConstView<uint8_t> src, View<uint8_t> dst, TRect r, const TImageAdjustParams& params) noexcept {
    uint8_t table[256];
    BuildBrightnessContrastTable(table, params.Brightness, params.Contrast);
    const float offset = std::nearbyint(params.Brightness * 255.0f);
    const int stride = src.Channels;
    const bool hls = params.UsesHLS();
    alignas(32) float p0[KChunk], p1[KChunk], p2[KChunk];
    for (int y = r.Y; y < r.Y + r.Height; ++y) {
        const uint8_t* in = src.Row(y) + std::ptrdiff_t(r.X) * stride;
        uint8_t* out = dst.Row(y) + std::ptrdiff_t(r.X) * stride;
        if (!hls) {
            for (int x = 0; x < r.Width; ++x) {
                const int i = x * stride;
                out[i] = table[in[i]];
                out[i + 1] = table[in[i + 1]];
                out[i + 2] = table[in[i + 2]];
                if (stride == 4) out[i + 3] = in[i + 3];
            }
            continue;
        }
        for (int x0 = 0; x0 < r.Width; x0 += KChunk) {
            const int count = std::min(KChunk, r.Width - x0);
            for (int k = 0; k < count; ++k) {
                const uint8_t* p = in + (x0 + k) * stride;
                p0[k] = p[0], p1[k] = p[1], p2[k] = p[2];
            }
            AdjustHLSChunk(p0, p1, p2, count, params.Hue, params.Saturation, params.Lightness, params.Contrast,
                           offset);
            for (int k = 0; k < count; ++k) {
                const int i = (x0 + k) * stride;
                out[i] = uint8_t(p0[k]);
                out[i + 1] = uint8_t(p1[k]);
                out[i + 2] = uint8_t(p2[k]);
                if (stride == 4) out[i + 3] = in[i + 3];
            }
        }
    }
}

}  // namespace pixora::kernels
