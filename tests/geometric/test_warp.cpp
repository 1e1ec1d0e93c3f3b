// The warp filter: both transform families, forward and inverse, against per-pixel references
// (closed-form projective map, Newton-solved bilinear map) for every native format, regions of
// interest, the shift that puts the warped picture at the origin, output sizes, identity, bands
// and degenerate corners.
#include <gtest/gtest.h>

#include <string>

#include "filters/geometric/PXWarp.h"
#include "platform/threads/PXBandPool.h"
#include "tests/geometric/GeometricTestSupport.h"

namespace pixora {
namespace {

using geomtest::BackgroundOf;
using geomtest::ExpectMatches;
using geomtest::FormatLabel;
using geomtest::kNativeFormats;
using testref::Capture;
using testref::RandomRaw;
using testref::TRawImage;
using testref::ToFrame;

constexpr TColor kBackground = 0x00A0B0C0;

struct TOffsets {
    int LT[2], RT[2], LB[2], RB[2];
};

void Apply(TPXWarp& warp, const TOffsets& o) {
    warp.LeftTopOffset().SetCX(o.LT[0]), warp.LeftTopOffset().SetCY(o.LT[1]);
    warp.RightTopOffset().SetCX(o.RT[0]), warp.RightTopOffset().SetCY(o.RT[1]);
    warp.LeftBottomOffset().SetCX(o.LB[0]), warp.LeftBottomOffset().SetCY(o.LB[1]);
    warp.RightBottomOffset().SetCX(o.RB[0]), warp.RightBottomOffset().SetCY(o.RB[1]);
}

// The moved corners of a W × H picture, shifted by (ox, oy).
void QuadOf(const TOffsets& o, int w, int h, double ox, double oy, double q[4][2]) {
    q[0][0] = o.LT[0] - ox, q[0][1] = o.LT[1] - oy;
    q[1][0] = o.RT[0] + w - ox, q[1][1] = o.RT[1] - oy;
    q[2][0] = o.RB[0] + w - ox, q[2][1] = o.RB[1] + h - oy;
    q[3][0] = o.LB[0] - ox, q[3][1] = o.LB[1] + h - oy;
}

TEST(WarpFilter, EveryPixelMatchesTheReference) {
    const TOffsets offsets[] = {
        {{-6, -3}, {4, 2}, {3, 5}, {-2, -4}},
        {{5, 7}, {-3, 1}, {0, 0}, {6, -5}},
    };
    for (TPXVideoFormat format : kNativeFormats)
        for (TPXWarpType type : {wtBilinear, wtPerspective})
            for (bool inverse : {false, true})
                for (bool roi : {false, true})
                    for (const TOffsets& o : offsets)
                        for (TPXInterpolationType interp : {itNearestNeighbor, itLinear}) {
                            const bool smooth = interp == itLinear;
                            TPXWarp warp;
                            warp.SetThreaded(false);
                            warp.SetWarpType(type);
                            warp.SetInverseTransform(inverse);
                            warp.SetInterpolationType(interp);
                            warp.SetSmoothEdge(smooth);
                            warp.SetBackgroundColor(kBackground);
                            if (inverse) {
                                warp.SetAutoSize(asCustom);
                                warp.CustomSize().SetSize(40, 27);
                            }
                            Apply(warp, o);
                            int rx = 0, ry = 0, w = 37, h = 23;
                            if (roi) {
                                warp.RegionOfInterest().SetEnabled(true);
                                warp.RegionOfInterest().SetRectangle(TRect{6, 4, 25, 40});
                                rx = 6, ry = 4, w = 25, h = 19;
                            }
                            const TRawImage in = RandomRaw(37, 23, format, 90 + int(format));
                            const TRawImage out = Capture(warp.ProcessFrame(ToFrame(in)));
                            if (inverse) {
                                ASSERT_EQ(out.Width, 40);
                                ASSERT_EQ(out.Height, 27);
                            }
                            // Forward into a bounding-rectangle output: shifted to the origin.
                            const double ox = inverse ? 0 : std::min(o.LT[0], o.LB[0]);
                            const double oy = inverse ? 0 : std::min(o.LT[1], o.RT[1]);
                            double q[4][2];
                            QuadOf(o, w, h, ox, oy, q);
                            const std::string what = FormatLabel(format) + (type == wtBilinear ? " bilinear" : " perspective") +
                                                     (inverse ? " inverse" : " forward") + (roi ? " roi" : "") +
                                                     " interp " + std::to_string(interp);
                            const int written = ExpectMatches(
                                in, {rx, ry, w, h}, BackgroundOf(out.Width, out.Height, format, kBackground), out,
                                interp == itNearestNeighbor, smooth,
                                [&](double X, double Y, double& x, double& y) {
                                    if (inverse) {
                                        if (type == wtPerspective)
                                            warpref::RectToQuadPerspective(q, rx, ry, w, h, X, Y, x, y);
                                        else
                                            warpref::RectToQuadBilinear(q, rx, ry, w, h, X, Y, x, y);
                                        return true;
                                    }
                                    return type == wtPerspective
                                               ? warpref::QuadToRectPerspective(q, rx, ry, w, h, X, Y, x, y)
                                               : warpref::QuadToRectBilinear(q, rx, ry, w, h, X, Y, x, y);
                                },
                                what);
                            EXPECT_GT(written, 0) << what;
                        }
}

TEST(WarpFilter, UnmovedCornersGiveTheInputBack) {
    for (TPXVideoFormat format : kNativeFormats)
        for (TPXWarpType type : {wtBilinear, wtPerspective})
            for (bool inverse : {false, true})
                for (TPXInterpolationType interp : {itNearestNeighbor, itLinear}) {
                    TPXWarp warp;
                    warp.SetThreaded(false);
                    warp.SetWarpType(type);
                    warp.SetInverseTransform(inverse);
                    warp.SetInterpolationType(interp);
                    if (inverse) {
                        warp.SetAutoSize(asCustom);
                        warp.CustomSize().SetSize(37, 23);
                    }
                    const TRawImage in = RandomRaw(37, 23, format, 4);
                    EXPECT_TRUE(testref::SameImage(in, warp.ProcessFrame(ToFrame(in))))
                        << FormatLabel(format) << " type " << type << " inverse " << inverse << " interp " << interp;
                }
}

TEST(WarpFilter, MovedTopLeftCornerLandsOnTheOutputOrigin) {
    // LeftTopOffset (−10, −5), sized to the warped picture, forward: shift (−10, −5).
    for (TPXWarpType type : {wtBilinear, wtPerspective}) {
        TPXWarp warp;
        warp.SetThreaded(false);
        warp.SetWarpType(type);
        warp.SetInterpolationType(itNearestNeighbor);
        warp.LeftTopOffset().SetCX(-10);
        warp.LeftTopOffset().SetCY(-5);
        double ox, oy;
        warp.GetShift(ox, oy);
        EXPECT_EQ(ox, -10);
        EXPECT_EQ(oy, -5);
        const TRawImage in = RandomRaw(37, 23, vfGray8, 31);
        const TRawImage out = Capture(warp.ProcessFrame(ToFrame(in)));
        // The moved quadrangle spans x from −10 to 37 and y from −5 to 23: shifted, 47 × 28.
        EXPECT_EQ(out.Width, 47);
        EXPECT_EQ(out.Height, 28);
        EXPECT_EQ(out.Sample(0, 0, 0), in.Sample(0, 0, 0));

        // Without the bounding policy, or inverse, there is no shift.
        warp.SetAutoSize(asInputSize);
        warp.GetShift(ox, oy);
        EXPECT_EQ(ox, 0);
        EXPECT_EQ(oy, 0);
        EXPECT_EQ(warp.BoundingRect(37, 23), (TBoundRect{0, 0, 37, 23}));
    }
}

TEST(WarpFilter, OutputSizeFollowsThePolicy) {
    TPXWarp warp;
    warp.SetThreaded(false);
    warp.RightBottomOffset().SetCX(8);
    warp.RightBottomOffset().SetCY(-3);
    const IPXImageBuffer in = ToFrame(RandomRaw(37, 23, vfRGB24, 2));
    for (TPXWarpType type : {wtBilinear, wtPerspective}) {
        warp.SetWarpType(type);
        warp.SetAutoSize(asBoundingRect);
        EXPECT_EQ(warp.ProcessFrame(in)->GetSize(), (TSize{45, 23})) << type;  // x reaches 37 + 8
        warp.SetAutoSize(asMaxBoundingRect);
        EXPECT_EQ(warp.ProcessFrame(in)->GetSize(), (TSize{45, 23})) << type;
        warp.SetAutoSize(asInputSize);
        EXPECT_EQ(warp.ProcessFrame(in)->GetSize(), (TSize{37, 23})) << type;
        warp.SetAutoSize(asCustom);
        warp.CustomSize().SetSize(12, 70);
        EXPECT_EQ(warp.ProcessFrame(in)->GetSize(), (TSize{12, 70})) << type;
        // Inverse: the custom size whatever the policy asks for the bounding rectangle.
        warp.SetInverseTransform(true);
        warp.SetAutoSize(asBoundingRect);
        EXPECT_EQ(warp.ProcessFrame(in)->GetSize(), (TSize{12, 70})) << type;
        warp.SetInverseTransform(false);
    }
}

TEST(WarpFilter, BandsMatchOneCall) {
    const TRawImage in = RandomRaw(37, 23, vfRGB24, 55);
    for (TPXWarpType type : {wtBilinear, wtPerspective}) {
        TPXWarp single;
        single.SetThreaded(false);
        single.SetWarpType(type);
        single.LeftTopOffset().SetCX(4);
        single.RightBottomOffset().SetCY(-6);
        const TRawImage want = Capture(single.ProcessFrame(ToFrame(in)));
        const int previous = TBandPool::Instance().ThreadCount();
        TBandPool::Instance().SetThreadCount(3);
        for (int block : {1, 120, 1 << 20}) {
            TPXWarp banded;
            banded.SetThreaded(false);
            banded.SetWarpType(type);
            banded.LeftTopOffset().SetCX(4);
            banded.RightBottomOffset().SetCY(-6);
            banded.SetMultiCore(true);
            banded.SetBlockSize(block);
            EXPECT_TRUE(testref::SameImage(want, banded.ProcessFrame(ToFrame(in)))) << type << " block " << block;
        }
        TBandPool::Instance().SetThreadCount(previous);
    }
}

TEST(WarpFilter, CollapsedCornersWriteNothingOrAreRefused) {
    // All four corners on one point. The bilinear map of the rectangle is then constant: nothing
    // of the picture is visible, the output is background. The perspective system has no
    // solution: refused with a message.
    for (TPXWarpType type : {wtBilinear, wtPerspective}) {
        TPXWarp warp;
        warp.SetThreaded(false);
        warp.SetWarpType(type);
        warp.SetAutoSize(asInputSize);
        warp.SetBackgroundColor(kBackground);
        Apply(warp, {{0, 0}, {-37, 0}, {0, -23}, {-37, -23}});
        const IPXImageBuffer in = ToFrame(RandomRaw(37, 23, vfRGB24, 1));
        if (type == wtBilinear) {
            EXPECT_TRUE(testref::SameImage(BackgroundOf(37, 23, vfRGB24, kBackground), warp.ProcessFrame(in)));
            continue;
        }
        try {
            warp.ProcessFrame(in);
            ADD_FAILURE() << "collapsed corners accepted";
        } catch (const ERangeError& e) {
            EXPECT_NE(std::string(e.what()).find("TPXWarp"), std::string::npos) << e.what();
        }
    }
}

}  // namespace
}  // namespace pixora
