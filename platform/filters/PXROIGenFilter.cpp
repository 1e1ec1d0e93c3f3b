// Generator side of the region generator filter.
#include "platform/filters/PXROIGenFilter.h"

#include <cmath>

namespace pixora {

const TPropertyTable& TPXCommonROIGenFilter::Properties() {
    using T = TPXCommonROIGenFilter;
    static const TPropertyTable table = TPropertyTable::Of<T, TPXCommonROIFilter>("TPXCommonROIGenFilter", {
        Object("ImageSize", &T::FImageSize),
        Double("FrameRate", &T::FFrameRate, {.Default = 25.0, .Min = 0.01, .Max = 1000.0, .DisplayName = "Frames per second"}),
    });
    return table;
}

TPXCommonROIGenFilter::TPXCommonROIGenFilter(TComponent* owner)
    : TPXCommonROIFilter(owner),
      FImageSize(GetLock()),
      FPacer(*this, OutputPin, [this](IPXImageBuffer& frame) { return GenerateFrame(frame); }) {
    AutoInitProperties(Properties());
    // While generating, pump negotiation is answered here; while filtering it goes upstream.
    OutputPin.SetUpstreamHandler([this](TLRSourcePin&, const ILRNotifyOperation& op) {
        return FGenerating.load() ? FPacer.UpstreamOperation(op) : InputPin.NotifyUpstream(op);
    });
}

TPXCommonROIGenFilter::~TPXCommonROIGenFilter() = default;

IPXImageBuffer TPXCommonROIGenFilter::GenerateOne() {
    const TSize size = GetImageSize();
    IPXImageBuffer frame = TPXImageBuffer::CreateSize(size.Width, size.Height, GetVideoFormat());
    if (!GenerateFrame(frame)) throw EPXError(GetDisplayPath() + ": no frame to generate");
    return frame;
}

void TPXCommonROIGenFilter::Start(const TRunOptions& options) {
    Stop();
    if (InputPin.IsConnected())
        throw EPXError(GetDisplayPath() + ": its input is connected, so it filters the incoming stream instead of generating");
    const TSize size = GetImageSize();
    const TPXVideoFormat format = GetVideoFormat();
    (void)TPXImageBuffer::CreateHeader(size.Width, size.Height, format);
    IntStart();
    FGenerating.store(true);
    FPacer.Start(options, size, format, std::llround(double(KTicksPerSecond) / GetFrameRate()));
}

void TPXCommonROIGenFilter::Stop() {
    FPacer.Stop();
    if (FGenerating.exchange(false)) IntStop();
}

}  // namespace pixora
