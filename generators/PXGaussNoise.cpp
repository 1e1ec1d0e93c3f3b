// Gaussian noise: the 8-bit forms take Mean and StDev as they are, the 16-bit form × 256.
#include "generators/PXGaussNoise.h"

#include "platform/kernels/Noise.h"
#include "platform/registry/PXRegistry.h"

namespace pixora {

const TPropertyTable& TPXGaussNoise::Properties() {
    using T = TPXGaussNoise;
    static const TPropertyTable table = TPropertyTable::Of<T, TPXBasicNoise>("TPXGaussNoise", {
        Byte("Mean", &T::FMean, {.Default = 0}),
        Byte("StDev", &T::FStDev, {.Default = 100}),
        Word("Seed", &T::FSeed, {.Default = 31192, .DisplayName = "Seed (takes effect at the next stream start)"}),
    });
    return table;
}

TPXGaussNoise::TPXGaussNoise(TComponent* owner) : TPXBasicNoise(owner) { AutoInitProperties(Properties()); }

void TPXGaussNoise::AddNoise(IPXImageBuffer& frame, const TRect& rect, bool alphaToo, uint16_t seed) {
    int mean, stdDev;
    {
        std::lock_guard guard(GetLock());
        mean = FMean;
        stdDev = FStDev;
    }
    const TPXVideoFormat format = frame->GetFormat();
    const int channels = format == vfRGBA32 && !alphaToo ? 3 : ChannelCount(format);
    ForSampleType(format, [&]<class T>() {
        const bool wide = std::is_same_v<T, uint16_t>;
        kernels::AddRandGauss<T>(frame->WriteView<T>(true), rect, channels, wide ? Scale16(mean) : mean,
                                 wide ? Scale16(stdDev) : stdDev, seed);
    });
}

void PXGaussNoise::RegisterPkg() {
    RegisterComponents<TPXGaussNoise>({"TPixoraFiltersToolbarCategory", "TPixoraGeneratorsToolbarCategory"},
                                      "Add Gaussian Noise to Video Frame");
}

}  // namespace pixora
