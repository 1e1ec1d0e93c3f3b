// Slow, direct references for the neighbourhood filters (convolution, box average / min / max /
// median), written sample by sample from the filters' definitions and sharing nothing with
// platform/kernels. Every reference reads the input frame through its line size and writes a
// copy of it, so that samples outside the rectangle keep the input's values.
//
// The arithmetic they pin down, shared by every path of the filters:
// - border: a window position left of / above the frame is mirrored without repeating the edge
//   (-1 reads 1, -2 reads 2); right of / below it with the edge repeated (W reads W - 1,
//   W + 1 reads W - 2); one reflection only, clamped into the frame;
// - convolution: acc (float) = 0, then acc += coefficient * sample for KY outer, KX inner, each
//   product and sum rounded to float (no fused multiply-add); the result is acc + 0.5f truncated
//   toward zero, saturated to 0 .. maximum (NaN gives 0);
// - average: acc (float) = sum of the window in the same order; result = round(acc * coefficient)
//   with coefficient = 1.0f / (width * height) as a float and halves rounded away from zero;
// - min / max: folded from the maximum / from 0;
// - median: the window sorted; odd count n gives the element n / 2, an even count the integer
//   mean (a + b) / 2 (truncated) of the elements n / 2 - 1 and n / 2.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "platform/image/PXImageBuffer.h"
#include "platform/ocl/PXOpenCL.h"

namespace pixora::reference {

// The mirrored coordinate of a window position i in a frame dimension of n samples.
inline int MirrorCoordinate(int i, int n) {
    if (i < 0) return std::min(-i, n - 1);
    if (i >= n) return std::max(0, (n - 1) - (i - n));
    return i;
}

// Whether an OpenCL platform (PoCL on a machine without a GPU) offers a device.
inline bool HaveOpenCL() { return !TOpenCL::Devices().empty(); }

inline int NeighbourhoodChannels(TPXVideoFormat format) { return format == vfGray16 ? 1 : BitsPerPixel(format) / 8; }
inline int NeighbourhoodMaximum(TPXVideoFormat format) { return format == vfGray16 ? 65535 : 255; }

inline int ReadSample(const IPXImageBuffer& frame, int x, int y, int c) {
    const uint8_t* row = frame->GetReadPointer() + std::ptrdiff_t(y) * frame->GetLineSize();
    if (frame->GetFormat() == vfGray16) {
        uint16_t v;
        std::memcpy(&v, row + std::ptrdiff_t(x) * 2, 2);
        return v;
    }
    return row[std::ptrdiff_t(x) * NeighbourhoodChannels(frame->GetFormat()) + c];
}

inline void WriteSample(const IPXImageBuffer& frame, int x, int y, int c, int value) {
    uint8_t* row = frame->GetModifyPointer() + std::ptrdiff_t(y) * frame->GetLineSize();
    if (frame->GetFormat() == vfGray16) {
        const uint16_t v = uint16_t(value);
        std::memcpy(row + std::ptrdiff_t(x) * 2, &v, 2);
        return;
    }
    row[std::ptrdiff_t(x) * NeighbourhoodChannels(frame->GetFormat()) + c] = uint8_t(value);
}

// Calls visit(sample) for the window of output sample (x, y, c): KY outer, KX inner, the window's
// top-left at (x - anchorX, y - anchorY), positions mirrored into the frame.
template <class F>
void VisitWindow(const IPXImageBuffer& in, int x, int y, int c, TSize mask, int anchorX, int anchorY, F visit) {
    for (int ky = 0; ky < mask.Height; ++ky) {
        const int yi = MirrorCoordinate(y - anchorY + ky, in->GetHeight());
        for (int kx = 0; kx < mask.Width; ++kx) {
            const int xi = MirrorCoordinate(x - anchorX + kx, in->GetWidth());
            visit(ReadSample(in, xi, yi, c));
        }
    }
}

// A copy of `in` whose samples inside r are value(x, y, c, maximum).
template <class F>
IPXImageBuffer ApplyToRect(const IPXImageBuffer& in, TRect r, F value) {
    IPXImageBuffer out = TPXImageBuffer::CreateData(in->GetReadPointer(), in->GetWidth(), in->GetHeight(),
                                                    in->GetFormat(), in->GetLineSize());
    const int channels = NeighbourhoodChannels(in->GetFormat());
    const int maximum = NeighbourhoodMaximum(in->GetFormat());
    for (int y = r.Y; y < r.Y + r.Height; ++y)
        for (int x = r.X; x < r.X + r.Width; ++x)
            for (int c = 0; c < channels; ++c) WriteSample(out, x, y, c, value(x, y, c, maximum));
    return out;
}

// A float product kept apart from the following sum (no contraction into a fused multiply-add).
inline float SeparateProduct(float a, float b) {
    float p = a * b;
    __asm__("" : "+x"(p));
    return p;
}

// acc + 0.5f truncated toward zero and saturated; NaN gives 0.
inline int RoundedSaturated(float acc, int maximum) {
    const float v = acc + 0.5f;
    if (!(v > 0.0f)) return 0;
    if (v >= float(maximum)) return maximum;
    return int(v);
}

// Convolution with coefficients indexed KY * mask.Width + KX (the normalised array).
inline IPXImageBuffer ConvolveReference(const IPXImageBuffer& in, TRect r, const std::vector<float>& coefficients,
                                        TSize mask, int anchorX, int anchorY) {
    return ApplyToRect(in, r, [&](int x, int y, int c, int maximum) {
        float acc = 0.0f;
        int index = 0;
        VisitWindow(in, x, y, c, mask, anchorX, anchorY,
                    [&](int v) { acc = acc + SeparateProduct(coefficients[std::size_t(index++)], float(v)); });
        return RoundedSaturated(acc, maximum);
    });
}

inline IPXImageBuffer BoxAverageReference(const IPXImageBuffer& in, TRect r, TSize mask, int anchorX, int anchorY) {
    const float coefficient = 1.0f / float(mask.Width * mask.Height);
    return ApplyToRect(in, r, [&](int x, int y, int c, int maximum) {
        float acc = 0.0f;
        VisitWindow(in, x, y, c, mask, anchorX, anchorY, [&](int v) { acc = acc + float(v); });
        const float scaled = SeparateProduct(acc, coefficient);
        return std::min(int(std::round(scaled)), maximum);
    });
}

inline IPXImageBuffer BoxMinReference(const IPXImageBuffer& in, TRect r, TSize mask, int anchorX, int anchorY) {
    return ApplyToRect(in, r, [&](int x, int y, int c, int maximum) {
        int result = maximum;
        VisitWindow(in, x, y, c, mask, anchorX, anchorY, [&](int v) { result = std::min(result, v); });
        return result;
    });
}

inline IPXImageBuffer BoxMaxReference(const IPXImageBuffer& in, TRect r, TSize mask, int anchorX, int anchorY) {
    return ApplyToRect(in, r, [&](int x, int y, int c, int) {
        int result = 0;
        VisitWindow(in, x, y, c, mask, anchorX, anchorY, [&](int v) { result = std::max(result, v); });
        return result;
    });
}

// The window inserted one sample at a time into a sorted list (after any equal values), then
// the middle element, or the truncated mean of the two middle ones for an even count.
inline IPXImageBuffer BoxMedianReference(const IPXImageBuffer& in, TRect r, TSize mask, int anchorX, int anchorY) {
    return ApplyToRect(in, r, [&](int x, int y, int c, int) {
        std::vector<int> list;
        VisitWindow(in, x, y, c, mask, anchorX, anchorY,
                    [&](int v) { list.insert(std::upper_bound(list.begin(), list.end(), v), v); });
        const std::size_t n = list.size();
        return n % 2 == 1 ? list[n / 2] : (list[n / 2 - 1] + list[n / 2]) / 2;
    });
}

// A frame of the format whose bytes are random (reproducible from the seed).
inline IPXImageBuffer NoiseFrame(int width, int height, TPXVideoFormat format, uint32_t seed) {
    IPXImageBuffer frame = TPXImageBuffer::CreateSize(width, height, format);
    std::mt19937 random(seed);
    uint8_t* data = frame->GetWritePointer();
    for (std::size_t i = 0; i < frame->GetDataSize(); ++i) data[i] = uint8_t(random() >> 24);
    return frame;
}

// True when the pixels of two frames (not the row padding) are equal; *where = first differing
// sample as (x, y, c).
struct TSampleAt {
    int X = -1, Y = -1, C = -1;
};
inline bool SameSamples(const IPXImageBuffer& a, const IPXImageBuffer& b, TSampleAt* where = nullptr) {
    if (a->GetSize() != b->GetSize() || a->GetFormat() != b->GetFormat()) return false;
    const int channels = NeighbourhoodChannels(a->GetFormat());
    for (int y = 0; y < a->GetHeight(); ++y)
        for (int x = 0; x < a->GetWidth(); ++x)
            for (int c = 0; c < channels; ++c)
                if (ReadSample(a, x, y, c) != ReadSample(b, x, y, c)) {
                    if (where) *where = {x, y, c};
                    return false;
                }
    return true;
}

}  // namespace pixora::reference
