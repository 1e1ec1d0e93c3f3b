// Frames and per-pixel comparison for the rotate, shear and warp filter tests: the background
// colour's samples read back from a filled frame, and a check of every output sample against a
// source-point reference (see WarpReference.h).
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>

#include "platform/image/PXImageBuffer.h"
#include "tests/geometric/WarpReference.h"
#include "tests/support/ReferenceImage.h"

namespace pixora::geomtest {

using testref::TRawImage;

inline const TPXVideoFormat kNativeFormats[] = {vfRGB24, vfRGBA32, vfGray8, vfGray16};

inline std::string FormatLabel(TPXVideoFormat f) {
    switch (f) {
    case vfRGB24: return "RGB24";
    case vfRGBA32: return "RGBA32";
    case vfGray8: return "Gray8";
    case vfGray16: return "Gray16";
    default: return "format " + std::to_string(int(f));
    }
}

inline int Channels(TPXVideoFormat f) { return testref::SamplesPerPixel(f); }

// The samples a frame of that format holds after FillColor(color).
inline TRawImage BackgroundOf(int width, int height, TPXVideoFormat format, TColor color) {
    IPXImageBuffer frame = TPXImageBuffer::CreateSize(width, height, format);
    frame->FillColor(color);
    return testref::Capture(frame);
}

// source(X, Y, x, y): the source point of output pixel (X, Y), false for none. Compares every
// output sample; returns the number of samples the reference wrote.
inline int ExpectMatches(const TRawImage& in, warpref::TBox box, const TRawImage& background, const TRawImage& out,
                         bool nearest, bool smooth, const std::function<bool(double, double, double&, double&)>& source,
                         const std::string& what) {
    const int channels = Channels(in.Format);
    const double tolerance = nearest && !smooth ? 0.0 : 1.0;
    int failures = 0, written = 0, checked = 0;
    for (int Y = 0; Y < out.Height; ++Y)
        for (int X = 0; X < out.Width; ++X) {
            double x, y;
            if (!source(X, Y, x, y)) x = y = std::numeric_limits<double>::quiet_NaN();
            for (int c = 0; c < channels; ++c) {
                const auto at = [&](int px, int py) { return double(in.Sample(px, py, c)); };
                const double existing = background.Sample(X, Y, c);
                const warpref::TPixel want = warpref::Sample(at, box, x, y, nearest, smooth, existing);
                if (want.Outcome == warpref::TOutcome::Ambiguous) continue;
                ++checked;
                const double expect = want.Outcome == warpref::TOutcome::Value ? want.Value : existing;
                written += want.Outcome == warpref::TOutcome::Value;
                if (std::fabs(out.Sample(X, Y, c) - expect) > tolerance && ++failures <= 5)
                    ADD_FAILURE() << what << ": output (" << X << ", " << Y << ") channel " << c << " = "
                                  << out.Sample(X, Y, c) << ", expected " << expect << " from (" << x << ", " << y
                                  << ")";
            }
        }
    EXPECT_EQ(failures, 0) << what;
    EXPECT_GT(checked, out.Width * out.Height * channels / 2) << what;
    return written;
}

}  // namespace pixora::geomtest
