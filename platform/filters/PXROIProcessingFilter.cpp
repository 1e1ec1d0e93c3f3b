// Settings and rectangle of the region-of-interest processing filter.
#include "platform/filters/PXROIProcessingFilter.h"

namespace pixora {

const TPropertyTable& TPXCommonBasicROIProcessingFilter::Properties() {
    using T = TPXCommonBasicROIProcessingFilter;
    static const TPropertyTable table = TPropertyTable::Of<T, TPXCommonFilter>("TPXCommonBasicROIProcessingFilter", {
        Object("RegionOfInterest", &T::FRegionOfInterest),
        Bool("MultiCore", &T::FMultiCore, {.Default = false, .Category = "Threading",
                                           .DisplayName = "Process in bands on all cores"}),
        Int("BlockSize", &T::FBlockSize, {.Default = 65536, .Min = 1, .Category = "Threading",
                                          .DisplayName = "Band size in bytes"}),
    });
    return table;
}

TPXCommonBasicROIProcessingFilter::TPXCommonBasicROIProcessingFilter(TComponent* owner)
    : TPXCommonFilter(owner), FRegionOfInterest(GetLock()) {
    AutoInitProperties(Properties());
}

TPXCommonBasicROIProcessingFilter::~TPXCommonBasicROIProcessingFilter() = default;

TROIRect TPXCommonBasicROIProcessingFilter::ComputeRect(const IPXImageBuffer& in) const {
    const int width = in->GetWidth(), height = in->GetHeight();
    TROIRect roi;
    roi.Rect = FRegionOfInterest.Clamp(width, height);
    roi.Partial = !(roi.Rect == TRect{0, 0, width, height});
    return roi;
}

TPXCommonBasicROIProcessingFilter::TPathSettings TPXCommonBasicROIProcessingFilter::ReadPathSettings() const {
    std::lock_guard guard(GetLock());
    return {FMultiCore, FBlockSize};
}

}  // namespace pixora
