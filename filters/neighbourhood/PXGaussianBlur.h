// Gaussian blur of the frame (or its region of interest) on one call, bands or an OpenCL kernel.
#pragma once

#include "platform/filters/PXSmoothingFilter.h"

namespace pixora {

// The window is Kernel.Width × Kernel.Height with the anchor at (Width div 2, Height div 2); window
// positions outside the frame are mirrored (edge not repeated above / left, repeated below /
// right). The CPU paths (one call, bands) run the separable blur (kernels::GaussianBlur2D) and give
// the same bits as each other; the OpenCL path runs the rectangular convolution kernel
// ("Convolution2DKernel8Bits" / "16Bits") over the coefficient matrix, a direct 2D sum. The two
// sums differ by float rounding only, so the outputs agree to within one sample level where
// acc + 0.5 lies within that rounding of an integer, and bit for bit elsewhere. Results saturate to
// the sample range. Native formats: vfRGBA32, vfGray8, vfGray16 (others arrive as vfRGB24). A
// kernel larger than the frame makes the frame fail with a message naming both sizes (the frame
// is reported and dropped; the next one runs).
class TPXGaussianBlur final : public TPXCommonBasicROIProcessingFilter {
public:
    explicit TPXGaussianBlur(TComponent* owner = nullptr);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    TPXGaussianKernel& Kernel() { return FKernel; }
    void SetKernel(const TPXGaussianKernel& value) { FKernel.Assign(value); }

    // Builds "Convolution2DKernel8Bits" and "...16Bits" from a template text (BuildOpenCL passes
    // the library's "Convolution" template); raises EOpenCLError carrying the build log when the
    // text does not compile.
    static std::pair<IOCLKernel, IOCLKernel> BuildKernels(TOCLContext& context, const std::string& templateText);

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
