// Replaces each sample of the frame (or its region of interest) by the mean, minimum, maximum or
// median of its rectangular neighbourhood, per channel, on one call, bands or an OpenCL kernel.
#pragma once

#include <cstdint>
#include <string>

#include "platform/filters/PXROIFilters.h"

namespace pixora {

enum TPXBoxFilterMode : uint8_t { bfmAverage, bfmMin, bfmMax, bfmMedian };

class TPXBoxFilter final : public TPXCommonROIMatrixSizeAnchorFilter {
public:
    explicit TPXBoxFilter(TComponent* owner = nullptr);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TPXBoxFilterMode GetFilterMode() const { return ReadLocked(FFilterMode); }
    void SetFilterMode(TPXBoxFilterMode value) { SetPublished(&TPXBoxFilter::FFilterMode, value); }

    // The eight kernels of a box template text (KernelTemplate("BoxFilter") in use: three
    // templates, each after its "//@template <placeholder name>" line), all built in one program
    // with "-cl-kernel-arg-info". Raises EPXError when a template is missing and EOpenCLError
    // carrying the build log when the program does not compile.
    struct TKernels {
        IOCLKernel Average8Bit, Average16Bit, Min8Bit, Min16Bit, Max8Bit, Max16Bit, Median8Bit, Median16Bit;
    };
    static TKernels BuildKernels(TOCLContext& context, const std::string& templateText);

protected:
    void SetVideoFormat(const IPXImageBuffer& buffer) override;
    void FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) override;
    void ClearExecutors() override;
    void BuildOpenCL(TOCLContext& context) override;

private:
    // The median kernel's list area on the device, kept between frames while it is large enough.
    IOCLBuffer MedianScratch(std::size_t bytes);

    TPXBoxFilterMode FFilterMode;
    TKernels FCLKernels;  // built for the current device, empty without one
    IOCLBuffer FMedianScratch;
};

namespace PXBoxFilter {
void RegisterPkg();
}

}  // namespace pixora
