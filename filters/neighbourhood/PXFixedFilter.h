// Applies one of thirteen predefined neighbourhood filters (Prewitt, Sobel, Roberts and Laplace
// edge detectors, Gauss and low-pass smoothing, high-pass, sharpening, cross median and colour
// median) to the frame or its region of interest, in one call or in bands on the pool.
#pragma once

#include <cstdint>

#include "platform/filters/PXFixedMaskSize.h"
#include "platform/filters/PXROIFilters.h"
#include "platform/kernels/FixedFilters.h"

namespace pixora {

enum TPXFixedFilterType : uint8_t {
    ftPrewittHoriz,
    ftPrewittVert,
    ftSobelHoriz,
    ftSobelVert,
    ftRobertsDown,
    ftRobertsUp,
    ftLaplace,
    ftGauss,
    ftHipass,
    ftLowpass,
    ftSharpen,
    ftMedianCross,
    ftMedianColor,
};

class TPXFixedFilter final : public TPXCommonROIFilter {
public:
    explicit TPXFixedFilter(TComponent* owner = nullptr);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TPXFixedFilterType GetFilterType() const { return ReadLocked(FFilterType); }
    void SetFilterType(TPXFixedFilterType value) { SetPublished(&TPXFixedFilter::FFilterType, value); }
    TPXFixedMaskSize GetMaskSize() const { return ReadLocked(FMaskSize); }
    void SetMaskSize(TPXFixedMaskSize value) { SetPublished(&TPXFixedFilter::FMaskSize, value); }
    // Bands on the process-wide pool (off: one call), and the band size in bytes.
    bool GetMultiCore() const { return ReadLocked(FMultiCore); }
    void SetMultiCore(bool value) { SetPublished(&TPXFixedFilter::FMultiCore, value); }
    int GetBlockSize() const { return ReadLocked(FBlockSize); }
    void SetBlockSize(int32_t value) { SetPublished(&TPXFixedFilter::FBlockSize, value); }

    // IPP's mask-size code the filter passes: 33 (3 x 3) or 55 (5 x 5), from MaskSize.
    int GetMaskCode() const { return FixedMaskCode(GetMaskSize()); }
    // The reach the region logic is told: (s, s) with s = 5 for Laplace, Gauss, Hipass and
    // Lowpass with a 5 x 5 MaskSize, else 3; the anchor (s div 2 + 1, s div 2 + 1) counts the
    // centre cell from 1.
    void GetMaskAnchor(TSize& size, TPoint& anchor) const override;
    // The kernel a filter type and mask size run.
    static kernels::TFixedKernel KernelFor(TPXFixedFilterType type, TPXFixedMaskSize mask) noexcept;

protected:
    void SetVideoFormat(const IPXImageBuffer& buffer) override;
    void FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) override;

private:
    static void MaskAnchorFor(TPXFixedFilterType type, TPXFixedMaskSize mask, TSize& size, TPoint& anchor) noexcept;

    TPXFixedFilterType FFilterType;
    TPXFixedMaskSize FMaskSize;
    bool FMultiCore;
    int32_t FBlockSize;
};

namespace PXFixedFilter {
void RegisterPkg();
}

}  // namespace pixora
