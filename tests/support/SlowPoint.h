// Slow per-sample references for the point filters and region clamping, written from the
// filters' definitions and sharing nothing with platform/kernels.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>

#include "platform/image/PXImageBuffer.h"

namespace pixora::reference {

// The rectangle a region gives in a frame: Width = min(Width, W - X), Height = min(Height, H - Y);
// negative X, Y count as 0; nothing when the region starts outside.
inline TRect RegionInFrame(bool enabled, TRect region, int width, int height) {
    if (!enabled) return {0, 0, width, height};
    region.X = std::max(region.X, 0);
    region.Y = std::max(region.Y, 0);
    TRect r{region.X, region.Y, std::min(region.Width, width - region.X), std::min(region.Height, height - region.Y)};
    if (r.Width <= 0 || r.Height <= 0) return {0, 0, 0, 0};
    return r;
}

inline int SamplesPerPixel(TPXVideoFormat format) { return format == vfGray16 ? 1 : BitsPerPixel(format) / 8; }

// Applies f to every sample of the rectangle, sample by sample, reading and writing through
// byte offsets; 16-bit samples are read as words.
template <class F>
IPXImageBuffer ApplyPerSample(const IPXImageBuffer& in, TRect r, F f) {
    IPXImageBuffer out = TPXImageBuffer::CreateData(in->GetReadPointer(), in->GetWidth(), in->GetHeight(), in->GetFormat(),
                                                    in->GetLineSize());
    const int spp = SamplesPerPixel(in->GetFormat());
    for (int y = r.Y; y < r.Y + r.Height; ++y)
        for (int x = r.X; x < r.X + r.Width; ++x)
            for (int c = 0; c < spp; ++c) {
                if (in->GetFormat() == vfGray16) {
                    uint16_t v;
                    std::memcpy(&v, in->GetReadPointer() + y * in->GetLineSize() + x * 2, 2);
                    const uint16_t result = uint16_t(f(int(v), 65535));
                    std::memcpy(out->GetModifyPointer() + y * out->GetLineSize() + x * 2, &result, 2);
                } else {
                    const uint8_t v = in->GetReadPointer()[y * in->GetLineSize() + x * spp + c];
                    out->GetModifyPointer()[y * out->GetLineSize() + x * spp + c] = uint8_t(f(int(v), 255));
                }
            }
    return out;
}

inline IPXImageBuffer RandomFrame(int width, int height, TPXVideoFormat format, uint32_t seed) {
    IPXImageBuffer frame = TPXImageBuffer::CreateSize(width, height, format);
    std::mt19937 random(seed);
    uint8_t* data = frame->GetWritePointer();
    for (std::size_t i = 0; i < frame->GetDataSize(); ++i) data[i] = uint8_t(random());
    return frame;
}

// True when the pixels (not the row padding) of two frames are equal; sets where to the first
// differing row.
inline bool SamePixels(const IPXImageBuffer& a, const IPXImageBuffer& b, int* where = nullptr) {
    if (a->GetSize() != b->GetSize() || a->GetFormat() != b->GetFormat()) return false;
    const std::size_t rowBytes = std::size_t(a->GetWidth()) * std::size_t(a->GetBitsPerPixel() / 8);
    for (int y = 0; y < a->GetHeight(); ++y)
        if (std::memcmp(a->GetReadPointer() + y * a->GetLineSize(), b->GetReadPointer() + y * b->GetLineSize(), rowBytes)) {
            if (where) *where = y;
            return false;
        }
    return true;
}

}  // namespace pixora::reference
