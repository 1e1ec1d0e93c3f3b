// What the remap-filter tests share: a remap filter whose mapping the test gives as a function,
// and slow references for a whole remapped frame (nearest and bilinear sampling, the region of
// interest as the source rectangle, the background where the map points outside it).
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "platform/filters/PXRemapFilters.h"
#include "tests/support/ReferenceImage.h"

namespace pixora::remaptest {

using testref::TRawImage;

// The source coordinate of output pixel (x, y) for input and output sizes.
using TMapFunction = std::function<void(int x, int y, TSize in, TSize out, double& sx, double& sy)>;

class TTestRemap final : public TPXBaseRemapFilter {
public:
    explicit TTestRemap(TMapFunction map) : FMap(std::move(map)) { SetThreaded(false); }
    int Builds = 0;

protected:
    void Calculate(TRemapMaps& maps) override {
        ++Builds;
        for (int y = 0; y < maps.Output.Height; ++y)
            for (int x = 0; x < maps.Output.Width; ++x) {
                double sx, sy;
                FMap(x, y, maps.Input, maps.Output, sx, sy);
                maps.XRow(y)[x] = float(sx);
                maps.YRow(y)[x] = float(sy);
            }
    }

private:
    TMapFunction FMap;
};

// The pixel a background fill of `color` gives in a format (read back from a filled frame), with
// alpha 0 on four-channel frames.
inline TRawImage BackgroundPixel(TColor color, TPXVideoFormat format) {
    IPXImageBuffer frame = TPXImageBuffer::CreateSize(1, 1, format);
    frame->FillColor(color);
    TRawImage raw = testref::Capture(frame);
    if (format == vfRGBA32) raw.SetSample(0, 0, 3, 0);
    return raw;
}

// The remapped frame as the filter must deliver it (in the input's format): for each output
// pixel whose coordinate (float-rounded, as the maps store it) lies inside the source rectangle,
// the nearest or the bilinear sample in double precision; elsewhere the background.
inline TRawImage ReferenceRemap(const TRawImage& in, TSize outSize, TRect roi, const TMapFunction& map,
                                bool linear, TColor background) {
    TRawImage out = testref::MakeRaw(outSize.Width, outSize.Height, in.Format);
    const TRawImage bg = BackgroundPixel(background, in.Format);
    const int nc = testref::SamplesPerPixel(in.Format);
    const TSize inSize{in.Width, in.Height};
    for (int y = 0; y < outSize.Height; ++y)
        for (int x = 0; x < outSize.Width; ++x) {
            double sx, sy;
            map(x, y, inSize, outSize, sx, sy);
            sx = float(sx), sy = float(sy);
            const bool inside = roi.Width > 0 && roi.Height > 0 && sx >= roi.X && sx <= roi.X + roi.Width - 1 &&
                                sy >= roi.Y && sy <= roi.Y + roi.Height - 1;
            for (int c = 0; c < nc; ++c) {
                if (!inside) {
                    out.SetSample(x, y, c, bg.Sample(0, 0, c));
                    continue;
                }
                if (!linear) {
                    out.SetSample(x, y, c, in.Sample(int(std::floor(sx + 0.5)), int(std::floor(sy + 0.5)), c));
                    continue;
                }
                const int x0 = int(std::floor(sx)), y0 = int(std::floor(sy));
                const int x1 = std::min(x0 + 1, roi.X + roi.Width - 1), y1 = std::min(y0 + 1, roi.Y + roi.Height - 1);
                const double fx = sx - x0, fy = sy - y0;
                const double v = in.Sample(x0, y0, c) * (1 - fx) * (1 - fy) + in.Sample(x1, y0, c) * fx * (1 - fy) +
                                 in.Sample(x0, y1, c) * (1 - fx) * fy + in.Sample(x1, y1, c) * fx * fy;
                out.SetSample(x, y, c, int(std::floor(v + 0.5)));
            }
        }
    return out;
}

// Largest difference between two frames of one size and format (samples), or -1 when they differ
// in size or format.
inline int MaxSampleDifference(const TRawImage& a, const TRawImage& b, std::string* where = nullptr) {
    if (a.Width != b.Width || a.Height != b.Height || a.Format != b.Format) return -1;
    int worst = 0;
    const int nc = testref::SamplesPerPixel(a.Format);
    for (int y = 0; y < a.Height; ++y)
        for (int x = 0; x < a.Width; ++x)
            for (int c = 0; c < nc; ++c) {
                const int d = std::abs(a.Sample(x, y, c) - b.Sample(x, y, c));
                if (d > worst) {
                    worst = d;
                    if (where)
                        *where = "pixel " + std::to_string(x) + "," + std::to_string(y) + " channel " +
                                 std::to_string(c) + ": " + std::to_string(a.Sample(x, y, c)) + " vs " +
                                 std::to_string(b.Sample(x, y, c));
                }
            }
    return worst;
}

}  // namespace pixora::remaptest
