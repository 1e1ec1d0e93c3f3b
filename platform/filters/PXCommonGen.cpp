// The generator base hands its frames to the pacer.
#include "platform/filters/PXCommonGen.h"

#include <cmath>

namespace pixora {

const TPropertyTable& TPXCommonGen::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXCommonGen, TLockComponent>("TPXCommonGen", {
        Double("FrameRate", &TPXCommonGen::FFrameRate,
               {.Default = 25.0, .Min = 0.01, .Max = 1000.0, .DisplayName = "Frames per second"}),
    });
    return table;
}

TPXCommonGen::TPXCommonGen(TComponent* owner)
    : TLockComponent(owner),
      OutputPin(this, "OutputPin", [this](TLRSourcePin&, const ILRNotifyOperation& op) { return FPacer.UpstreamOperation(op); }),
      FPacer(*this, OutputPin, [this](IPXImageBuffer& frame) { return GenerateFrame(frame); }) {
    AutoInitProperties(Properties());
    PublishPin(OutputPin);
}

TPXCommonGen::~TPXCommonGen() = default;

int64_t TPXCommonGen::GetFrameDuration() const { return std::llround(double(KTicksPerSecond) / GetFrameRate()); }

IPXImageBuffer TPXCommonGen::GenerateOne() {
    const TSize size = GetImageSize();
    IPXImageBuffer frame = TPXImageBuffer::CreateSize(size.Width, size.Height, GetVideoFormat());
    if (!GenerateFrame(frame)) throw EPXError(GetDisplayPath() + ": no frame to generate");
    return frame;
}

void TPXCommonGen::Start(const TRunOptions& options) {
    FPacer.Stop();
    const TSize size = GetImageSize();
    const TPXVideoFormat format = GetVideoFormat();
    const int64_t duration = GetFrameDuration();
    (void)TPXImageBuffer::CreateHeader(size.Width, size.Height, format);
    IntStartStream();
    FPacer.Start(options, size, format, duration);
}

}  // namespace pixora
