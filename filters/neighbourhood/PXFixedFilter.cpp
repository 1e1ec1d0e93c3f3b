// The fixed filter: picks the kernel for FilterType and MaskSize, narrows the region of interest
// to what the mask can compute, and runs the kernel in one call or in bands.
#include "filters/neighbourhood/PXFixedFilter.h"

#include <atomic>
#include <functional>

#include "platform/filters/PXROIProcessingFilter.h"
#include "platform/registry/PXRegistry.h"
#include "platform/threads/PXBandPool.h"

namespace pixora {

const TPropertyTable& TPXFixedFilter::Properties() {
    using T = TPXFixedFilter;
    static const TPropertyTable table = TPropertyTable::Of<T, TPXCommonROIFilter>("TPXFixedFilter", {
        Enum("FilterType", &T::FFilterType, "TPXFixedFilterType",
             {"ftPrewittHoriz", "ftPrewittVert", "ftSobelHoriz", "ftSobelVert", "ftRobertsDown", "ftRobertsUp",
              "ftLaplace", "ftGauss", "ftHipass", "ftLowpass", "ftSharpen", "ftMedianCross", "ftMedianColor"},
             {.Default = ftPrewittHoriz}),
        Enum("MaskSize", &T::FMaskSize, "TPXFixedMaskSize", {"fms3x3", "fms5x5"}, {.Default = fms3x3}),
        Bool("MultiCore", &T::FMultiCore, {.Default = false, .Category = "Threading",
                                           .DisplayName = "Process in bands on all cores"}),
        Int("BlockSize", &T::FBlockSize, {.Default = 65536, .Min = 1, .Category = "Threading",
                                          .DisplayName = "Band size in bytes"}),
    });
    return table;
}

TPXFixedFilter::TPXFixedFilter(TComponent* owner) : TPXCommonROIFilter(owner) { AutoInitProperties(Properties()); }

kernels::TFixedKernel TPXFixedFilter::KernelFor(TPXFixedFilterType type, TPXFixedMaskSize mask) noexcept {
    using K = kernels::TFixedKernel;
    const bool large = mask != fms3x3;
    switch (type) {
    case ftPrewittHoriz: return K::PrewittHoriz;
    case ftPrewittVert: return K::PrewittVert;
    case ftSobelHoriz: return K::SobelHoriz;
    case ftSobelVert: return K::SobelVert;
    case ftRobertsDown: return K::RobertsDown;
    case ftRobertsUp: return K::RobertsUp;
    case ftLaplace: return large ? K::Laplace5x5 : K::Laplace3x3;
    case ftGauss: return large ? K::Gauss5x5 : K::Gauss3x3;
    case ftHipass: return large ? K::Hipass5x5 : K::Hipass3x3;
    case ftLowpass: return large ? K::Lowpass5x5 : K::Lowpass3x3;
    case ftSharpen: return K::Sharpen;
    case ftMedianCross: return large ? K::MedianCross5x5 : K::MedianCross3x3;
    case ftMedianColor: return large ? K::MedianColor5x5 : K::MedianColor3x3;
    }
    return K::PrewittHoriz;
}

void TPXFixedFilter::MaskAnchorFor(TPXFixedFilterType type, TPXFixedMaskSize mask, TSize& size,
                                   TPoint& anchor) noexcept {
    const bool takesMask = type == ftLaplace || type == ftGauss || type == ftHipass || type == ftLowpass;
    const int s = takesMask && mask == fms5x5 ? 5 : 3;
    size = {s, s};
    anchor = {s / 2 + 1, s / 2 + 1};
}

void TPXFixedFilter::GetMaskAnchor(TSize& size, TPoint& anchor) const {
    TPXFixedFilterType type;
    TPXFixedMaskSize mask;
    {
        std::lock_guard guard(GetLock());
        type = FFilterType;
        mask = FMaskSize;
    }
    MaskAnchorFor(type, mask, size, anchor);
}

void TPXFixedFilter::SetVideoFormat(const IPXImageBuffer& buffer) {
    const TPXVideoFormat format = buffer->GetFormat();
    if (GetFilterType() == ftMedianColor) {
        if (format == vfRGBA32) return;
    } else if (format == vfRGBA32 || format == vfGray8 || format == vfGray16) {
        return;
    }
    TPXCommonROIFilter::SetVideoFormat(buffer);
}

void TPXFixedFilter::FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) {
    TPXFixedFilterType type;
    TPXFixedMaskSize mask;
    bool multiCore;
    int blockSize;
    {
        std::lock_guard guard(GetLock());
        type = FFilterType;
        mask = FMaskSize;
        multiCore = FMultiCore;
        blockSize = FBlockSize;
    }
    const kernels::TFixedKernel kernel = KernelFor(type, mask);
    const int width = in->GetWidth(), height = in->GetHeight();
    // The region of interest less the frame's outermost rows and columns that the mask would read
    // beyond. The reach is the kernel's own: the 5 x 5 cross and colour medians read two pixels
    // out although GetMaskAnchor reports them as 3 x 3. Pixels outside keep the input's values.
    const TRect rect = kernels::FixedKernelRect(RegionRect(width, height), width, height,
                                                kernels::FixedKernelReach(kernel));
    // Like a failing IPP call (a region smaller than the mask, a median colour frame without
    // colour channels), a call that cannot run passes the input on unchanged, without a message.
    bool ran = false;
    if (!rect.Empty()) {
        ran = ForSampleType(in->GetFormat(), [&]<class T>() {
            const ConstView<T> src = in->ReadView<T>();
            // Only the rectangle is written: the rest keeps the input's content, copied row by
            // row by the band (or the call) that owns the row. With four channels the kernels
            // leave the fourth sample alone, so those rows are copied whole first and the
            // output's alpha channel stays the input's.
            const View<T> dst = out->WriteView<T>(false);
            const bool wholeRows = src.Channels == 4;
            CopyAroundRect(src, dst, rect, 0, rect.Y, true);
            CopyAroundRect(src, dst, rect, rect.Y + rect.Height, dst.Height, true);
            if (!multiCore) {
                CopyAroundRect(src, dst, rect, rect.Y, rect.Y + rect.Height, wholeRows);
                return kernels::FixedFilter(src, dst, rect, kernel);
            }
            std::atomic<bool> all{true};
            auto band = [&](int y, int h) {
                CopyAroundRect(src, dst, rect, y, y + h, wholeRows);
                if (!kernels::FixedFilter(src, dst, TRect{rect.X, y, rect.Width, h}, kernel))
                    all.store(false, std::memory_order_relaxed);
            };
            const int rowBytes = in->GetBitsPerPixel() * rect.Width / 8;
            RunBands(&TBandPool::Instance(), rect.Y, rect.Height, rowBytes, blockSize,
                     std::function<void(int, int)>(std::ref(band)));
            return all.load();
        });
    }
    if (!ran) out = in;
}

void PXFixedFilter::RegisterPkg() {
    RegisterComponents<TPXFixedFilter>({"TPixoraFiltersToolbarCategory"}, "Fixed Type Kernel Video Filter");
}

}  // namespace pixora
