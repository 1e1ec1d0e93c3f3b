// Hue vector: grey frames give their levels; colour frames go through RGB to HLS into a work
// frame, whose bytes become the angle, length and lightness planes.
#include "analysis/PXHueVector.h"

#include "platform/image/PXConvert.h"
#include "platform/kernels/HueVector.h"
#include "platform/registry/PXRegistry.h"

namespace pixora {

const TPropertyTable& TPXHueVector::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXHueVector, TPXSinkFilter>("TPXHueVector", {
        Enum("Mode", &TPXHueVector::FMode, "TPXHueVectorMode", {"vmCartesian", "vmPolar"}, {.Default = vmCartesian})
            .FollowUp(&TPXHueVector::RenamePins),
    });
    return table;
}

TPXHueVector::TPXHueVector(TComponent* owner) : TPXSinkFilter(owner), OutputPins(this, "OutputPins") {
    for (int i = 0; i < 3; ++i) OutputPins.Add<TLRSourcePin>("", TPinDataType::Real);
    PublishPinList(OutputPins);
    AutoInitProperties(Properties());
    RenamePins();
}

void TPXHueVector::RenamePins() {
    static const char* const cartesian[3] = {"X", "Y", "Lightness"};
    static const char* const polar[3] = {"Magnitude", "Phase", "Lightness"};
    const char* const* names = FMode == vmPolar ? polar : cartesian;  // called under the lock
    for (int i = 0; i < 3; ++i) OutputPins.SetPinName(i, names[i]);
}

void TPXHueVector::VideoStreamStart(const TLRStartFrameOperation& start) {
    FWorkFrame.Reset();
    const double rate = double(FrameRateFromDuration(start.FrameDuration)) * double(start.Width) * double(start.Height);
    OutputPins.Notify(TLRStartSampleRateOperation::Make(rate));
}

void TPXHueVector::VideoStreamStop(bool aborted) { OutputPins.Notify(TLRStopOperation::Make(aborted)); }

double* TPXHueVector::Acquire(TBuffer& slot, const IPXImageBuffer& frame) {
    if (!slot || slot->RefCount() > 1) slot = TQNRealBuffer::Create();
    slot->Values.resize(std::size_t(frame->GetWidth()) * std::size_t(frame->GetHeight()));
    slot->Width = frame->GetWidth();
    slot->Height = frame->GetHeight();
    slot->SetTimeStamp(frame->GetTimeStamp());
    return slot->Values.data();
}

void TPXHueVector::Send(const TBuffer& b0, const TBuffer& b1, const TBuffer& b2) {
    Pin(0).Notify(TLRSuppliedBufferOperation::Make(IQNData(b0)));
    Pin(1).Notify(TLRSuppliedBufferOperation::Make(IQNData(b1)));
    Pin(2).Notify(TLRSuppliedBufferOperation::Make(IQNData(b2)));
}

void TPXHueVector::ProcessImage(const IPXImageBuffer& frame) {
    const int width = frame->GetWidth(), height = frame->GetHeight();
    const TPXVideoFormat format = frame->GetFormat();
    // The work frame follows the frame's size and the path's format.
    auto work = [&](TPXVideoFormat workFormat) -> TPXImageBuffer& {
        if (!FWorkFrame || FWorkFrame->GetWidth() != width || FWorkFrame->GetHeight() != height ||
            FWorkFrame->GetFormat() != workFormat || FWorkFrame->IsShared())
            FWorkFrame = TPXImageBuffer::CreateSize(width, height, workFormat);
        return *FWorkFrame;
    };

    if (format == vfGray8 || format == vfGray16) {
        ConstView<uint8_t> gray = frame->ReadView<uint8_t>();
        if (format == vfGray16) {
            TPXImageBuffer& gray8 = work(vfGray8);
            ConvertPixels(frame->GetReadPointer(), frame->GetLineSize(), vfGray16, gray8.GetWritePointer(),
                          gray8.GetLineSize(), vfGray8, width, height);
            gray = gray8.ReadView<uint8_t>();
        }
        double* hue = Acquire(FHue, frame);
        double* lightness = Acquire(FLightness, frame);
        double* saturation = Acquire(FSaturation, frame);
        kernels::GrayPlanes(gray, hue, lightness, saturation);
        Send(FHue, FLightness, FSaturation);  // hue, lightness, saturation on pins 0, 1, 2
        return;
    }

    // Colour: to three 8-bit channels, then HLS (in place in the work frame when converted).
    TPXImageBuffer& hls = work(vfRGB24);
    const TRect whole{0, 0, width, height};
    if (format == vfRGB24) {
        kernels::RGBToHLS8(frame->ReadView<uint8_t>(), hls.WriteView<uint8_t>(false), whole);
    } else {
        ConvertPixels(frame->GetReadPointer(), frame->GetLineSize(), format, hls.GetWritePointer(), hls.GetLineSize(),
                      vfRGB24, width, height);
        const View<uint8_t> view = hls.WriteView<uint8_t>(true);
        kernels::RGBToHLS8(view, view, whole);
    }
    const bool scaleLightness = Pin(2).IsConnected();
    const TPXHueVectorMode mode = GetMode();
    double* lightness = Acquire(FLightness, frame);
    if (mode == vmCartesian) {
        double* x = Acquire(FX, frame);
        double* y = Acquire(FY, frame);
        kernels::HueVectorPlanes(hls.ReadView<uint8_t>(), scaleLightness, nullptr, lightness, nullptr, x, y);
        Send(FX, FY, FLightness);
    } else {
        double* hue = Acquire(FHue, frame);
        double* saturation = Acquire(FSaturation, frame);
        kernels::HueVectorPlanes(hls.ReadView<uint8_t>(), scaleLightness, hue, lightness, saturation, nullptr, nullptr);
        Send(FHue, FSaturation, FLightness);
    }
}

void PXHueVector::RegisterPkg() {
    RegisterComponents<TPXHueVector>({"TPixoraAnalysisToolbarCategory"}, "Video Hue Vector");
}

}  // namespace pixora
