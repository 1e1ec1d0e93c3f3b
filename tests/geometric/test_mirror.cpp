// The mirror filter against a per-pixel reference for every type, native format and region of
// interest; both axes equal a half turn of the region; converted formats; tiny frames.
#include <gtest/gtest.h>

#include <string>

#include "filters/geometric/PXMirror.h"
#include "filters/geometric/PXRotate.h"
#include "tests/geometric/GeometricTestSupport.h"

namespace pixora {
namespace {

using geomtest::FormatLabel;
using geomtest::kNativeFormats;
using testref::Capture;
using testref::RandomRaw;
using testref::TRawImage;
using testref::ToFrame;

// mtHorizontal swaps rows (about the horizontal axis), mtVertical swaps columns, mtBoth both;
// only the region changes.
TRawImage MirrorReference(const TRawImage& in, testref::TRefRect r, TPXMirrorType type) {
    TRawImage out = in;
    const int channels = geomtest::Channels(in.Format);
    for (int y = r.Y; y < r.Y + r.Height; ++y)
        for (int x = r.X; x < r.X + r.Width; ++x) {
            const int sx = type == mtHorizontal ? x : r.X + r.Width - 1 - (x - r.X);
            const int sy = type == mtVertical ? y : r.Y + r.Height - 1 - (y - r.Y);
            for (int c = 0; c < channels; ++c) out.SetSample(x, y, c, in.Sample(sx, sy, c));
        }
    return out;
}

struct TRegionCase {
    bool Enabled;
    int X, Y, W, H;
};

TEST(MirrorFilter, EveryTypeFormatAndRegionMatchesTheReference) {
    const TRegionCase regions[] = {
        {false, 0, 0, 0, 0}, {true, 3, 2, 20, 11}, {true, 0, 0, 37, 23}, {true, 30, 15, 50, 50}, {true, 36, 0, 1, 23},
    };
    for (TPXVideoFormat format : kNativeFormats)
        for (const TRegionCase& rc : regions)
            for (TPXMirrorType type : {mtHorizontal, mtVertical, mtBoth}) {
                TPXMirror mirror;
                mirror.SetThreaded(false);
                mirror.SetMirrorType(type);
                if (rc.Enabled) {
                    mirror.RegionOfInterest().SetEnabled(true);
                    mirror.RegionOfInterest().SetRectangle(TRect{rc.X, rc.Y, rc.W, rc.H});
                }
                const TRawImage in = RandomRaw(37, 23, format, 40 + int(type));
                const IPXImageBuffer inFrame = ToFrame(in);
                const IPXImageBuffer out = mirror.ProcessFrame(inFrame);
                const testref::TRefRect r = testref::RegionRect(rc.Enabled, rc.X, rc.Y, rc.W, rc.H, 37, 23);
                EXPECT_TRUE(testref::SameImage(MirrorReference(in, r, type), out))
                    << FormatLabel(format) << " type " << type << " region " << rc.X << "," << rc.Y;
                EXPECT_TRUE(testref::SameImage(in, inFrame));
            }
}

TEST(MirrorFilter, BothAxesEqualAHalfTurnOfTheRegion) {
    // The region (5, 2, 11 × 17) has its centre on the pixel (10, 10): a half turn about that
    // pixel maps the region onto itself.
    const TRawImage in = RandomRaw(37, 23, vfRGB24, 77);
    TPXMirror mirror;
    mirror.SetThreaded(false);
    mirror.SetMirrorType(mtBoth);
    mirror.RegionOfInterest().SetEnabled(true);
    mirror.RegionOfInterest().SetRectangle(TRect{5, 2, 11, 17});
    const TRawImage mirrored = Capture(mirror.ProcessFrame(ToFrame(in)));

    TPXRotate rotate;
    rotate.SetThreaded(false);
    rotate.SetAngle(180);
    rotate.SetAutoSize(asInputSize);
    rotate.SetInterpolationType(itNearestNeighbor);
    rotate.RotateOffset().SetMode(cmLeftTop);
    rotate.RotateOffset().SetCX(10);
    rotate.RotateOffset().SetCY(10);
    rotate.RegionOfInterest().SetEnabled(true);
    rotate.RegionOfInterest().SetRectangle(TRect{5, 2, 11, 17});
    const TRawImage turned = Capture(rotate.ProcessFrame(ToFrame(in)));
    for (int y = 2; y < 19; ++y)
        for (int x = 5; x < 16; ++x)
            for (int c = 0; c < 3; ++c) ASSERT_EQ(mirrored.Sample(x, y, c), turned.Sample(x, y, c)) << x << "," << y;
}

TEST(MirrorFilter, TinyFramesAndConvertedFormats) {
    for (TSize size : {TSize{1, 1}, TSize{2, 1}, TSize{1, 3}})
        for (TPXMirrorType type : {mtHorizontal, mtVertical, mtBoth}) {
            TPXMirror mirror;
            mirror.SetThreaded(false);
            mirror.SetMirrorType(type);
            const TRawImage in = RandomRaw(size.Width, size.Height, vfGray16, 5);
            EXPECT_TRUE(testref::SameImage(MirrorReference(in, {0, 0, size.Width, size.Height}, type),
                                           mirror.ProcessFrame(ToFrame(in))));
        }
    // Packed 4:2:2 arrives as three 8-bit channels and is mirrored there.
    TPXMirror mirror;
    mirror.SetThreaded(false);
    mirror.SetMirrorType(mtVertical);
    IPXImageBuffer uyvy = ToFrame(RandomRaw(38, 22, vfUYVY, 8));
    IPXImageBuffer asRgb = TPXImageBuffer::CreateCopy(uyvy);
    asRgb->ConvertToFormat(vfRGB24);
    const IPXImageBuffer out = mirror.ProcessFrame(uyvy);
    ASSERT_EQ(out->GetFormat(), vfRGB24);
    EXPECT_TRUE(testref::SameImage(MirrorReference(Capture(asRgb), {0, 0, 38, 22}, mtVertical), out));
}

TEST(MirrorFilter, DisabledFilterPassesTheFrame) {
    TPXMirror mirror;
    mirror.SetThreaded(false);
    mirror.SetEnabled(false);
    const TRawImage in = RandomRaw(37, 23, vfRGBA32, 3);
    EXPECT_TRUE(testref::SameImage(in, mirror.ProcessFrame(ToFrame(in))));
}

}  // namespace
}  // namespace pixora
