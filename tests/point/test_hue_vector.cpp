// Hue vector: RGB to HLS against the published pseudocode, the three real-valued planes in both
// modes and for grey frames, the pin names by mode, the lightness scaling by pin 2's connection,
// stream start and stop on the pins, and buffers that a receiver still holds staying untouched.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "analysis/PXHueVector.h"
#include "platform/kernels/HueVector.h"
#include "point/PointFilterSupport.h"

namespace pixora {
namespace {

using namespace pointtest;

struct THLS {
    int H, L, S;
};

// The published RGB to HLS pseudocode on values normalised to 0..1, then scaled to bytes and
// rounded half up (the nudge only settles exact halves, which long double may miss by an ulp;
// no other scaled value comes within 1e-4 of a half).
THLS ReferenceHLS(int red, int green, int blue) {
    const long double R = red / 255.0L, G = green / 255.0L, B = blue / 255.0L;
    const long double M1 = std::max({R, G, B}), M2 = std::min({R, G, B});
    const long double L = (M1 + M2) / 2;
    long double S = 0, H = 0;
    if (M1 != M2) {
        S = L <= 0.5L ? (M1 - M2) / (M1 + M2) : (M1 - M2) / (2 - M1 - M2);
        const long double Cr = (M1 - R) / (M1 - M2), Cg = (M1 - G) / (M1 - M2), Cb = (M1 - B) / (M1 - M2);
        if (red == std::max({red, green, blue})) H = Cb - Cg;
        if (green == std::max({red, green, blue})) H = 2 + Cr - Cb;
        if (blue == std::max({red, green, blue})) H = 4 + Cg - Cr;
        H *= 60;
        if (H < 0) H += 360;
    }
    const auto byte = [](long double v) { return int(std::floor(v + 0.5L + 1e-9L)); };
    return {byte(H * 255 / 360), byte(L * 255), byte(S * 255)};
}

TEST(HueVectorKernel, RgbToHlsMatchesThePublishedPseudocode) {
    long bad = 0;
    std::string first;
    auto check = [&](int r, int g, int b) {
        const uint8_t rgb[3] = {uint8_t(r), uint8_t(g), uint8_t(b)};
        uint8_t hls[3];
        kernels::RGBToHLSPixel8(rgb, hls);
        const THLS e = ReferenceHLS(r, g, b);
        if ((hls[0] != e.H || hls[1] != e.L || hls[2] != e.S) && bad++ == 0)
            first = std::to_string(r) + "," + std::to_string(g) + "," + std::to_string(b) + " gave " + std::to_string(hls[0]) +
                    "," + std::to_string(hls[1]) + "," + std::to_string(hls[2]) + ", want " + std::to_string(e.H) + "," +
                    std::to_string(e.L) + "," + std::to_string(e.S);
    };
    for (int r = 0; r < 256; r += 3)
        for (int g = 0; g < 256; g += 3)
            for (int b = 0; b < 256; b += 3) check(r, g, b);
    for (int v = 0; v < 256; ++v) {  // every value in every position, with ties of the maximum
        check(v, 255 - v, (v * 7) % 256);
        check(v, v, 0);
        check(255, v, v);
        check(v, 0, v);
    }
    EXPECT_EQ(bad, 0) << first;

    const uint8_t red[3] = {255, 0, 0}, green[3] = {0, 255, 0}, blue[3] = {0, 0, 255}, grey[3] = {100, 100, 100};
    uint8_t hls[3];
    kernels::RGBToHLSPixel8(red, hls);
    EXPECT_EQ((THLS{hls[0], hls[1], hls[2]}).H, 0);
    EXPECT_EQ(hls[1], 128);  // 127.5 rounds up
    EXPECT_EQ(hls[2], 255);
    kernels::RGBToHLSPixel8(green, hls);
    EXPECT_EQ(hls[0], 85);  // 120 degrees
    kernels::RGBToHLSPixel8(blue, hls);
    EXPECT_EQ(hls[0], 170);  // 240 degrees
    kernels::RGBToHLSPixel8(grey, hls);
    EXPECT_EQ(hls[0], 0);
    EXPECT_EQ(hls[1], 100);
    EXPECT_EQ(hls[2], 0);
}

// A hue vector with recorders on its three pins (pin 2 optional).
struct THarness {
    TPXHueVector Vector;
    TPinRecorder Pins[3] = {TPinRecorder(TPinDataType::Real), TPinRecorder(TPinDataType::Real),
                            TPinRecorder(TPinDataType::Real)};
    explicit THarness(TPXHueVectorMode mode, bool connectLightness = true) {
        Vector.SetThreaded(false);
        Vector.SetMode(mode);
        for (int i = 0; i < 3; ++i)
            if (i < 2 || connectLightness) static_cast<TLRSourcePin&>(Vector.OutputPins[i]).Connect(Pins[i].Pin);
    }
    void Push(const IPXImageBuffer& frame) { Vector.InputPin.Receive(TLRSuppliedBufferOperation::Make(IQNData(frame))); }
    TRef<TQNRealBuffer> Last(int pin) {
        EXPECT_FALSE(Pins[pin].Buffers.empty());
        auto* buffer = static_cast<TQNRealBuffer*>(Pins[pin].Buffers.back().Get());
        EXPECT_EQ(buffer->Kind(), TDataKind::Real);
        return TRef<TQNRealBuffer>(buffer);
    }
};

TEST(HueVector, PinsAreRealAndNamedByMode) {
    TPXHueVector vector;
    ASSERT_EQ(vector.OutputPins.Count(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(vector.OutputPins[i].DataType(), TPinDataType::Real);
        EXPECT_TRUE(vector.OutputPins[i].IsSource());
    }
    EXPECT_EQ(vector.GetMode(), vmCartesian);
    EXPECT_EQ(vector.OutputPins[0].Name(), "X");
    EXPECT_EQ(vector.OutputPins[1].Name(), "Y");
    EXPECT_EQ(vector.OutputPins[2].Name(), "Lightness");
    SetPropertyText(vector, "Mode", "vmPolar");
    EXPECT_EQ(vector.OutputPins[0].Name(), "Magnitude");
    EXPECT_EQ(vector.OutputPins[1].Name(), "Phase");
    EXPECT_EQ(&vector.FindPin("OutputPins.Phase"), &vector.OutputPins[1]);
    vector.SetMode(vmCartesian);
    EXPECT_EQ(vector.OutputPins[0].Name(), "X");
    EXPECT_THROW(SetPropertyText(vector, "Mode", "vmSpherical"), EPropertyError);
    // A real-valued pin does not take a video sink.
    TPinRecorder video(TPinDataType::Video);
    EXPECT_THROW(static_cast<TLRSourcePin&>(vector.OutputPins[0]).Connect(video.Pin), EGraphError);
}

TEST(HueVector, GreyFramesGiveTheirLevelsOnPinOneWhateverTheMode) {
    for (TPXHueVectorMode mode : {vmCartesian, vmPolar})
        for (TPXVideoFormat format : {vfGray8, vfGray16}) {
            THarness h(mode);
            const IPXImageBuffer in = RandomFrame(13, 5, format, 21);
            IPXImageBuffer gray8 = TPXImageBuffer::CreateCopy(in);
            gray8->ConvertToFormat(vfGray8);
            h.Push(in);
            for (int pin = 0; pin < 3; ++pin) {
                const auto buffer = h.Last(pin);
                ASSERT_EQ(buffer->Values.size(), 13u * 5u);
                EXPECT_EQ(buffer->Width, 13);
                EXPECT_EQ(buffer->Height, 5);
                for (int y = 0; y < 5; ++y)
                    for (int x = 0; x < 13; ++x)
                        EXPECT_EQ(buffer->Values[std::size_t(y * 13 + x)], pin == 1 ? double(SampleAt(gray8, x, y, 0)) : 0.0)
                            << "pin " << pin << " at " << x << "," << y;
            }
        }
}

// The planes of a colour frame from the reference HLS of its stored channels 0, 1, 2.
void ExpectColourPlanes(TPXHueVectorMode mode, TPXVideoFormat format, bool connectLightness) {
    THarness h(mode, connectLightness);
    const IPXImageBuffer in = RandomFrame(29, 11, format, 33);
    IPXImageBuffer rgb = TPXImageBuffer::CreateCopy(in);
    rgb->ConvertToFormat(vfRGB24);
    h.Push(in);
    ASSERT_EQ(h.Pins[0].Buffers.size(), 1u);
    const auto p0 = h.Last(0), p1 = h.Last(1);
    const TRef<TQNRealBuffer> p2 = connectLightness ? h.Last(2) : TRef<TQNRealBuffer>();
    double worst = 0;
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 29; ++x) {
            const THLS e = ReferenceHLS(SampleAt(rgb, x, y, 0), SampleAt(rgb, x, y, 1), SampleAt(rgb, x, y, 2));
            const double angle = e.H * std::numbers::pi / 128, sat = e.S / 256.0, light = e.L / 256.0;
            const std::size_t i = std::size_t(y * 29 + x);
            const double want0 = mode == vmCartesian ? sat * std::sin(angle) : angle;
            const double want1 = mode == vmCartesian ? sat * std::cos(angle) : sat;
            worst = std::max({worst, std::fabs(p0->Values[i] - want0), std::fabs(p1->Values[i] - want1)});
            if (p2) worst = std::max(worst, std::fabs(p2->Values[i] - light));
        }
    EXPECT_LT(worst, 1e-12) << FormatName(format) << (mode == vmPolar ? " polar" : " cartesian");
}

TEST(HueVector, ColourFramesGiveTheVectorAndTheScaledLightness) {
    for (TPXHueVectorMode mode : {vmCartesian, vmPolar})
        for (TPXVideoFormat format : {vfRGB24, vfRGBA32, vfUYVY}) ExpectColourPlanes(mode, format, true);
    ExpectColourPlanes(vmCartesian, vfRGB24, false);
}

TEST(HueVector, ConnectingPinTwoScalesTheLightnessFromTheNextFrame) {
    // Unscaled lightness reaches nobody; the first frame after connecting pin 2 is scaled.
    THarness h(vmPolar, false);
    const IPXImageBuffer in = TPXImageBuffer::CreateSize(1, 1, vfRGB24);
    SetSample(in, 0, 0, 0, 200);
    SetSample(in, 0, 0, 1, 100);
    SetSample(in, 0, 0, 2, 50);
    h.Push(in);
    static_cast<TLRSourcePin&>(h.Vector.OutputPins[2]).Connect(h.Pins[2].Pin);
    h.Push(in);
    EXPECT_DOUBLE_EQ(h.Last(2)->Values[0], ReferenceHLS(200, 100, 50).L / 256.0);
}

TEST(HueVector, UnsaturatedPixelsHaveAZeroVector) {
    THarness h(vmCartesian);
    const IPXImageBuffer in = TPXImageBuffer::CreateSize(4, 1, vfRGB24);
    for (int x = 0; x < 4; ++x)
        for (int c = 0; c < 3; ++c) SetSample(in, x, 0, c, x * 80);
    h.Push(in);
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(h.Last(0)->Values[std::size_t(x)], 0.0);
        EXPECT_EQ(h.Last(1)->Values[std::size_t(x)], 0.0);
        EXPECT_DOUBLE_EQ(h.Last(2)->Values[std::size_t(x)], x * 80 / 256.0);
    }
}

TEST(HueVector, StreamStartAnnouncesTheSampleRateAndStopIsPassedOn) {
    THarness h(vmCartesian);
    h.Vector.InputPin.Receive(TLRStartFrameOperation::Make(8, 6, vfRGB24, 333667));  // 29.97 counts as 30
    IPXImageBuffer frame = RandomFrame(8, 6, vfRGB24, 2);
    frame->SetTimeStamp({true, 1000, 334667});
    h.Push(frame);
    h.Vector.InputPin.Receive(TLRStopOperation::Make(true));
    for (auto& pin : h.Pins) {
        ASSERT_EQ(pin.SampleRates.size(), 1u);
        EXPECT_EQ(pin.SampleRates[0], 30.0 * 8 * 6);
        EXPECT_EQ(pin.Stops, 1);
        ASSERT_EQ(pin.Buffers.size(), 1u);
        EXPECT_EQ(pin.Buffers[0]->GetTimeStamp(), (TPXTimeStamp{true, 1000, 334667}));
    }
}

TEST(HueVector, BuffersStillHeldByAReceiverAreNotOverwritten) {
    THarness h(vmPolar);
    const IPXImageBuffer first = RandomFrame(16, 16, vfRGB24, 1), second = RandomFrame(16, 16, vfRGB24, 2);
    h.Push(first);
    const std::vector<double> kept = h.Last(0)->Values;
    h.Push(second);  // the recorder still holds the first frame's buffers
    EXPECT_EQ(h.Pins[0].Buffers.front()->Kind(), TDataKind::Real);
    EXPECT_EQ(static_cast<TQNRealBuffer*>(h.Pins[0].Buffers.front().Get())->Values, kept);
    EXPECT_NE(h.Pins[0].Buffers.front().Get(), h.Pins[0].Buffers.back().Get());
    // Released buffers are reused: no new buffer once the receiver lets go.
    TQNData* reusable = h.Pins[1].Buffers.back().Get();
    for (auto& pin : h.Pins) pin.Buffers.clear();
    h.Push(first);
    EXPECT_EQ(h.Pins[1].Buffers.back().Get(), reusable);
    EXPECT_EQ(static_cast<TQNRealBuffer*>(h.Pins[0].Buffers.back().Get())->Values, kept);
}

TEST(HueVector, ADisabledVectorSendsNothing) {
    THarness h(vmCartesian);
    h.Vector.SetEnabled(false);
    h.Push(RandomFrame(4, 4, vfRGB24, 3));
    for (auto& pin : h.Pins) EXPECT_TRUE(pin.Buffers.empty());
}

}  // namespace
}  // namespace pixora
