// Turns each frame into three real-valued planes that describe every pixel's colour as a vector
// (hue as its angle, saturation as its length) plus its lightness.
#pragma once

#include "platform/filters/PXSinkFilter.h"
#include "platform/pins/PXData.h"

namespace pixora {

enum TPXHueVectorMode : uint8_t { vmCartesian, vmPolar };

// Output pins by mode (pins 0, 1, 2): vmCartesian "X", "Y", "Lightness"; vmPolar "Magnitude",
// "Phase", "Lightness". Each frame sends one TQNRealBuffer (width x height doubles, row by row,
// with the frame's time stamp) on every pin:
// - grey frames (vfGray8, vfGray16 as 8-bit): zeros on pins 0 and 2, the grey levels (0..255) on
//   pin 1, whatever the mode;
// - colour frames, from the 8-bit HLS of each pixel (stored channels 0, 1, 2 taken as red, green,
//   blue): angle = H x pi / 128, sat = S / 256, light = L, divided by 256 only while pin 2 is
//   connected. vmCartesian: pin 0 sat x sin(angle), pin 1 sat x cos(angle), pin 2 light.
//   vmPolar: pin 0 the angle, pin 1 sat, pin 2 light.
// Each stream start announces a sample rate of frame rate x width x height on the three pins.
class TPXHueVector final : public TPXSinkFilter {
public:
    explicit TPXHueVector(TComponent* owner = nullptr);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TPXHueVectorMode GetMode() const { return ReadLocked(FMode); }
    // Renames the output pins at once.
    void SetMode(TPXHueVectorMode value) { SetPublished(&TPXHueVector::FMode, value); }

    TLRPinList OutputPins;

protected:
    void VideoStreamStart(const TLRStartFrameOperation& start) override;
    void ProcessImage(const IPXImageBuffer& frame) override;
    void VideoStreamStop(bool aborted) override;

private:
    using TBuffer = TRef<TQNRealBuffer>;

    void RenamePins();
    TLRSourcePin& Pin(int index) const { return static_cast<TLRSourcePin&>(OutputPins[index]); }
    // The buffer in slot, or a new one when a receiver still holds it; sized to the frame.
    static double* Acquire(TBuffer& slot, const IPXImageBuffer& frame);
    void Send(const TBuffer& b0, const TBuffer& b1, const TBuffer& b2);

    TPXHueVectorMode FMode;
    TBuffer FHue, FLightness, FSaturation, FX, FY;
    IPXImageBuffer FWorkFrame;  // 8-bit HLS (or the 8-bit grey copy of a 16-bit frame)
};

namespace PXHueVector {
void RegisterPkg();
}

}  // namespace pixora
