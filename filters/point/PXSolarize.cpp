// Solarize: a sample below the level becomes maximum - s; any other sample is copied.
#include "filters/point/PXSolarize.h"

#include <cmath>

#include <tuple>

#include "frame/PXKernelTemplates.h"
#include "platform/kernels/Point.h"
#include "platform/registry/PXRegistry.h"

namespace pixora {

const TPropertyTable& TPXSolarize::Properties() {
    static const TPropertyTable table = TPropertyTable::Of<TPXSolarize, TPXCommonBasicROIProcessingFilter>("TPXSolarize", {
        Float("Level", &TPXSolarize::FLevel, {.Default = 0.5f, .Min = 0.0f, .Max = 1.0f, .OutOfRange = TOutOfRange::Clamp}),
    });
    return table;
}

TPXSolarize::TPXSolarize(TComponent* owner) : TPXCommonBasicROIProcessingFilter(owner) {
    AutoInitProperties(Properties());
}

// std::nearbyint rounds in the default mode, to nearest with ties to even.
uint8_t TPXSolarize::Level8(float level) { return uint8_t(std::nearbyint(double(level) * 255.0)); }
uint16_t TPXSolarize::Level16(float level) { return uint16_t(std::nearbyint(double(level) * 65535.0)); }

void TPXSolarize::SetVideoFormat(const IPXImageBuffer& buffer) {
    const TPXVideoFormat format = buffer->GetFormat();
    if (format == vfRGBA32 || format == vfGray8 || format == vfGray16) return;
    TPXCommonBasicROIProcessingFilter::SetVideoFormat(buffer);
}

void TPXSolarize::FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) {
    const float level = GetLevel();  // one consistent value per frame
    ForSampleType(in->GetFormat(), [&]<class T>() {
        const T lv = std::is_same_v<T, uint16_t> ? T(Level16(level)) : T(Level8(level));
        RunROI<T>(
            in, out, [lv](ConstView<T> src, View<T> dst, TRect r) { kernels::Solarize2D<T>(src, dst, r, lv); },
            std::is_same_v<T, uint16_t> ? FCLKernel16Bit : FCLKernel8Bit, [lv](TOCLArgs& args) { args.Set("ALevel", lv); });
    });
}

void TPXSolarize::ClearExecutors() {
    TPXCommonBasicROIProcessingFilter::ClearExecutors();
    FCLKernel8Bit.reset();
    FCLKernel16Bit.reset();
}

void TPXSolarize::BuildOpenCL(TOCLContext& context) {
    std::tie(FCLKernel8Bit, FCLKernel16Bit) = BuildKernelPair(context, KernelTemplate("Solarize"), "Solarize2DKernel");
}

void PXSolarize::RegisterPkg() {
    RegisterComponents<TPXSolarize>({"TPixoraFiltersToolbarCategory"}, "Solarize Video Filter");
}

}  // namespace pixora
