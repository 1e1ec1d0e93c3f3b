// Inverts the samples below a level (a fraction of full scale); other samples pass unchanged.
#pragma once

#include "platform/filters/PXROIProcessingFilter.h"

namespace pixora {

class TPXSolarize final : public TPXCommonBasicROIProcessingFilter {
public:
    explicit TPXSolarize(TComponent* owner = nullptr);
    static const TPropertyTable& Properties();
    const TPropertyTable& GetPropertyTable() const override { return Properties(); }

    float GetLevel() const { return ReadLocked(FLevel); }
    void SetLevel(float value) { SetPublished(&TPXSolarize::FLevel, value); }

    // The level in samples: Level × 255 or Level × 65535, to the nearest integer, ties to even.
    static uint8_t Level8(float level);
    static uint16_t Level16(float level);

protected:
    void SetVideoFormat(const IPXImageBuffer& buffer) override;
    void FilterInternalOperation(const IPXImageBuffer& in, IPXImageBuffer& out) override;
    void ClearExecutors() override;
    void BuildOpenCL(TOCLContext& context) override;

private:
    float FLevel;
    IOCLKernel FCLKernel8Bit, FCLKernel16Bit;
};

namespace PXSolarize {
void RegisterPkg();
}

}  // namespace pixora
