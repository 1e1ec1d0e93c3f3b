// Frame handling shared by the uniform and Gaussian noise components.
#include "generators/PXBasicNoise.h"

#include "platform/kernels/Noise.h"

namespace pixora {

const TPropertyTable& TPXBasicNoise::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXBasicNoise, TPXCommonROIGenFilter>("TPXBasicNoise", {
        Color("BackgroundColor", &TPXBasicNoise::FBackgroundColor, {.Default = 0}),
    });
    return table;
}

TPXBasicNoise::TPXBasicNoise(TComponent* owner) : TPXCommonROIGenFilter(owner) { AutoInitProperties(Properties()); }

void TPXBasicNoise::SetVideoFormat(const IPXImageBuffer& buffer) {
    const TPXVideoFormat format = buffer->GetFormat();
    if (format == vfRGBA32 || format == vfGray8 || format == vfGray16) return;
    TPXCommonROIGenFilter::SetVideoFormat(buffer);
}

void TPXBasicNoise::ResetSeed() {
    std::lock_guard guard(GetLock());
    FWorkingSeed = InitialSeed();
}

uint16_t TPXBasicNoise::TakeSeed() {
    std::lock_guard guard(GetLock());
    const uint16_t seed = FWorkingSeed;
    FWorkingSeed = kernels::NextSeed(FWorkingSeed);
    return seed;
}

void TPXBasicNoise::StreamStart(const TLRStartFrameOperation& start) {
    TPXCommonROIGenFilter::StreamStart(start);
    ResetSeed();
}

void TPXBasicNoise::FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) {
    const TRect rect = RegionRect(in->GetWidth(), in->GetHeight());
    if (rect.Empty()) return;
    AddNoise(out, rect, false, TakeSeed());
}

bool TPXBasicNoise::GenerateFrame(IPXImageBuffer& frame) {
    frame->ConvertToFormat(vfRGBA32);
    frame->FillColor(GetBackgroundColor());
    AddNoise(frame, {0, 0, frame->GetWidth(), frame->GetHeight()}, true, TakeSeed());
    return true;
}

}  // namespace pixora
