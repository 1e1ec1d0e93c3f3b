// Pixel format conversions: one row function per ordered format pair, chosen once per call.
#include "platform/image/PXConvert.h"
#include "platform/base/PXTargetClones.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <stdexcept>
#include <string>

namespace pixora {

namespace {

using TRowConverter = void (*)(const uint8_t* src, uint8_t* dst, int width) noexcept;
using TFrameConverter = void (*)(const uint8_t* src, std::ptrdiff_t srcStride, uint8_t* dst,
                                 std::ptrdiff_t dstStride, int width, int height) noexcept;

constexpr uint8_t Sat8(int v) noexcept { return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// ---- Grey levels -------------------------------------------------------------------------------

// BT.601 luma of 8-bit blue, green, red: Y = (299 R + 587 G + 114 B + 500) / 1000, rounded to
// nearest with halves up. The sum stays below 2^18, so 32-bit unsigned arithmetic is exact.
inline uint8_t Luma8(const uint8_t* bgr) noexcept {
    const uint32_t sum = uint32_t(bgr[2]) * 299u + uint32_t(bgr[1]) * 587u + uint32_t(bgr[0]) * 114u + 500u;
    return uint8_t(sum / 1000u);
}

// Grey samples of one or two bytes, read and written as 8-bit grey levels.
struct Gray8Sample {
    static constexpr int Bytes = 1;
    static uint8_t Load8(const uint8_t* p) noexcept { return *p; }
    static void Store8(uint8_t* p, uint8_t v) noexcept { *p = v; }
};

struct Gray16Sample {
    static constexpr int Bytes = 2;
    // 16 -> 8 bits: nearest level, (v + 128) / 257 (v / 257 is never exactly halfway).
    static uint8_t Load8(const uint8_t* p) noexcept {
        uint16_t v;
        std::memcpy(&v, p, sizeof v);
        return uint8_t((uint32_t(v) + 128u) / 257u);
    }
    // 8 -> 16 bits: v * 257, so 0 and 255 map to 0 and 65535.
    static void Store8(uint8_t* p, uint8_t v) noexcept {
        const uint16_t w = uint16_t(v * 257u);
        std::memcpy(p, &w, sizeof w);
    }
};

// ---- BT.601 limited range ----------------------------------------------------------------------
//
// Full-range 8-bit R, G, B <-> Y in 16..235 and Cb, Cr in 16..240 (128 = no colour), with
// Kr = 0.299 and Kb = 0.114. Coefficients are the exact values scaled by 2^16 and rounded; the
// green ones of Y and Cb are then nudged by 1 so that the Y row sums to round(65536 * 219 / 255)
// = 56285 and the Cb and Cr rows to 0: grey encodes with Cb = Cr = 128 exactly.
//   Y  = 16  + ( 16829 R + 33040 G +  6416 B + 2^15) >> 16
//   Cb = 128 + ( -9714 R - 19070 G + 28784 B) / 2^16, rounded
//   Cr = 128 + ( 28784 R - 24103 G -  4681 B) / 2^16, rounded
// and back, with C = Y - 16, D = Cb - 128, E = Cr - 128, each result saturated to 0..255:
//   R = (76309 C           + 104597 E + 2^15) >> 16
//   G = (76309 C -  25675 D -  53279 E + 2^15) >> 16
//   B = (76309 C + 132201 D            + 2^15) >> 16
// (76309 = 65536 * 255/219; 104597, 132201, 25675, 53279 = 65536 * 255/224 * 1.402, 1.772,
// 1.772 * 0.114 / 0.587, 1.402 * 0.299 / 0.587.) Right shifts of negative values round toward
// minus infinity, so "+ 2^15 then >> 16" rounds to nearest with halves up throughout.

inline uint8_t LimitedLuma(const uint8_t* bgr) noexcept {
    return uint8_t(16 + ((16829 * bgr[2] + 33040 * bgr[1] + 6416 * bgr[0] + 32768) >> 16));
}
// Cb and Cr of one pixel in 2^16 units, before the offset of 128.
inline int CbTerm(const uint8_t* bgr) noexcept { return -9714 * bgr[2] - 19070 * bgr[1] + 28784 * bgr[0]; }
inline int CrTerm(const uint8_t* bgr) noexcept { return 28784 * bgr[2] - 24103 * bgr[1] - 4681 * bgr[0]; }
// The chroma of a pixel pair: the mean of the two pixels' terms, rounded once.
inline uint8_t PairChroma(int termSum) noexcept { return Sat8(128 + ((termSum + 65536) >> 17)); }

// Chroma contributions to R, G and B of one UYVY pair, in 2^16 units with the rounding half.
struct TChromaTerms {
    int R, G, B;
};
inline TChromaTerms ChromaTerms(uint8_t cb, uint8_t cr) noexcept {
    const int d = cb - 128, e = cr - 128;
    return {104597 * e + 32768, -25675 * d - 53279 * e + 32768, 132201 * d + 32768};
}
template <int Ch>
inline void StoreYuvPixel(uint8_t* bgr, uint8_t y, TChromaTerms c) noexcept {
    const int luma = 76309 * (y - 16);
    bgr[0] = Sat8((luma + c.B) >> 16);
    bgr[1] = Sat8((luma + c.G) >> 16);
    bgr[2] = Sat8((luma + c.R) >> 16);
    if constexpr (Ch == 4) bgr[3] = 255;
}

// Grey level <-> limited-range luma, as tables made from the rules:
//   stretch:  g = (Y - 16) * 255 / 219 rounded to nearest, 0 below Y = 16, 255 above Y = 235;
//   compress: Y = 16 + v * 219 / 255 rounded to nearest.
// Neither division ever lands exactly halfway (219 is odd, 2 * 219 * k is not an odd multiple
// of 255 and vice versa), so these agree with the colour formulas above applied to grey.
constexpr std::array<uint8_t, 256> MakeStretchTable() {
    std::array<uint8_t, 256> t{};
    for (int y = 0; y < 256; ++y)
        t[y] = y <= 16 ? 0 : (y >= 235 ? 255 : uint8_t(((y - 16) * 510 + 219) / 438));
    return t;
}
constexpr std::array<uint8_t, 256> MakeCompressTable() {
    std::array<uint8_t, 256> t{};
    for (int v = 0; v < 256; ++v) t[v] = uint8_t(16 + (v * 219 + 127) / 255);
    return t;
}
constexpr std::array<uint8_t, 256> kStretchLuma = MakeStretchTable();
constexpr std::array<uint8_t, 256> kCompressGrey = MakeCompressTable();

// ---- Row converters ----------------------------------------------------------------------------

// Blue, green, red copied; alpha 255 when added, dropped when removed.
template <int SrcCh, int DstCh>
[[gnu::always_inline]] inline void ColourToColour(const uint8_t* s, uint8_t* d, int width) noexcept {
    int x = 0;
    if constexpr (SrcCh == 3 && DstCh == 4 && std::endian::native == std::endian::little) {
        // Four bytes at a time (blue, green, red and the next pixel's blue, which becomes alpha):
        // 2.5 times faster than the byte-wise form, which GCC does not vectorize.
        for (; x + 1 < width; ++x, s += 3, d += 4) {
            uint32_t v;
            std::memcpy(&v, s, 4);
            v |= 0xFF000000u;
            std::memcpy(d, &v, 4);
        }
    }
    for (; x < width; ++x, s += SrcCh, d += DstCh) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
        if constexpr (DstCh == 4) d[3] = 255;
    }
}

template <int Ch, class Gray>
[[gnu::always_inline]] inline void ColourToGray(const uint8_t* s, uint8_t* d, int width) noexcept {
    for (int x = 0; x < width; ++x, s += Ch, d += Gray::Bytes) Gray::Store8(d, Luma8(s));
}

// The grey level copied to blue, green and red; alpha 255.
template <class Gray, int Ch>
[[gnu::always_inline]] inline void GrayToColour(const uint8_t* s, uint8_t* d, int width) noexcept {
    for (int x = 0; x < width; ++x, s += Gray::Bytes, d += Ch) {
        const uint8_t v = Gray::Load8(s);
        d[0] = v;
        d[1] = v;
        d[2] = v;
        if constexpr (Ch == 4) d[3] = 255;
    }
}

template <class From, class To>
[[gnu::always_inline]] inline void GrayToGray(const uint8_t* s, uint8_t* d, int width) noexcept {
    for (int x = 0; x < width; ++x, s += From::Bytes, d += To::Bytes) To::Store8(d, From::Load8(s));
}

template <int Ch>
[[gnu::always_inline]] inline void UyvyToColour(const uint8_t* s, uint8_t* d, int width) noexcept {
    int x = 0;
    for (; x + 1 < width; x += 2, s += 4, d += 2 * Ch) {
        const TChromaTerms c = ChromaTerms(s[0], s[2]);
        StoreYuvPixel<Ch>(d, s[1], c);
        StoreYuvPixel<Ch>(d + Ch, s[3], c);
    }
    if (x < width) StoreYuvPixel<Ch>(d, s[1], ChromaTerms(s[0], s[2]));  // odd width: first half of the last pair
}

template <int Ch>
[[gnu::always_inline]] inline void ColourToUyvy(const uint8_t* s, uint8_t* d, int width) noexcept {
    int x = 0;
    for (; x + 1 < width; x += 2, s += 2 * Ch, d += 4) {
        d[0] = PairChroma(CbTerm(s) + CbTerm(s + Ch));
        d[1] = LimitedLuma(s);
        d[2] = PairChroma(CrTerm(s) + CrTerm(s + Ch));
        d[3] = LimitedLuma(s + Ch);
    }
    if (x < width) {  // odd width: the last pixel fills its pair alone and its luma is repeated
        d[0] = PairChroma(2 * CbTerm(s));
        d[1] = LimitedLuma(s);
        d[2] = PairChroma(2 * CrTerm(s));
        d[3] = d[1];
    }
}

// Three-channel rows and UYVY go through a block of four-channel pixels on the stack: GCC
// vectorizes the four-channel pair loops and the 3 <-> 4 channel copies, not the three-channel
// pair loops (a group of six bytes).
constexpr int kBlockPixels = 256;  // even, so that blocks split no pair

[[gnu::always_inline]] inline void UyvyToRgb24(const uint8_t* s, uint8_t* d, int width) noexcept {
    alignas(32) uint8_t block[kBlockPixels * 4];
    for (int x = 0; x < width; x += kBlockPixels) {
        const int n = std::min(kBlockPixels, width - x);
        UyvyToColour<4>(s + x * 2, block, n);
        ColourToColour<4, 3>(block, d + x * 3, n);
    }
}

[[gnu::always_inline]] inline void Rgb24ToUyvy(const uint8_t* s, uint8_t* d, int width) noexcept {
    alignas(32) uint8_t block[kBlockPixels * 4];
    for (int x = 0; x < width; x += kBlockPixels) {
        const int n = std::min(kBlockPixels, width - x);
        ColourToColour<3, 4>(s + x * 3, block, n);
        ColourToUyvy<4>(block, d + x * 2, n);
    }
}

template <class Gray>
[[gnu::always_inline]] inline void UyvyToGray(const uint8_t* s, uint8_t* d, int width) noexcept {
    int x = 0;
    for (; x + 1 < width; x += 2, s += 4, d += 2 * Gray::Bytes) {
        Gray::Store8(d, kStretchLuma[s[1]]);
        Gray::Store8(d + Gray::Bytes, kStretchLuma[s[3]]);
    }
    if (x < width) Gray::Store8(d, kStretchLuma[s[1]]);
}

template <class Gray>
[[gnu::always_inline]] inline void GrayToUyvy(const uint8_t* s, uint8_t* d, int width) noexcept {
    int x = 0;
    for (; x + 1 < width; x += 2, s += 2 * Gray::Bytes, d += 4) {
        d[0] = 128;
        d[1] = kCompressGrey[Gray::Load8(s)];
        d[2] = 128;
        d[3] = kCompressGrey[Gray::Load8(s + Gray::Bytes)];
    }
    if (x < width) {
        d[0] = 128;
        d[1] = kCompressGrey[Gray::Load8(s)];
        d[2] = 128;
        d[3] = d[1];
    }
}

// Every row of a frame through one row converter. Cloned for AVX2 and the x86-64 baseline; the
// loader picks the clone once, by the CPU's capabilities.
template <TRowConverter Row>
PIXORA_TARGET_CLONES("avx2", "default")
void ConvertFrame(const uint8_t* src, std::ptrdiff_t srcStride, uint8_t* dst, std::ptrdiff_t dstStride, int width,
                  int height) noexcept {
    for (int y = 0; y < height; ++y) Row(src + y * srcStride, dst + y * dstStride, width);
}

// ---- Dispatch ----------------------------------------------------------------------------------

enum TFormatIndex { fiRGB24, fiRGBA32, fiUYVY, fiGray8, fiGray16, fiCount };

TFormatIndex IndexOf(TPXVideoFormat format) {
    switch (format) {
    case vfRGB24: return fiRGB24;
    case vfRGBA32: return fiRGBA32;
    case vfUYVY: return fiUYVY;
    case vfGray8: return fiGray8;
    case vfGray16: return fiGray16;
    }
    throw std::invalid_argument("Unsupported format");
}

// [source][destination]; the diagonal (equal formats) is a plain row copy and stays empty.
constexpr TFrameConverter kConverters[fiCount][fiCount] = {
    {   // from RGB24
        nullptr,
        ConvertFrame<ColourToColour<3, 4>>,
        ConvertFrame<Rgb24ToUyvy>,
        ConvertFrame<ColourToGray<3, Gray8Sample>>,
        ConvertFrame<ColourToGray<3, Gray16Sample>>,
    },
    {   // from RGBA32
        ConvertFrame<ColourToColour<4, 3>>,
        nullptr,
        ConvertFrame<ColourToUyvy<4>>,
        ConvertFrame<ColourToGray<4, Gray8Sample>>,
        ConvertFrame<ColourToGray<4, Gray16Sample>>,
    },
    {   // from UYVY
        ConvertFrame<UyvyToRgb24>,
        ConvertFrame<UyvyToColour<4>>,
        nullptr,
        ConvertFrame<UyvyToGray<Gray8Sample>>,
        ConvertFrame<UyvyToGray<Gray16Sample>>,
    },
    {   // from Gray8
        ConvertFrame<GrayToColour<Gray8Sample, 3>>,
        ConvertFrame<GrayToColour<Gray8Sample, 4>>,
        ConvertFrame<GrayToUyvy<Gray8Sample>>,
        nullptr,
        ConvertFrame<GrayToGray<Gray8Sample, Gray16Sample>>,
    },
    {   // from Gray16
        ConvertFrame<GrayToColour<Gray16Sample, 3>>,
        ConvertFrame<GrayToColour<Gray16Sample, 4>>,
        ConvertFrame<GrayToUyvy<Gray16Sample>>,
        ConvertFrame<GrayToGray<Gray16Sample, Gray8Sample>>,
        nullptr,
    },
};

std::size_t Magnitude(std::ptrdiff_t v) noexcept { return v < 0 ? std::size_t(0) - std::size_t(v) : std::size_t(v); }

}  // namespace

std::size_t PixelRowBytes(TPXVideoFormat format, int width) {
    const TFormatIndex index = IndexOf(format);
    if (width < 0) throw std::invalid_argument("PixelRowBytes: negative width " + std::to_string(width));
    const std::size_t w = std::size_t(width);
    switch (index) {
    case fiRGB24: return w * 3;
    case fiRGBA32: return w * 4;
    case fiUYVY: return (w + 1) / 2 * 4;
    case fiGray8: return w;
    case fiGray16: return w * 2;
    case fiCount: break;
    }
    return 0;
}

void ConvertPixels(const uint8_t* src, std::ptrdiff_t srcStride, TPXVideoFormat srcFormat, uint8_t* dst,
                   std::ptrdiff_t dstStride, TPXVideoFormat dstFormat, int width, int height) {
    const TFormatIndex from = IndexOf(srcFormat);
    const TFormatIndex to = IndexOf(dstFormat);
    if (width < 0 || height < 0)
        throw std::invalid_argument("ConvertPixels: negative size " + std::to_string(width) + "x" +
                                    std::to_string(height));
    if (width == 0 || height == 0) return;
    if (src == nullptr) throw std::invalid_argument("ConvertPixels: null source");
    if (dst == nullptr) throw std::invalid_argument("ConvertPixels: null destination");
    const std::size_t srcRow = PixelRowBytes(srcFormat, width);
    const std::size_t dstRow = PixelRowBytes(dstFormat, width);
    if (Magnitude(srcStride) < srcRow)
        throw std::invalid_argument("ConvertPixels: source stride " + std::to_string(srcStride) +
                                    " is shorter than a row of " + std::to_string(srcRow) + " bytes");
    if (Magnitude(dstStride) < dstRow)
        throw std::invalid_argument("ConvertPixels: destination stride " + std::to_string(dstStride) +
                                    " is shorter than a row of " + std::to_string(dstRow) + " bytes");

    if (from == to) {
        if (src == dst && srcStride == dstStride) return;
        for (int y = 0; y < height; ++y) std::memcpy(dst + y * dstStride, src + y * srcStride, srcRow);
        return;
    }
    kConverters[from][to](src, srcStride, dst, dstStride, width, height);
}

}  // namespace pixora
