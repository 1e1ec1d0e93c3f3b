// Test frames and slow references for the image buffer, point filter and generator tests:
// seeded frame content, byte snapshots that own their memory, sample access by coordinates,
// region clamping and rounding written out from their definitions. Nothing here calls the
// pixel kernels or the format conversions.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/image/PXImageBuffer.h"

namespace pixora::testref {

// Bytes of one row that carry pixels (the rest of a row, up to the line size, is padding).
inline int RowBytes(TPXVideoFormat format, int width) {
    if (format == vfUYVY) return (width + 1) / 2 * 4;
    switch (format) {
    case vfRGB24: return width * 3;
    case vfRGBA32: return width * 4;
    case vfGray8: return width;
    case vfGray16: return width * 2;
    default: return 0;
    }
}

// Samples per pixel as the point filters address them: 16-bit grey is one word per pixel.
inline int SamplesPerPixel(TPXVideoFormat format) {
    switch (format) {
    case vfRGB24: return 3;
    case vfRGBA32: return 4;
    case vfGray8: return 1;
    case vfGray16: return 1;
    default: return 2;  // vfUYVY: two bytes per pixel on average
    }
}

inline int SampleMaxOf(TPXVideoFormat format) { return format == vfGray16 ? 65535 : 255; }

// splitmix64: a small, seeded source of test content.
class TTestRandom {
public:
    explicit TTestRandom(uint64_t seed) : FState(seed) {}
    uint64_t Next() {
        uint64_t z = (FState += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint8_t Byte() { return uint8_t(Next() >> 56); }

private:
    uint64_t FState;
};

// The pixel bytes of a frame, row after row without padding, in memory the test owns.
struct TRawImage {
    int Width = 0, Height = 0;
    TPXVideoFormat Format = vfRGB24;
    std::vector<uint8_t> Bytes;

    int Stride() const { return RowBytes(Format, Width); }
    uint8_t* Row(int y) { return Bytes.data() + std::ptrdiff_t(y) * Stride(); }
    const uint8_t* Row(int y) const { return Bytes.data() + std::ptrdiff_t(y) * Stride(); }

    // Sample c of pixel (x, y): a byte, or a host-order word for vfGray16.
    int Sample(int x, int y, int c) const {
        if (Format == vfGray16) {
            uint16_t v;
            std::memcpy(&v, Row(y) + x * 2, 2);
            return v;
        }
        return Row(y)[x * SamplesPerPixel(Format) + c];
    }
    void SetSample(int x, int y, int c, int value) {
        if (Format == vfGray16) {
            const uint16_t v = uint16_t(value);
            std::memcpy(Row(y) + x * 2, &v, 2);
            return;
        }
        Row(y)[x * SamplesPerPixel(Format) + c] = uint8_t(value);
    }
};

inline TRawImage MakeRaw(int width, int height, TPXVideoFormat format) {
    TRawImage raw;
    raw.Width = width;
    raw.Height = height;
    raw.Format = format;
    raw.Bytes.assign(std::size_t(RowBytes(format, width)) * std::size_t(height), 0);
    return raw;
}

inline TRawImage RandomRaw(int width, int height, TPXVideoFormat format, uint64_t seed) {
    TRawImage raw = MakeRaw(width, height, format);
    TTestRandom random(seed);
    for (auto& b : raw.Bytes) b = random.Byte();
    return raw;
}

// Copies the pixel bytes out of a frame, byte by byte through its line size.
inline TRawImage Capture(const IPXImageBuffer& frame) {
    TRawImage raw = MakeRaw(frame->GetWidth(), frame->GetHeight(), frame->GetFormat());
    const uint8_t* data = frame->GetReadPointer();
    for (int y = 0; y < raw.Height; ++y)
        for (int i = 0; i < raw.Stride(); ++i) raw.Row(y)[i] = data[std::ptrdiff_t(y) * frame->GetLineSize() + i];
    return raw;
}

// A new frame (its own pixel block) holding the raw bytes, written row by row through the
// write pointer and line size.
inline IPXImageBuffer ToFrame(const TRawImage& raw) {
    IPXImageBuffer frame = TPXImageBuffer::CreateSize(raw.Width, raw.Height, raw.Format);
    uint8_t* data = frame->GetWritePointer();
    for (int y = 0; y < raw.Height; ++y)
        for (int i = 0; i < raw.Stride(); ++i) data[std::ptrdiff_t(y) * frame->GetLineSize() + i] = raw.Row(y)[i];
    return frame;
}

// Compares size, format and every pixel byte; names the first differing sample and the count.
inline testing::AssertionResult SameImage(const TRawImage& want, const TRawImage& got) {
    if (want.Width != got.Width || want.Height != got.Height || want.Format != got.Format)
        return testing::AssertionFailure() << "frame is " << got.Width << "x" << got.Height << " format "
                                           << int(got.Format) << ", want " << want.Width << "x" << want.Height
                                           << " format " << int(want.Format);
    const int spp = want.Format == vfUYVY ? 0 : SamplesPerPixel(want.Format);
    long bad = 0;
    std::string first;
    for (int y = 0; y < want.Height; ++y) {
        if (spp == 0) {
            for (int i = 0; i < want.Stride(); ++i)
                if (want.Row(y)[i] != got.Row(y)[i] && bad++ == 0)
                    first = "row " + std::to_string(y) + " byte " + std::to_string(i) + ": got " +
                            std::to_string(got.Row(y)[i]) + ", want " + std::to_string(want.Row(y)[i]);
            continue;
        }
        for (int x = 0; x < want.Width; ++x)
            for (int c = 0; c < spp; ++c) {
                const int w = want.Sample(x, y, c), g = got.Sample(x, y, c);
                if (w != g && bad++ == 0)
                    first = "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") sample " + std::to_string(c) +
                            ": got " + std::to_string(g) + ", want " + std::to_string(w);
            }
    }
    if (bad == 0) return testing::AssertionSuccess();
    return testing::AssertionFailure() << bad << " samples differ, first at " << first;
}

inline testing::AssertionResult SameImage(const TRawImage& want, const IPXImageBuffer& got) {
    if (!got) return testing::AssertionFailure() << "no frame";
    return SameImage(want, Capture(got));
}

// A rectangle in pixels (independent of the library's own rectangle type).
struct TRefRect {
    int X = 0, Y = 0, Width = 0, Height = 0;
    bool Empty() const { return Width <= 0 || Height <= 0; }
    bool Contains(int x, int y) const { return x >= X && x < X + Width && y >= Y && y < Y + Height; }
};

// The rectangle a region of interest selects in a frame. The region's fields are stored with a
// minimum of 0; a disabled region is the whole frame; an enabled one is cut at the right and
// bottom edges (Width = min(Width, W - X), Height = min(Height, H - Y)) and selects nothing when
// it starts outside the frame.
inline TRefRect RegionRect(bool enabled, int x, int y, int width, int height, int frameWidth, int frameHeight) {
    if (!enabled) return {0, 0, frameWidth, frameHeight};
    x = std::max(x, 0);
    y = std::max(y, 0);
    width = std::max(width, 0);
    height = std::max(height, 0);
    TRefRect r{x, y, std::min(width, frameWidth - x), std::min(height, frameHeight - y)};
    if (r.Empty()) return {};
    return r;
}

// The input with f(sample, maximum) applied to every sample inside the rectangle (all
// channels, alpha included); samples outside keep the input's value.
template <class F>
TRawImage ApplyInRect(const TRawImage& in, const TRefRect& rect, F f) {
    TRawImage out = in;
    const int spp = SamplesPerPixel(in.Format), max = SampleMaxOf(in.Format);
    for (int y = 0; y < in.Height; ++y)
        for (int x = 0; x < in.Width; ++x)
            if (rect.Contains(x, y))
                for (int c = 0; c < spp; ++c) out.SetSample(x, y, c, f(in.Sample(x, y, c), max));
    return out;
}

inline int NegativeOf(int sample, int max) { return max - sample; }
inline int SolarizeOf(int sample, int max, int level) { return sample < level ? max - sample : sample; }

// Rounds a value to the nearest integer, halves to the even neighbour, by comparing the
// fractional part with one half.
inline long long RoundHalfToEven(double value) {
    const double lower = std::floor(value);
    const double fraction = value - lower;
    long long result = (long long)lower;
    if (fraction > 0.5 || (fraction == 0.5 && (result % 2 != 0))) ++result;
    return result;
}

// The solarize threshold in samples: the level (a float) times the full scale, rounded half to
// even. A float has 24 significant bits, so the product with 255 or 65535 is exact in double.
inline int SolarizeThreshold(float level, int max) { return int(RoundHalfToEven(double(level) * double(max))); }

}  // namespace pixora::testref
