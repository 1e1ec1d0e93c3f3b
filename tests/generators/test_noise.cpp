// Uniform and Gaussian noise: exact repeats per stream, the documented constant cases, the
// 16-bit scaling, alpha left alone, regions, parameter coupling, and the statistics of the
// distributions over a large frame.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "generators/PXGaussNoise.h"
#include "generators/PXUniformNoise.h"
#include "platform/filters/PXBasicVideoOut.h"
#include "support/SlowPoint.h"

namespace pixora {
namespace {

IPXImageBuffer Flat(int w, int h, TPXVideoFormat format, int value) {
    IPXImageBuffer frame = TPXImageBuffer::CreateSize(w, h, format);
    if (format == vfGray16) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uint16_t v = uint16_t(value);
                std::memcpy(frame->GetWritePointer() + y * frame->GetLineSize() + x * 2, &v, 2);
            }
    } else {
        std::memset(frame->GetWritePointer(), value, frame->GetDataSize());
    }
    return frame;
}

int Sample(const IPXImageBuffer& frame, int x, int y, int c) {
    if (frame->GetFormat() == vfGray16) {
        uint16_t v;
        std::memcpy(&v, frame->GetReadPointer() + y * frame->GetLineSize() + x * 2, 2);
        return v;
    }
    return frame->GetReadPointer()[y * frame->GetLineSize() + x * (frame->GetBitsPerPixel() / 8) + c];
}

// Runs frames through the filter as one stream (start, frames) and returns the outputs.
template <class TNoise>
std::vector<IPXImageBuffer> Stream(TNoise& noise, const IPXImageBuffer& frame, int count) {
    noise.SetThreaded(false);
    std::vector<IPXImageBuffer> outputs;
    struct TSink final : TPXBasicVideoOut {
        std::vector<IPXImageBuffer>* Out;
        static const TPropertyTable& Properties() {
            static const TPropertyTable table = TPropertyTable::Of<TSink, TPXBasicVideoOut>("TNoiseSink", {});
            return table;
        }
        const TPropertyTable& GetPropertyTable() const override { return Properties(); }
        bool InputDispatch(TLRSinkPin&, const ILRNotifyOperation& op) override {
            if (auto* b = As<TLRSuppliedBufferOperation>(op)) Out->push_back(TPXImageBuffer::CreateUniversal(b->Data));
            return true;
        }
    } sink;
    sink.Out = &outputs;
    noise.OutputPin.Connect(sink.InputPin);
    noise.InputPin.Receive(TLRStartFrameOperation::Make(frame->GetWidth(), frame->GetHeight(), frame->GetFormat(), 400000));
    for (int i = 0; i < count; ++i) noise.InputPin.Receive(TLRSuppliedBufferOperation::Make(frame));
    noise.InputPin.Receive(TLRStopOperation());
    noise.OutputPin.Disconnect(sink.InputPin);
    return outputs;
}

TEST(Noise, TheSameSeedRepeatsEveryStreamAndFramesWithinAStreamDiffer) {
    TPXUniformNoise noise;
    const IPXImageBuffer frame = reference::RandomFrame(37, 23, vfRGB24, 4);
    const auto first = Stream(noise, frame, 3);
    const auto second = Stream(noise, frame, 3);
    ASSERT_EQ(first.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(reference::SamePixels(first[std::size_t(i)], second[std::size_t(i)])) << i;
    EXPECT_FALSE(reference::SamePixels(first[0], first[1]));
    noise.SetSeed(1);  // takes effect at the next stream start
    const auto third = Stream(noise, frame, 1);
    EXPECT_FALSE(reference::SamePixels(third[0], first[0]));
    TPXGaussNoise gauss;
    EXPECT_TRUE(reference::SamePixels(Stream(gauss, frame, 1)[0], Stream(gauss, frame, 1)[0]));
}

TEST(Noise, LowEqualHighTenAddsExactlyTenSaturating) {
    TPXUniformNoise noise;
    noise.SetThreaded(false);
    noise.SetHigh(10);
    noise.SetLow(10);
    const IPXImageBuffer in = reference::RandomFrame(37, 23, vfGray8, 8);
    const IPXImageBuffer out = noise.ProcessFrame(in);
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; ++x) ASSERT_EQ(Sample(out, x, y, 0), std::min(255, Sample(in, x, y, 0) + 10));
}

TEST(Noise, SixteenBitParametersAreScaledBy256) {
    TPXUniformNoise noise;
    noise.SetThreaded(false);
    noise.SetLow(255);  // High follows to 255: adds exactly 65280
    EXPECT_EQ(noise.GetHigh(), 255);
    const IPXImageBuffer out = noise.ProcessFrame(Flat(8, 4, vfGray16, 100));
    for (int x = 0; x < 8; ++x) EXPECT_EQ(Sample(out, x, 2, 0), 100 + 65280);
    noise.SetLow(0);
    noise.SetHigh(1);  // noise 0..256
    const IPXImageBuffer small = noise.ProcessFrame(Flat(64, 64, vfGray16, 1000));
    int seen256 = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const int v = Sample(small, x, y, 0);
            ASSERT_GE(v, 1000);
            ASSERT_LE(v, 1256);
            seen256 += v == 1256;
        }
    EXPECT_GT(seen256, 0);
}

TEST(Noise, AlphaStaysOnFramesAndTheRegionBoundsTheNoise) {
    TPXGaussNoise noise;
    noise.SetThreaded(false);
    noise.SetMean(20);
    noise.RegionOfInterest().SetRectangle({3, 2, 10, 5});
    noise.RegionOfInterest().SetEnabled(true);
    const IPXImageBuffer in = Flat(20, 10, vfRGBA32, 77);
    const IPXImageBuffer out = noise.ProcessFrame(in);
    int changed = 0;
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x) {
            const bool inside = x >= 3 && x < 13 && y >= 2 && y < 7;
            EXPECT_EQ(Sample(out, x, y, 3), 77);
            for (int c = 0; c < 3; ++c) {
                if (!inside) {
                    EXPECT_EQ(Sample(out, x, y, c), 77);
                }
                changed += Sample(out, x, y, c) != 77;
            }
        }
    EXPECT_GT(changed, 100);  // 150 samples in the region, nearly all moved by mean 20, stdev 100
    EXPECT_EQ(Sample(in, 5, 5, 0), 77);  // the input is never written
}

TEST(Noise, GeneratedFramesAreBackgroundPlusNoiseOnAllFourChannels) {
    TPXUniformNoise noise;
    noise.ImageSize().SetSize(16, 8);
    noise.SetBackgroundColor(0x40302010);  // alpha 0x40, blue 0x30, green 0x20, red 0x10
    noise.SetLow(5);
    noise.SetHigh(5);
    const IPXImageBuffer frame = noise.GenerateOne();
    ASSERT_EQ(frame->GetFormat(), vfRGBA32);
    EXPECT_EQ(Sample(frame, 3, 3, 0), 0x30 + 5);
    EXPECT_EQ(Sample(frame, 3, 3, 1), 0x20 + 5);
    EXPECT_EQ(Sample(frame, 3, 3, 2), 0x10 + 5);
    EXPECT_EQ(Sample(frame, 3, 3, 3), 0x40 + 5);
}

TEST(Noise, LowAndHighPullEachOther) {
    TPXUniformNoise noise;
    noise.SetHigh(50);
    noise.SetLow(80);
    EXPECT_EQ(noise.GetHigh(), 80);
    noise.SetHigh(30);
    EXPECT_EQ(noise.GetLow(), 30);
    SetPropertyText(noise, "Low", "200");
    EXPECT_EQ(noise.GetHigh(), 200);
}

TEST(Noise, DistributionsHaveTheirMeanAndSpread) {
    const IPXImageBuffer base = Flat(512, 512, vfGray8, 100);
    TPXUniformNoise uniform;
    uniform.SetThreaded(false);
    uniform.SetHigh(60);
    uniform.SetLow(20);
    TPXGaussNoise gauss;
    gauss.SetThreaded(false);
    gauss.SetMean(10);
    gauss.SetStDev(15);
    const auto stats = [](const IPXImageBuffer& frame) {
        double sum = 0, squares = 0;
        const int n = frame->GetWidth() * frame->GetHeight();
        for (int y = 0; y < frame->GetHeight(); ++y)
            for (int x = 0; x < frame->GetWidth(); ++x) {
                const double v = Sample(frame, x, y, 0) - 100;
                sum += v;
                squares += v * v;
            }
        const double mean = sum / n;
        return std::pair{mean, std::sqrt(squares / n - mean * mean)};
    };
    const auto [uMean, uSpread] = stats(uniform.ProcessFrame(base));
    EXPECT_NEAR(uMean, 40.0, 0.2);                                    // (20 + 60) / 2
    EXPECT_NEAR(uSpread, std::sqrt((41.0 * 41.0 - 1.0) / 12.0), 0.2);  // discrete uniform over 41 values
    const auto [gMean, gSpread] = stats(gauss.ProcessFrame(base));
    EXPECT_NEAR(gMean, 10.0, 0.2);
    EXPECT_NEAR(gSpread, std::sqrt(15.0 * 15.0 + 1.0 / 12.0), 0.2);  // rounding adds 1/12
}

}  // namespace
}  // namespace pixora
