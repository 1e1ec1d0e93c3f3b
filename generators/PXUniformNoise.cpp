// Uniform noise: the 8-bit forms take Low and High as they are, the 16-bit form × 256.
#include "generators/PXUniformNoise.h"

#include "platform/kernels/Noise.h"
#include "platform/registry/PXRegistry.h"

namespace pixora {

const TPropertyTable& TPXUniformNoise::Properties() {
    using T = TPXUniformNoise;
    static const TPropertyTable table = TPropertyTable::Of<T, TPXBasicNoise>("TPXUniformNoise", {
        Byte("Low", &T::FLow, {.Default = 0}).Setter(&T::SetLow),
        Byte("High", &T::FHigh, {.Default = 255}).Setter(&T::SetHigh),
        Word("Seed", &T::FSeed, {.Default = 31192, .DisplayName = "Seed (takes effect at the next stream start)"}),
    });
    return table;
}

TPXUniformNoise::TPXUniformNoise(TComponent* owner) : TPXBasicNoise(owner) { AutoInitProperties(Properties()); }

void TPXUniformNoise::SetLow(uint8_t value) {
    std::lock_guard guard(GetLock());
    GetLock().NotifySetter(FLow, value, nullptr, "Low");
    if (FHigh < FLow) GetLock().NotifySetter(FHigh, FLow, nullptr, "High");
}

void TPXUniformNoise::SetHigh(uint8_t value) {
    std::lock_guard guard(GetLock());
    GetLock().NotifySetter(FHigh, value, nullptr, "High");
    if (FLow > FHigh) GetLock().NotifySetter(FLow, FHigh, nullptr, "Low");
}

void TPXUniformNoise::AddNoise(IPXImageBuffer& frame, const TRect& rect, bool alphaToo, uint16_t seed) {
    int low, high;
    {
        std::lock_guard guard(GetLock());
        low = FLow;
        high = FHigh;
    }
    const TPXVideoFormat format = frame->GetFormat();
    const int channels = format == vfRGBA32 && !alphaToo ? 3 : ChannelCount(format);
    ForSampleType(format, [&]<class T>() {
        const bool wide = std::is_same_v<T, uint16_t>;
        kernels::AddRandUniform<T>(frame->WriteView<T>(true), rect, channels, wide ? Scale16(low) : low,
                                   wide ? Scale16(high) : high, seed);
    });
}

void PXUniformNoise::RegisterPkg() {
    RegisterComponents<TPXUniformNoise>({"TPixoraFiltersToolbarCategory", "TPixoraGeneratorsToolbarCategory"},
                                        "Add Uniform Noise to Video Frame");
}

}  // namespace pixora
