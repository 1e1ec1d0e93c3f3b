// The background of the geometric filters is painted band by band: every path through a filter
// (bands on several threads, one call, a region that leaves nothing to transform, a work frame in
// another format, a transparent background for four-channel remaps) must end with every pixel the
// transform does not write holding the background.
#include <gtest/gtest.h>

#include "filters/geometric/PXRotate.h"
#include "filters/geometric/PXShear.h"
#include "filters/geometric/PXWarp.h"
#include "platform/threads/PXBandPool.h"
#include "tests/geometric/GeometricTestSupport.h"
#include "tests/geometric/RemapTestSupport.h"

namespace pixora {
namespace {

using testref::Capture;
using testref::RandomRaw;
using testref::ToFrame;
using remaptest::TMapFunction;
using remaptest::TTestRemap;

constexpr TColor kBackground = 0x00336699;

// A region of interest outside the frame leaves nothing to transform: the whole output is
// background, with and without bands.
TEST(BandBackground, EmptyRegionGivesOnlyBackground) {
    for (bool bands : {false, true})
        for (TPXVideoFormat format : geomtest::kNativeFormats) {
            SCOPED_TRACE(geomtest::FormatLabel(format) + (bands ? " bands" : " one call"));
            const IPXImageBuffer in = ToFrame(RandomRaw(21, 13, format, 3));
            TPXRotate rotate;
            TPXShear shear;
            TPXWarp warp;
            TPXGeometricTransfromFilter* filters[] = {&rotate, &shear, &warp};
            rotate.SetAngle(30);
            shear.SetXShear(0.2);
            for (TPXGeometricTransfromFilter* f : filters) {
                f->SetThreaded(false);
                f->SetAutoSize(asInputSize);
                f->SetBackgroundColor(kBackground);
                f->SetMultiCore(bands);
                f->SetBlockSize(1);
                f->RegionOfInterest().SetEnabled(true);
                f->RegionOfInterest().SetRectangle(TRect{100, 100, 5, 5});
                const IPXImageBuffer out = f->ProcessFrame(in);
                EXPECT_TRUE(testref::SameImage(geomtest::BackgroundOf(21, 13, format, kBackground), out))
                    << f->GetPropertyTable().ClassName();
            }
        }
}

// A rotation shrinking into the middle of the frame leaves a background border; bands on 2 and 3
// threads give the one-call result, also when the work frame is converted to another format.
TEST(BandBackground, BandsPaintTheirOwnRows) {
    const IPXImageBuffer in = ToFrame(RandomRaw(40, 31, vfRGB24, 7));
    for (TPXOutputFormat format : {ofSameAsInput, ofGray8, ofRGBA32}) {
        TPXRotate single;
        single.SetThreaded(false);
        single.SetAngle(40);
        single.SetAutoSize(asInputSize);
        single.SetBackgroundColor(kBackground);
        single.SetOutputFormat(format);
        const auto want = Capture(single.ProcessFrame(in));
        // The corners are outside the turned picture.
        IPXImageBuffer bg = TPXImageBuffer::CreateSize(40, 31, vfRGB24);
        bg->FillColor(kBackground);
        bg->ConvertToFormat(want.Format);
        const int bpp = BitsPerPixel(want.Format) / 8;
        for (int k = 0; k < bpp; ++k) EXPECT_EQ(want.Row(0)[k], bg->GetReadPointer()[k]) << "format " << int(format);
        const int previous = TBandPool::Instance().ThreadCount();
        for (int threads : {2, 3}) {
            TBandPool::Instance().SetThreadCount(threads);
            TPXRotate banded;
            banded.SetThreaded(false);
            banded.SetAngle(40);
            banded.SetAutoSize(asInputSize);
            banded.SetBackgroundColor(kBackground);
            banded.SetOutputFormat(format);
            banded.SetMultiCore(true);
            banded.SetBlockSize(40 * 3 * 2);
            EXPECT_TRUE(testref::SameImage(want, banded.ProcessFrame(in))) << threads << " threads";
        }
        TBandPool::Instance().SetThreadCount(previous);
    }
}

// A four-channel remap with an opaque background colour gives a transparent background (alpha 0)
// wherever the map points outside the source, in bands as in one call.
TEST(BandBackground, FourChannelRemapBackgroundIsTransparent) {
    const TMapFunction halfOutside = [](int x, int y, TSize, TSize, double& sx, double& sy) {
        sx = x < 10 ? -5.0 : x, sy = y;
    };
    const IPXImageBuffer in = ToFrame(RandomRaw(24, 17, vfRGBA32, 2));
    for (bool bands : {false, true}) {
        TTestRemap remap(halfOutside);
        remap.SetAutoSize(asInputSize);
        remap.SetBackgroundColor(0xFF102030);
        remap.SetMultiCore(bands);
        remap.SetBlockSize(24 * 4 * 3);
        const IPXImageBuffer out = remap.ProcessFrame(in);
        IPXImageBuffer bg = TPXImageBuffer::CreateSize(1, 1, vfRGBA32);
        bg->FillColor(0xFF102030);
        for (int y = 0; y < 17; ++y) {
            const uint8_t* row = out->GetReadPointer() + std::ptrdiff_t(y) * out->GetLineSize();
            for (int x = 0; x < 10; ++x) {
                for (int c = 0; c < 3; ++c) ASSERT_EQ(row[x * 4 + c], bg->GetReadPointer()[c]) << x << "," << y;
                ASSERT_EQ(row[x * 4 + 3], 0) << x << "," << y;
            }
        }
    }
}

}  // namespace
}  // namespace pixora
