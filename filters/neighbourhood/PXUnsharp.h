// Unsharp mask: subtracts a fraction of a smoothed neighbourhood from each sample and rescales,
// where the difference is large enough.
#pragma once

#include "platform/filters/PXSmoothingFilter.h"

namespace pixora {

// Per sample I of the region (MAX the sample maximum, blur from the Kernel: Gaussian coefficients
// or the box average of its size, anchor (Width div 2, Height div 2)):
//   v = I − blur × Amount; where |v / MAX| > Threshold the sample becomes
//   round(v / (1 − Amount)) clamped to 0 .. MAX, elsewhere it stays I.
// Amount 0 with Threshold 0 is the identity; 0 < Amount < 1 sharpens (I + a / (1 − a) × (I − blur));
// a negative Amount blends towards the blur; Amount >= 1 makes every sample of the region MAX
// (on every path). Amount must be a finite number; Threshold is clamped to 0 .. 1. Native formats:
// vfRGBA32, vfGray8, vfGray16 (others arrive as vfRGB24). With the box average every path
// computes the same bits (kernels::UnsharpAverage2D, the "UnsharpAverage" OpenCL kernel). With the
// Gaussian the CPU paths blur separably and give the same bits as each other, while the OpenCL
// kernel "UnsharpGauss" sums the 2D matrix directly: the blurs differ by float rounding only, so a
// sample can differ only where v lies within that rounding of the threshold or of a rounding half
// (see kernels::UnsharpGauss2D).
class TPXUnsharp final : public TPXCommonBasicROISmoothingFilter {
public:
    explicit TPXUnsharp(TComponent* owner = nullptr);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    float GetAmount() const { return ReadLocked(FAmount); }
    void SetAmount(float value) { SetPublished(&TPXUnsharp::FAmount, value); }
    float GetThreshold() const { return ReadLocked(FThreshold); }
    void SetThreshold(float value) { SetPublished(&TPXUnsharp::FThreshold, value); }

    // The four kernels of an "Unsharp" template text, 8-bit and 16-bit instantiations joined in one
    // program built with "-cl-kernel-arg-info" (BuildOpenCL passes the library's template); raises
    // EOpenCLError carrying the build log when the text does not compile.
    struct TKernels {
        IOCLKernel Gauss8Bit, Gauss16Bit, Average8Bit, Average16Bit;
    };
    static TKernels BuildKernels(TOCLContext& context, const std::string& templateText);

protected:
    void SetVideoFormat(const IPXImageBuffer& buffer) override;
    void FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) override;
    void ClearExecutors() override;
    void BuildOpenCL(TOCLContext& context) override;

private:
    float FAmount;
    float FThreshold;
    TKernels FCLKernels;  // built for the current device, empty without one
};

namespace PXUnsharp {
void RegisterPkg();
}

}  // namespace pixora
