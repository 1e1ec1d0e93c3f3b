// The rotate and shear filters: every output pixel against a per-pixel double-precision
// reference for every native format, anchors, output offsets, regions of interest, the output
// size of every policy, bands, the output format, identity settings and bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <atomic>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "filters/geometric/PXRotate.h"
#include "filters/geometric/PXShear.h"
#include "frame/PixoraPkg.h"
#include "platform/registry/PXRegistry.h"
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

constexpr TColor kBackground = 0x00336699;

// The anchor of a mode in a W × H frame, from the table of reference points.
void AnchorOf(TQNCoordinateMode mode, int w, int h, double& ax, double& ay) {
    const double mx = (w - 1) / 2.0, my = (h - 1) / 2.0;
    switch (mode) {
    case cmLeftTop: ax = 0, ay = 0; return;
    case cmLeftBottom: ax = 0, ay = h; return;
    case cmLeftCenter: ax = 0, ay = my; return;
    case cmRightTop: ax = w, ay = 0; return;
    case cmRightBottom: ax = w, ay = h; return;
    case cmRightCenter: ax = w, ay = my; return;
    case cmTopCenter: ax = mx, ay = 0; return;
    case cmBottomCenter: ax = mx, ay = h; return;
    case cmCenter: ax = mx, ay = my; return;
    }
}

struct TRotateCase {
    double Angle;
    TQNCoordinateMode Mode;
    int CX, CY, OutCX, OutCY;
    bool Roi;
};

TEST(RotateFilter, EveryPixelMatchesTheReference) {
    const TRotateCase cases[] = {
        {30, cmCenter, 0, 0, 0, 0, false},       {-115, cmRightBottom, 0, 0, 4, -3, false},
        {47.5, cmLeftTop, 3, -2, 0, 0, true},    {200, cmCenter, -1, 4, -6, 5, true},
        {90, cmLeftCenter, 0, 0, 0, 0, false},
    };
    for (TPXVideoFormat format : kNativeFormats)
        for (const TRotateCase& rc : cases)
            for (TPXInterpolationType type : {itNearestNeighbor, itLinear})
                for (bool smooth : {false, true}) {
                    TPXRotate rotate;
                    rotate.SetThreaded(false);
                    rotate.SetAngle(rc.Angle);
                    rotate.SetInterpolationType(type);
                    rotate.SetSmoothEdge(smooth);
                    rotate.SetBackgroundColor(kBackground);
                    rotate.RotateOffset().SetMode(rc.Mode);
                    rotate.RotateOffset().SetCX(rc.CX);
                    rotate.RotateOffset().SetCY(rc.CY);
                    rotate.OutputOffset().SetCX(rc.OutCX);
                    rotate.OutputOffset().SetCY(rc.OutCY);
                    warpref::TBox box{0, 0, 37, 23};
                    if (rc.Roi) {
                        rotate.RegionOfInterest().SetEnabled(true);
                        rotate.RegionOfInterest().SetRectangle(TRect{4, 3, 40, 15});  // cut at the right edge
                        box = {4, 3, 33, 15};
                    }
                    const TRawImage in = RandomRaw(37, 23, format, 7 + int(format));
                    const IPXImageBuffer inFrame = ToFrame(in);
                    const TRawImage out = Capture(rotate.ProcessFrame(inFrame));
                    EXPECT_TRUE(testref::SameImage(in, inFrame));  // the input is never written
                    ASSERT_EQ(out.Format, format);
                    double ax, ay;
                    AnchorOf(rc.Mode, 37, 23, ax, ay);
                    ax += rc.CX, ay += rc.CY;
                    const double tx = (out.Width + rc.OutCX - 37) / 2.0, ty = (out.Height + rc.OutCY - 23) / 2.0;
                    const std::string what = FormatLabel(format) + " angle " + std::to_string(rc.Angle) + " type " +
                                             std::to_string(type) + (smooth ? " smooth" : "");
                    const int written = ExpectMatches(
                        in, box, BackgroundOf(out.Width, out.Height, format, kBackground), out, type == itNearestNeighbor,
                        smooth,
                        [&](double X, double Y, double& x, double& y) {
                            warpref::RotateBack(rc.Angle, ax, ay, tx, ty, X, Y, x, y);
                            return true;
                        },
                        what);
                    EXPECT_GT(written, 0) << what;
                }
}

TEST(RotateFilter, ZeroAngleGivesTheInputBack) {
    for (TPXVideoFormat format : kNativeFormats)
        for (TPXInterpolationType type : {itNearestNeighbor, itLinear})
            for (TPXAutoSize policy : {asInputSize, asBoundingRect}) {
                TPXRotate rotate;
                rotate.SetThreaded(false);
                rotate.SetInterpolationType(type);
                rotate.SetAutoSize(policy);
                const TRawImage in = RandomRaw(37, 23, format, 3);
                EXPECT_TRUE(testref::SameImage(in, rotate.ProcessFrame(ToFrame(in))))
                    << FormatLabel(format) << " type " << type << " policy " << policy;
            }
}

TEST(RotateFilter, OutputSizeFollowsThePolicy) {
    TPXRotate rotate;
    rotate.SetThreaded(false);
    const IPXImageBuffer vga = ToFrame(RandomRaw(640, 480, vfGray8, 1));
    rotate.SetAutoSize(asMaxBoundingRect);
    EXPECT_EQ(rotate.ProcessFrame(vga)->GetSize(), (TSize{800, 800}));  // sqrt(640² + 480²)
    EXPECT_EQ(TPXRotate::MaxBoundingRect(640, 480), (TBoundRect{0, 0, 800, 800}));

    const IPXImageBuffer small = ToFrame(RandomRaw(37, 23, vfRGB24, 2));
    rotate.SetAutoSize(asInputSize);
    rotate.SetAngle(33);
    EXPECT_EQ(rotate.ProcessFrame(small)->GetSize(), (TSize{37, 23}));
    rotate.SetAutoSize(asCustom);
    rotate.CustomSize().SetSize(50, 41);
    EXPECT_EQ(rotate.ProcessFrame(small)->GetSize(), (TSize{50, 41}));
    EXPECT_EQ(rotate.OutputSize(), (TSize{50, 41}));
    EXPECT_EQ(rotate.InputSize(), (TSize{37, 23}));

    // A quarter turn about the centre of an odd-sized frame swaps width and height exactly.
    rotate.SetAutoSize(asBoundingRect);
    rotate.SetAngle(90);
    EXPECT_EQ(rotate.ProcessFrame(small)->GetSize(), (TSize{23, 37}));
    // Unturned, the bounding rectangle is the frame, grown by the output offset.
    rotate.SetAngle(0);
    rotate.OutputOffset().SetCX(5);
    rotate.OutputOffset().SetCY(3);
    EXPECT_EQ(rotate.ProcessFrame(small)->GetSize(), (TSize{42, 26}));
}

// Whatever the angle, the bounding rectangle holds every turned pixel centre, with at most the
// rounding pixel to spare on each side.
TEST(RotateFilter, BoundingRectangleHoldsTheTurnedPicture) {
    for (double angle : {12.0, 45.0, 133.3, -60.0, 271.0})
        for (TQNCoordinateMode mode : {cmCenter, cmLeftTop, cmRightBottom}) {
            TPXRotate rotate;
            rotate.SetAngle(angle);
            rotate.RotateOffset().SetMode(mode);
            const TBoundRect r = rotate.BoundingRect(37, 23);
            double ax, ay;
            AnchorOf(mode, 37, 23, ax, ay);
            const double t = angle * std::acos(-1.0) / 180;
            double minX = 1e9, minY = 1e9, maxX = -1e9, maxY = -1e9;
            for (int y = 0; y < 23; ++y)
                for (int x = 0; x < 37; ++x) {
                    // clockwise on screen by the angle about the anchor
                    const double X = ax + (x - ax) * std::cos(t) - (y - ay) * std::sin(t);
                    const double Y = ay + (x - ax) * std::sin(t) + (y - ay) * std::cos(t);
                    minX = std::min(minX, X), maxX = std::max(maxX, X), minY = std::min(minY, Y), maxY = std::max(maxY, Y);
                }
            EXPECT_LE(r.Left, minX + 1e-9) << angle;
            EXPECT_GT(r.Left, minX - 1.5) << angle;
            EXPECT_LE(r.Top, minY + 1e-9) << angle;
            EXPECT_GT(r.Top, minY - 1.5) << angle;
            EXPECT_GE(r.Right, maxX + 1 - 1e-9) << angle;
            EXPECT_LT(r.Right, maxX + 2.5) << angle;
            EXPECT_GE(r.Bottom, maxY + 1 - 1e-9) << angle;
            EXPECT_LT(r.Bottom, maxY + 2.5) << angle;
        }
}

TEST(RotateFilter, RightBottomAnchorIsOnePixelBeyondTheLastPixel) {
    TPXRotate rotate;
    rotate.SetAngle(37);
    rotate.RotateOffset().SetMode(cmRightBottom);
    double xs, ys;
    rotate.GetShifts(37, 23, xs, ys);
    // The rotation by −Angle with these shifts leaves (W, H) where it is, and moves (W − 1, H − 1).
    const double t = -37 * std::acos(-1.0) / 180;
    auto apply = [&](double x, double y, double& X, double& Y) {
        X = x * std::cos(t) + y * std::sin(t) + xs;
        Y = -x * std::sin(t) + y * std::cos(t) + ys;
    };
    double X, Y;
    apply(37, 23, X, Y);
    EXPECT_NEAR(X, 37, 1e-9);
    EXPECT_NEAR(Y, 23, 1e-9);
    apply(36, 22, X, Y);
    EXPECT_GT(std::hypot(X - 36, Y - 22), 0.5);
}

TEST(RotateFilter, SmoothEdgeFadesTheBorderOnlyWhenSet) {
    // A uniform picture turned on a black background: without smoothing every pixel is either
    // the picture's value or the background; with it, some border pixels lie in between.
    TRawImage in = testref::MakeRaw(37, 23, vfGray8);
    for (auto& b : in.Bytes) b = 200;
    for (bool smooth : {false, true}) {
        TPXRotate rotate;
        rotate.SetThreaded(false);
        rotate.SetAngle(21);
        rotate.SetSmoothEdge(smooth);
        rotate.SetBackgroundColor(0);
        const TRawImage out = Capture(rotate.ProcessFrame(ToFrame(in)));
        int between = 0;
        for (uint8_t b : out.Bytes) between += b != 0 && b != 200;
        if (smooth) {
            EXPECT_GT(between, 20);
        } else {
            EXPECT_EQ(between, 0);
        }
    }
}

TEST(RotateFilter, BandsMatchOneCall) {
    const TRawImage in = RandomRaw(37, 23, vfRGBA32, 5);
    TPXRotate single;
    single.SetThreaded(false);
    single.SetAngle(-23);
    const TRawImage want = Capture(single.ProcessFrame(ToFrame(in)));
    for (int threads : {1, 2, 3})
        for (int block : {1, 40 * 4, 40 * 4 * 3, 1 << 20}) {
            const int previous = TBandPool::Instance().ThreadCount();
            TBandPool::Instance().SetThreadCount(threads);
            TPXRotate banded;
            banded.SetThreaded(false);
            banded.SetAngle(-23);
            banded.SetMultiCore(true);
            banded.SetBlockSize(block);
            const IPXImageBuffer out = banded.ProcessFrame(ToFrame(in));
            TBandPool::Instance().SetThreadCount(previous);
            EXPECT_TRUE(testref::SameImage(want, out)) << threads << " threads, block " << block;
        }
}

TEST(RotateFilter, OutputFormatConvertsTheResult) {
    const TRawImage in = RandomRaw(37, 23, vfRGB24, 9);
    TPXRotate rotate;
    rotate.SetThreaded(false);
    rotate.SetAngle(15);
    IPXImageBuffer same = rotate.ProcessFrame(ToFrame(in));
    rotate.SetOutputFormat(ofGray8);
    const IPXImageBuffer grey = rotate.ProcessFrame(ToFrame(in));
    ASSERT_EQ(grey->GetFormat(), vfGray8);
    same->ConvertToFormat(vfGray8);
    EXPECT_TRUE(testref::SameImage(Capture(same), grey));
}

TEST(RotateFilter, UYVYIsRotatedAsRGB24) {
    TPXRotate rotate;
    rotate.SetThreaded(false);
    rotate.SetAngle(10);
    const IPXImageBuffer out = rotate.ProcessFrame(ToFrame(RandomRaw(38, 22, vfUYVY, 4)));
    EXPECT_EQ(out->GetFormat(), vfRGB24);
}

TEST(RotateFilter, BadInputIsRefusedWithAMessage) {
    TPXRotate rotate;
    rotate.SetThreaded(false);
    for (double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                       -std::numeric_limits<double>::infinity()}) {
        try {
            rotate.SetAngle(bad);
            ADD_FAILURE() << "angle " << bad << " accepted";
        } catch (const EPropertyError& e) {
            EXPECT_NE(std::string(e.what()).find("Angle"), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(SetPropertyText(rotate, "Angle", "nan"), EPropertyError);
    EXPECT_EQ(rotate.GetAngle(), 0.0);

    // A custom output size of 0 or beyond 16384 is refused with the property named; the size
    // in force stays.
    rotate.CustomSize().SetSize(50, 41);
    for (const char* bad : {"0", "-3", "16385", "2000000000"}) {
        for (const char* path : {"CustomSize.Width", "CustomSize.Height"}) {
            try {
                SetPropertyText(rotate, path, bad);
                ADD_FAILURE() << path << " = " << bad << " accepted";
            } catch (const EPXError& e) {
                EXPECT_NE(std::string(e.what()).find(std::string(path).substr(11)), std::string::npos) << e.what();
            }
        }
    }
    EXPECT_EQ(rotate.CustomSize().GetSize(), (TSize{50, 41}));

    // An output offset that would need a frame beyond any allocation is refused, not allocated.
    rotate.OutputOffset().SetCX(2000000000);
    try {
        rotate.ProcessFrame(ToFrame(RandomRaw(37, 23, vfRGB24, 1)));
        ADD_FAILURE() << "a 2e9-pixel-wide output was accepted";
    } catch (const ERangeError& e) {
        EXPECT_NE(std::string(e.what()).find("2000000037"), std::string::npos) << e.what();
    }
}

TEST(RotateFilter, SettingsTravelByNameAndThroughPersistence) {
    TPXRotate rotate;
    SetPropertyText(rotate, "RotateOffset.Mode", "cmRightBottom");
    SetPropertyText(rotate, "RotateOffset.CX", "-4");
    SetPropertyText(rotate, "OutputOffset.CY", "9");
    SetPropertyText(rotate, "Angle", "12.5");
    SetPropertyText(rotate, "SmoothEdge", "False");
    EXPECT_EQ(rotate.RotateOffset().GetMode(), cmRightBottom);
    EXPECT_THROW(SetPropertyText(rotate, "RotateOffset.Mode", "cmNowhere"), EPropertyError);
    nlohmann::json saved;
    SaveProperties(rotate, saved);
    TPXRotate copy;
    LoadProperties(copy, saved);
    EXPECT_EQ(copy.RotateOffset().GetMode(), cmRightBottom);
    EXPECT_EQ(copy.RotateOffset().GetCX(), -4);
    EXPECT_EQ(copy.OutputOffset().GetCY(), 9);
    EXPECT_EQ(copy.GetAngle(), 12.5);
    EXPECT_FALSE(copy.GetSmoothEdge());
    EXPECT_EQ(copy.BoundingRect(37, 23), rotate.BoundingRect(37, 23));
}

// ---- shear -----------------------------------------------------------------------------------

TEST(ShearFilter, EveryPixelMatchesTheReference) {
    struct TShearCase {
        int XShear, YShear;
        bool Roi;
    };
    const TShearCase cases[] = {{7, -5, false}, {-12, 0, true}, {0, 9, false}, {30, 11, true}};
    for (TPXVideoFormat format : kNativeFormats)
        for (const TShearCase& sc : cases)
            for (TPXInterpolationType type : {itNearestNeighbor, itLinear})
                for (bool smooth : {false, true}) {
                    TPXShear shear;
                    shear.SetThreaded(false);
                    shear.SetXShear(sc.XShear);
                    shear.SetYShear(sc.YShear);
                    shear.SetInterpolationType(type);
                    shear.SetSmoothEdge(smooth);
                    shear.SetBackgroundColor(kBackground);
                    int rx = 0, ry = 0, w = 37, h = 23;
                    if (sc.Roi) {
                        shear.RegionOfInterest().SetEnabled(true);
                        shear.RegionOfInterest().SetRectangle(TRect{5, 6, 20, 30});  // cut at the bottom
                        rx = 5, ry = 6, w = 20, h = 17;
                    }
                    const TRawImage in = RandomRaw(37, 23, format, 17);
                    const TRawImage out = Capture(shear.ProcessFrame(ToFrame(in)));
                    // The region is sheared as a picture of its own; the half shears centre it
                    // (integer halves truncated towards zero).
                    const double shx = double(sc.XShear) / h, shy = double(sc.YShear) / w;
                    const double xs = (out.Width - w) / 2.0 - std::trunc(sc.XShear / 2.0);
                    const double ys = (out.Height - h) / 2.0 - std::trunc(sc.YShear / 2.0);
                    const std::string what = FormatLabel(format) + " shear " + std::to_string(sc.XShear) + "," +
                                             std::to_string(sc.YShear) + " type " + std::to_string(type);
                    ExpectMatches(in, {rx, ry, w, h}, BackgroundOf(out.Width, out.Height, format, kBackground), out,
                                  type == itNearestNeighbor, smooth,
                                  [&](double X, double Y, double& x, double& y) {
                                      const double det = 1 - shx * shy, u = X - xs, v = Y - ys;
                                      x = rx + (u - shx * v) / det;
                                      y = ry + (v - shy * u) / det;
                                      return true;
                                  },
                                  what);
                }
}

TEST(ShearFilter, NegativeOddShearHalvesTowardsZero) {
    // XShear −5 shifts by −(−5 div 2) = 2 pixels, not 3: the first row moves right by 2.
    const TRawImage in = RandomRaw(20, 10, vfGray8, 6);
    TPXShear shear;
    shear.SetThreaded(false);
    shear.SetXShear(-5);
    shear.SetAutoSize(asInputSize);
    shear.SetInterpolationType(itNearestNeighbor);
    shear.SetSmoothEdge(false);
    const TRawImage out = Capture(shear.ProcessFrame(ToFrame(in)));
    for (int x = 0; x + 2 < 20; ++x) EXPECT_EQ(out.Sample(x + 2, 0, 0), in.Sample(x, 0, 0)) << x;
}

TEST(ShearFilter, ShearOfHalfTheHeightMovesEachRowByHalfItsIndex) {
    // XShear 100 on 200 rows: shx = 0.5; centred by −50, so row 100 stays and row 120 moves 10.
    const TRawImage in = RandomRaw(40, 200, vfGray8, 8);
    TPXShear shear;
    shear.SetThreaded(false);
    shear.SetXShear(100);
    shear.SetAutoSize(asInputSize);
    shear.SetInterpolationType(itNearestNeighbor);
    const TRawImage out = Capture(shear.ProcessFrame(ToFrame(in)));
    for (int x = 0; x < 40; ++x) EXPECT_EQ(out.Sample(x, 100, 0), in.Sample(x, 100, 0)) << x;
    for (int x = 0; x + 10 < 40; ++x) EXPECT_EQ(out.Sample(x + 10, 120, 0), in.Sample(x, 120, 0)) << x;
    for (int x = 10; x < 40; ++x) EXPECT_EQ(out.Sample(x - 10, 80, 0), in.Sample(x, 80, 0)) << x;
}

TEST(ShearFilter, BoundingRectangleHoldsTheShearedPicture) {
    for (int xShear : {0, 10, -7, 31})
        for (int yShear : {0, 4, -13}) {
            TPXShear shear;
            shear.SetXShear(xShear);
            shear.SetYShear(yShear);
            const TBoundRect r = shear.BoundingRect(37, 23);
            if (xShear == 0 && yShear == 0) {
                EXPECT_EQ(r, (TBoundRect{0, 0, 37, 23}));
            }
            const double shx = xShear / 23.0, shy = yShear / 37.0;
            const double xs = -std::trunc(xShear / 2.0), ys = -std::trunc(yShear / 2.0);
            double minX = 1e9, minY = 1e9, maxX = -1e9, maxY = -1e9;
            for (int y = 0; y < 23; ++y)
                for (int x = 0; x < 37; ++x) {
                    const double X = x + shx * y + xs, Y = shy * x + y + ys;
                    minX = std::min(minX, X), maxX = std::max(maxX, X), minY = std::min(minY, Y), maxY = std::max(maxY, Y);
                }
            EXPECT_LE(r.Left, minX + 1e-9);
            EXPECT_GT(r.Left, minX - 1.5);
            EXPECT_LE(r.Top, minY + 1e-9);
            EXPECT_GT(r.Top, minY - 1.5);
            EXPECT_GE(r.Right, maxX + 1);
            EXPECT_LT(r.Right, maxX + 3.5);
            EXPECT_GE(r.Bottom, maxY + 1);
            EXPECT_LT(r.Bottom, maxY + 3.5);
        }
}

TEST(ShearFilter, ZeroShearGivesTheInputBack) {
    for (TPXVideoFormat format : kNativeFormats)
        for (TPXInterpolationType type : {itNearestNeighbor, itLinear}) {
            TPXShear shear;
            shear.SetThreaded(false);
            shear.SetInterpolationType(type);
            const TRawImage in = RandomRaw(37, 23, format, 12);
            EXPECT_TRUE(testref::SameImage(in, shear.ProcessFrame(ToFrame(in)))) << FormatLabel(format);
        }
}

TEST(ShearFilter, TinyFramesAndBands) {
    for (TSize size : {TSize{1, 1}, TSize{2, 1}}) {
        TPXShear shear;
        shear.SetThreaded(false);
        shear.SetXShear(3);
        shear.SetMultiCore(true);
        shear.SetBlockSize(1);
        const IPXImageBuffer out = shear.ProcessFrame(ToFrame(RandomRaw(size.Width, size.Height, vfRGB24, 2)));
        EXPECT_GE(out->GetWidth(), size.Width);
    }
}

// Settings change on another thread while frames run: every frame uses one consistent set (its
// size is one that some angle gives, and nothing races; run under ThreadSanitizer in CI).
TEST(GeometricSettingsConcurrency, RotateAngleChangesWhileFramesRun) {
    TPXRotate rotate;
    rotate.SetThreaded(false);
    const IPXImageBuffer in = ToFrame(RandomRaw(37, 23, vfGray8, 3));
    std::atomic<bool> stop{false};
    std::thread setter([&] {
        for (int i = 0; !stop.load(); ++i) {
            rotate.SetAngle(i % 2 ? 90.0 : 0.0);
            rotate.SetSmoothEdge(i % 3 == 0);
        }
    });
    for (int frame = 0; frame < 200; ++frame) {
        const TSize size = rotate.ProcessFrame(in)->GetSize();
        EXPECT_TRUE(size == (TSize{37, 23}) || size == (TSize{23, 37})) << size.Width << "x" << size.Height;
    }
    stop = true;
    setter.join();
}

TEST(GeometricRegistration, TransformsAreRegisteredUnderTheirNames) {
    RegisterPackage();
    const std::pair<const char*, const char*> expected[] = {
        {"TPXRotate", "Rotate Video Frame"},
        {"TPXShear", "Shear Video Frame"},
        {"TPXMirror", "Mirror Video Frame"},
        {"TPXWarp", "Warp Video Frame (Bilinear, Perspective)"},
    };
    for (const auto& [name, display] : expected) {
        const TComponentClass* c = TRegistry::Instance().Find(name);
        ASSERT_NE(c, nullptr) << name;
        EXPECT_EQ(c->DisplayName, display);
        ASSERT_EQ(c->Categories.size(), 1u);
        EXPECT_EQ(c->Categories[0], "TPixoraTransformsToolbarCategory");
        EXPECT_NE(TRegistry::Instance().Create(name), nullptr);
    }
}

}  // namespace
}  // namespace pixora
