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
// (on every path). Amount must be a finite number; Threshold is clamped to 0 .. 1. All three paths
// compute the same bits (kernels::UnsharpGauss2D / UnsharpAverage2D, the "Unsharp" OpenCL kernels).
class TPXUnsharp final : public TPXCommonBasicROISmoothingFilter {
public:
    explicit TPXUnsharp(TComponent* owner = nullptr);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    float GetAmount() const { return ReadLocked(FAmount); }
    void SetAmount(float value) { SetPublished(&TPXUnsharp::FAmount, value); }
    float GetThreshold() const { return ReadLocked(FThreshold); }
    void SetThreshold(float value) { SetPublished(&TPXUnsharp::FThreshold, value); }

protected:
    void SetVideoFormat(const IPXImageBuffer& buffer) override;
    void FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) override;
    void ClearExecutors() override;
    void BuildOpenCL(TOCLContext& context) override;

private:
    float FAmount;
    float FThreshold;
    IOCLKernel FCLGaussKernel8Bit, FCLGaussKernel16Bit;
    IOCLKernel FCLAverageKernel8Bit, FCLAverageKernel16Bit;
};

namespace PXUnsharp {
void RegisterPkg();
}

}  // namespace pixora
