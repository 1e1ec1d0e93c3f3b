// Brightness, contrast, saturation, hue and lightness of the region of interest, on the CPU
// (one call or bands) or as an OpenCL kernel; alpha passes through.
#pragma once

#include "platform/filters/PXROIProcessingFilter.h"
#include "platform/kernels/ImageAdjust.h"

namespace pixora {

class TPXImageAdjust final : public TPXCommonBasicROIProcessingFilter {
public:
    explicit TPXImageAdjust(TComponent* owner = nullptr);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    float GetBrightness() const { return ReadLocked(FBrightness); }
    float GetContrast() const { return ReadLocked(FContrast); }
    float GetSaturation() const { return ReadLocked(FSaturation); }
    float GetHue() const { return ReadLocked(FHue); }
    float GetLightness() const { return ReadLocked(FLightness); }
    void SetBrightness(float value) { SetPublished(&TPXImageAdjust::FBrightness, value); }
    void SetContrast(float value) { SetPublished(&TPXImageAdjust::FContrast, value); }
    void SetSaturation(float value) { SetPublished(&TPXImageAdjust::FSaturation, value); }
    // A fraction of a full turn, clamped to -1..1.
    void SetHue(float value) { SetPublished(&TPXImageAdjust::FHue, value); }
    void SetLightness(float value) { SetPublished(&TPXImageAdjust::FLightness, value); }

protected:
    void SetVideoFormat(const IPXImageBuffer& buffer) override;
    void FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) override;
    void ClearExecutors() override;
    void BuildOpenCL(TOCLContext& context) override;

private:
    kernels::TImageAdjustParams Snapshot() const;
    void RunAdjustKernel(const IPXImageBuffer& in, IPXImageBuffer& out, const TRect& rect,
                         const kernels::TImageAdjustParams& params);

    float FBrightness, FContrast, FSaturation, FHue, FLightness;
    IOCLKernel FAdjustKernel, FAdjustKernel_NoHLS;
};

namespace PXImageAdjust {
void RegisterPkg();
}

}  // namespace pixora
