// Pixel format conversions against per-pixel references built from the colour definitions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/image/PXConvert.h"
#include "tests/kernels/KernelTestImage.h"

namespace pixora {
namespace {

constexpr TPXVideoFormat kFormats[] = {vfRGB24, vfRGBA32, vfUYVY, vfGray8, vfGray16};

int Bpp(TPXVideoFormat f) { return f == vfRGB24 ? 3 : f == vfRGBA32 ? 4 : f == vfGray8 ? 1 : 2; }
std::size_t RowBytesOf(TPXVideoFormat f, int w) {
    return f == vfUYVY ? std::size_t((w + 1) / 2) * 4 : std::size_t(w) * Bpp(f);
}

// ---- References from the definitions -----------------------------------------------------------

constexpr double kKr = 0.299, kKb = 0.114, kKg = 1.0 - kKr - kKb;

uint8_t Clamp8(double v) { return uint8_t(std::clamp(std::floor(v + 0.5), 0.0, 255.0)); }

// BT.601 luma of full-range 8-bit RGB, rounded to nearest, halves up.
uint8_t RefLuma(int r, int g, int b) { return uint8_t(std::floor((299 * r + 587 * g + 114 * b) / 1000.0 + 0.5)); }
uint16_t RefTo16(int v8) { return uint16_t(std::lround(v8 * 65535.0 / 255.0)); }
uint8_t RefTo8(int v16) { return uint8_t(std::lround(v16 * 255.0 / 65535.0)); }
// Limited-range luma code <-> full-range grey.
uint8_t RefStretch(int y) { return Clamp8((y - 16) * 255.0 / 219.0); }
uint8_t RefCompress(int g) { return uint8_t(16 + std::lround(g * 219.0 / 255.0)); }

struct TRgb {
    int R, G, B;
};

// Y'CbCr (limited range) -> R'G'B' (full range), from Kr and Kb, unrounded but limited to 0..255.
struct TExactRgb {
    double R, G, B;
};
TExactRgb ExactYuvToRgb(int y, int cb, int cr) {
    const double yn = (y - 16) / 219.0, pb = (cb - 128) / 224.0, pr = (cr - 128) / 224.0;
    const double r = yn + 2.0 * (1.0 - kKr) * pr;
    const double b = yn + 2.0 * (1.0 - kKb) * pb;
    const double g = (yn - kKr * r - kKb * b) / kKg;
    auto limit = [](double v) { return std::clamp(255.0 * v, 0.0, 255.0); };
    return {limit(r), limit(g), limit(b)};
}
TRgb RefYuvToRgb(int y, int cb, int cr) {
    const TExactRgb e = ExactYuvToRgb(y, cb, cr);
    return {Clamp8(e.R), Clamp8(e.G), Clamp8(e.B)};
}
// R'G'B' -> Y'CbCr codes, unrounded; a pair's chroma is the mean of its two pixels'.
double RefLumaNorm(const TRgb& p) { return (kKr * p.R + kKg * p.G + kKb * p.B) / 255.0; }
double ExactYCode(const TRgb& p) { return 16.0 + 219.0 * RefLumaNorm(p); }
double RefPb(const TRgb& p) { return (p.B / 255.0 - RefLumaNorm(p)) / (2.0 * (1.0 - kKb)); }
double RefPr(const TRgb& p) { return (p.R / 255.0 - RefLumaNorm(p)) / (2.0 * (1.0 - kKr)); }
double ExactPairCb(const TRgb& a, const TRgb& b) { return 128.0 + 224.0 * (RefPb(a) + RefPb(b)) / 2.0; }
double ExactPairCr(const TRgb& a, const TRgb& b) { return 128.0 + 224.0 * (RefPr(a) + RefPr(b)) / 2.0; }
int RefYCode(const TRgb& p) { return int(std::floor(ExactYCode(p) + 0.5)); }
int RefPairCb(const TRgb& a, const TRgb& b) { return int(std::floor(ExactPairCb(a, b) + 0.5)); }
int RefPairCr(const TRgb& a, const TRgb& b) { return int(std::floor(ExactPairCr(a, b) + 0.5)); }

// Fixed-point results must be the exact value rounded to nearest, up to the precision of 16-bit
// coefficients: within half a code plus a small margin.
constexpr double kNearest = 0.51;

uint16_t Load16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
void Store16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }

// What a pixel of the source is, before any rule of the destination applies.
struct TSourcePixel {
    enum { Colour, Grey8, Grey16, Yuv } Kind;
    TRgb Rgb{};
    int Grey = 0;
    int Y = 0, Cb = 0, Cr = 0;
};

TSourcePixel Decode(TPXVideoFormat f, const uint8_t* row, int x) {
    TSourcePixel p{};
    switch (f) {
    case vfRGB24:
    case vfRGBA32: {
        const uint8_t* px = row + x * Bpp(f);
        p.Kind = TSourcePixel::Colour;
        p.Rgb = {px[2], px[1], px[0]};
        break;
    }
    case vfGray8: p.Kind = TSourcePixel::Grey8; p.Grey = row[x]; break;
    case vfGray16: p.Kind = TSourcePixel::Grey16; p.Grey = Load16(row + 2 * x); break;
    case vfUYVY: {
        const uint8_t* pair = row + (x / 2) * 4;
        p.Kind = TSourcePixel::Yuv;
        p.Cb = pair[0];
        p.Y = pair[x % 2 == 0 ? 1 : 3];
        p.Cr = pair[2];
        break;
    }
    }
    return p;
}

// The 8-bit grey level a grey destination receives.
int GreyOf(const TSourcePixel& p) {
    switch (p.Kind) {
    case TSourcePixel::Colour: return RefLuma(p.Rgb.R, p.Rgb.G, p.Rgb.B);
    case TSourcePixel::Grey8: return p.Grey;
    case TSourcePixel::Grey16: return RefTo8(p.Grey);
    case TSourcePixel::Yuv: return RefStretch(p.Y);
    }
    return -1;
}

// The colour a colour destination receives.
TRgb ColourOf(const TSourcePixel& p) {
    if (p.Kind == TSourcePixel::Colour) return p.Rgb;
    if (p.Kind == TSourcePixel::Yuv) return RefYuvToRgb(p.Y, p.Cb, p.Cr);
    const int g = GreyOf(p);
    return {g, g, g};
}

// One converted row, written from the references.
std::vector<uint8_t> ReferenceRow(TPXVideoFormat from, TPXVideoFormat to, const uint8_t* row, int w) {
    std::vector<uint8_t> out(RowBytesOf(to, w));
    if (from == to) {
        std::copy_n(row, out.size(), out.begin());
        return out;
    }
    for (int x = 0; x < w; ++x) {
        const TSourcePixel p = Decode(from, row, x);
        switch (to) {
        case vfRGB24:
        case vfRGBA32: {
            const TRgb c = ColourOf(p);
            uint8_t* px = out.data() + x * Bpp(to);
            px[0] = uint8_t(c.B);
            px[1] = uint8_t(c.G);
            px[2] = uint8_t(c.R);
            if (to == vfRGBA32) px[3] = 255;
            break;
        }
        case vfGray8: out[x] = uint8_t(GreyOf(p)); break;
        case vfGray16:
            Store16(out.data() + 2 * x, p.Kind == TSourcePixel::Grey16 ? uint16_t(p.Grey) : RefTo16(GreyOf(p)));
            break;
        case vfUYVY: {
            if (x % 2 == 1) break;
            uint8_t* pair = out.data() + (x / 2) * 4;
            const bool alone = x + 1 == w;
            const TSourcePixel q = alone ? p : Decode(from, row, x + 1);
            if (p.Kind == TSourcePixel::Colour) {
                pair[0] = uint8_t(RefPairCb(p.Rgb, q.Rgb));
                pair[1] = uint8_t(RefYCode(p.Rgb));
                pair[2] = uint8_t(RefPairCr(p.Rgb, q.Rgb));
                pair[3] = uint8_t(RefYCode(q.Rgb));
            } else {
                pair[0] = 128;
                pair[1] = RefCompress(GreyOf(p));
                pair[2] = 128;
                pair[3] = RefCompress(GreyOf(q));
            }
            break;
        }
        }
    }
    return out;
}

// Pairs computed in fixed point against a floating-point definition may differ by one code.
int ToleranceOf(TPXVideoFormat from, TPXVideoFormat to) {
    const bool colourFrom = from == vfRGB24 || from == vfRGBA32;
    const bool colourTo = to == vfRGB24 || to == vfRGBA32;
    return (from == vfUYVY && colourTo) || (colourFrom && to == vfUYVY) ? 1 : 0;
}

// A frame of bytes with padded rows; the padding and everything never written holds a marker.
struct TFrame {
    std::ptrdiff_t Stride;
    int Height;
    std::vector<uint8_t> Bytes;
    TFrame(std::size_t rowBytes, int pad, int height, uint8_t fill)
        : Stride(std::ptrdiff_t(rowBytes) + pad), Height(height), Bytes(std::size_t(Stride) * height, fill) {}
    uint8_t* Row(int y) { return Bytes.data() + y * Stride; }
    const uint8_t* Row(int y) const { return Bytes.data() + y * Stride; }
};

TFrame RandomFrame(TPXVideoFormat f, int w, int h, int pad, uint32_t seed) {
    TFrame frame(RowBytesOf(f, w), pad, h, 0);
    test::FillRandom(frame.Bytes, seed);
    return frame;
}

TFrame Convert(const TFrame& src, TPXVideoFormat from, TPXVideoFormat to, int w, int pad) {
    TFrame dst(RowBytesOf(to, w), pad, src.Height, 0x5A);
    ConvertPixels(src.Bytes.data(), src.Stride, from, dst.Bytes.data(), dst.Stride, to, w, src.Height);
    return dst;
}

std::string PairName(TPXVideoFormat from, TPXVideoFormat to) {
    return std::to_string(int(from)) + "->" + std::to_string(int(to));
}

// ---- Every pair --------------------------------------------------------------------------------

// All 25 ordered pairs on random content, odd and even widths (some past 256 pixels), padded
// rows: each row equals the reference (exactly, or within one code where fixed point meets the
// YCbCr definition) and no byte past a row is written.
TEST(ConvertPixels, EveryPairMatchesReference) {
    uint32_t seed = 100;
    for (TPXVideoFormat from : kFormats) {
        for (TPXVideoFormat to : kFormats) {
            for (int w : {1, 2, 3, 37, 67, 258, 513}) {
                SCOPED_TRACE(PairName(from, to) + " width " + std::to_string(w));
                const TFrame src = RandomFrame(from, w, 3, 5, seed++);
                const TFrame dst = Convert(src, from, to, w, 7);
                const std::size_t rowBytes = RowBytesOf(to, w);
                const int tolerance = ToleranceOf(from, to);
                for (int y = 0; y < 3; ++y) {
                    const std::vector<uint8_t> want = ReferenceRow(from, to, src.Row(y), w);
                    for (std::size_t i = 0; i < rowBytes; ++i)
                        ASSERT_LE(std::abs(int(dst.Row(y)[i]) - int(want[i])), tolerance)
                            << "row " << y << " byte " << i << " got " << int(dst.Row(y)[i]) << " want " << int(want[i]);
                    for (std::ptrdiff_t i = std::ptrdiff_t(rowBytes); i < dst.Stride; ++i)
                        ASSERT_EQ(dst.Row(y)[i], 0x5A) << "padding byte " << i << " of row " << y;
                }
            }
        }
    }
}

// Negative strides walk the rows bottom-up: the result is the top-down result upside down.
TEST(ConvertPixels, NegativeStridesFlipRows) {
    const int w = 37, h = 4;
    for (TPXVideoFormat from : kFormats) {
        for (TPXVideoFormat to : kFormats) {
            SCOPED_TRACE(PairName(from, to));
            const TFrame src = RandomFrame(from, w, h, 3, 7);
            const TFrame topDown = Convert(src, from, to, w, 0);
            TFrame bottomUp(RowBytesOf(to, w), 0, h, 0x5A);
            ConvertPixels(src.Bytes.data(), src.Stride, from, bottomUp.Row(h - 1), -bottomUp.Stride, to, w, h);
            for (int y = 0; y < h; ++y)
                ASSERT_TRUE(std::equal(topDown.Row(y), topDown.Row(y) + topDown.Stride, bottomUp.Row(h - 1 - y)));
        }
    }
}

// ---- Exhaustive arithmetic ---------------------------------------------------------------------

// Luma of every 24-bit colour, one plane of red at a time (rows: green, columns: blue).
TEST(ConvertPixels, LumaOfEveryColour) {
    TFrame src(256 * 3, 0, 256, 0);
    for (int r = 0; r < 256; ++r) {
        for (int g = 0; g < 256; ++g)
            for (int b = 0; b < 256; ++b) {
                uint8_t* px = src.Row(g) + b * 3;
                px[0] = uint8_t(b);
                px[1] = uint8_t(g);
                px[2] = uint8_t(r);
            }
        const TFrame grey = Convert(src, vfRGB24, vfGray8, 256, 0);
        const TFrame grey16 = Convert(src, vfRGB24, vfGray16, 256, 0);
        for (int g = 0; g < 256; ++g)
            for (int b = 0; b < 256; ++b) {
                const uint8_t want = RefLuma(r, g, b);
                ASSERT_EQ(grey.Row(g)[b], want) << "r " << r << " g " << g << " b " << b;
                ASSERT_EQ(Load16(grey16.Row(g) + 2 * b), RefTo16(want)) << "r " << r << " g " << g << " b " << b;
            }
    }
}

TEST(ConvertPixels, GreyDepthsAllValuesAndRoundTrip) {
    TFrame g16(65536 * 2, 0, 1, 0);
    for (int v = 0; v < 65536; ++v) Store16(g16.Row(0) + 2 * v, uint16_t(v));
    const TFrame g8 = Convert(g16, vfGray16, vfGray8, 65536, 0);
    for (int v = 0; v < 65536; ++v) ASSERT_EQ(g8.Row(0)[v], RefTo8(v)) << v;

    TFrame all8(256, 0, 1, 0);
    for (int v = 0; v < 256; ++v) all8.Row(0)[v] = uint8_t(v);
    const TFrame up = Convert(all8, vfGray8, vfGray16, 256, 0);
    const TFrame back = Convert(up, vfGray16, vfGray8, 256, 0);
    for (int v = 0; v < 256; ++v) {
        ASSERT_EQ(Load16(up.Row(0) + 2 * v), RefTo16(v)) << v;
        ASSERT_EQ(back.Row(0)[v], v) << "round trip of " << v;
    }
    EXPECT_EQ(Load16(up.Row(0)), 0);
    EXPECT_EQ(Load16(up.Row(0) + 2 * 255), 65535);
}

TEST(ConvertPixels, ColourDepthsRoundTripExactly) {
    const TFrame rgb = RandomFrame(vfRGB24, 67, 5, 1, 9);
    const TFrame rgba = Convert(rgb, vfRGB24, vfRGBA32, 67, 3);
    const TFrame back = Convert(rgba, vfRGBA32, vfRGB24, 67, 1);
    for (int y = 0; y < 5; ++y) {
        ASSERT_TRUE(std::equal(rgb.Row(y), rgb.Row(y) + 67 * 3, back.Row(y)));
        for (int x = 0; x < 67; ++x) ASSERT_EQ(rgba.Row(y)[x * 4 + 3], 255);
    }
}

// Every Y, Cb, Cr triple decodes to the nearest value of the definition.
TEST(ConvertPixels, UyvyDecodesEveryCodeToNearest) {
    TFrame src(256 * 2, 0, 256, 0);  // rows: Cr; 128 pairs hold Y = 2k, 2k + 1
    for (int cb = 0; cb < 256; ++cb) {
        for (int cr = 0; cr < 256; ++cr)
            for (int k = 0; k < 128; ++k) {
                uint8_t* pair = src.Row(cr) + k * 4;
                pair[0] = uint8_t(cb);
                pair[1] = uint8_t(2 * k);
                pair[2] = uint8_t(cr);
                pair[3] = uint8_t(2 * k + 1);
            }
        const TFrame rgb = Convert(src, vfUYVY, vfRGB24, 256, 0);
        for (int cr = 0; cr < 256; ++cr)
            for (int y = 0; y < 256; ++y) {
                const TExactRgb want = ExactYuvToRgb(y, cb, cr);
                const uint8_t* px = rgb.Row(cr) + y * 3;
                ASSERT_LE(std::abs(px[2] - want.R), kNearest) << "y " << y << " cb " << cb << " cr " << cr;
                ASSERT_LE(std::abs(px[1] - want.G), kNearest) << "y " << y << " cb " << cb << " cr " << cr;
                ASSERT_LE(std::abs(px[0] - want.B), kNearest) << "y " << y << " cb " << cb << " cr " << cr;
            }
    }
}

// Random colour pairs and the corners of the RGB cube encode to the nearest codes of the definition.
TEST(ConvertPixels, UyvyEncodesToNearest) {
    const int w = 4096;
    TFrame rgb = RandomFrame(vfRGB24, w, 16, 0, 5);
    for (int i = 0; i < 8; ++i) {  // the eight corners, each paired with itself and its opposite
        uint8_t* px = rgb.Row(0) + i * 6;
        for (int c = 0; c < 3; ++c) px[c] = px[3 + c] = (i >> c) & 1 ? 255 : 0;
        uint8_t* mixed = rgb.Row(1) + i * 6;
        for (int c = 0; c < 3; ++c) {
            mixed[c] = (i >> c) & 1 ? 255 : 0;
            mixed[3 + c] = uint8_t(255 - mixed[c]);
        }
    }
    for (TPXVideoFormat from : {vfRGB24, vfRGBA32}) {
        const TFrame src = from == vfRGB24 ? rgb : Convert(rgb, vfRGB24, vfRGBA32, w, 0);
        const TFrame uyvy = Convert(src, from, vfUYVY, w, 0);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < w; x += 2) {
                const uint8_t* a = rgb.Row(y) + x * 3;
                const TRgb p{a[2], a[1], a[0]}, q{a[5], a[4], a[3]};
                const uint8_t* pair = uyvy.Row(y) + x * 2;
                ASSERT_LE(std::abs(pair[0] - ExactPairCb(p, q)), kNearest) << "pixel " << x << " row " << y;
                ASSERT_LE(std::abs(pair[1] - ExactYCode(p)), kNearest) << "pixel " << x << " row " << y;
                ASSERT_LE(std::abs(pair[2] - ExactPairCr(p, q)), kNearest) << "pixel " << x << " row " << y;
                ASSERT_LE(std::abs(pair[3] - ExactYCode(q)), kNearest) << "pixel " << x << " row " << y;
            }
    }
}

// With neutral chroma, colour and grey decoding of every Y code agree exactly: the colour decode
// of grey is the stretch of Y to full range.
TEST(ConvertPixels, UyvyNeutralChromaDecodesAsGreyStretch) {
    TFrame src(256 * 2, 0, 1, 0);
    for (int k = 0; k < 128; ++k) {
        uint8_t* pair = src.Row(0) + k * 4;
        pair[0] = 128;
        pair[1] = uint8_t(2 * k);
        pair[2] = 128;
        pair[3] = uint8_t(2 * k + 1);
    }
    const TFrame rgb = Convert(src, vfUYVY, vfRGB24, 256, 0);
    const TFrame grey = Convert(src, vfUYVY, vfGray8, 256, 0);
    for (int y = 0; y < 256; ++y) {
        ASSERT_EQ(grey.Row(0)[y], RefStretch(y)) << y;
        for (int c = 0; c < 3; ++c) ASSERT_EQ(rgb.Row(0)[y * 3 + c], RefStretch(y)) << y;
    }
}

// Grey pixels encode with neutral chroma, and grey and colour encoding give the same luma.
TEST(ConvertPixels, GreyEncodesWithNeutralChroma) {
    TFrame grey(256, 0, 1, 0), rgb(256 * 3, 0, 1, 0);
    for (int v = 0; v < 256; ++v) {
        grey.Row(0)[v] = uint8_t(v);
        std::fill_n(rgb.Row(0) + 3 * v, 3, uint8_t(v));
    }
    const TFrame fromGrey = Convert(grey, vfGray8, vfUYVY, 256, 0);
    const TFrame fromRgb = Convert(rgb, vfRGB24, vfUYVY, 256, 0);
    for (int v = 0; v < 256; ++v) {
        const uint8_t* pair = fromGrey.Row(0) + (v / 2) * 4;
        ASSERT_EQ(pair[v % 2 == 0 ? 1 : 3], RefCompress(v)) << v;
        ASSERT_EQ(pair[0], 128);
        ASSERT_EQ(pair[2], 128);
    }
    EXPECT_EQ(fromGrey.Bytes, fromRgb.Bytes);
}

// Full-range grey survives a trip through limited-range luma within one level.
TEST(ConvertPixels, GreyThroughUyvyWithinOneLevel) {
    TFrame grey(256, 0, 1, 0);
    for (int v = 0; v < 256; ++v) grey.Row(0)[v] = uint8_t(v);
    const TFrame back = Convert(Convert(grey, vfGray8, vfUYVY, 256, 0), vfUYVY, vfGray8, 256, 0);
    for (int v = 0; v < 256; ++v) ASSERT_LE(std::abs(back.Row(0)[v] - v), 1) << v;
    EXPECT_EQ(back.Row(0)[0], 0);
    EXPECT_EQ(back.Row(0)[255], 255);
}

// Colour through UYVY and back, with both pixels of each pair equal so that chroma sharing does
// not mix colours: every channel within 2 of the original over a 4-step grid of the RGB cube.
TEST(ConvertPixels, ColourThroughUyvyWithinTwo) {
    std::vector<TRgb> colours;
    for (int r = 0; r < 256; r += 4)
        for (int g = 0; g < 256; g += 4)
            for (int b = 0; b < 256; b += 4) colours.push_back({r == 252 ? 255 : r, g == 252 ? 255 : g, b == 252 ? 255 : b});
    const int w = int(colours.size()) * 2;
    TFrame rgb(std::size_t(w) * 3, 0, 1, 0);
    for (std::size_t i = 0; i < colours.size(); ++i)
        for (int k = 0; k < 2; ++k) {
            uint8_t* px = rgb.Row(0) + (2 * i + k) * 3;
            px[0] = uint8_t(colours[i].B);
            px[1] = uint8_t(colours[i].G);
            px[2] = uint8_t(colours[i].R);
        }
    const TFrame back = Convert(Convert(rgb, vfRGB24, vfUYVY, w, 0), vfUYVY, vfRGB24, w, 0);
    int worst = 0;
    for (int i = 0; i < w * 3; ++i) worst = std::max(worst, std::abs(back.Row(0)[i] - rgb.Row(0)[i]));
    EXPECT_LE(worst, 2);
}

// An odd width: the last pair carries the last pixel's chroma alone and repeats its luma.
TEST(ConvertPixels, OddWidthLastPairRepeatsLuma) {
    for (int w : {1, 3, 37}) {
        const TFrame rgb = RandomFrame(vfRGB24, w, 2, 0, 77);
        const TFrame uyvy = Convert(rgb, vfRGB24, vfUYVY, w, 0);
        for (int y = 0; y < 2; ++y) {
            const uint8_t* last = rgb.Row(y) + (w - 1) * 3;
            const TRgb p{last[2], last[1], last[0]};
            const uint8_t* pair = uyvy.Row(y) + (w / 2) * 4;
            EXPECT_EQ(pair[1], pair[3]);
            EXPECT_LE(std::abs(pair[1] - RefYCode(p)), 1);
            EXPECT_LE(std::abs(pair[0] - RefPairCb(p, p)), 1);
            EXPECT_LE(std::abs(pair[2] - RefPairCr(p, p)), 1);
        }
    }
}

// ---- Bad input ---------------------------------------------------------------------------------

TEST(ConvertPixels, RejectsBadArguments) {
    std::vector<uint8_t> a(1024), b(1024);
    auto expectMessage = [](auto call, const std::string& part) {
        try {
            call();
            ADD_FAILURE() << "no exception, expected one naming '" << part << "'";
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
        }
    };
    for (int ordinal : {2, 4, 7, 10, 15, 200}) {
        expectMessage([&] { ConvertPixels(a.data(), 64, TPXVideoFormat(ordinal), b.data(), 64, vfRGB24, 4, 4); },
                      "Unsupported format");
        expectMessage([&] { ConvertPixels(a.data(), 64, vfGray8, b.data(), 64, TPXVideoFormat(ordinal), 4, 4); },
                      "Unsupported format");
        expectMessage([&] { PixelRowBytes(TPXVideoFormat(ordinal), 4); }, "Unsupported format");
    }
    expectMessage([&] { ConvertPixels(a.data(), 64, vfGray8, b.data(), 64, vfGray8, -1, 4); }, "negative size");
    expectMessage([&] { ConvertPixels(a.data(), 64, vfGray8, b.data(), 64, vfGray8, 4, -1); }, "negative size");
    expectMessage([&] { ConvertPixels(nullptr, 64, vfGray8, b.data(), 64, vfGray8, 4, 4); }, "null source");
    expectMessage([&] { ConvertPixels(a.data(), 64, vfGray8, nullptr, 64, vfGray8, 4, 4); }, "null destination");
    expectMessage([&] { ConvertPixels(a.data(), 11, vfRGB24, b.data(), 64, vfGray8, 4, 4); }, "source stride");
    expectMessage([&] { ConvertPixels(a.data(), 64, vfRGB24, b.data(), 7, vfUYVY, 4, 4); }, "destination stride");
    expectMessage([&] { ConvertPixels(a.data(), 64, vfGray8, b.data(), -7, vfGray16, 4, 4); }, "destination stride");
    // Nothing to convert: no pointer is touched.
    EXPECT_NO_THROW(ConvertPixels(nullptr, 0, vfGray8, nullptr, 0, vfRGB24, 0, 4));
    EXPECT_NO_THROW(ConvertPixels(nullptr, 0, vfGray8, nullptr, 0, vfRGB24, 4, 0));
}

}  // namespace
}  // namespace pixora
