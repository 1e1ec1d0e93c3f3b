// The Jaehne test pattern generator as a component: frame size and format, every pixel against
// the ring formula computed here in extended precision, the centre of odd-sized frames, the
// clamped image size, and frames sent through its output pin.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "generators/PXJaehneGen.h"
#include "support/FilterHarness.h"
#include "support/ReferenceImage.h"

namespace pixora {
namespace {

using testref::Capture;
using testref::TRawImage;

// The pattern value before truncation: (sin(r2 · 2π / (4h)) + 1) · 127.99999 with r2 the squared
// distance from the frame centre ((w − 1) / 2, (h − 1) / 2).
long double PatternValue(int x, int y, int w, int h) {
    const long double pi = 3.141592653589793238462643383279502884L;
    const long double dx = x - 0.5L * (w - 1), dy = y - 0.5L * (h - 1);
    const long double r2 = dx * dx + dy * dy;
    return (std::sin(r2 * 2.0L * pi / (4.0L * h)) + 1.0L) * 127.99999L;
}

// Compares every pixel with the formula: all three channels equal the truncated value. Where
// the exact value lies within 1e-6 of an integer, double rounding may land on either side, and
// both neighbours are accepted.
testing::AssertionResult MatchesPattern(const TRawImage& raw) {
    long double worst = 0;
    for (int y = 0; y < raw.Height; ++y)
        for (int x = 0; x < raw.Width; ++x) {
            const long double v = PatternValue(x, y, raw.Width, raw.Height);
            const int truncated = int(v);
            const bool nearInteger = std::fabs(v - std::round(v)) < 1e-6L;
            for (int c = 0; c < 3; ++c) {
                const int got = raw.Sample(x, y, c);
                const int nearest = int(std::round(v));
                const bool ok = got == truncated || (nearInteger && (got == nearest || got == nearest - 1));
                if (!ok)
                    return testing::AssertionFailure()
                           << "pixel (" << x << ", " << y << ") channel " << c << " is " << got << ", want " << truncated
                           << " (value " << double(v) << ")";
            }
            worst = std::max(worst, v);
        }
    if (worst >= 256) return testing::AssertionFailure() << "reference out of range";
    return testing::AssertionSuccess();
}

TEST(JaehneGenerator, GeneratesRGB24FramesOfTheImageSizeWithThePattern) {
    for (TSize size : {TSize{1, 1}, TSize{2, 1}, TSize{1, 2}, TSize{37, 23}, TSize{64, 3}, TSize{40, 30}, TSize{641, 479}}) {
        SCOPED_TRACE(std::to_string(size.Width) + "x" + std::to_string(size.Height));
        TPXJaehneGen gen;
        gen.ImageSize().SetSize(size.Width, size.Height);
        IPXImageBuffer frame = gen.GenerateOne();
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->GetFormat(), vfRGB24);
        EXPECT_EQ(frame->GetSize(), size);
        EXPECT_TRUE(MatchesPattern(Capture(frame)));
    }
}

TEST(JaehneGenerator, CentreOfAnOddSizedFrameIs127) {
    for (TSize size : {TSize{1, 1}, TSize{37, 23}, TSize{5, 201}, TSize{99, 3}}) {
        SCOPED_TRACE(std::to_string(size.Width) + "x" + std::to_string(size.Height));
        TPXJaehneGen gen;
        gen.ImageSize().SetSize(size.Width, size.Height);
        const TRawImage raw = Capture(gen.GenerateOne());
        for (int c = 0; c < 3; ++c) EXPECT_EQ(raw.Sample(size.Width / 2, size.Height / 2, c), 127);
    }
}

TEST(JaehneGenerator, ImageSizeIsAtLeastOnePixel) {
    TPXJaehneGen gen;
    gen.ImageSize().SetWidth(0);
    gen.ImageSize().SetHeight(-5);
    EXPECT_EQ(gen.ImageSize().GetWidth(), 1);
    EXPECT_EQ(gen.ImageSize().GetHeight(), 1);
    IPXImageBuffer frame = gen.GenerateOne();
    EXPECT_EQ(frame->GetSize(), (TSize{1, 1}));
    EXPECT_TRUE(MatchesPattern(Capture(frame)));

    SetPropertyText(gen, "ImageSize.Width", "-100");
    SetPropertyText(gen, "ImageSize.Height", "3");
    EXPECT_EQ(gen.GenerateOne()->GetSize(), (TSize{1, 3}));
}

TEST(JaehneGenerator, StreamSendsPatternFramesThroughTheOutputPin) {
    testharness::TErrorLog errors;
    TPXJaehneGen gen;
    gen.ImageSize().SetSize(37, 23);
    testharness::TFrameSink sink;
    gen.OutputPin.Connect(sink.Pin);
    gen.Start(TRunOptions{TRunMode::Offline, 3});
    ASSERT_TRUE(sink.WaitForStops(1));
    gen.Stop();
    ASSERT_EQ(sink.Starts.size(), 1u);
    EXPECT_EQ(sink.Starts[0].Format, vfRGB24);
    EXPECT_EQ(sink.Starts[0].Width, 37);
    EXPECT_EQ(sink.Starts[0].Height, 23);
    ASSERT_EQ(sink.Frames.size(), 3u);
    for (const IPXImageBuffer& frame : sink.Frames) {
        EXPECT_EQ(frame->GetFormat(), vfRGB24);
        EXPECT_TRUE(MatchesPattern(Capture(frame)));
        EXPECT_TRUE(frame->GetTimeStamp().Valid);
    }
    EXPECT_EQ(gen.FramesSent(), 3);
    EXPECT_TRUE(errors.Messages().empty()) << errors.Joined();
}

}  // namespace
}  // namespace pixora
