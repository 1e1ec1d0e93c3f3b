// Gaussian blur of the frame (or its region of interest) on one call, bands or an OpenCL kernel.
#pragma once

#include "platform/filters/PXSmoothingFilter.h"

namespace pixora {

// The window is Kernel.Width × Kernel.Height with the anchor at (Width div 2, Height div 2). The
// CPU paths run the separable blur (kernels::GaussianBlur2D); the OpenCL path runs the
// rectangular convolution kernel ("Convolution2DKernel8Bits" / "16Bits") over the coefficient
// matrix. The two agree to within one sample level where acc + 0.5 lies within float rounding of
// an integer, and bit for bit elsewhere. A kernel larger than the frame makes the frame fail with
// a message naming the sizes (the frame is reported and dropped).
class TPXGaussianBlur final : public TPXCommonBasicROIProcessingFilter {
public:
    explicit TPXGaussianBlur(TComponent* owner = nullptr);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TPXGaussianKernel& Kernel() { return FKernel; }
    void SetKernel(const TPXGaussianKernel& value) { FKernel.Assign(value); }

protected:
    void StreamStart(const TLRStartFrameOperation& start) override;
    void SetVideoFormat(const IPXImageBuffer& buffer) override;
    void FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) override;
    void ClearExecutors() override;
    void BuildOpenCL(TOCLContext& context) override;

private:
    TPXGaussianKernel FKernel;
    IOCLKernel FCLKernel8Bit, FCLKernel16Bit;
};

namespace PXGaussianBlur {
void RegisterPkg();
}

}  // namespace pixora
