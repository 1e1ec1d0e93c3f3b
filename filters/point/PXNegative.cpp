// Negative: each sample of the region becomes 255 - s (8-bit) or 65535 - s (16-bit).
#include "filters/point/PXNegative.h"

#include <tuple>

#include "frame/PXKernelTemplates.h"
#include "platform/kernels/Point.h"
#include "platform/registry/PXRegistry.h"

namespace pixora {

const TPropertyTable& TPXNegative::Properties() {
    static const TPropertyTable table =
        TPropertyTable::Of<TPXNegative, TPXCommonBasicROIProcessingFilter>("TPXNegative", {});
    return table;
}

TPXNegative::TPXNegative(TComponent* owner) : TPXCommonBasicROIProcessingFilter(owner) {}

void TPXNegative::SetVideoFormat(const IPXImageBuffer& buffer) {
    const TPXVideoFormat format = buffer->GetFormat();
    if (format == vfRGBA32 || format == vfGray8 || format == vfGray16) return;
    TPXCommonBasicROIProcessingFilter::SetVideoFormat(buffer);
}

void TPXNegative::FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) {
    ForSampleType(in->GetFormat(), [&]<class T>() {
        RunROI<T>(
            in, out,
            [](ConstView<T> src, View<T> dst, TRect r) { kernels::SubtractFromConstant2D<T>(src, dst, r, SampleMax<T>); },
            std::is_same_v<T, uint16_t> ? FCLKernel16Bit : FCLKernel8Bit, [](TOCLArgs&) {});
    });
}

void TPXNegative::ClearExecutors() {
    TPXCommonBasicROIProcessingFilter::ClearExecutors();
    FCLKernel8Bit.reset();
    FCLKernel16Bit.reset();
}

void TPXNegative::BuildOpenCL(TOCLContext& context) {
    std::tie(FCLKernel8Bit, FCLKernel16Bit) = BuildKernelPair(context, KernelTemplate("Negative"), "Negative2DKernel");
}

void PXNegative::RegisterPkg() {
    RegisterComponents<TPXNegative>({"TPixoraFiltersToolbarCategory"}, "Negative Video Filter");
}

}  // namespace pixora
